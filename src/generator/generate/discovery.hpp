#pragma once

// What `generate` makes of one scan of the estate: the minimal discovery document (an output of
// the scan that only turns its records into entries), the scan of the configured estate that
// feeds every output of a run, and the verify pass.

#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "aws/credentials.hpp"
#include "generator/common/serializers/export/export.hpp"
#include "generator/config/config.hpp"
#include "generator/generate/discovery_file.hpp"
#include "generator/generate/drift_check.hpp"
#include "generator/generate/entry_values.hpp"
#include "generator/generate/scan_engine.hpp"
#include "generator/generate/scan_tally.hpp"
#include "http/http.hpp"

namespace generator::generate {

/// The `defaults` members that an account entry of the discovery file repeats when the
/// configuration file gives them.
inline const std::vector<std::string> MIN_ACCOUNT_INFO_FIELDS{"hpe", "managed_tgw", "filter_cidrs",
                                                              "spoke_gw_size", "role_name"};

/// How a run reaches its two peers; made once from the configuration.
struct Transports {
  http::TransportSettings controller;
  http::TransportSettings aws;
};

/// The controller's transport as the configuration asks for it, and AWS's standard one.
[[nodiscard]] Transports make_transports(const config::Config& config);

/// The real controller and AWS over `transports`, with the process's environment, every account's
/// role assumed as the configuration's `assume_role` says and throttling waited out for its
/// `throttling_patience`; one for the whole run, so that the operator's own credentials are
/// resolved once.
[[nodiscard]] std::unique_ptr<DiscoveryServices> make_live_services(const Transports& transports,
                                                                    const config::Config& config);

/// Turns the scan's records into the discovery document {account_info: [...]}: every account
/// whose role could be assumed, with its regions (a failed region is left out) and VPCs, each
/// entry checked and ordered by the migration model. Each account's entry goes to `accounts` as
/// soon as the account is scanned, so that an estate of any size is not held whole.
class DiscoveryFileOutput : public ScanOutput {
 public:
  DiscoveryFileOutput(const config::Defaults& defaults, serializers::ListExport& accounts)
      : defaults_(defaults), accounts_(accounts) {}

  void account_started(const AccountRecord& account) const override;
  void vpc_scanned(const AccountRecord& account, const RegionRecord& region,
                   const VpcRecord& vpc) const override;
  void region_scanned(const AccountRecord& account, const RegionRecord& region) const override;
  void account_scanned(const AccountRecord& account) override;

  /// Completes the document of every account handed over (ListExport::finish).
  void finish();

 private:
  [[nodiscard]] nlohmann::ordered_json account_entry(const AccountRecord& account) const;
  [[nodiscard]] nlohmann::ordered_json region_entry(const RegionRecord& region) const;
  [[nodiscard]] nlohmann::ordered_json vpc_entry(const VpcRecord& vpc) const;

  const config::Defaults& defaults_;
  serializers::ListExport& accounts_;
  // Every entry again, only for the debug message that shows them all at the end.
  nlohmann::ordered_json logged_accounts_ = nlohmann::ordered_json::array();
};

/// What the verify pass found.
struct Verification {
  /// Whether something blocks the migration with the file as it stands.
  bool blocks_migration = false;
  /// The file with every blocked or empty gateway subnet chosen anew, everything else as read.
  nlohmann::ordered_json refreshed;
};

/// What one run asks of its scan.
struct ScanRequest {
  /// The outputs of the configured estate: every configured account with the configured regions,
  /// or those enabled for it.
  std::vector<ScanOutput*> outputs;
  /// What those outputs write ("the discovery file", ...), as a ScanError names them.
  std::vector<std::string> products;
  /// With --verify: the file whose accounts and regions are scanned too, and its drift check.
  const DiscoveryFile* verified = nullptr;
  DriftCheck* drift_check = nullptr;
};

/// The rule by which the scan of `config` chooses gateway subnets, which the drift check applies.
[[nodiscard]] GatewayRule gateway_rule(const config::Config& config);

/// Scans once for everything `request` asks, handing the records to its outputs in plan order;
/// when both the configured estate and a file are asked for, the one scan covers both and each
/// output sees only its own part (PlanScope). `controller_accounts` is the controller's account
/// list, fetched once for the run. Fails with ScanError when the configured estate's part reached
/// nothing (ScanTally::reached_nothing), naming the products as not written. `jobs` pieces of work
/// run at once (see ScanSettings::jobs); nothing handed over depends on it. The counts of what the
/// configured estate's part entered and skipped come back.
ScanTally scan_estate_once(const config::Config& config,
                           nlohmann::ordered_json controller_accounts,
                           DiscoveryServices& services, PassProgress& progress, std::size_t jobs,
                           const ScanRequest& request);

/// The outcome of `check` of `file` once the scan is over (see DriftCheck): its summary logged,
/// and the refreshed file, which the migration model checks (ovra::ValidationError naming `file`).
[[nodiscard]] Verification verification_of(DriftCheck& check, const DiscoveryFile& file);

}  // namespace generator::generate
