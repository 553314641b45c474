#include "generator/generate/account_access.hpp"

#include <set>

#include "aws/endpoints.hpp"
#include "aws/errors.hpp"
#include "aws/names.hpp"
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

ControllerAccounts ControllerAccounts::from_answer(const nlohmann::ordered_json& list) {
  if (!list.is_array()) throw TypeError("the controller's account list is not a list");
  ControllerAccounts accounts;
  for (const nlohmann::ordered_json& entry : list) {
    if (!entry.is_object() || !entry.contains("account_number")) {
      accounts.left_out_.push_back(entry.dump());
      continue;
    }
    // A number is refused rather than read: it has lost any leading zeros of the account's.
    const nlohmann::ordered_json& number = entry["account_number"];
    if (!number.is_string() || !aws::is_account_number(number.get<std::string>())) {
      accounts.left_out_.push_back(number.dump());
      continue;
    }
    ControllerAccount account{number.get<std::string>(), std::nullopt};
    const auto name = entry.find("account_name");
    const bool first =
        accounts.first_entry_.emplace(account.account_number, accounts.entries_.size()).second;
    if (name != entry.end() && name->is_string())
      account.account_name = name->get<std::string>();
    else if (first && (name == entry.end() || !name->is_null()))
      // Only the first entry of an account gives its name.
      accounts.unnamed_.push_back(account.account_number);
    accounts.entries_.push_back(std::move(account));
  }
  return accounts;
}

std::optional<std::string> ControllerAccounts::name_of(const std::string& account_id) const {
  const auto found = first_entry_.find(account_id);
  if (found == first_entry_.end()) return std::nullopt;
  return entries_[found->second].account_name;
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

RoleAssumption RoleAssumption::assumed(aws::Credentials credentials) {
  RoleAssumption assumption;
  assumption.credentials_ = std::move(credentials);
  return assumption;
}

RoleAssumption RoleAssumption::refused(std::string reason) {
  RoleAssumption assumption;
  assumption.refusal_ = std::move(reason);
  return assumption;
}

RoleAssumption RoleAssumption::failed(std::exception_ptr error) {
  RoleAssumption assumption;
  assumption.failure_ = std::move(error);
  return assumption;
}

std::optional<aws::Credentials> RoleAssumption::credentials() const {
  if (failure_) std::rethrow_exception(failure_);
  return credentials_;
}

RoleAssumption get_temp_creds_for_account(const std::string& role_arn,
                                          const config::AssumeRoleSettings& settings,
                                          const aws::Context& context, aws::OwnCredentials& own) {
  // A refusal costs the operator one account, and the others are still scanned. An answer that
  // quotes the request back shows no external ID: the configuration holds it as a secret, which
  // every message masks.
  const log::Issuer here = log::Issuer();
  const auto refusal = [&](const aws::Error& error) {
    logger().error({here, "{}"}, std::string(error.what()));
    return RoleAssumption::refused(error.what());
  };
  try {
    // No own credentials (none found, a sign-in that no longer holds, a role profile that was
    // refused) refuse every account alike.
    (void)own.get(context);
  } catch (const aws::Error& error) {
    return refusal(error);
  } catch (...) {
    return RoleAssumption::failed(std::current_exception());
  }
  try {
    const aws::StsClient sts = aws::make_default_sts_client(context, own);
    return RoleAssumption::assumed(sts.assume_role(aws::AssumeRoleRequest{
        role_arn, settings.session_name, settings.external_id, settings.duration_seconds}));
  } catch (const aws::ServiceError& error) {
    // A role that is missing or does not trust the operator.
    return refusal(error);
  } catch (...) {
    // STS out of reach or answering with something else, or a fault of our own: no account would
    // fare better, so the run ends on it.
    return RoleAssumption::failed(std::current_exception());
  }
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

std::unique_ptr<Ec2Handle> get_ec2_resource_handler(const std::string& aws_region,
                                                    const aws::Credentials& creds,
                                                    const aws::Context& context) {
  return std::make_unique<AwsEc2Handle>(context, aws_region, creds);
}

}  // namespace generator::generate
