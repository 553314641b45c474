#pragma once

// From the filled cells of a sheet to the list of row records, with conversions and column typing.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "generator/common/serializers/document.hpp"
#include "generator/common/serializers/xlsx/reader.hpp"
#include "generator/common/serializers/xlsx/xlsx.hpp"

namespace generator::serializers::xlsx_detail {

/// Whether a value read from a cell counts as missing: an error cell (null) or a text that is one
/// of MISSING_VALUE_MARKERS.
bool is_missing(const Document& value);

/// Whether `text` reads as a decimal number ("42", "-1.5", ".5", "1e3"), and which one.
std::optional<Document> decimal_number(std::string_view text);

/// What build_table learns about a table beyond its records.
struct TableNotes {
  /// The column headers, in column order.
  std::vector<std::string> headers;
  /// Per record, the cells read as missing although they were not empty.
  std::vector<MissingCells> read_as_missing;
};

/// The records of `sheet`: row 1 gives the headers (an empty header cell gives "Unnamed: <index>",
/// a repeated header gets ".1", ".2" appended), each later row that holds a value a record.
/// Fills `notes` when given. XLSXError naming `workbook` when the table would exceed
/// MAX_TABLE_CELLS.
Document build_table(const RawSheet& sheet, const Converters& converters,
                     const std::filesystem::path& workbook, TableNotes* notes = nullptr);

/// The sheet row numbers of the records build_table makes from `sheet`, in the same order.
std::vector<std::uint32_t> record_row_numbers(const RawSheet& sheet);

/// A plain-text rendering of a table for the log: a header line and one line per record.
std::string render_table(const Document& records);

}  // namespace generator::serializers::xlsx_detail
