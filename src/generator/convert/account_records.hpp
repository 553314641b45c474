#pragma once

// The rows of the discovery workbook back into the nested discovery data: accounts, their regions,
// their VPCs. Each row is one VPC and repeats the columns of its account; every account is checked
// by the migration model. Every error names the workbook row (as the spreadsheet numbers it) and,
// where one column is at fault, the column.

#include <string>
#include <vector>

#include "aws/names.hpp"
#include "generator/convert/field_formatters.hpp"
#include "generator/convert/workbook_checks.hpp"
#include "generator/convert/workbook_sheet.hpp"
#include "serializers/export/export.hpp"

namespace generator::convert {

/// The text of an empty cell.
inline const std::string NULL_CELL;

/// The account columns, in the order they are read.
inline const std::vector<WorkbookColumn> ACCOUNT_INFO_FIELDS = workbook_columns(
    [](const WorkbookColumnEntry& entry) { return entry.read_as == ReadAs::account_field; });

/// The VPC columns, in the order they are read.
inline const std::vector<WorkbookColumn> VPC_FIELDS = workbook_columns(
    [](const WorkbookColumnEntry& entry) { return entry.read_as == ReadAs::vpc_field; });

/// Groups the rows of `sheet` by account_id and region (exact values, first appearance decides
/// the order), builds one entry per account (account fields from its first row, regions, VPCs),
/// passes each through the migration model and hands it to `accounts` as soon as it is complete,
/// so that the accounts of a workbook of any size are never held together. `discovery_config` is
/// the template mapping or null; its config -> configure_gw_name decides whether gateway names are
/// kept. The cells are checked first (check_cells); then, account by account, the rows of the
/// account before it is built (a VPC in two rows of one region, account columns that differ, the
/// gateway subnets against their VPCs with check_gateway_subnet). KeyError for a missing column,
/// AssertionError when rows of one account disagree on account fields or one VPC has two rows in
/// the same account and region, ValueError/TypeError for an unreadable cell,
/// ovra::ValidationError when the model refuses.
void generate_discovery_account_info(const WorkbookSheet& sheet, const Value& discovery_config,
                                     serializers::ListExport& accounts);

/// The non-empty account fields of one row, formatted; errors name the row and column.
Value _get_account_info(const WorkbookRow& record);

/// The VPC entry of one row: its non-empty VPC fields, formatted, hvn_cidr always present; without
/// spoke_gw_name and transit_gw_name when the template's configure_gw_name is false. Errors name
/// the row and column.
Value _get_vpc_data(const WorkbookRow& record, const Value& ovra_config = {});

}  // namespace generator::convert
