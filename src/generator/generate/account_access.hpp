#pragma once

// How the scan reaches an AWS account: its name on the controller, the role to assume,
// the role assumption, its regions, and the EC2 handle of one region.

#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "aws/context.hpp"
#include "aws/credentials.hpp"
#include "aws/ec2.hpp"
#include "aws/organizations.hpp"
#include "aws/partitions.hpp"
#include "generator/config/config.hpp"

namespace generator::generate {

/// What a role assumption gave: the credentials, or why there are none.
struct RoleAssumption {
  std::optional<aws::Credentials> credentials;
  /// The error's message when the role could not be assumed.
  std::string refusal;
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

/// The "account_name" of the first entry of the controller's list whose "account_number" equals
/// `account_id` (a text equals only a text); null when none does. KeyError for an entry without
/// "account_number" reached before a match.
[[nodiscard]] nlohmann::ordered_json get_acct_name(const std::string& account_id,
                                                   const nlohmann::ordered_json& account_list);

/// "arn:<partition>:iam::<account_id>:role/<role_name>", the role name as it stands.
[[nodiscard]] std::string get_role_arn(const std::string& account_id, const std::string& role_name,
                                       const std::string& partition);

/// The AWS partition the run works in: that of `aws_regions`, else of the operator's region
/// (aws::partition_of_scan). ClientError before any request when the regions lie in two
/// partitions, or `organization.role_arn` in another one.
[[nodiscard]] const aws::Partition& scan_partition(const config::Config& config,
                                                   const aws::Environment& environment);

/// The temporary credentials of the role, assumed with the operator's own credentials (the SDKs'
/// default chain and region) and the session name, external ID and lifetime of `settings` (by
/// default session name "AssumeRoleSession1" and nothing else asked for); nothing, with the
/// error's message logged, when the role could not be assumed for any reason.
/// `refusal`, when given, receives the error's message; `own`, when given, supplies the operator's
/// credentials instead of a resolution of the default chain for this call.
[[nodiscard]] std::optional<aws::Credentials> get_temp_creds_for_account(
    const std::string& role_arn, const aws::Context& context, std::string* refusal = nullptr,
    aws::OwnCredentials* own = nullptr, const config::AssumeRoleSettings& settings = {});
/// The same in the process's own context.
[[nodiscard]] std::optional<aws::Credentials> get_temp_creds_for_account(
    const std::string& role_arn);
/// The same with the operator's credentials of `own`, and the error's message kept as the
/// refusal when the role could not be assumed.
[[nodiscard]] RoleAssumption assume_account_role(const std::string& role_arn,
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
/// The same in the process's own context.
[[nodiscard]] std::vector<std::string> get_regions(const aws::Credentials& creds);

/// An EC2 handle for the region with the account's credentials; sends nothing yet.
[[nodiscard]] std::unique_ptr<Ec2Handle> get_ec2_resource_handler(const std::string& aws_region,
                                                                  const aws::Credentials& creds,
                                                                  const aws::Context& context);
/// The same in the process's own context.
[[nodiscard]] std::unique_ptr<Ec2Handle> get_ec2_resource_handler(const std::string& aws_region,
                                                                  const aws::Credentials& creds);

}  // namespace generator::generate
