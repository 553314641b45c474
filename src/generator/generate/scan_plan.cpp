#include "generator/generate/scan_plan.hpp"

#include <algorithm>
#include <fmt/format.h>
#include <set>

#include "generator/common/errors.hpp"
#include "generator/log/log.hpp"

namespace generator::generate {

namespace {

log::Logger& logger() { return log::get_logger("generator.generate"); }

std::string comma_joined(const std::vector<std::string>& items) {
  return fmt::format("{}", fmt::join(items, ", "));
}

}  // namespace

void add_new_regions(std::vector<std::string>& regions, const std::vector<std::string>& more) {
  for (const std::string& region : more)
    if (std::find(regions.begin(), regions.end(), region) == regions.end())
      regions.push_back(region);
}

std::vector<std::string> controller_account_ids(const ControllerAccounts& controller_accounts) {
  std::vector<std::string> ids;
  std::set<std::string> seen;
  for (const ControllerAccount& account : controller_accounts.entries())
    if (seen.insert(account.account_number).second) ids.push_back(account.account_number);
  const std::vector<std::string>& left_out = controller_accounts.left_out();
  const std::vector<std::string>& unnamed = controller_accounts.unnamed();
  if (!left_out.empty() && !unnamed.empty()) {
    logger().warning(
        "{} entries of the controller's account list are left out: their account_number is not "
        "a 12-digit AWS account number in quotes: {}; {} more give no account_name as text: their "
        "accounts are scanned without a name: {}",
        left_out.size(), comma_joined(left_out), unnamed.size(), comma_joined(unnamed));
  } else if (!left_out.empty()) {
    logger().warning(
        "{} entries of the controller's account list are left out: their account_number is not "
        "a 12-digit AWS account number in quotes: {}",
        left_out.size(), comma_joined(left_out));
  } else if (!unnamed.empty()) {
    logger().warning(
        "{} entries of the controller's account list give no account_name as text: their accounts "
        "are scanned without a name: {}",
        unnamed.size(), comma_joined(unnamed));
  }
  return ids;
}

std::vector<std::string> organization_account_ids(
    const std::vector<aws::OrganizationAccount>& listed,
    const config::OrganizationSettings& settings) {
  const std::set<std::string> excluded(settings.exclude_account_ids.begin(),
                                       settings.exclude_account_ids.end());
  std::set<std::string> active;
  std::set<std::string> inactive;
  std::set<std::string> left_out;
  for (const aws::OrganizationAccount& account : listed) {
    if (excluded.contains(account.id))
      left_out.insert(account.id);
    else if (account.status == "ACTIVE")
      active.insert(account.id);
    else  // suspended and closing accounts refuse every role assumption
      inactive.insert(account.id);
  }
  logger().info(
      "The organization lists {} ACTIVE accounts to scan ({} not ACTIVE and {} in "
      "exclude_account_ids left out)",
      active.size(), inactive.size(), left_out.size());
  return {active.begin(), active.end()};
}

namespace {

// The accounts the configuration asks for, from where it says.
std::vector<std::string> planned_account_ids(const config::Config& config,
                                             const ControllerAccounts& controller_accounts,
                                             DiscoveryServices& services) {
  switch (config.account_source) {
    case config::AccountSource::listed:
      return config.account_ids;
    case config::AccountSource::controller:
      return controller_account_ids(controller_accounts);
    case config::AccountSource::organization: {
      logger().info("Listing the accounts of the AWS organization");
      std::vector<std::string> ids = organization_account_ids(
          services.organization_accounts(config.organization), config.organization);
      // Their rows will carry no account name, which convert asks for: one line names them all.
      std::vector<std::string> unmanaged;
      for (const std::string& id : ids)
        if (!controller_accounts.name_of(id)) unmanaged.push_back(id);
      if (!unmanaged.empty())
        logger().warning(
            "{} accounts of the organization are not managed by the controller; they are scanned, "
            "without an account name: {}",
            unmanaged.size(), comma_joined(unmanaged));
      return ids;
    }
  }
  throw ValueError("no account source numbered " +
                   std::to_string(static_cast<int>(config.account_source)));
}

// Why the configuration's source of accounts gave none to scan; the lines above it in the log
// count or name what was left out.
std::string why_no_account(const config::Config& config,
                           const ControllerAccounts& controller_accounts) {
  switch (config.account_source) {
    case config::AccountSource::listed:
      return "account_ids lists no account";
    case config::AccountSource::controller:
      if (controller_accounts.left_out().empty()) return "the controller's account list is empty";
      return "the controller's account list names no AWS account: its " +
             std::to_string(controller_accounts.left_out().size()) +
             " entries are left out (see the WARNING above)";
    case config::AccountSource::organization:
      return (config.organization.ous.empty()
                  ? std::string("the organization holds")
                  : "the organizational units " + comma_joined(config.organization.ous) + " hold") +
             " no ACTIVE account outside exclude_account_ids";
  }
  return "the configuration names no account";
}

}  // namespace

ScanPlan ScanPlan::from_config(const config::Config& config,
                               const ControllerAccounts& controller_accounts,
                               DiscoveryServices& services) {
  const std::vector<std::string> account_ids =
      planned_account_ids(config, controller_accounts, services);
  if (account_ids.empty())
    throw ScanError("Nothing to scan (" + why_no_account(config, controller_accounts) +
                    "): no file was written and existing ones are left as they were");
  ScanPlan plan;
  for (const std::string& account_id : account_ids) {
    PlannedAccount account{account_id, controller_accounts.name_of(account_id), std::nullopt, {}};
    if (!config.aws_regions.empty()) account.regions = config.aws_regions;
    plan.accounts.push_back(std::move(account));
  }
  return plan;
}

ScanPlan ScanPlan::joined(const ScanPlan& first, const ScanPlan& second) {
  ScanPlan plan = first;
  for (const PlannedAccount& other : second.accounts) {
    const auto same = std::find_if(
        plan.accounts.begin(), plan.accounts.end(),
        [&](const PlannedAccount& account) { return account.account_id == other.account_id; });
    if (same == plan.accounts.end()) {
      plan.accounts.push_back(other);
      continue;
    }
    if (same->regions && other.regions) {
      add_new_regions(*same->regions, *other.regions);
    } else {
      // The enabled regions come first, as in a scan of the plan without regions alone.
      add_new_regions(same->more_regions, same->regions.value_or(std::vector<std::string>{}));
      add_new_regions(same->more_regions, other.regions.value_or(std::vector<std::string>{}));
      same->regions.reset();
    }
    add_new_regions(same->more_regions, other.more_regions);
  }
  return plan;
}

PlanScope::PlanScope(const ScanPlan& plan, ScanOutput& output) : output_(output) {
  for (const PlannedAccount& account : plan.accounts)
    regions_.emplace(account.account_id, account.regions);
}

bool PlanScope::covers(const AccountRecord& account, const std::string& region) const {
  const auto found = regions_.find(account.account_id);
  if (found == regions_.end()) return false;
  const std::vector<std::string>& own = found->second ? *found->second : account.listed_regions;
  return std::find(own.begin(), own.end(), region) != own.end();
}

void PlanScope::account_scanned(const AccountRecord& account) {
  if (!regions_.contains(account.account_id)) return;
  const auto outside = [&](const std::string& region) { return !covers(account, region); };
  const auto outside_region = [&](const RegionRecord& region) { return outside(region.region); };
  const bool all_covered =
      std::none_of(account.regions.begin(), account.regions.end(), outside_region) &&
      std::none_of(account.closed_regions.begin(), account.closed_regions.end(), outside);
  if (all_covered) {
    output_.account_scanned(account);
    return;
  }
  AccountRecord own = account;
  std::erase_if(own.regions, outside_region);
  std::erase_if(own.closed_regions, outside);
  output_.account_scanned(own);
}

void PlanScope::account_started(const AccountRecord& account) const {
  if (regions_.contains(account.account_id)) output_.account_started(account);
}

void PlanScope::vpc_scanned(const AccountRecord& account, const RegionRecord& region,
                            const VpcRecord& vpc) const {
  if (covers(account, region.region)) output_.vpc_scanned(account, region, vpc);
}

void PlanScope::region_scanned(const AccountRecord& account, const RegionRecord& region) const {
  if (covers(account, region.region)) output_.region_scanned(account, region);
}

}  // namespace generator::generate
