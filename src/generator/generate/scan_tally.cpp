#include "generator/generate/scan_tally.hpp"

#include "generator/common/errors.hpp"
#include "generator/log/log.hpp"

namespace generator::generate {

namespace {

log::Logger& logger() { return log::get_logger("generator.generate"); }

}  // namespace

void ScanTally::account_scanned(const AccountRecord& account) {
  ++accounts;
  if (!account.entered) return;
  ++accounts_entered;
  closed_regions.add(account);
  for (const RegionRecord& region : account.regions) {
    ++regions;
    if (region.failed()) ++regions_failed;
  }
}

bool ScanTally::reached_nothing() const {
  if (accounts == 0) return false;
  return accounts_entered == 0 || (regions > 0 && regions_failed == regions);
}

bool ScanTally::incomplete() const { return accounts_entered < accounts || regions_failed > 0; }

void ScanTally::require_something_reached(const std::vector<std::string>& products) const {
  if (!reached_nothing()) return;
  const std::string what =
      accounts_entered == 0
          ? "none of the " + std::to_string(accounts) + " configured accounts could be entered"
          : "all " + std::to_string(regions) + " regions of the " +
                std::to_string(accounts_entered) + " entered accounts failed";
  std::string named;
  for (std::size_t index = 0; index < products.size(); ++index)
    named += (index == 0 ? "" : index + 1 == products.size() ? " and " : ", ") + products[index];
  throw ScanError("Nothing was scanned (" + what + "): " + named +
                  (products.size() == 1
                       ? " was not written and an existing one is left as it was"
                       : " were not written and existing ones are left as they were"));
}

void ScanTally::warn_if_incomplete(const std::string& product) const {
  if (!incomplete()) return;
  std::string skipped;
  if (accounts_entered < accounts) {
    skipped += std::to_string(accounts - accounts_entered) + " of " + std::to_string(accounts) +
               " accounts could not be entered";
  }
  if (regions_failed > 0) {
    if (!skipped.empty()) skipped += " and ";
    skipped += std::to_string(regions_failed) + " of " + std::to_string(regions) +
               " regions could not be scanned";
  }
  logger().warning("{} is incomplete: {} (see the errors above)", product, skipped);
}

void ScanTally::report_closed_regions() const {
  for (const ClosedRegionCount::Entry& closed : closed_regions.entries())
    logger().info(
        "Region '{}' is closed by a service control policy in {} of {} entered accounts; it is "
        "left out of the files",
        closed.region, closed.accounts, accounts_entered);
}

}  // namespace generator::generate
