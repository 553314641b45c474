#pragma once

// The discovery workbook as both programs see it: generate writes these columns and convert reads
// them back after the operator's edits. Every list of columns in either program (the row writer,
// the header checks, the cells read as text, the formatters, the account and VPC fields) is taken
// from the one table here.

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace generator {

/// The workbook's columns, in column order.
enum class WorkbookColumn {
  account_id,
  account_name,
  hpe,
  managed_tgw,
  filter_cidrs,
  spoke_gw_size,
  role_name,
  region,
  vpc_id,
  vpc_cidrs,
  hvn_cidr,
  gw_zones,
  spoke_gw_tags,
  domain,
  encrypt,
  inspection,
  spoke_advertisement,
  spoke_routes,
  spoke_gw_name,
  transit_gw_name,
};

/// How a column's cells are written and read back.
enum class CellKind {
  /// A text; convert reads the cell as text, so that digits keep their leading zeros.
  text,
  /// Whatever the cell holds, kept as it is.
  as_read,
  /// TRUE or FALSE; convert also reads yes/no words.
  boolean,
  /// A list written as "['a', 'b']".
  list,
  /// Gateway tags written as key=value pairs separated by commas.
  tags,
};

/// What convert makes of a column.
enum class ReadAs {
  /// A member of the account entry, taken from the account's first row.
  account_field,
  /// The region that the row's VPC is entered under.
  region,
  /// A member of the VPC entry.
  vpc_field,
  /// Only the check of the gateway subnet against the VPC's blocks reads it; a workbook may lack it.
  blocks_check,
};

/// One column of the workbook.
struct WorkbookColumnEntry {
  WorkbookColumn column;
  std::string_view header;
  CellKind kind;
  ReadAs read_as;
};

/// Every column, in column order.
inline constexpr std::array<WorkbookColumnEntry, 20> WORKBOOK_COLUMN_TABLE{{
    {WorkbookColumn::account_id, "account_id", CellKind::text, ReadAs::account_field},
    {WorkbookColumn::account_name, "account_name", CellKind::text, ReadAs::account_field},
    {WorkbookColumn::hpe, "hpe", CellKind::boolean, ReadAs::account_field},
    {WorkbookColumn::managed_tgw, "managed_tgw", CellKind::boolean, ReadAs::account_field},
    {WorkbookColumn::filter_cidrs, "filter_cidrs", CellKind::list, ReadAs::account_field},
    {WorkbookColumn::spoke_gw_size, "spoke_gw_size", CellKind::as_read, ReadAs::account_field},
    {WorkbookColumn::role_name, "role_name", CellKind::text, ReadAs::account_field},
    {WorkbookColumn::region, "region", CellKind::text, ReadAs::region},
    {WorkbookColumn::vpc_id, "vpc_id", CellKind::text, ReadAs::vpc_field},
    {WorkbookColumn::vpc_cidrs, "vpc_cidrs", CellKind::text, ReadAs::blocks_check},
    {WorkbookColumn::hvn_cidr, "hvn_cidr", CellKind::text, ReadAs::vpc_field},
    {WorkbookColumn::gw_zones, "gw_zones", CellKind::list, ReadAs::vpc_field},
    {WorkbookColumn::spoke_gw_tags, "spoke_gw_tags", CellKind::tags, ReadAs::vpc_field},
    {WorkbookColumn::domain, "domain", CellKind::text, ReadAs::vpc_field},
    {WorkbookColumn::encrypt, "encrypt", CellKind::boolean, ReadAs::vpc_field},
    {WorkbookColumn::inspection, "inspection", CellKind::boolean, ReadAs::vpc_field},
    {WorkbookColumn::spoke_advertisement, "spoke_advertisement", CellKind::text,
     ReadAs::vpc_field},
    {WorkbookColumn::spoke_routes, "spoke_routes", CellKind::list, ReadAs::vpc_field},
    {WorkbookColumn::spoke_gw_name, "spoke_gw_name", CellKind::text, ReadAs::vpc_field},
    {WorkbookColumn::transit_gw_name, "transit_gw_name", CellKind::text, ReadAs::vpc_field},
}};

namespace detail {
constexpr bool table_follows_its_enum() {
  for (std::size_t index = 0; index < WORKBOOK_COLUMN_TABLE.size(); ++index)
    if (static_cast<std::size_t>(WORKBOOK_COLUMN_TABLE[index].column) != index) return false;
  return static_cast<std::size_t>(WorkbookColumn::transit_gw_name) + 1 ==
         WORKBOOK_COLUMN_TABLE.size();
}
}  // namespace detail
static_assert(detail::table_follows_its_enum(),
              "WORKBOOK_COLUMN_TABLE holds every WorkbookColumn once, in the enum's order");

/// The table's entry of `column`.
constexpr const WorkbookColumnEntry& table_entry(WorkbookColumn column) {
  return WORKBOOK_COLUMN_TABLE[static_cast<std::size_t>(column)];
}

/// The header of `column`, as row 1 names it.
inline std::string header_of(WorkbookColumn column) {
  return std::string(table_entry(column).header);
}

/// The headers of the columns for which `wanted(entry)` holds, in column order.
template <class Predicate>
std::vector<std::string> workbook_headers(Predicate wanted) {
  std::vector<std::string> headers;
  for (const WorkbookColumnEntry& entry : WORKBOOK_COLUMN_TABLE)
    if (wanted(entry)) headers.emplace_back(entry.header);
  return headers;
}

/// The columns for which `wanted(entry)` holds, in column order.
template <class Predicate>
std::vector<WorkbookColumn> workbook_columns(Predicate wanted) {
  std::vector<WorkbookColumn> columns;
  for (const WorkbookColumnEntry& entry : WORKBOOK_COLUMN_TABLE)
    if (wanted(entry)) columns.push_back(entry.column);
  return columns;
}

/// The workbook's column headers, in column order.
inline const std::vector<std::string> WORKBOOK_COLUMNS =
    workbook_headers([](const WorkbookColumnEntry&) { return true; });

}  // namespace generator
