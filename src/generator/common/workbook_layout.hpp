#pragma once

// The discovery workbook as both programs see it: generate writes these columns and convert reads
// them back after the operator's edits.

#include <string>
#include <vector>

namespace generator {

/// The workbook's column headers, in column order.
inline const std::vector<std::string> WORKBOOK_COLUMNS{"account_id",
                                                       "account_name",
                                                       "hpe",
                                                       "managed_tgw",
                                                       "filter_cidrs",
                                                       "spoke_gw_size",
                                                       "role_name",
                                                       "region",
                                                       "vpc_id",
                                                       "vpc_cidrs",
                                                       "hvn_cidr",
                                                       "gw_zones",
                                                       "spoke_gw_tags",
                                                       "domain",
                                                       "encrypt",
                                                       "inspection",
                                                       "spoke_advertisement",
                                                       "spoke_routes",
                                                       "spoke_gw_name",
                                                       "transit_gw_name"};

}  // namespace generator
