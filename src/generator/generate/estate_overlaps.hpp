#pragma once

// The estate's address overlaps: the scanned VPCs that share addresses with one another (in any
// accounts and regions) and with the networks outside the estate that the configuration names
// (external_cidrs). VPCs that overlap cannot be reached side by side, so each such VPC needs a
// decision before the migration. An output of the scan that keeps only where each VPC is and its
// associated blocks; after the scan it names the VPCs in the log, and the address map draws the
// same findings.

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "generator/common/ipv4/ipv4_network.hpp"
#include "generator/common/ipv4/overlaps.hpp"
#include "generator/generate/scan_records.hpp"

namespace generator::generate {

/// How many of the other VPCs a VPC's WARNING names before it only counts the rest.
inline constexpr std::size_t OTHERS_NAMED = 10;

/// A scanned VPC as the overlap findings name it.
struct VpcPlace {
  std::string account_id;
  std::string region;
  std::string vpc_id;
  /// Its associated blocks, in association order.
  std::vector<ipv4::Network> blocks;
};

/// A VPC whose blocks share addresses with external ranges.
struct ExternalOverlap {
  /// The VPC's place in EstateOverlaps::vpcs().
  std::size_t vpc;
  /// Each of its blocks that shares addresses with external ranges, with those ranges.
  std::vector<std::pair<ipv4::Network, std::vector<ipv4::Network>>> blocks;
};

/// Collects every scanned VPC's associated blocks and finds, once the scan is over, which share
/// addresses with others and with the external ranges.
class EstateOverlaps : public ScanOutput {
 public:
  /// Overlaps among the scanned VPCs and with `external` (external_cidrs).
  explicit EstateOverlaps(std::vector<ipv4::Network> external);

  /// The overlaps go with whatever the other outputs of the scan make of a failed region; they
  /// never keep a scan going that no other output needs.
  [[nodiscard]] bool outlives_failed_regions() const override { return false; }
  /// Keeps the VPCs of the account's scanned regions.
  void account_scanned(const AccountRecord& account) override;

  /// Finds the overlaps of every VPC handed over and logs them: one WARNING per VPC that shares
  /// addresses with others (its overlapping blocks, the first OTHERS_NAMED others with theirs, how
  /// many more), one WARNING that counts the VPCs and pairs, then one WARNING per VPC over an
  /// external range. Logs nothing when nothing overlaps; called once, after the scan.
  void finish() override;

  /// Every VPC handed over, in scan order.
  [[nodiscard]] const std::vector<VpcPlace>& vpcs() const noexcept { return vpcs_; }
  /// What `finish` found among the VPCs; owners are places in vpcs().
  [[nodiscard]] const ipv4::Overlaps& overlaps() const noexcept { return overlaps_; }
  /// What `finish` found against the external ranges, in scan order.
  [[nodiscard]] const std::vector<ExternalOverlap>& external_overlaps() const noexcept {
    return external_overlaps_;
  }
  /// The external ranges as configured.
  [[nodiscard]] const std::vector<ipv4::Network>& external() const noexcept { return external_; }

 private:
  std::vector<ipv4::Network> external_;
  std::vector<VpcPlace> vpcs_;
  ipv4::Overlaps overlaps_;
  std::vector<ExternalOverlap> external_overlaps_;
};

}  // namespace generator::generate
