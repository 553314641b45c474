#include "generator/generate/workbook_output.hpp"

#include <string>

#include "generator/common/errors.hpp"
#include "generator/generate/entry_values.hpp"
#include "generator/generate/run_steps.hpp"
#include "generator/log/log.hpp"

namespace generator::generate {

namespace {

using Json = nlohmann::ordered_json;

log::Logger& logger() { return log::get_logger("generator.generate"); }

// The associated blocks of the VPC, the primary one included, in association order.
std::string associated_cidrs(const VpcRecord& vpc) {
  std::string joined;
  for (const auto& block : vpc.blocks) {
    if (!block.is_associated()) continue;
    if (!joined.empty()) joined += ",";
    joined += block.network.to_string();
  }
  return joined;
}

}  // namespace

void WorkbookOutput::vpc_scanned(const AccountRecord& account, const RegionRecord& region,
                                 const VpcRecord& vpc) const {
  if (logger().is_enabled_for(log::DEBUG))
    logger().debug({WORKBOOK_STEP, "Row Data:\n{}"}, log::Readable{row(account, region, vpc)});
}

void WorkbookOutput::account_scanned(const AccountRecord& account) {
  for (const RegionRecord& region : account.regions) {
    if (region.failed() && !first_failure_) first_failure_ = region.failure;
    // Rows after a failure would never be written.
    if (first_failure_) return;
    for (const VpcRecord& vpc : region.vpcs) rows_.append(row(account, region, vpc));
  }
}

void WorkbookOutput::check_complete() const {
  if (first_failure_) std::rethrow_exception(first_failure_);
}

void WorkbookOutput::finish() {
  check_complete();
  rows_.finish();
}

Json WorkbookOutput::row(const AccountRecord& account, const RegionRecord& region,
                         const VpcRecord& vpc) const {
  Json row_data = Json::object();
  for (const WorkbookColumnEntry& entry : WORKBOOK_COLUMN_TABLE)
    row_data[std::string(entry.header)] = cell(entry.column, account, region, vpc);
  return row_data;
}

Json WorkbookOutput::cell(WorkbookColumn column, const AccountRecord& account,
                          const RegionRecord& region, const VpcRecord& vpc) const {
  switch (column) {
    case WorkbookColumn::account_id:
      return account.account_id;
    case WorkbookColumn::account_name:
      return value_or_null(account.account_name);
    case WorkbookColumn::hpe:
    case WorkbookColumn::managed_tgw:
    case WorkbookColumn::filter_cidrs:
    case WorkbookColumn::spoke_gw_size:
    case WorkbookColumn::role_name:
    case WorkbookColumn::gw_zones:
    case WorkbookColumn::domain:
    case WorkbookColumn::encrypt:
    case WorkbookColumn::inspection:
    case WorkbookColumn::transit_gw_name:
      // A default the file does not give is the operator's to choose: an empty cell rather than
      // a value (a FALSE for hpe) that reads like a decision.
      return given_or(defaults_, *config::default_shown_in(column), NULL_TEXT);
    case WorkbookColumn::region:
      return region.region;
    case WorkbookColumn::vpc_id:
      return vpc.id;
    case WorkbookColumn::vpc_cidrs:
      return associated_cidrs(vpc);
    case WorkbookColumn::hvn_cidr:
      return vpc.gateway_subnet.text();
    case WorkbookColumn::spoke_gw_name:
      return vpc.gateway_name;
    // Left for the operator to fill in.
    case WorkbookColumn::spoke_gw_tags:
    case WorkbookColumn::spoke_advertisement:
    case WorkbookColumn::spoke_routes:
      return NULL_TEXT;
  }
  throw ValueError("no workbook column numbered " + std::to_string(static_cast<int>(column)));
}

}  // namespace generator::generate
