#pragma once

// The one walk over the estate that every output of `generate` shares: accounts (name, role,
// regions), the regions of each, the VPCs of each region with their gateway subnet and name. The
// walk hands typed records to its outputs in configuration order; the outputs only turn them
// into their own documents.

#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <source_location>
#include <string>
#include <unordered_map>
#include <vector>

#include "aws/credentials.hpp"
#include "aws/organizations.hpp"
#include "generator/config/config.hpp"
#include "generator/generate/account_access.hpp"
#include "generator/generate/gateway_subnet.hpp"
#include "generator/generate/scan_records.hpp"
#include "http/http.hpp"

namespace generator::generate {

/// Page size when the VPCs of a region are listed.
inline constexpr int VPC_PAGE_SIZE = 64;
/// Page size when the subnets of a region are listed (the most EC2 gives per page).
inline constexpr int SUBNET_PAGE_SIZE = 1000;

/// What a scan asks of the controller and of AWS; tests put a stand-in here.
class DiscoveryServices {
 public:
  virtual ~DiscoveryServices() = default;
  /// Logs in to the controller and gives its account list.
  virtual nlohmann::ordered_json account_list(const config::Config& config) = 0;
  /// The role's temporary credentials, or nothing when it cannot be assumed.
  virtual std::optional<aws::Credentials> temp_creds_for_account(const std::string& role_arn) = 0;
  /// The role assumption with the reason of a refusal; by default a general reason.
  virtual RoleAssumption assume_role(const std::string& role_arn);
  /// The regions enabled for the account.
  virtual std::vector<std::string> regions(const aws::Credentials& creds) = 0;
  /// Resolves the operator's own AWS credentials ahead of the scan, so that a question they ask
  /// (an MFA code) comes before the status line does; a failure is kept for the role assumptions
  /// that need them. By default nothing.
  virtual void resolve_own_credentials() {}
  /// The time by which credentials are renewed before they expire; by default the system clock.
  virtual std::chrono::system_clock::time_point now();
  /// The accounts of the AWS organization, or of the units `settings.ous` and the units nested in
  /// them, as Organizations lists them (any status; an account may come twice), read through
  /// `settings.role_arn` when given; errors pass on. By default a ScanError: these services
  /// reach no organization.
  virtual std::vector<aws::OrganizationAccount> organization_accounts(
      const config::OrganizationSettings& settings);
  /// EC2 of one region with the account's credentials.
  virtual std::unique_ptr<Ec2Handle> ec2_handler(const std::string& region,
                                                 const aws::Credentials& creds) = 0;
  /// The services for one scanning thread, whose requests end once `cancellation` is set. By
  /// default these same services, entered by one thread at a time.
  virtual std::unique_ptr<DiscoveryServices> for_worker(
      std::shared_ptr<const http::Cancellation> cancellation);

 private:
  std::recursive_mutex serial_calls_;
};

/// Told where a pass is, for a status line; every member does nothing unless overridden. Called
/// from the scanning threads, several at once.
class PassProgress {
 public:
  virtual ~PassProgress() = default;
  /// A pass begins ("scan" or "verify").
  virtual void pass_started(const std::string& /*pass*/) {}
  /// Account `number` of `count` (1-based) is being scanned.
  virtual void account_started(std::size_t /*number*/, std::size_t /*count*/,
                               const std::string& /*account_id*/) {}
  /// A region is being scanned.
  virtual void region_started(const std::string& /*region*/) {}
  /// A region's scan is over, successfully or not.
  virtual void region_done() {}
  /// One more VPC was found.
  virtual void vpc_found() {}
  /// The pass is over, successfully or not.
  virtual void pass_ended() {}
};

/// One account to scan, with its own regions or, when it has none, the regions enabled for it.
struct PlannedAccount {
  std::string account_id;
  std::optional<std::vector<std::string>> regions;
  /// Regions scanned after those when not among them: another plan's, in a joined plan.
  std::vector<std::string> more_regions;
};

/// What a scan covers.
struct ScanPlan {
  /// The accounts in the order their records are handed over.
  std::vector<PlannedAccount> accounts;
  /// The controller's account list, where the accounts' names are found.
  nlohmann::ordered_json controller_accounts = nlohmann::ordered_json::array();

  /// Every configured account with the configured regions (or, when none are configured, the
  /// regions enabled for each account). The accounts are the configuration's list, the
  /// controller's (controller_account_ids) or the organization's (organization_account_ids, read
  /// through `services`, with one WARNING naming those the controller does not list).
  [[nodiscard]] static ScanPlan from_config(const config::Config& config,
                                            nlohmann::ordered_json controller_accounts,
                                            DiscoveryServices& services);
  /// One plan that covers both: the accounts of `first` in order, then those only `second` has,
  /// each with the regions of both (first's first); `first`'s controller account list.
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

 private:
  [[nodiscard]] bool covers(const AccountRecord& account, const std::string& region) const;

  ScanOutput& output_;
  // Account -> its regions, or nothing for the regions listed as enabled.
  std::unordered_map<std::string, std::optional<std::vector<std::string>>> regions_;
};

/// The accounts of the controller's list, in its order, each once: the "account_number" of every
/// entry that holds a 12-digit text there; the others are named in one WARNING and left out.
/// KeyError for an entry without "account_number", TypeError when the list is no list.
[[nodiscard]] std::vector<std::string> controller_account_ids(
    const nlohmann::ordered_json& controller_accounts);

/// The ACTIVE accounts of an Organizations listing that `settings` does not exclude, each once,
/// in account-number order.
[[nodiscard]] std::vector<std::string> organization_account_ids(
    const std::vector<aws::OrganizationAccount>& listed,
    const config::OrganizationSettings& settings);

/// How a scan runs.
struct ScanSettings {
  /// The role assumed in every account.
  std::string role_name;
  /// The AWS partition of the accounts' roles ("aws", "aws-us-gov", "aws-cn", ...).
  std::string partition = "aws";
  /// When set, no gateway subnet is chosen (and no subnet listed unless an output wants them).
  bool add_vpc_cidr = false;
  Hpe hpe = Hpe::disabled;
  /// Addresses no gateway subnet may use, as if subnets stood there.
  std::vector<ipv4::Network> reserved;
  /// How many pieces of work (an account's role and regions, or one region) run at once.
  std::size_t jobs = 1;
  /// The function in whose name the scan's messages are issued (the pass that runs it).
  std::source_location pass = std::source_location::current();
};

/// The typed record of a VPC of EC2's listing, without its subnets.
[[nodiscard]] VpcRecord vpc_record(const aws::Vpc& vpc);

/// The subnets of one region, listed once (in pages of SUBNET_PAGE_SIZE) on the first VPC that
/// needs them, and handed out by VPC.
class RegionSubnets {
 public:
  explicit RegionSubnets(const Ec2Handle& ec2) : ec2_(ec2) {}

  /// The subnets of `vpc_id` in listing order; each VPC's are handed out once. EC2 errors of the
  /// listing pass to the caller.
  [[nodiscard]] std::vector<SubnetRecord> take(const std::string& vpc_id);

 private:
  const Ec2Handle& ec2_;
  bool listed_ = false;
  std::unordered_map<std::string, std::vector<SubnetRecord>> by_vpc_;
};

/// Scans the plan and hands each account to every output, in plan order, once its regions are
/// done. A region whose scan meets an AWS service error is handed over as failed (with a warning)
/// while some output outlives failed regions (ScanOutput::outlives_failed_regions); otherwise it
/// ends the scan, as every other error does: messages of everything before it in plan order are
/// written, nothing after.
void scan_estate(const ScanPlan& plan, const ScanSettings& settings, DiscoveryServices& services,
                 PassProgress& progress, const std::vector<ScanOutput*>& outputs);

}  // namespace generator::generate
