#pragma once

// Reading the first worksheet of a workbook package: row by row, or into all its filled cells.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "serializers/document.hpp"
#include "serializers/xlsx/archive.hpp"
#include "serializers/xlsx/xlsx.hpp"

namespace serializers::xlsx_detail {

/// The filled cells of the first worksheet, ordered by row and then column, one per position.
struct RawSheet {
  std::string name;
  std::vector<SheetCell> cells;
};

/// Hands the first worksheet, by the workbook's sheet order, of `archive` to `rows` row by row
/// (see SheetRows). Errors as load_from_xlsx describes; a cell that comes after a row of a higher
/// number is refused.
void read_first_sheet(const Archive& archive, SheetRows& rows);

/// All the filled cells of the first worksheet of the workbook at `path`. Errors as
/// load_from_xlsx describes; a sheet with more than MAX_TABLE_CELLS filled cells or more than
/// MAX_TABLE_TEXT_BYTES of text is refused.
RawSheet read_first_sheet(const std::filesystem::path& path);

/// The same for an archive already open.
RawSheet read_first_sheet(const Archive& archive);

/// The part a relationship target points to, seen from `source_part` ("xl/workbook.xml"): relative
/// targets are resolved against the source's folder, absolute ones against the package root, and
/// percent escapes are decoded; XLSXError when the target leaves the package.
std::string resolve_target(const std::string& source_part, const std::string& target,
                           const std::filesystem::path& workbook);

/// The 1-based column number and row of a cell reference such as "AB12"; XLSXError for anything
/// else or a position outside the largest sheet.
std::pair<std::uint32_t, std::uint32_t> parse_cell_reference(std::string_view reference,
                                                             const std::filesystem::path& workbook);

}  // namespace serializers::xlsx_detail
