#pragma once

// From the filled cells of a sheet to the list of row records, with conversions and column typing.

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "serializers/document.hpp"
#include "serializers/xlsx/reader.hpp"
#include "serializers/xlsx/xlsx.hpp"

namespace serializers::xlsx_detail {

/// Whether `text` reads as a decimal number ("42", "-1.5", ".5", "1e3"), and which one.
std::optional<Document> decimal_number(std::string_view text);

/// The records of `sheet`: row 1 gives the headers (see table_headers), each later row that holds
/// a value a record. XLSXError naming `workbook` when the table would exceed MAX_TABLE_CELLS.
Document build_table(const RawSheet& sheet, const Converters& converters,
                     const std::filesystem::path& workbook);

/// One line of a plain-text rendering of a table for the log: the texts separated by " | ", each
/// escaped so that it can neither start a line of its own nor steer the terminal.
std::string rendered_line(const std::vector<std::string>& texts);

/// A plain-text rendering of a table for the log: a header line and one line per record.
std::string render_table(const Document& records);

}  // namespace serializers::xlsx_detail
