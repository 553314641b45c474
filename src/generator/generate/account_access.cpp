#include "generator/generate/account_access.hpp"

#include <set>

#include "aws/endpoints.hpp"
#include "aws/errors.hpp"
#include "aws/shared_config.hpp"
#include "aws/sts.hpp"
#include "generator/common/errors.hpp"
#include "generator/controller/controller.hpp"
#include "generator/controller/terminal.hpp"
#include "generator/log/log.hpp"

namespace generator::generate {

namespace {

log::Logger& logger() { return log::get_logger("generator.generate"); }

class AwsEc2Handle : public Ec2Handle {
 public:
  AwsEc2Handle(const aws::Context& context, const std::string& region,
               const aws::Credentials& creds)
      : client_(context, region, creds) {}

  void list_vpc_pages(
      int page_size,
      const std::function<void(std::vector<aws::Vpc>& page)>& on_page) const override {
    client_.for_each_vpc_page(page_size, on_page);
  }
  std::vector<aws::Subnet> list_region_subnets(int page_size) const override {
    return client_.describe_region_subnets(page_size);
  }
  std::vector<std::string> describe_regions() const override {
    std::vector<std::string> names;
    for (const auto& region : client_.describe_regions()) names.push_back(region.name);
    return names;
  }

 private:
  aws::Ec2Client client_;
};

// The code of an MFA device, typed at the operator's terminal as the AWS CLI asks for it.
class TerminalMfaPrompt : public aws::MfaPrompt {
 public:
  std::string code(const std::string& profile, const std::string& mfa_serial) override {
    controller::ControllingTerminal terminal(controller::SecretUse{
        "MFA code", "the MFA code of AWS profile '" + profile + "'",
        "run generate at a terminal, or sign in with a profile without mfa_serial"});
    return terminal.read_secret("Enter MFA code for " + mfa_serial + ": ");
  }
};

}  // namespace

aws::Context process_context(const http::TransportSettings& transport) {
  aws::Context context = aws::Context::for_process(transport);
  context.withheld_from_children.emplace_back(controller::PASSWORD_VARIABLE);
  context.mfa_prompt = std::make_shared<TerminalMfaPrompt>();
  return context;
}

nlohmann::ordered_json get_acct_name(const std::string& account_id,
                                     const nlohmann::ordered_json& account_list) {
  if (!account_list.is_array()) throw TypeError("the controller's account list is not a list");
  const nlohmann::ordered_json wanted = account_id;
  for (const auto& entry : account_list) {
    if (!entry.is_object() || !entry.contains("account_number")) {
      throw KeyError("'account_number' (an entry of the controller's account list has none)");
    }
    if (entry["account_number"] == wanted) {
      if (!entry.contains("account_name"))
        throw KeyError("'account_name' (the controller's entry of account " + account_id +
                       " has none)");
      return entry["account_name"];
    }
  }
  return nullptr;
}

std::string get_role_arn(const std::string& account_id, const std::string& role_name,
                         const std::string& partition) {
  logger().debug("Role ARN for account_id: {}, role_name: {}", account_id, role_name);
  std::string role_arn = aws::iam_role_arn(partition, account_id, role_name);
  logger().debug("Role ARN: {}", role_arn);
  return role_arn;
}

const aws::Partition& scan_partition(const config::Config& config,
                                     const aws::Environment& environment) {
  const aws::Partition& partition =
      aws::partition_of_scan(config.aws_regions, "aws_regions", environment);
  if (config.organization.role_arn) {
    const std::string& arn = *config.organization.role_arn;
    if (aws::partition_of_arn(arn) != partition.id) {
      throw aws::ClientError("organization.role_arn " + arn + " lies outside the partition " +
                             partition.id + " of the regions scanned");
    }
  }
  return partition;
}

std::optional<aws::Credentials> get_temp_creds_for_account(
    const std::string& role_arn, const aws::Context& context, std::string* refusal,
    aws::OwnCredentials* own, const config::AssumeRoleSettings& settings) {
  try {
    const aws::StsClient sts = own != nullptr ? aws::make_default_sts_client(context, *own)
                                              : aws::make_default_sts_client(context);
    return sts.assume_role(aws::AssumeRoleRequest{role_arn, settings.session_name,
                                                  settings.external_id, settings.duration_seconds});
  } catch (const std::exception& error) {
    // Refused permission, a missing role, no network or no own credentials: the account is skipped
    // by the caller, the others are still scanned. The texts of this layer carry no secrets (STS
    // does not repeat the external ID).
    logger().error("{}", std::string(error.what()));
    if (refusal != nullptr) *refusal = error.what();
    return std::nullopt;
  }
}

RoleAssumption assume_account_role(const std::string& role_arn,
                                   const config::AssumeRoleSettings& settings,
                                   const aws::Context& context, aws::OwnCredentials& own) {
  RoleAssumption assumption;
  assumption.credentials =
      get_temp_creds_for_account(role_arn, context, &assumption.refusal, &own, settings);
  return assumption;
}

std::optional<aws::Credentials> get_temp_creds_for_account(const std::string& role_arn) {
  return get_temp_creds_for_account(role_arn, process_context());
}

std::vector<aws::OrganizationAccount> list_organization_accounts(
    const config::OrganizationSettings& settings, const std::string& session_name,
    const aws::Context& context, aws::OwnCredentials& own) {
  aws::Credentials reader = own.get(context);
  if (settings.role_arn) {
    logger().info("Reading the organization through role {}", *settings.role_arn);
    reader = aws::make_default_sts_client(context, own)
                 .assume_role(aws::AssumeRoleRequest{*settings.role_arn, session_name, std::nullopt,
                                                     std::nullopt});
  }
  const aws::OrganizationsClient organizations(context, reader);
  if (settings.ous.empty()) return organizations.list_accounts();
  std::vector<aws::OrganizationAccount> accounts;
  // Units already read: an answer that named a unit below itself would be read for ever.
  std::set<std::string> read;
  for (const std::string& ou : settings.ous) {
    // Depth first: a unit's own accounts, then each of its units in listing order.
    std::vector<std::string> pending{ou};
    while (!pending.empty()) {
      const std::string parent = std::move(pending.back());
      pending.pop_back();
      if (!read.insert(parent).second) continue;
      if (read.size() > MAX_ORGANIZATIONAL_UNITS)
        throw aws::ClientError("Organizations lists more than " +
                               std::to_string(MAX_ORGANIZATIONAL_UNITS) +
                               " organizational units below " + ou);
      for (auto& account : organizations.list_accounts_for_parent(parent))
        accounts.push_back(std::move(account));
      std::vector<std::string> children = organizations.list_child_units(parent);
      pending.insert(pending.end(), children.rbegin(), children.rend());
    }
  }
  return accounts;
}

std::vector<std::string> get_regions(const aws::Credentials& creds, const aws::Context& context) {
  const auto region = aws::operator_region(context, aws::load_shared_config(context.environment));
  return get_ec2_resource_handler(aws::partition_of(region.value_or("us-east-1")).global_region,
                                  creds, context)
      ->describe_regions();
}

std::vector<std::string> get_regions(const aws::Credentials& creds) {
  return get_regions(creds, process_context());
}

std::unique_ptr<Ec2Handle> get_ec2_resource_handler(const std::string& aws_region,
                                                    const aws::Credentials& creds,
                                                    const aws::Context& context) {
  return std::make_unique<AwsEc2Handle>(context, aws_region, creds);
}

std::unique_ptr<Ec2Handle> get_ec2_resource_handler(const std::string& aws_region,
                                                    const aws::Credentials& creds) {
  return get_ec2_resource_handler(aws_region, creds, process_context());
}

}  // namespace generator::generate
