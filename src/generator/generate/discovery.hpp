#pragma once

// The two output passes of `generate`: the minimal discovery document and the workbook rows. Each
// pass logs in to the controller and runs a scan of its own; its output only turns the scan's
// records into discovery entries or workbook rows.

#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "aws/credentials.hpp"
#include "generator/common/workbook_layout.hpp"
#include "generator/config/config.hpp"
#include "generator/generate/discovery_file.hpp"
#include "generator/generate/scan_engine.hpp"
#include "generator/generate/scan_tally.hpp"
#include "http/http.hpp"

namespace generator::generate {

/// The `defaults` members that an account entry of the discovery file repeats when the
/// configuration file gives them.
inline const std::vector<std::string> MIN_ACCOUNT_INFO_FIELDS{"hpe", "managed_tgw", "filter_cidrs",
                                                              "spoke_gw_size", "role_name"};

/// The value that stands for a missing value: the empty text (an empty cell in the workbook).
inline const std::string NULL_TEXT;

/// How a run reaches its two peers; made once from the configuration.
struct Transports {
  http::TransportSettings controller;
  http::TransportSettings aws;
};

/// The controller's transport as the configuration asks for it, and AWS's standard one.
[[nodiscard]] Transports make_transports(const config::Config& config);

/// The real controller and AWS over `transports`, with the process's environment; one for the
/// whole run, so that the operator's own credentials are resolved once.
[[nodiscard]] std::unique_ptr<DiscoveryServices> make_live_services(const Transports& transports);

/// The discovery document {account_info: [...]}: every account whose role could be assumed, with
/// its regions (a region whose scan meets an AWS service error is left out) and VPCs, each entry
/// checked and ordered by the migration model. Fails with ScanError when the scan reached
/// nothing (ScanTally::reached_nothing); `tally` is given the counts of what was skipped. `jobs`
/// pieces of work run at once (see ScanSettings::jobs); the result does not depend on it. The same
/// scan also feeds `also_to` (the address map), after the discovery document in each account;
/// `products` are what the run writes from this scan, as the ScanError names them.
[[nodiscard]] nlohmann::ordered_json generate_min_discovery_yaml(
    const config::Config& config, DiscoveryServices& services, PassProgress& progress,
    ScanTally& tally, std::size_t jobs = 1, const std::vector<ScanOutput*>& also_to = {},
    const std::vector<std::string>& products = {"the discovery file"});
/// The same, without the counts.
[[nodiscard]] nlohmann::ordered_json generate_min_discovery_yaml(const config::Config& config,
                                                                 DiscoveryServices& services,
                                                                 PassProgress& progress,
                                                                 std::size_t jobs = 1);
/// The same with the real controller and AWS and no status line.
[[nodiscard]] nlohmann::ordered_json generate_min_discovery_yaml(const config::Config& config);

/// The workbook rows, one mapping of the WORKBOOK_COLUMNS per VPC; any AWS error ends the pass, and
/// so does a scan in which no account could be entered (ScanError); `tally` is given the counts of
/// the accounts skipped.
[[nodiscard]] nlohmann::ordered_json generate_discovery_excel_data(const config::Config& config,
                                                                   DiscoveryServices& services,
                                                                   PassProgress& progress,
                                                                   ScanTally& tally,
                                                                   std::size_t jobs = 1);
/// The same, without the counts.
[[nodiscard]] nlohmann::ordered_json generate_discovery_excel_data(const config::Config& config,
                                                                   DiscoveryServices& services,
                                                                   PassProgress& progress,
                                                                   std::size_t jobs = 1);
/// The same with the real controller and AWS and no status line.
[[nodiscard]] nlohmann::ordered_json generate_discovery_excel_data(const config::Config& config);

/// What the verify pass found.
struct Verification {
  /// Whether something blocks the migration with the file as it stands.
  bool blocks_migration = false;
  /// The file with every blocked or empty gateway subnet chosen anew, everything else as read.
  nlohmann::ordered_json refreshed;
};

/// The verify pass: scans the accounts and regions that the discovery file names (with the
/// configuration's controller, role, hpe and add_vpc_cidr), logs one line per difference from the
/// file and a summary (see DriftCheck), and gives the outcome; `jobs` as for the other passes.
[[nodiscard]] Verification verify_discovery_file(const config::Config& config,
                                                 const DiscoveryFile& file,
                                                 DiscoveryServices& services,
                                                 PassProgress& progress, std::size_t jobs = 1);

}  // namespace generator::generate
