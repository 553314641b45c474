#pragma once

// What a scan covers: the accounts to scan, each with its own regions or the regions enabled for
// it, taken from the configuration, the controller's list or the AWS organization; two plans
// joined into one scan, and the scope through which each output of a joined scan sees only its
// own plan.

#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "aws/organizations.hpp"
#include "generator/config/config.hpp"
#include "generator/generate/account_access.hpp"
#include "generator/generate/discovery_services.hpp"
#include "generator/generate/scan_records.hpp"

namespace generator::generate {

/// One account to scan, with its own regions or, when it has none, the regions enabled for it.
struct PlannedAccount {
  std::string account_id;
  /// The account's name on the controller; nothing when the controller gives none.
  std::optional<std::string> account_name;
  std::optional<std::vector<std::string>> regions;
  /// Regions scanned after those when not among them: another plan's, in a joined plan.
  std::vector<std::string> more_regions;
};

/// What a scan covers.
struct ScanPlan {
  /// The accounts in the order their records are handed over.
  std::vector<PlannedAccount> accounts;

  /// Every configured account, named as `controller_accounts` names it, with the configured
  /// regions (or, when none are configured, the regions enabled for each account). The accounts
  /// are the configuration's list, the controller's (controller_account_ids) or the
  /// organization's (organization_account_ids, read through `services`, with one WARNING naming
  /// those the controller does not name). ScanError, saying why, when that leaves no account: a
  /// scan of nothing would replace good files with empty ones.
  [[nodiscard]] static ScanPlan from_config(const config::Config& config,
                                            const ControllerAccounts& controller_accounts,
                                            DiscoveryServices& services);
  /// One plan that covers both: the accounts of `first` in order, then those only `second` has,
  /// each with the regions of both (first's first).
  [[nodiscard]] static ScanPlan joined(const ScanPlan& first, const ScanPlan& second);
};

/// An output of a scan of joined plans that sees only what its own plan covers: its accounts,
/// and of each its regions (or, for an account without regions of its own, those listed as
/// enabled). Records of a region outside the plan are held back; one account record is copied
/// only when some of its regions are.
class PlanScope : public ScanOutput {
 public:
  /// `output` must outlive the scope.
  PlanScope(const ScanPlan& plan, ScanOutput& output);

  [[nodiscard]] bool needs_subnets() const override { return output_.needs_subnets(); }
  [[nodiscard]] bool outlives_failed_regions() const override {
    return output_.outlives_failed_regions();
  }
  void account_scanned(const AccountRecord& account) override;
  void account_started(const AccountRecord& account) const override;
  void vpc_scanned(const AccountRecord& account, const RegionRecord& region,
                   const VpcRecord& vpc) const override;
  void region_scanned(const AccountRecord& account, const RegionRecord& region) const override;
  void finish() override { output_.finish(); }

 private:
  [[nodiscard]] bool covers(const AccountRecord& account, const std::string& region) const;

  ScanOutput& output_;
  // Account -> its regions, or nothing for the regions listed as enabled.
  std::unordered_map<std::string, std::optional<std::vector<std::string>>> regions_;
};

/// Appends to `regions` each region of `more` that it does not hold yet, in order: a region is
/// scanned once however often it is named or listed.
void add_new_regions(std::vector<std::string>& regions, const std::vector<std::string>& more);

/// The accounts of the controller's list, in its order, each once; the entries left out and the
/// accounts scanned without a name (ControllerAccounts) are named in one WARNING.
[[nodiscard]] std::vector<std::string> controller_account_ids(
    const ControllerAccounts& controller_accounts);

/// The ACTIVE accounts of an Organizations listing that `settings` does not exclude, each once,
/// in account-number order.
[[nodiscard]] std::vector<std::string> organization_account_ids(
    const std::vector<aws::OrganizationAccount>& listed,
    const config::OrganizationSettings& settings);

}  // namespace generator::generate
