#pragma once

// The two output passes of `generate`: the minimal discovery document and the workbook rows. Each
// pass logs in to the controller and walks every configured account, region and VPC anew.

#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "aws/credentials.hpp"
#include "generator/config/config.hpp"
#include "generator/generate/account_access.hpp"
#include "http/http.hpp"

namespace generator::generate {

/// The `defaults` members that an account entry of the discovery file repeats when the
/// configuration file gives them.
inline const std::vector<std::string> MIN_ACCOUNT_INFO_FIELDS{"hpe", "managed_tgw", "filter_cidrs",
                                                              "spoke_gw_size", "role_name"};

/// The workbook's column headers, in column order.
inline const std::vector<std::string> HEADERS{"account_id",
                                              "account_name",
                                              "hpe",
                                              "managed_tgw",
                                              "filter_cidrs",
                                              "spoke_gw_size",
                                              "role_name",
                                              "region",
                                              "vpc_id",
                                              "vpc_cidrs",
                                              "hvn_cidr",
                                              "gw_zones",
                                              "spoke_gw_tags",
                                              "domain",
                                              "encrypt",
                                              "inspection",
                                              "spoke_advertisement",
                                              "spoke_routes",
                                              "spoke_gw_name",
                                              "transit_gw_name"};

/// The value that stands for a missing value: the empty text (an empty cell in the workbook).
inline const std::string NULL_TEXT;

/// What a pass asks of the controller and of AWS; tests put a stand-in here.
class DiscoveryServices {
 public:
  virtual ~DiscoveryServices() = default;
  /// Logs in to the controller and gives its account list.
  virtual nlohmann::ordered_json account_list(const config::Config& config) = 0;
  /// The role's temporary credentials, or nothing when it cannot be assumed.
  virtual std::optional<aws::Credentials> temp_creds_for_account(const std::string& role_arn) = 0;
  /// The regions enabled for the account.
  virtual std::vector<std::string> regions(const aws::Credentials& creds) = 0;
  /// EC2 of one region with the account's credentials.
  virtual std::unique_ptr<Ec2Handle> ec2_handler(const std::string& region,
                                                 const aws::Credentials& creds) = 0;
};

/// How a run reaches its two peers; made once from the configuration.
struct Transports {
  http::TransportSettings controller;
  http::TransportSettings aws;
};

/// The controller's transport as the configuration asks for it, and AWS's standard one.
[[nodiscard]] Transports make_transports(const config::Config& config);

/// The real controller and AWS over `transports`, with the process's environment.
[[nodiscard]] std::unique_ptr<DiscoveryServices> make_live_services(const Transports& transports);

/// Told where a pass is, for a status line; every member does nothing unless overridden.
class PassProgress {
 public:
  virtual ~PassProgress() = default;
  /// A pass begins ("discovery file" or "workbook").
  virtual void pass_started(const std::string& /*pass*/) {}
  /// Account `number` of `count` (1-based) is being scanned.
  virtual void account_started(std::size_t /*number*/, std::size_t /*count*/,
                               const std::string& /*account_id*/) {}
  /// A region of the current account is being scanned.
  virtual void region_started(const std::string& /*region*/) {}
  /// One more VPC was found.
  virtual void vpc_found() {}
  /// The pass is over, successfully or not.
  virtual void pass_ended() {}
};

/// The discovery document {account_info: [...]}: every account whose role could be assumed, with
/// its regions (a region whose scan meets an AWS service error is left out) and VPCs, each entry
/// checked and ordered by the migration model.
[[nodiscard]] nlohmann::ordered_json generate_min_discovery_yaml(const config::Config& config,
                                                                 DiscoveryServices& services,
                                                                 PassProgress& progress);
/// The same with the real controller and AWS and no status line.
[[nodiscard]] nlohmann::ordered_json generate_min_discovery_yaml(const config::Config& config);

/// The workbook rows, one mapping of the HEADERS per VPC; any AWS error ends the pass.
[[nodiscard]] nlohmann::ordered_json generate_discovery_excel_data(const config::Config& config,
                                                                   DiscoveryServices& services,
                                                                   PassProgress& progress);
/// The same with the real controller and AWS and no status line.
[[nodiscard]] nlohmann::ordered_json generate_discovery_excel_data(const config::Config& config);

}  // namespace generator::generate
