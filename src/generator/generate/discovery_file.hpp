#pragma once

// A discovery file read back for checking against the estate, account by account: the accounts,
// regions and VPCs it names with each VPC's gateway subnet, kept compactly, and the file kept
// open so that it can be read once more to write its refreshed form.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "serializers/export/export.hpp"

namespace serializers {
class YamlFile;
}

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

/// The largest discovery file `--verify` reads: it is read account by account, so this bounds
/// the time a reading takes, far above the file of any organisation's estate.
inline constexpr std::uint64_t MAX_DISCOVERY_FILE_BYTES = std::uint64_t{1} << 30;

/// A discovery file as `generate --discovery` or `convert` writes it.
struct DiscoveryFile {
  std::filesystem::path path;
  /// The document's sections other than its accounts (account_info an empty list), as read.
  nlohmann::ordered_json sections;
  /// Its accounts in the file's order.
  std::vector<FileAccount> accounts;
  /// The file as opened for the first reading, or the text it was read from, for the next.
  std::shared_ptr<const serializers::YamlFile> source;
  std::shared_ptr<const std::string> text;
};

/// Reads and checks a discovery file (YAML), account by account, holding only one account's
/// entry at a time: the migration model's rules, and no account, region of an account or VPC of
/// a region named twice. Errors name the file and the entry (ValidationError for the model's
/// refusals, ValueError for a repeated entry or a file beyond MAX_DISCOVERY_FILE_BYTES); a missing
/// file is a FileNotFoundError, one that is not a regular file an OSError.
[[nodiscard]] DiscoveryFile read_discovery_file(const std::filesystem::path& path);

/// The same for a YAML text read from `path` (named in the errors).
[[nodiscard]] DiscoveryFile read_discovery_text(std::string_view text,
                                                const std::filesystem::path& path);

/// What becomes of one account entry of the file when it is written anew.
using AccountEdit =
    std::function<nlohmann::ordered_json(nlohmann::ordered_json entry, const FileAccount& account)>;

/// Reads `file` once more from its start and hands each account entry, changed by `edit`, to
/// `accounts` (a list export framed by file.sections); ValueError naming the file when its
/// accounts, regions or VPCs are no longer those of the first reading (the file was changed in
/// the meantime).
void copy_discovery_accounts(const DiscoveryFile& file, const AccountEdit& edit,
                             serializers::ListExport& accounts);

}  // namespace generator::generate
