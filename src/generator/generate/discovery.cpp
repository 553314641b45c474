#include "generator/generate/discovery.hpp"

#include "generator/common/errors.hpp"
#include "generator/generate/entry_values.hpp"
#include "generator/generate/run_steps.hpp"
#include "generator/log/log.hpp"
#include "ovra/config.hpp"

namespace generator::generate {

namespace {

using Json = nlohmann::ordered_json;

log::Logger& logger() { return log::get_logger("generator.generate"); }

}  // namespace

void DiscoveryFileOutput::account_started(const AccountRecord& account) const {
  logger().debug({DISCOVERY_FILE_STEP, "Account Info data:\n{}"},
                 log::Readable{account_entry(account)});
}

void DiscoveryFileOutput::vpc_scanned(const AccountRecord&, const RegionRecord&,
                                      const VpcRecord& vpc) const {
  if (logger().is_enabled_for(log::DEBUG))
    logger().debug({DISCOVERY_FILE_STEP, "VPC Data:\n{}"}, log::Readable{vpc_entry(vpc)});
}

void DiscoveryFileOutput::region_scanned(const AccountRecord&, const RegionRecord& region) const {
  if (logger().is_enabled_for(log::DEBUG))
    logger().debug({DISCOVERY_FILE_STEP, "Region Data:\n{}"}, log::Readable{region_entry(region)});
}

void DiscoveryFileOutput::account_scanned(const AccountRecord& account) {
  if (!account.entered) return;
  Json entry = account_entry(account);
  for (const RegionRecord& region : account.regions)
    if (!region.failed()) entry["regions"].push_back(region_entry(region));
  logger().debug({DISCOVERY_FILE_STEP, "Account Data:\n{}"}, log::Readable{entry});
  Json checked = ovra::AccountInfo(entry).to_document();
  accounts_.append(checked);
  if (logger().is_enabled_for(log::DEBUG)) logged_accounts_.push_back(std::move(checked));
}

void DiscoveryFileOutput::finish() {
  logger().debug({DISCOVERY_FILE_STEP, "Accounts:\n{}"}, log::Readable{logged_accounts_});
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

}  // namespace generator::generate
