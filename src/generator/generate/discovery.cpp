#include "generator/generate/discovery.hpp"

#include <optional>
#include <variant>

#include "generator/common/errors.hpp"
#include "generator/log/log.hpp"
#include "ovra/config.hpp"

namespace generator::generate {

namespace {

using Json = nlohmann::ordered_json;

log::Logger& logger() { return log::get_logger("generator.generate"); }

template <class T>
Json value_or_null(const std::optional<T>& value) {
  return value ? Json(*value) : Json(nullptr);
}

// A member of the defaults as a value of a document; `missing` for an optional one that holds none.
template <class T>
Json value_or(const T& value, const Json& /*missing*/) {
  return value;
}
template <class T>
Json value_or(const std::optional<T>& value, const Json& missing) {
  return value ? Json(*value) : missing;
}

// The default's value when the file gives it, otherwise `missing`.
Json given_or(const config::Defaults& defaults, const config::AccountDefaultEntry& entry,
              const Json& missing) {
  if (!defaults.is_given(entry.which)) return missing;
  return std::visit([&](auto member) { return value_or(defaults.*member, missing); }, entry.member);
}

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

void DiscoveryFileOutput::account_started(const AccountRecord& account) const {
  logger().debug("Account Info data:\n{}", log::Readable{account_entry(account)});
}

void DiscoveryFileOutput::vpc_scanned(const AccountRecord&, const RegionRecord&,
                                      const VpcRecord& vpc) const {
  if (logger().is_enabled_for(log::DEBUG))
    logger().debug("VPC Data:\n{}", log::Readable{vpc_entry(vpc)});
}

void DiscoveryFileOutput::region_scanned(const AccountRecord&, const RegionRecord& region) const {
  if (logger().is_enabled_for(log::DEBUG))
    logger().debug("Region Data:\n{}", log::Readable{region_entry(region)});
}

void DiscoveryFileOutput::account_scanned(const AccountRecord& account) {
  if (!account.entered) return;
  Json entry = account_entry(account);
  for (const RegionRecord& region : account.regions)
    if (!region.failed()) entry["regions"].push_back(region_entry(region));
  logger().debug("Account Data:\n{}", log::Readable{entry});
  Json checked = ovra::AccountInfo(entry).to_document();
  accounts_.append(checked);
  if (logger().is_enabled_for(log::DEBUG)) logged_accounts_.push_back(std::move(checked));
}

void DiscoveryFileOutput::finish() {
  logger().debug("Accounts:\n{}", log::Readable{logged_accounts_});
  accounts_.finish();
}

// The account's entry without its regions.
Json DiscoveryFileOutput::account_entry(const AccountRecord& account) const {
  Json entry = Json::object();
  entry["account_id"] = account.account_id;
  entry["account_name"] = value_or_null(account.account_name);
  entry["regions"] = Json::array();
  // In the order the workbook shows them, which is the migration model's.
  for (const WorkbookColumnEntry& column : WORKBOOK_COLUMN_TABLE) {
    const config::AccountDefaultEntry* copied = config::default_shown_in(column.column);
    if (copied != nullptr && copied->in_discovery_file &&
        copied->model_field == config::ModelField::account && defaults_.is_given(copied->which)) {
      entry[std::string(copied->key)] = given_or(defaults_, *copied, nullptr);
    }
  }
  return entry;
}

Json DiscoveryFileOutput::region_entry(const RegionRecord& region) const {
  Json entry = {{"region", region.region}, {"vpcs", Json::array()}};
  for (const VpcRecord& vpc : region.vpcs) entry["vpcs"].push_back(vpc_entry(vpc));
  return entry;
}

Json DiscoveryFileOutput::vpc_entry(const VpcRecord& vpc) const {
  Json entry = Json::object();
  entry["vpc_id"] = vpc.id;
  entry["hvn_cidr"] = vpc.gateway_subnet.text();
  entry["spoke_gw_name"] = vpc.gateway_name;
  for (const config::AccountDefaultEntry& copied : config::ACCOUNT_DEFAULT_TABLE) {
    if (copied.in_discovery_file && copied.model_field == config::ModelField::vpc)
      entry[std::string(copied.key)] = given_or(defaults_, copied, NULL_TEXT);
  }
  return entry;
}

void WorkbookOutput::vpc_scanned(const AccountRecord& account, const RegionRecord& region,
                                 const VpcRecord& vpc) const {
  if (logger().is_enabled_for(log::DEBUG))
    logger().debug("Row Data:\n{}", log::Readable{row(account, region, vpc)});
}

void WorkbookOutput::account_scanned(const AccountRecord& account) {
  for (const RegionRecord& region : account.regions) {
    if (region.failed() && !first_failure_) first_failure_ = region.failure;
    for (const VpcRecord& vpc : region.vpcs) rows_.push_back(row(account, region, vpc));
  }
}

Json WorkbookOutput::rows() {
  if (first_failure_) std::rethrow_exception(first_failure_);
  return std::move(rows_);
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
