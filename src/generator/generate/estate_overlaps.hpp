#pragma once

// The estate's address overlaps: the scanned VPCs that share addresses with one another (in any
// accounts and regions) and with the networks outside the estate that the configuration names
// (external_cidrs). VPCs that overlap cannot be reached side by side, so each such VPC needs a
// decision before the migration. An output of the scan that keeps only where each VPC is and its
// associated blocks, compactly (numbers into tables of accounts and regions, the ids in one
// text), so that an organisation's VPCs fit in a few dozen bytes each; after the scan it logs the
// findings grouped by shared block, and the address map draws the same findings.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "generator/generate/scan_records.hpp"
#include "generator/log/log.hpp"
#include "ipv4/ipv4_network.hpp"
#include "ipv4/overlaps.hpp"

namespace generator::generate {

/// How many of the other VPCs a VPC's WARNING names (with -v) before it only counts the rest.
inline constexpr std::size_t OTHERS_NAMED = 10;

/// How many shared blocks the WARNINGs after a scan name one by one, largest first; the rest are
/// counted in one line.
inline constexpr std::size_t SHARED_BLOCKS_LOGGED = 40;

/// How many VPCs a WARNING about a shared block or an external range names as examples.
inline constexpr std::size_t EXAMPLES_NAMED = 3;

/// A scanned VPC as the overlap findings name it; the texts live as long as the EstateOverlaps.
struct VpcPlace {
  std::string_view account_id;
  std::string_view region;
  std::string_view vpc_id;
  /// Its associated blocks, in association order.
  std::span<const ipv4::Network> blocks;
  /// Whether AWS made it as the region's default VPC.
  bool is_default = false;
};

/// A VPC that shares addresses with other VPCs.
struct SharedVpc {
  /// The VPC's place in EstateOverlaps::vpc().
  std::size_t vpc;
  /// Its blocks that share addresses with another VPC's, ascending.
  std::span<const ipv4::Network> networks;
  /// How many other VPCs share addresses with it.
  std::uint64_t other_count;
};

/// One block of a VPC that shares addresses with an external range.
struct ExternalOverlap {
  /// The VPC's place in EstateOverlaps::vpc().
  std::size_t vpc;
  ipv4::Network block;
  /// The external range's place in EstateOverlaps::external().
  std::size_t range;
};

/// Collects every scanned VPC's associated blocks and finds, once the scan is over, which share
/// addresses with others and with the external ranges.
class EstateOverlaps : public ScanOutput {
 public:
  /// Overlaps among the scanned VPCs and with `external` (external_cidrs), logged as issued by
  /// `reporter` (the step that asks for them; by default the function that makes the output).
  explicit EstateOverlaps(std::vector<ipv4::Network> external,
                          log::Issuer reporter = log::Issuer());

  /// The overlaps go with whatever the other outputs of the scan make of a failed region; they
  /// never keep a scan going that no other output needs.
  [[nodiscard]] bool outlives_failed_regions() const override { return false; }
  /// Keeps the VPCs of the account's scanned regions.
  void account_scanned(const AccountRecord& account) override;

  /// Finds the overlaps of every VPC handed over and logs them, at most about fifty lines for any
  /// estate: one WARNING that counts the VPCs and pairs, one per shared block (the largest
  /// SHARED_BLOCKS_LOGGED; default VPCs that overlap only one another in a line of their own),
  /// one per external range that VPCs share addresses with; with -v (DEBUG) then one WARNING per
  /// VPC that shares addresses with others (its blocks, the first OTHERS_NAMED others with
  /// theirs, how many more) and one per VPC over an external range. Logs nothing when nothing
  /// overlaps; called once, after the scan.
  void finish() override;

  /// How many VPCs were handed over.
  [[nodiscard]] std::size_t vpc_count() const noexcept { return places_.size(); }
  /// The VPC handed over at `index` (scan order).
  [[nodiscard]] VpcPlace vpc(std::size_t index) const;

  /// What `finish` found among the VPCs: the pair count and the groups of blocks (owners are
  /// places in vpc()); the VPCs themselves are shared().
  [[nodiscard]] const ipv4::Overlaps& overlaps() const noexcept { return overlaps_; }
  /// How many VPCs share addresses with others.
  [[nodiscard]] std::size_t shared_count() const noexcept { return shared_.size(); }
  /// The `index`th VPC that shares addresses with others, in scan order.
  [[nodiscard]] SharedVpc shared(std::size_t index) const;

  /// What `finish` found against the external ranges, by VPC in scan order, then by block.
  [[nodiscard]] const std::vector<ExternalOverlap>& external_overlaps() const noexcept {
    return external_overlaps_;
  }
  /// How many VPCs have a block over each external range, in the order of external().
  [[nodiscard]] const std::vector<std::size_t>& vpcs_over_external() const noexcept {
    return vpcs_over_external_;
  }
  /// The external ranges as configured.
  [[nodiscard]] const std::vector<ipv4::Network>& external() const noexcept { return external_; }

 private:
  // A VPC's place, in numbers: its account and region in their tables, and the ends of its id
  // and blocks in ids_ and blocks_ (each begins where the previous VPC's ends).
  struct Place {
    std::uint32_t account;
    std::uint32_t region;
    std::uint32_t id_end;
    std::uint32_t blocks_end;
    bool is_default;
  };
  // A VPC that shares addresses, in numbers: its place and the end of its blocks in
  // shared_networks_.
  struct Shared {
    std::uint32_t vpc;
    std::uint32_t networks_end;
    std::uint64_t other_count;
  };

  [[nodiscard]] std::string place_text(std::size_t index) const;
  [[nodiscard]] std::vector<ipv4::OwnedNetwork> owned_blocks() const;
  void find_external_overlaps();
  void log_summary() const;
  void log_shared_blocks() const;
  void log_external_ranges() const;
  void log_every_vpc() const;

  std::vector<ipv4::Network> external_;
  log::Issuer reporter_;
  std::vector<std::string> accounts_;
  std::vector<std::string> regions_;
  std::unordered_map<std::string, std::uint32_t> region_numbers_;
  std::string ids_;
  std::vector<ipv4::Network> blocks_;
  std::vector<Place> places_;
  ipv4::Overlaps overlaps_;
  std::vector<Shared> shared_;
  std::vector<ipv4::Network> shared_networks_;
  std::vector<ExternalOverlap> external_overlaps_;
  std::vector<std::size_t> vpcs_over_external_;
};

}  // namespace generator::generate
