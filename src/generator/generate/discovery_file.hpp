#pragma once

// A discovery file read back for checking against the estate: the document as it stands, and the
// accounts, regions and VPCs it names with each VPC's gateway subnet.

#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace generator::generate {

/// One VPC entry of a discovery file.
struct FileVpc {
  std::string vpc_id;
  /// The gateway subnet as the file gives it; "" when the entry holds none (empty, null or absent).
  std::string hvn_cidr;
};

/// One region entry of a discovery file.
struct FileRegion {
  std::string region;
  std::vector<FileVpc> vpcs;
};

/// One account entry of a discovery file.
struct FileAccount {
  std::string account_id;
  /// The account's own hpe setting, when the entry gives one.
  std::optional<bool> hpe;
  std::vector<FileRegion> regions;

  /// The names of the account's regions, in the file's order.
  [[nodiscard]] std::vector<std::string> region_names() const;
};

/// A discovery file as `generate --discovery` or `convert` writes it.
struct DiscoveryFile {
  std::filesystem::path path;
  /// The whole document as read, template sections included.
  nlohmann::ordered_json document;
  /// Its accounts in the file's order.
  std::vector<FileAccount> accounts;
};

/// Reads and checks a discovery file through the loader registry: the migration model's rules, and
/// no account, region of an account or VPC of a region named twice. Errors name the file and the
/// entry (ValidationError for the model's refusals, ValueError for a repeated entry); a missing
/// file is a FileNotFoundError.
[[nodiscard]] DiscoveryFile read_discovery_file(const std::filesystem::path& path);

/// The same for a document already read from `path` (named in the errors).
[[nodiscard]] DiscoveryFile read_discovery_document(nlohmann::ordered_json document,
                                                    const std::filesystem::path& path);

}  // namespace generator::generate
