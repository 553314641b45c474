#pragma once

// Reading the first worksheet of a workbook package into its filled cells.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "generator/common/serializers/document.hpp"
#include "generator/common/serializers/xlsx/archive.hpp"

namespace generator::serializers::xlsx_detail {

/// One filled cell: its 1-based row and column and its raw value (a text, a boolean, an integer, a
/// float, a date node, or null for an error cell, whose error is then kept in `error`).
struct RawCell {
  std::uint32_t row;
  std::uint32_t column;
  Document value;
  std::optional<std::string> error = std::nullopt;
};

/// The filled cells of the first worksheet, ordered by row and then column, one per position.
struct RawSheet {
  std::string name;
  std::vector<RawCell> cells;
};

/// Reads the first worksheet, by the workbook's sheet order, of the workbook at `path`. Errors as
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

}  // namespace generator::serializers::xlsx_detail
