#pragma once

// What `generate` makes of one scan of the estate: the minimal discovery document and the workbook
// rows (outputs of the scan that only turn its records into entries or rows), the scan of the
// configured estate that feeds every output of a run, and the verify pass.

#include <exception>
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

/// Turns the scan's records into the discovery document {account_info: [...]}: every account
/// whose role could be assumed, with its regions (a failed region is left out) and VPCs, each
/// entry checked and ordered by the migration model.
class DiscoveryFileOutput : public ScanOutput {
 public:
  explicit DiscoveryFileOutput(const config::Defaults& defaults) : defaults_(defaults) {}

  void account_started(const AccountRecord& account) const override;
  void vpc_scanned(const AccountRecord& account, const RegionRecord& region,
                   const VpcRecord& vpc) const override;
  void region_scanned(const AccountRecord& account, const RegionRecord& region) const override;
  void account_scanned(const AccountRecord& account) override;

  /// The document of every account handed over so far.
  [[nodiscard]] nlohmann::ordered_json document();

 private:
  [[nodiscard]] nlohmann::ordered_json account_entry(const AccountRecord& account) const;
  [[nodiscard]] nlohmann::ordered_json region_entry(const RegionRecord& region) const;
  [[nodiscard]] nlohmann::ordered_json vpc_entry(const VpcRecord& vpc) const;

  const config::Defaults& defaults_;
  nlohmann::ordered_json accounts_ = nlohmann::ordered_json::array();
};

/// Turns the scan's records into the workbook rows, one mapping of the WORKBOOK_COLUMNS per VPC.
/// A workbook without a region would pass for a complete one once edited, so a failed region
/// spoils it: `rows` then fails with the first failed region's error.
class WorkbookOutput : public ScanOutput {
 public:
  explicit WorkbookOutput(const config::Defaults& defaults) : defaults_(defaults) {}

  [[nodiscard]] bool outlives_failed_regions() const override { return false; }
  void vpc_scanned(const AccountRecord& account, const RegionRecord& region,
                   const VpcRecord& vpc) const override;
  void account_scanned(const AccountRecord& account) override;

  /// Every row handed over so far; the error of the first failed region when there was one.
  [[nodiscard]] nlohmann::ordered_json rows();

 private:
  [[nodiscard]] nlohmann::ordered_json row(const AccountRecord& account, const RegionRecord& region,
                                           const VpcRecord& vpc) const;
  [[nodiscard]] nlohmann::ordered_json cell(WorkbookColumn column, const AccountRecord& account,
                                            const RegionRecord& region, const VpcRecord& vpc) const;

  const config::Defaults& defaults_;
  nlohmann::ordered_json rows_ = nlohmann::ordered_json::array();
  std::exception_ptr first_failure_;
};

/// Scans every configured account (with the configured regions, or those enabled for it) once,
/// handing the records to `outputs` in configuration order; `controller_accounts` is the
/// controller's account list, fetched once for the run. Fails with ScanError when the scan reached
/// nothing (ScanTally::reached_nothing), naming `products` ("the discovery file", ...) as not
/// written. `jobs` pieces of work run at once (see ScanSettings::jobs); nothing handed over
/// depends on it. The counts of what was entered and skipped come back.
ScanTally scan_configured_estate(const config::Config& config,
                                 nlohmann::ordered_json controller_accounts,
                                 DiscoveryServices& services, PassProgress& progress,
                                 std::size_t jobs, std::vector<ScanOutput*> outputs,
                                 const std::vector<std::string>& products);

/// What the verify pass found.
struct Verification {
  /// Whether something blocks the migration with the file as it stands.
  bool blocks_migration = false;
  /// The file with every blocked or empty gateway subnet chosen anew, everything else as read.
  nlohmann::ordered_json refreshed;
};

/// The verify pass: scans the accounts and regions that the discovery file names (with the
/// configuration's role, hpe and add_vpc_cidr; the accounts' names from `controller_accounts`),
/// logs one line per difference from the file and a summary (see DriftCheck), and gives the
/// outcome; `jobs` as for scan_configured_estate.
[[nodiscard]] Verification verify_discovery_file(const config::Config& config,
                                                 const DiscoveryFile& file,
                                                 nlohmann::ordered_json controller_accounts,
                                                 DiscoveryServices& services,
                                                 PassProgress& progress, std::size_t jobs = 1);

}  // namespace generator::generate
