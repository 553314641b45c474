#include "generator/generate/scan_engine.hpp"

#include "aws/errors.hpp"
#include "generator/generate/gateway_name.hpp"
#include "generator/generate/generate.hpp"
#include "generator/log/log.hpp"

namespace generator::generate {

namespace {

using Json = nlohmann::ordered_json;

log::Logger& logger() { return log::get_logger("generator.generate"); }

// A message issued in the name of the pass that runs the scan.
log::Message in_pass(std::string_view text, const ScanSettings& settings) {
  return log::Message(text, settings.pass);
}

std::string error_rendering(const std::exception& error) {
  if (const auto* service_error = dynamic_cast<const aws::ServiceError*>(&error)) {
    return "ClientError: " + std::string(service_error->what());
  }
  return error.what();
}

VpcRecord vpc_record(const aws::Vpc& vpc) {
  VpcRecord record;
  record.id = vpc.id;
  record.primary_cidr = vpc.cidr_block;
  for (const auto& association : vpc.cidr_block_association_set)
    record.blocks.push_back(BlockRecord{association.cidr_block, association.state});
  for (const auto& tag : vpc.tags) record.tags.push_back(TagRecord{tag.key, tag.value});
  return record;
}

// Every account skipped is almost always one mistake (the role name, or the operator's own AWS
// identity), so it gets one line of its own after the per-account errors.
void warn_no_account_entered(std::size_t account_count, const std::string& role_name) {
  if (account_count == 0) return;
  logger().warning(
      "None of the %s configured accounts could be entered: check the role name '%s' and the AWS "
      "credentials that assume it",
      account_count, role_name);
}

// One scan: the plan, how it runs, and where its results go.
class Scan {
 public:
  Scan(const ScanPlan& plan, const ScanSettings& settings, DiscoveryServices& services,
       PassProgress& progress, const std::vector<ScanOutput*>& outputs)
      : plan_(plan),
        settings_(settings),
        services_(services),
        progress_(progress),
        outputs_(outputs) {
    for (const ScanOutput* output : outputs_)
      needs_subnets_ = needs_subnets_ || output->needs_subnets();
  }

  void run() {
    std::size_t entered = 0;
    for (std::size_t index = 0; index < plan_.accounts.size(); ++index) {
      AccountRecord account;
      std::optional<aws::Credentials> creds;
      const std::vector<std::string> regions = enter_account(index, account, creds);
      if (account.entered) {
        ++entered;
        for (const std::string& region : regions)
          account.regions.push_back(scan_region(account, region, *creds));
      }
      for (ScanOutput* output : outputs_) output->account_scanned(account);
    }
    if (entered == 0) warn_no_account_entered(plan_.accounts.size(), settings_.role_name);
  }

 private:
  // The account's name, role and regions; `account.entered` tells whether the role was assumed.
  std::vector<std::string> enter_account(std::size_t index, AccountRecord& account,
                                         std::optional<aws::Credentials>& creds) {
    const PlannedAccount& planned = plan_.accounts[index];
    progress_.account_started(index + 1, plan_.accounts.size(), planned.account_id);
    logger().info(in_pass("Discovering info for account %s", settings_), planned.account_id);
    account.account_id = planned.account_id;
    account.account_name = get_acct_name(planned.account_id, plan_.controller_accounts);
    for (const ScanOutput* output : outputs_) output->account_started(account);

    RoleAssumption role =
        services_.assume_role(get_role_arn(planned.account_id, settings_.role_name));
    if (!role.credentials) {
      logger().error(in_pass("- Failed to assume role into account %s -- skipped", settings_),
                     planned.account_id);
      account.skip_reason = std::move(role.refusal);
      return {};
    }
    account.entered = true;
    creds = std::move(role.credentials);
    return planned.regions ? *planned.regions : services_.regions(*creds);
  }

  RegionRecord scan_region(const AccountRecord& account, const std::string& region_name,
                           const aws::Credentials& creds) {
    progress_.region_started(region_name);
    RegionRecord region;
    region.region = region_name;
    const std::unique_ptr<Ec2Handle> ec2 = services_.ec2_handler(region_name, creds);
    try {
      ec2->list_vpc_pages(VPC_PAGE_SIZE, [&](std::vector<aws::Vpc>& page) {
        for (aws::Vpc& listed : page) {
          region.vpcs.push_back(scan_vpc(std::move(listed), *ec2));
          for (const ScanOutput* output : outputs_)
            output->vpc_scanned(account, region, region.vpcs.back());
          progress_.vpc_found();
        }
      });
    } catch (const aws::ServiceError& error) {
      if (settings_.on_region_failure == RegionFailure::end_scan) throw;
      // One refusing region (an opt-in region, a policy that denies it) must not cost the
      // operator the whole account; the region is handed over as failed and the scan goes on.
      logger().warning(in_pass("Error occured while scanning VPCs in region '%s'.", settings_),
                       region_name);
      logger().debug(in_pass("Error encountered during '%s' region scan:\n%s", settings_),
                     region_name, error_rendering(error));
      region.vpcs.clear();
      region.failure = std::current_exception();
      region.failure_message = error.what();
      return region;
    }
    for (const ScanOutput* output : outputs_) output->region_scanned(account, region);
    return region;
  }

  VpcRecord scan_vpc(aws::Vpc listed, const Ec2Handle& ec2) const {
    VpcRecord record = vpc_record(listed);
    const Ec2Vpc view(std::move(listed), ec2, SUBNET_PAGE_SIZE);
    if (!settings_.add_vpc_cidr) record.gateway_subnet = compute_hvn_cidr(view, settings_.hpe);
    record.gateway_name = get_spoke_gw_name(view);
    if (needs_subnets_) {
      for (const aws::Subnet& subnet : ec2.list_subnets(record.id, SUBNET_PAGE_SIZE))
        record.subnets.push_back(SubnetRecord{subnet.id, subnet.cidr_block});
    }
    return record;
  }

  const ScanPlan& plan_;
  const ScanSettings& settings_;
  DiscoveryServices& services_;
  PassProgress& progress_;
  const std::vector<ScanOutput*>& outputs_;
  bool needs_subnets_ = false;
};

}  // namespace

RoleAssumption DiscoveryServices::assume_role(const std::string& role_arn) {
  RoleAssumption assumption{temp_creds_for_account(role_arn), {}};
  if (!assumption.credentials)
    assumption.refusal = "The role " + role_arn + " could not be assumed";
  return assumption;
}

ScanPlan ScanPlan::from_config(const config::Config& config, Json controller_accounts) {
  ScanPlan plan;
  plan.controller_accounts = std::move(controller_accounts);
  for (const std::string& account_id : config.account_ids) {
    PlannedAccount account{account_id, std::nullopt};
    if (!config.aws_regions.empty()) account.regions = config.aws_regions;
    plan.accounts.push_back(std::move(account));
  }
  return plan;
}

void scan_estate(const ScanPlan& plan, const ScanSettings& settings, DiscoveryServices& services,
                 PassProgress& progress, const std::vector<ScanOutput*>& outputs) {
  Scan(plan, settings, services, progress, outputs).run();
}

}  // namespace generator::generate
