#pragma once

// How the scan reaches an AWS account: its name in the controller's account list, the role to
// assume and what came of assuming it, the organization's accounts, an account's regions, and
// the EC2 handle of one region.

#include <exception>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "aws/context.hpp"
#include "aws/credentials.hpp"
#include "aws/ec2.hpp"
#include "aws/organizations.hpp"
#include "aws/partitions.hpp"
#include "generator/config/config.hpp"

namespace generator::generate {

/// What came of assuming an account's role: its credentials; a refusal, by AWS or by the
/// operator's own sign-in, which skips the account; or a failure that is neither, which ends the
/// run as any other fault does.
class RoleAssumption {
 public:
  /// The role was assumed.
  [[nodiscard]] static RoleAssumption assumed(aws::Credentials credentials);
  /// AWS refused the role, or the operator's sign-in gave no credentials to ask with; `reason` is
  /// the error's message.
  [[nodiscard]] static RoleAssumption refused(std::string reason);
  /// Something else went wrong; `error` is what a caller rethrows.
  [[nodiscard]] static RoleAssumption failed(std::exception_ptr error);

  /// The credentials when the role was assumed, nothing when it was refused; rethrows the error of
  /// a failure.
  [[nodiscard]] std::optional<aws::Credentials> credentials() const;
  /// The reason of a refusal; empty otherwise.
  [[nodiscard]] const std::string& refusal() const noexcept { return refusal_; }

 private:
  RoleAssumption() = default;

  std::optional<aws::Credentials> credentials_;
  std::string refusal_;
  std::exception_ptr failure_;
};

/// EC2 of one region with one account's credentials; tests put a stand-in here.
class Ec2Handle {
 public:
  virtual ~Ec2Handle() = default;
  /// Lists the region's VPCs, `page_size` per request, handing each page to `on_page` in order;
  /// EC2 errors (aws::ServiceError, aws::ClientError) pass to the caller.
  virtual void list_vpc_pages(
      int page_size, const std::function<void(std::vector<aws::Vpc>& page)>& on_page) const = 0;
  /// Every subnet of the region, whichever VPC it belongs to, listed `page_size` per request, in
  /// listing order.
  [[nodiscard]] virtual std::vector<aws::Subnet> list_region_subnets(int page_size) const = 0;
  /// The names of the regions enabled for the account (DescribeRegions without parameters).
  [[nodiscard]] virtual std::vector<std::string> describe_regions() const = 0;
};

/// The process's AWS context over `transport`, in which programs started for credentials
/// (credential_process) never see the controller password and a role profile's mfa_serial has
/// its code asked for at the terminal.
[[nodiscard]] aws::Context process_context(
    const http::TransportSettings& transport = aws::Context::transport_settings());

/// One entry of the controller's account list that names an AWS account.
struct ControllerAccount {
  /// The 12-digit account number, as the controller wrote it.
  std::string account_number;
  /// The account's name on the controller; nothing when the entry gives none as text.
  std::optional<std::string> account_name;
};

/// The controller's account list, typed where it enters the run: the entries that name an AWS
/// account, in the controller's order, and what the others were, so that one WARNING can name
/// them.
class ControllerAccounts {
 public:
  /// A list without entries.
  ControllerAccounts() = default;
  /// The list as the controller sent it (TypeError when it is no list). An entry that is no
  /// mapping, or whose "account_number" is not a 12-digit text, is left out; one whose
  /// "account_name" is missing or not text (null: the controller gives none) names its account
  /// without a name.
  [[nodiscard]] static ControllerAccounts from_answer(const nlohmann::ordered_json& list);

  /// The entries that name an AWS account, in the controller's order, an account as often as
  /// listed.
  [[nodiscard]] const std::vector<ControllerAccount>& entries() const noexcept { return entries_; }
  /// The name of the first entry of `account_id`; nothing when no entry names the account or
  /// that entry gives no name.
  [[nodiscard]] std::optional<std::string> name_of(const std::string& account_id) const;
  /// The entries left out, each as the controller wrote its "account_number" (the whole entry
  /// when it has none), in the controller's order.
  [[nodiscard]] const std::vector<std::string>& left_out() const noexcept { return left_out_; }
  /// The accounts whose entry's "account_name" is missing or not text, in the controller's order.
  [[nodiscard]] const std::vector<std::string>& unnamed() const noexcept { return unnamed_; }

 private:
  std::vector<ControllerAccount> entries_;
  // Account number -> its first entry in entries_.
  std::unordered_map<std::string, std::size_t> first_entry_;
  std::vector<std::string> left_out_;
  std::vector<std::string> unnamed_;
};

/// "arn:<partition>:iam::<account_id>:role/<role_name>", the role name as it stands.
[[nodiscard]] std::string get_role_arn(const std::string& account_id, const std::string& role_name,
                                       const std::string& partition);

/// The AWS partition the run works in: that of `aws_regions`, else of the operator's region
/// (aws::partition_of_scan). ClientError before any request when the regions lie in two
/// partitions, or `organization.role_arn` in another one.
[[nodiscard]] const aws::Partition& scan_partition(const config::Config& config,
                                                   const aws::Environment& environment);

/// The role assumed with the operator's own credentials of `own` (resolved once for the run, from
/// the SDKs' default chain) at the default STS endpoint, with the session name, external ID and
/// lifetime of `settings`. Refused, with the error's message logged, when STS refuses or when the
/// operator's credentials cannot be resolved (any error of the AWS layer there); failed with any
/// other error.
[[nodiscard]] RoleAssumption get_temp_creds_for_account(const std::string& role_arn,
                                                        const config::AssumeRoleSettings& settings,
                                                        const aws::Context& context,
                                                        aws::OwnCredentials& own);

/// The most organizational units read below the configured ones: ten times what an organization
/// may hold.
inline constexpr std::size_t MAX_ORGANIZATIONAL_UNITS = 10000;

/// The accounts of the organization, or of the units `settings.ous` and every unit nested in
/// them (a unit's accounts before those of the units below it), as Organizations lists them.
/// Read with the credentials of `settings.role_arn`, assumed with the operator's own as session
/// `session_name`, or else with the operator's own; every error passes on.
[[nodiscard]] std::vector<aws::OrganizationAccount> list_organization_accounts(
    const config::OrganizationSettings& settings, const std::string& session_name,
    const aws::Context& context, aws::OwnCredentials& own);

/// The names of the regions enabled for the account, asked of EC2 in the global region of the
/// operator's partition (us-east-1 in the commercial one, us-gov-west-1 in GovCloud); errors pass
/// on.
[[nodiscard]] std::vector<std::string> get_regions(const aws::Credentials& creds,
                                                   const aws::Context& context);

/// An EC2 handle for the region with the account's credentials; sends nothing yet.
[[nodiscard]] std::unique_ptr<Ec2Handle> get_ec2_resource_handler(const std::string& aws_region,
                                                                  const aws::Credentials& creds,
                                                                  const aws::Context& context);

}  // namespace generator::generate
