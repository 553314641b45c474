#include "generator/generate/discovery.hpp"

#include <source_location>

#include "aws/context.hpp"
#include "aws/errors.hpp"
#include "generator/common/errors.hpp"
#include "generator/controller/controller.hpp"
#include "generator/generate/gateway_name.hpp"
#include "generator/generate/gateway_subnet.hpp"
#include "generator/log/log.hpp"
#include "ovra/config.hpp"

namespace generator::generate {

namespace {

using Json = nlohmann::ordered_json;

log::Logger& logger() { return log::get_logger("generator.generate"); }

// The controller and AWS. Copies made for the scanning threads each have their own libcurl
// handle and share the operator's credentials, resolved once for the whole run.
class LiveServices : public DiscoveryServices {
 public:
  LiveServices(const Transports& transports, const config::Config& config)
      : controller_transport_(transports.controller),
        context_(process_context(transports.aws)),
        own_(std::make_shared<aws::OwnCredentials>()),
        role_settings_(config.assume_role) {
    if (config.throttling_patience) context_.throttling_patience = *config.throttling_patience;
  }
  LiveServices(http::TransportSettings controller_transport, aws::Context context,
               std::shared_ptr<aws::OwnCredentials> own, config::AssumeRoleSettings role_settings)
      : controller_transport_(std::move(controller_transport)),
        context_(std::move(context)),
        own_(std::move(own)),
        role_settings_(std::move(role_settings)) {}

  Json account_list(const config::Config& config) override {
    return controller::get_account_list(config, controller_transport_);
  }
  std::optional<aws::Credentials> temp_creds_for_account(const std::string& role_arn) override {
    return assume_role(role_arn).credentials;
  }
  RoleAssumption assume_role(const std::string& role_arn) override {
    return assume_account_role(role_arn, role_settings_, context_, *own_);
  }
  std::vector<std::string> regions(const aws::Credentials& creds) override {
    return get_regions(creds, context_);
  }
  void resolve_own_credentials() override {
    try {
      (void)own_->get(context_);
    } catch (const std::exception&) {
      // Kept by own_: each role assumption reports it, as when it is met there first.
    }
  }
  std::chrono::system_clock::time_point now() override { return context_.now(); }
  std::vector<aws::OrganizationAccount> organization_accounts(
      const config::OrganizationSettings& settings) override {
    return list_organization_accounts(settings, role_settings_.session_name, context_, *own_);
  }
  std::unique_ptr<Ec2Handle> ec2_handler(const std::string& region,
                                         const aws::Credentials& creds) override {
    return get_ec2_resource_handler(region, creds, context_);
  }
  std::unique_ptr<DiscoveryServices> for_worker(
      std::shared_ptr<const http::Cancellation> cancellation) override {
    return std::make_unique<LiveServices>(
        controller_transport_, context_.for_worker(std::move(cancellation)), own_, role_settings_);
  }

 private:
  http::TransportSettings controller_transport_;
  aws::Context context_;
  std::shared_ptr<aws::OwnCredentials> own_;
  config::AssumeRoleSettings role_settings_;
};

// Ends the status line however the pass ends.
class PassScope {
 public:
  PassScope(PassProgress& progress, const std::string& pass) : progress_(progress) {
    progress_.pass_started(pass);
  }
  ~PassScope() { progress_.pass_ended(); }
  PassScope(const PassScope&) = delete;
  PassScope& operator=(const PassScope&) = delete;

 private:
  PassProgress& progress_;
};

Hpe hpe_of(const config::Defaults& defaults) { return defaults.hpe ? Hpe::enabled : Hpe::disabled; }

// The value of one of MIN_ACCOUNT_INFO_FIELDS, as the configuration holds it.
Json default_member(const config::Defaults& defaults, const std::string& name) {
  if (name == "hpe") return defaults.hpe;
  if (name == "managed_tgw") return value_or_null(defaults.managed_tgw);
  if (name == "filter_cidrs") return value_or_null(defaults.filter_cidrs);
  if (name == "spoke_gw_size") return value_or_null(defaults.spoke_gw_size);
  if (name == "role_name") return defaults.role_name;
  throw KeyError("no defaults member named " + name);
}

ScanSettings scan_settings(const config::Config& config, std::size_t jobs,
                           std::source_location pass) {
  ScanSettings settings;
  settings.jobs = jobs;
  settings.role_name = config.defaults.role_name;
  settings.add_vpc_cidr = config.defaults.add_vpc_cidr;
  settings.hpe = hpe_of(config.defaults);
  settings.reserved = config.reserved_cidrs;
  settings.pass = pass;
  return settings;
}

}  // namespace

Transports make_transports(const config::Config& config) {
  return Transports{controller::transport_settings(config.controller),
                    aws::Context::transport_settings()};
}

std::unique_ptr<DiscoveryServices> make_live_services(const Transports& transports,
                                                      const config::Config& config) {
  return std::make_unique<LiveServices>(transports, config);
}

void DiscoveryFileOutput::account_started(const AccountRecord& account) const {
  logger().debug("Account Info data:\n{}", log::Readable{account_entry(account)});
}

void DiscoveryFileOutput::vpc_scanned(const AccountRecord&, const RegionRecord&,
                                      const VpcRecord& vpc) const {
  if (logger().is_enabled_for(log::DEBUG))
    logger().debug("VPC Data:\n{}", log::Readable{vpc_entry(vpc)});
}

void DiscoveryFileOutput::region_scanned(const AccountRecord&, const RegionRecord& region) const {
  if (logger().is_enabled_for(log::DEBUG))
    logger().debug("Region Data:\n{}", log::Readable{region_entry(region)});
}

void DiscoveryFileOutput::account_scanned(const AccountRecord& account) {
  if (!account.entered) return;
  Json entry = account_entry(account);
  for (const RegionRecord& region : account.regions)
    if (!region.failed()) entry["regions"].push_back(region_entry(region));
  logger().debug("Account Data:\n{}", log::Readable{entry});
  Json checked = ovra::AccountInfo(entry).to_document();
  accounts_.append(checked);
  if (logger().is_enabled_for(log::DEBUG)) logged_accounts_.push_back(std::move(checked));
}

void DiscoveryFileOutput::finish() {
  logger().debug("Accounts:\n{}", log::Readable{logged_accounts_});
  accounts_.finish();
}

// The account's entry without its regions.
Json DiscoveryFileOutput::account_entry(const AccountRecord& account) const {
  Json entry = Json::object();
  entry["account_id"] = account.account_id;
  entry["account_name"] = value_or_null(account.account_name);
  entry["regions"] = Json::array();
  for (const std::string& name : MIN_ACCOUNT_INFO_FIELDS) {
    if (defaults_.is_given(name)) entry[name] = default_member(defaults_, name);
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
  entry["transit_gw_name"] = text_or_null(defaults_.transit_gw_name);
  return entry;
}

GatewayRule gateway_rule(const config::Config& config) {
  return GatewayRule{hpe_of(config.defaults), config.defaults.add_vpc_cidr, config.reserved_cidrs};
}

ScanTally scan_estate_once(const config::Config& config, Json controller_accounts,
                           DiscoveryServices& services, PassProgress& progress, std::size_t jobs,
                           const ScanRequest& request) {
  const std::source_location pass = std::source_location::current();
  const bool verifying = request.verified != nullptr && request.drift_check != nullptr;
  const bool configured = !request.outputs.empty();
  services.resolve_own_credentials();
  const PassScope pass_scope(progress, configured ? "scan" : "verify");
  ScanPlan checked;
  if (verifying) {
    checked.controller_accounts = controller_accounts;
    // Exactly what the file names: its accounts in its order, each with its own regions.
    for (const FileAccount& account : request.verified->accounts)
      checked.accounts.push_back({account.account_id, account.region_names(), {}});
  }
  // The configured estate's accounts may come from the organization: read only when scanned.
  const ScanPlan planned =
      configured ? ScanPlan::from_config(config, std::move(controller_accounts), services)
                 : ScanPlan{};

  ScanTally tally;
  std::vector<ScanOutput*> outputs;
  // Each part sees only its own accounts and regions once the plans are joined.
  std::vector<std::unique_ptr<PlanScope>> scopes;
  const auto scoped = [&](const ScanPlan& plan, ScanOutput& output) -> ScanOutput* {
    if (!verifying || !configured) return &output;
    return scopes.emplace_back(std::make_unique<PlanScope>(plan, output)).get();
  };
  if (configured) {
    for (ScanOutput* output : request.outputs) outputs.push_back(scoped(planned, *output));
    outputs.push_back(scoped(planned, tally));
  }
  if (verifying) outputs.push_back(scoped(checked, *request.drift_check));
  const ScanPlan plan = !verifying   ? planned
                        : configured ? ScanPlan::joined(planned, checked)
                                     : checked;
  scan_estate(plan, scan_settings(config, jobs, pass), services, progress, outputs);
  // An empty file written over a good one would pass for a scan of an empty estate.
  if (configured) tally.require_something_reached(request.products);
  return tally;
}

Verification verification_of(DriftCheck& check, const DiscoveryFile& file) {
  check.finish();
  Verification verification{check.blocks_migration(), check.refreshed_document()};
  try {
    (void)ovra::load_from_dict(verification.refreshed);
  } catch (const ovra::ValidationError& error) {
    throw ovra::ValidationError("the refreshed discovery file of " + file.path.string() + ": " +
                                error.what());
  }
  return verification;
}

}  // namespace generator::generate
