#pragma once

// The drift check: a discovery file compared with a fresh scan of the accounts and regions it
// names. Per VPC of the file it finds gateway subnets that now overlap a subnet or a reserved
// range or lie outside the VPC's blocks, VPCs that are gone, empty gateway subnets where there is room now, and accounts or
// regions that could not be scanned; per scanned region, the VPCs that the file lacks. It logs one
// line per finding and a summary, and writes the file anew with blocked or empty gateway subnets
// chosen anew. It keeps only the file's compact record and the choices it replaces, never the
// file's document: the refreshed file is written from a second reading of the file.

#include <cstddef>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "generator/generate/discovery_file.hpp"
#include "generator/generate/gateway_subnet.hpp"
#include "generator/generate/scan_records.hpp"
#include "generator/log/log.hpp"

namespace generator::generate {

/// One difference between a discovery file and the estate.
struct DriftFinding {
  enum class Kind {
    overlaps_subnet,  // the gateway subnet overlaps an existing subnet
    overlaps_reserved,  // the gateway subnet overlaps a reserved range
    outside_blocks,   // the gateway subnet lies in none of the VPC's associated blocks
    vpc_gone,         // the VPC no longer exists
    not_scanned,      // an account or region of the file could not be scanned
    in_closed_region,  // the VPC's region is now closed by a service control policy
    empty_with_room,  // the gateway subnet is empty although the VPC has room now
    new_vpc,          // a VPC of a scanned region that the file does not hold
  };
  Kind kind;
  /// Whether the migration cannot go ahead with the file as it stands.
  bool blocks;
  /// The line as logged.
  std::string message;
};

/// Compares a discovery file with the scan's records, account by account.
class DriftCheck : public ScanOutput {
 public:
  /// A check of `file` (which must outlive it), whose scan chooses gateway subnets by `rule`;
  /// its findings are logged as issued by `reporter` (the step that asks for the check; by
  /// default the function that makes it).
  DriftCheck(const DiscoveryFile& file, GatewayRule rule, log::Issuer reporter = log::Issuer());

  [[nodiscard]] bool needs_subnets() const override { return true; }
  /// Compares the file's entry of the account (if any) with what the scan found in it.
  void account_scanned(const AccountRecord& account) override;

  /// Reports the file's accounts that the scan never handed over and logs the summary line; called
  /// once, after the scan.
  void finish() override;

  /// Every finding so far, in the order logged.
  [[nodiscard]] const std::vector<DriftFinding>& findings() const noexcept { return findings_; }
  /// Whether any finding blocks the migration.
  [[nodiscard]] bool blocks_migration() const;
  /// Writes the file anew to `target` (by its extension, all or nothing), account by account:
  /// every blocked or empty gateway subnet replaced by the rule's choice (when the choice
  /// differs), everything else as read; each account is checked by the migration model again
  /// (ovra::ValidationError naming the file), and the errors of copy_discovery_accounts.
  void write_refreshed(const std::filesystem::path& target) const;

 private:
  using VpcKey = std::tuple<std::string, std::string, std::string>;  // account, region, VPC

  void compare_region(const FileAccount& account, const FileRegion& expected,
                      const RegionRecord& found);
  void compare_vpc(const FileAccount& account, const std::string& region, const FileVpc& expected,
                   const VpcRecord& found);
  void report_new_vpcs(const std::string& account_id, const RegionRecord& found,
                       const FileRegion* expected);
  void report_unscanned(const std::string& place, const std::string& why, std::size_t vpcs);
  void report_closed(const std::string& place, const FileRegion& region);
  void report(DriftFinding::Kind kind, bool blocks, int level, std::string message);
  [[nodiscard]] std::string rule_choice(const FileAccount& account, const VpcRecord& vpc) const;
  [[nodiscard]] nlohmann::ordered_json refreshed_account(nlohmann::ordered_json entry,
                                                         const FileAccount& account) const;

  const DiscoveryFile& file_;
  const std::vector<FileAccount>& accounts_;
  // Each account of the file by its number, for the scan's accounts as they arrive.
  std::unordered_map<std::string_view, const FileAccount*> account_index_;
  GatewayRule rule_;
  log::Issuer reporter_;
  std::set<std::string> accounts_seen_;
  std::map<VpcKey, std::string> replacements_;
  std::vector<DriftFinding> findings_;
  std::size_t fitting_vpcs_ = 0;
  std::size_t unchecked_vpcs_ = 0;
  bool finished_ = false;
};

}  // namespace generator::generate
