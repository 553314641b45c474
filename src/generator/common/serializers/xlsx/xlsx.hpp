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
// numbers, dates (by the cell's number format or an ISO date cell) and error cells. A workbook is
// untrusted input: every part is bounded in size, document type declarations are refused, and the
// table is bounded in cells and text, so a hostile file ends in an XLSXError naming the file.
//
// Dates are read as the same date-or-timestamp node the YAML module uses (a binary node with the
// subtype DATE_SUBTYPE holding the text "YYYY-MM-DD HH:MM:SS"), so a date read here is written to
// YAML as a plain timestamp.
//
// A completely empty row between filled rows gives no record.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "generator/common/errors.hpp"
#include "generator/common/serializers/document.hpp"
#include "generator/common/serializers/export/export.hpp"

namespace generator::serializers {

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

/// Most bytes one part of a workbook (a sheet, the shared strings) may hold once uncompressed.
inline constexpr std::uint64_t MAX_PART_BYTES = 128u << 20;

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

/// A cell that was read as a missing value although it was not empty.
struct MissingCell {
  /// The error the cell shows ("#DIV/0!") or the missing-value marker it holds ("NA").
  std::string text;
  /// True for an error cell, false for a marker text.
  bool error_cell;

  friend bool operator==(const MissingCell&, const MissingCell&) = default;
};

/// Column header -> what a cell of that column held before it was read as missing.
using MissingCells = std::map<std::string, MissingCell, std::less<>>;

/// One record of a sheet with the number the spreadsheet shows for its row.
struct NumberedRecord {
  std::size_t row_number;
  Document record;
  /// The cells of the record that are "" only because they held an error or a marker text.
  MissingCells read_as_missing = {};
};

/// The first sheet of a workbook as numbered records.
struct NumberedSheet {
  /// The sheet's name as the spreadsheet shows it on its tab.
  std::string name;
  /// The column headers, as the records use them (an empty header cell gives "Unnamed: <index>").
  std::vector<std::string> headers;
  std::vector<NumberedRecord> records;
};

/// The records of load_from_xlsx, each with its sheet row number (2 for the row under the headers)
/// and the cells read as missing, so that a reader of the records can name the row a value came
/// from and say what a cell held; together with the sheet's name and headers.
NumberedSheet load_numbered_records_from_xlsx(const std::filesystem::path& path,
                                              const Converters& converters);

/// The same for a workbook held in memory; `name` stands for it in messages.
NumberedSheet load_numbered_records_from_xlsx_bytes(std::string_view workbook,
                                                    const std::filesystem::path& name,
                                                    const Converters& converters);

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

}  // namespace generator::serializers
