#pragma once

// The one scan of a run: the configured estate's outputs and, with --verify, the drift check of a
// discovery file, fed by one walk over the plans of both.

#include <cstddef>
#include <string>
#include <vector>

#include "generator/config/config.hpp"
#include "generator/generate/discovery_file.hpp"
#include "generator/generate/discovery_services.hpp"
#include "generator/generate/drift_check.hpp"
#include "generator/generate/run_steps.hpp"
#include "generator/generate/scan_engine.hpp"
#include "generator/generate/scan_tally.hpp"

namespace generator::generate {

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
  /// The builder whose step the scan stands for (ScanSettings::pass).
  log::Issuer pass = DISCOVERY_FILE_STEP;
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
                           const ControllerAccounts& controller_accounts,
                           DiscoveryServices& services, PassProgress& progress, std::size_t jobs,
                           const ScanRequest& request);

}  // namespace generator::generate
