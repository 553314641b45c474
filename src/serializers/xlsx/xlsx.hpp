#pragma once

// The workbook format (.xlsx): tables of row records, one record per sheet row, each a mapping from
// column header to cell value.
//
// Writing: one sheet, a bold header row that stays frozen while scrolling, an autofilter over the
// table, strings always as text cells (a text that starts with "=" is never a formula), booleans as
// boolean cells, numbers as number cells, null and "" as empty cells, lists as ['a', 'b']. Rows
// are written as they come and held only while they are written, so every text stands inline in
// its cell rather than in a table of shared strings (which would hold every text until the end).
//
// Reading: our own reader on libzip and expat. It follows the package relationships to the first
// sheet of the workbook, whatever its name, and reads shared, inline and formula strings, booleans,
// numbers, dates and times of day (by the cell's number format or an ISO date or time cell) and
// error cells. The sheet is read as a stream, one row at a time: a reader of its own (SheetRows)
// keeps what it needs of each row, and load_from_xlsx keeps the whole table. A workbook is
// untrusted input: every part is bounded in size, document type declarations are refused, the
// shared strings are bounded in number and the table in cells and text, so a hostile file ends in
// an XLSXError naming the file.
//
// Dates are read as the same date-or-timestamp node the YAML module uses (a binary node with the
// subtype DATE_SUBTYPE holding the text "YYYY-MM-DD HH:MM:SS"), so a date read here is written to
// YAML as a plain timestamp. A time of day alone is such a node holding "HH:MM:SS".
//
// A completely empty row between filled rows gives no record.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "serializers/document.hpp"
#include "serializers/errors.hpp"
#include "serializers/export/export.hpp"

namespace serializers {

/// The extensions the workbook reader and writer are registered under.
inline const std::vector<std::string> XLSX_EXTS{"xlsx"};

/// Width of each column of the first record, in characters of the default font.
inline constexpr double DEFAULT_COL_WIDTH = 20;

/// Whole-cell texts that count as a missing value when a workbook is read (exact, case-sensitive).
inline const std::vector<std::string> MISSING_VALUE_MARKERS{
    "",     "#N/A", "#N/A N/A", "#NA",  "-1.#IND", "-1.#QNAN", "-NaN", "-nan", "1.#IND", "1.#QNAN",
    "<NA>", "N/A",  "NA",       "NULL", "NaN",     "None",     "n/a",  "nan",  "null"};

/// Binary subtype of a date or timestamp node ("ts"), the same marker the YAML module uses.
inline constexpr std::uint64_t DATE_SUBTYPE = 0x7473;

/// Most bytes the sheet's part may hold once uncompressed: it is read as a stream, so this bounds
/// the time a reading takes (a sheet of a million rows of twenty cells takes about 1.3 GB).
inline constexpr std::uint64_t MAX_SHEET_PART_BYTES = std::uint64_t{4} << 30;

/// Most bytes the shared strings' part may hold once uncompressed; the strings are held while the
/// sheet is read.
inline constexpr std::uint64_t MAX_SHARED_STRINGS_PART_BYTES = 512u << 20;

/// Most shared strings a workbook may have.
inline constexpr std::size_t MAX_SHARED_STRINGS = 16'777'216;

/// Most cells a table read from a workbook may hold (records times columns).
inline constexpr std::size_t MAX_TABLE_CELLS = 2'000'000;

/// Most bytes of cell text a table read from a workbook may hold.
inline constexpr std::size_t MAX_TABLE_TEXT_BYTES = 64u << 20;

/// Most bytes of text one cell or shared string may hold (a spreadsheet shows 32767 characters).
inline constexpr std::size_t MAX_CELL_TEXT_BYTES = 1u << 20;

/// The largest sheet a workbook can hold.
inline constexpr std::size_t MAX_SHEET_ROWS = 1'048'576;
inline constexpr std::size_t MAX_SHEET_COLUMNS = 16'384;

/// A workbook that cannot be read (not a workbook, corrupt, too large or hostile); the message
/// names the file and, where it helps, the part and cell.
class XLSXError : public ValueError {
 public:
  using ValueError::ValueError;
  [[nodiscard]] const char* kind() const noexcept override { return "XLSXError"; }
};

/// Whether a value read from a cell counts as missing: an error cell (null) or a text that is one
/// of MISSING_VALUE_MARKERS.
bool is_missing(const Document& value);

/// The typing of one column that has no conversion: every value is seen first (`see`), then each
/// is typed by what they all allow (`typed`): numbers when all are numbers or decimal texts
/// (floats as soon as one has a fraction or one is missing), else booleans when all are booleans
/// or the words True/False in three spellings, else each as it is.
class ColumnTyping {
 public:
  /// Notes one value of the column; null stands for a missing one.
  void see(const Document& value);
  /// `value` as the column's typing makes it; null (missing) stays null.
  [[nodiscard]] Document typed(Document value) const;

 private:
  bool any_missing_ = false;
  bool all_numbers_ = true;
  bool all_booleans_ = true;
  bool any_fraction_ = false;
};

/// A conversion applied to every cell value of one column while a workbook is read.
using Converter = std::function<Document(const Document& value)>;

/// Column header -> the conversion for that column.
using Converters = std::map<std::string, Converter, std::less<>>;

/// The string conversion: a text stays as it is, an integral number becomes its digits without a
/// fraction, another number its shortest decimal form, a boolean True or False, a date its text.
Document to_text(const Document& value);

/// The spreadsheet name of a 1-based column number (1 -> A, 27 -> AA, 703 -> AAA).
std::string column_name(std::size_t column_number);

/// A date or timestamp node holding `text` ("2024-05-01 13:45:00").
Document make_date(std::string_view text);

/// True when `node` is a date or timestamp node.
bool is_date(const Document& node);

/// The text of a date or timestamp node (TypeError for any other node).
std::string date_text(const Document& node);

/// Reads the first sheet of the workbook at `path` into a list of row records: row 1 gives the
/// headers, each later row down to the last filled one a record (empty rows in between give none);
/// `converters` are applied per column, columns without one are typed as numbers or booleans when
/// all their values allow it, missing values come back as "". FileNotFoundError for a missing file,
/// OSError for an unreadable one, XLSXError for anything that is not a readable workbook.
Document load_from_xlsx(const std::filesystem::path& path, const Converters& converters);

/// load_from_xlsx without conversions; the loader entered in the registry.
Document load_from_xlsx(const std::filesystem::path& path);

/// One filled cell of a sheet: its 1-based row and column and its raw value (a text, a boolean, an
/// integer, a float, a date node, or null for an error cell, whose error is then kept in `error`).
struct SheetCell {
  std::uint32_t row;
  std::uint32_t column;
  Document value;
  std::optional<std::string> error = std::nullopt;
};

/// What a reader of a sheet does with its rows as they are read.
class SheetRows {
 public:
  virtual ~SheetRows() = default;
  /// The sheet's name as the spreadsheet shows it on its tab; called once, before any row.
  virtual void sheet(std::string_view name) = 0;
  /// One row that holds at least one filled cell, rows in the order of their numbers: its cells
  /// in column order, one per column (a cell written twice keeps its last value). The cells may
  /// be moved from.
  virtual void row(std::uint32_t row_number, std::vector<SheetCell>& cells) = 0;
};

/// The headers of a table whose header row holds `header_cells` (row 1's cells, in column order)
/// and which spans `column_count` columns: an empty header cell gives "Unnamed: <index>", a
/// repeated header gets ".1", ".2" appended.
std::vector<std::string> table_headers(std::span<const SheetCell> header_cells,
                                       std::size_t column_count);

/// Reads the first sheet of the workbook at `path` into `rows`, holding one row at a time; errors
/// as load_from_xlsx, and whatever `rows` throws. At debug level the rows are also logged, as
/// read, once the sheet is over.
void load_from_xlsx(const std::filesystem::path& path, SheetRows& rows);

/// The same for a workbook held in memory; `name` stands for it in messages.
void load_from_xlsx_bytes(std::string_view workbook, const std::filesystem::path& name,
                          SheetRows& rows);

/// Writes the list of row records `data` as a new one-sheet workbook at `path`, all or nothing.
/// TypeError for anything but a list of mappings, IndexError for an empty list, ValueError naming
/// the row and column for a text that is not UTF-8 or too long for a cell; the file is not touched
/// in any of these cases.
void export_to_xlsx(const Document& data, const std::filesystem::path& path);

/// A workbook at `path` written as its rows are handed over, each row held only while it is
/// written: the first row record gives the columns (and their widths, as export_to_xlsx's first
/// record does), each later one is written under them (ValueError for a key that is not among
/// them, and as export_to_xlsx for its values). `finish` completes the workbook (IndexError when
/// no row came); until then the rows wait in temporary files beside `path`, which is left as it
/// was when the export is dropped or fails.
[[nodiscard]] std::unique_ptr<ListExport> open_xlsx_row_export(const std::filesystem::path& path);

/// Enters load_from_xlsx and export_to_xlsx in the two registries under XLSX_EXTS; a second call
/// fails with LoaderError.
void register_xlsx_serializers();

}  // namespace serializers
