#pragma once

// The configuration record of `generate` and its loader.

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "generator/config/account_defaults.hpp"
#include "ipv4/ipv4_network.hpp"

namespace generator::config {

/// The longest one controller request may take when the configuration names no limit.
inline constexpr std::chrono::seconds DEFAULT_CONTROLLER_TIMEOUT{300};

/// Where the Halvane Controller is, who logs in, and how the connection is checked.
struct ControllerSettings {
  std::string ip;  // host name or address, optionally with ":port"
  std::string username;
  /// A PEM bundle the controller's certificate must chain to, host name checked; empty: no check.
  std::filesystem::path ca_file{};
  /// The SHA-256 fingerprint the controller's certificate must have, 64 lower-case hexadecimal
  /// digits; empty: no pin.
  std::string certificate_sha256{};
  /// The longest one controller request may take.
  std::chrono::milliseconds timeout = DEFAULT_CONTROLLER_TIMEOUT;
};

/// The session name of every account's role assumption unless the configuration names another.
inline constexpr const char* DEFAULT_ROLE_SESSION_NAME = "AssumeRoleSession1";
/// The shortest and longest role session AWS grants, in seconds.
inline constexpr int MIN_ROLE_DURATION_SECONDS = 900;
inline constexpr int MAX_ROLE_DURATION_SECONDS = 43200;

/// How the role of every account is assumed; what is absent is left to the service's defaults.
struct AssumeRoleSettings {
  /// The external ID that the roles' trust policies ask for; held as a secret of the run from the
  /// moment it is read, so that no message shows it.
  std::optional<std::string> external_id;
  /// The name under which the sessions appear in the accounts' CloudTrail.
  std::string session_name = DEFAULT_ROLE_SESSION_NAME;
  /// The lifetime asked for, MIN_ROLE_DURATION_SECONDS to MAX_ROLE_DURATION_SECONDS.
  std::optional<int> duration_seconds;
};

/// Where the accounts to scan come from: the configuration's own list (`account_ids` as a list),
/// the controller's account list (`account_ids: controller`) or AWS Organizations
/// (`account_ids: organization`).
enum class AccountSource { listed, controller, organization };

/// Which accounts of the AWS organization are scanned, and through which role it is read.
struct OrganizationSettings {
  /// Roots and organizational units whose accounts, nested units included, are scanned; empty:
  /// the whole organization.
  std::vector<std::string> ous;
  /// Accounts left out, 12-digit account numbers.
  std::vector<std::string> exclude_account_ids;
  /// The role the organization is read through, assumed with the operator's own credentials;
  /// absent: read with the operator's own credentials.
  std::optional<std::string> role_arn;
};

/// What `generate` reads from its configuration file.
struct Config {
  ControllerSettings controller;
  AccountSource account_source = AccountSource::listed;
  /// With AccountSource::listed: 12-digit account numbers, as written, each once; empty otherwise.
  std::vector<std::string> account_ids;
  /// With AccountSource::organization: the part of the organization to scan.
  OrganizationSettings organization;
  std::vector<std::string> aws_regions;  // each once; empty: list each account's enabled regions
  Defaults defaults;
  /// Addresses the gateway subnet must never use, as if subnets stood there (planned subnets,
  /// ranges an address plan holds for something else).
  std::vector<ipv4::Network> reserved_cidrs;
  /// Networks outside the scanned estate (on premises, other clouds, partners) that a VPC's
  /// blocks must not share addresses with.
  std::vector<ipv4::Network> external_cidrs;
  AssumeRoleSettings assume_role;
  /// How long one AWS request waits out throttling answers before its region counts as failed;
  /// zero: throttling is tried again only as often as other transient failures; absent: the AWS
  /// layer's default (a minute).
  std::optional<std::chrono::milliseconds> throttling_patience;
};

/// Reads and checks the configuration file; a bad file fails with an error naming the file and key.
Config load_config(const std::filesystem::path& path);

/// The same for the text of a configuration file; `path` names it in error messages.
Config parse_config(std::string_view text, const std::filesystem::path& path);

}  // namespace generator::config
