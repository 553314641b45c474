#include "generator/generate/estate_scan.hpp"

#include <memory>

#include "aws/environment.hpp"
#include "generator/generate/account_access.hpp"
#include "generator/log/log.hpp"

namespace generator::generate {

GatewayRule gateway_rule(const config::Config& config) {
  return GatewayRule{hpe_of(config.defaults.hpe),
                     config.defaults.add_vpc_cidr, config.reserved_cidrs};
}

namespace {

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

ScanSettings scan_settings(const config::Config& config, std::size_t jobs, log::Issuer pass) {
  ScanSettings settings;
  settings.jobs = jobs;
  settings.role_name = config.defaults.role_name;
  settings.partition = scan_partition(config, aws::Environment::process()).id;
  settings.gateway_rule = gateway_rule(config);
  settings.pass = pass;
  return settings;
}

}  // namespace

ScanTally scan_estate_once(const config::Config& config,
                           const ControllerAccounts& controller_accounts,
                           DiscoveryServices& services, PassProgress& progress, std::size_t jobs,
                           const ScanRequest& request) {
  const bool verifying = request.verified != nullptr && request.drift_check != nullptr;
  const bool configured = !request.outputs.empty();
  services.resolve_own_credentials();
  const PassScope pass_scope(progress, configured ? "scan" : "verify");
  ScanPlan checked;
  if (verifying) {
    // Exactly what the file names: its accounts in its order, each with its own regions.
    for (const FileAccount& account : request.verified->accounts)
      checked.accounts.push_back({account.account_id,
                                  controller_accounts.name_of(account.account_id),
                                  account.region_names(),
                                  {}});
  }
  // The configured estate's accounts may come from the organization: read only when scanned.
  const ScanPlan planned =
      configured ? ScanPlan::from_config(config, controller_accounts, services) : ScanPlan{};

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
  scan_estate(plan, scan_settings(config, jobs, request.pass), services, progress, outputs);
  // An empty file written over a good one would pass for a scan of an empty estate.
  if (configured) tally.require_something_reached(request.products);
  return tally;
}

}  // namespace generator::generate
