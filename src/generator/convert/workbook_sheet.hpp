#pragma once

// The first sheet of the discovery workbook as convert reads it: read as a stream, each row
// keeping only the cells of the workbook's columns, typed as the column table says and held
// compactly, so that a workbook of a million rows fits in memory. A cell of a text column is read
// as text (a date stays a date, to be refused as one); the others are typed by their column as a
// whole, as the workbook reader types any column without a conversion.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "generator/common/workbook_layout.hpp"
#include "generator/convert/field_formatters.hpp"

namespace generator::convert {

/// Most bytes of text the cells of the workbook's columns may hold in all (with a text repeated
/// from the row above counted once): far above any estate's workbook, it bounds what a hostile
/// one makes convert hold.
inline constexpr std::size_t MAX_SHEET_TEXT_BYTES = 512u << 20;

/// What a cell that was read as a missing value held although it was not empty.
struct MissingCell {
  /// The error the cell shows ("#DIV/0!") or the missing-value marker it holds ("NA").
  std::string text;
  /// True for an error cell, false for a marker text.
  bool error_cell;
};

class WorkbookSheet;

/// One row of the sheet under its header row.
class WorkbookRow {
 public:
  /// The row's number as the spreadsheet shows it.
  [[nodiscard]] std::uint32_t row_number() const;
  /// The cell of `column` as convert reads it: typed, a missing value as the empty text. KeyError
  /// naming the row and column when the sheet has no such column.
  [[nodiscard]] Value cell(WorkbookColumn column) const;
  /// What the cell of `column` held when it was read as missing although it was not empty.
  [[nodiscard]] std::optional<MissingCell> read_as_missing(WorkbookColumn column) const;
  /// Whether the sheet has the column at all.
  [[nodiscard]] bool sheet_has(WorkbookColumn column) const;

 private:
  friend class WorkbookSheet;
  WorkbookRow(const WorkbookSheet& sheet, std::size_t index) : sheet_(&sheet), index_(index) {}
  const WorkbookSheet* sheet_;
  std::size_t index_;
};

/// "row N": how a message names a row of the sheet.
[[nodiscard]] std::string row_label(const WorkbookRow& row);
/// "row N, column C": how a message names one cell of the sheet.
[[nodiscard]] std::string cell_label(const WorkbookRow& row, WorkbookColumn column);
/// The row as the debug log shows it: its number and the cells of the columns the sheet has.
[[nodiscard]] Value logged_row(const WorkbookRow& row);

/// The sheet: its name, its header row and its rows.
class WorkbookSheet {
 public:
  /// Reads the first sheet of the workbook at `path`; the errors of the workbook reader, and
  /// XLSXError beyond MAX_SHEET_TEXT_BYTES.
  static WorkbookSheet read(const std::filesystem::path& path);
  /// The same for a workbook held in memory; `name` stands for it in messages.
  static WorkbookSheet read_bytes(std::string_view workbook, const std::filesystem::path& name);

  WorkbookSheet(WorkbookSheet&&) noexcept;
  WorkbookSheet& operator=(WorkbookSheet&&) noexcept;
  ~WorkbookSheet();

  /// The sheet's name as the spreadsheet shows it on its tab.
  [[nodiscard]] const std::string& name() const noexcept;
  /// Row 1's headers, as the workbook reader names them (an empty one "Unnamed: <index>", a
  /// repeated one with ".1" appended).
  [[nodiscard]] const std::vector<std::string>& headers() const noexcept;
  /// Whether row 1 names the column.
  [[nodiscard]] bool has(WorkbookColumn column) const;
  /// How many rows there are under the header row (rows without a filled cell are none).
  [[nodiscard]] std::size_t size() const noexcept;
  /// The row at `index` (0 for the first row under the header row).
  [[nodiscard]] WorkbookRow row(std::size_t index) const { return WorkbookRow(*this, index); }

 private:
  friend class WorkbookRow;
  struct Contents;
  class Reader;
  explicit WorkbookSheet(std::unique_ptr<Contents> contents);
  std::unique_ptr<Contents> contents_;
};

}  // namespace generator::convert
