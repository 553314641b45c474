#pragma once

// The address map: one self-contained HTML page that draws every scanned VPC's address space to
// scale (subnets, reserved ranges, free space, the proposed gateway subnet), with a summary of the
// run, the VPCs that share addresses, a search box and a filter for VPCs without room. It fetches
// nothing, runs only its own inline script and shows every card without script. The renderer:
// the page's style, script and policy are in address_map_assets.hpp, the bars' geometry in
// address_map_geometry.hpp.

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "generator/common/ipv4/ipv4_network.hpp"
#include "generator/config/config.hpp"
#include "generator/generate/estate_overlaps.hpp"
#include "generator/generate/scan_records.hpp"

namespace generator::generate {

/// What the page's summary tells about the run besides the scan itself.
struct AddressMapSettings {
  /// When the scan ran, as shown ("2026-12-09 07:30:00 UTC").
  std::string generated_at;
  /// The controller's address as configured.
  std::string controller;
  /// The prefix length of the wanted gateway subnet (25 or 27).
  int gateway_prefix = 27;
  /// Whether gateway subnets were left out because each VPC gets a new block instead.
  bool add_vpc_cidr = false;
  /// The configured filtered CIDRs; empty when none are configured.
  std::vector<std::string> filter_cidrs;
  /// The ranges no gateway subnet may use (reserved_cidrs), drawn in the bars.
  std::vector<ipv4::Network> reserved;
  /// How many accounts the configuration names.
  std::size_t accounts_configured = 0;

  /// The settings of a scan of `config` that ran at `scan_time`.
  [[nodiscard]] static AddressMapSettings from_config(
      const config::Config& config, std::chrono::system_clock::time_point scan_time);
};

/// The time as the page's summary shows it: "YYYY-MM-DD HH:MM:SS UTC".
[[nodiscard]] std::string format_scan_time(std::chrono::system_clock::time_point time);

/// The address map as an output of the scan: each account is drawn as it arrives, so the records
/// need not be kept; `write` puts the summary and the overlaps in front, marks the cards of VPCs
/// that overlap, and writes the page.
class AddressMap : public ScanOutput {
 public:
  explicit AddressMap(AddressMapSettings settings);

  /// The map draws subnets, so it needs them.
  [[nodiscard]] bool needs_subnets() const override { return true; }
  /// Draws the account's section (or its skip reason) and counts it for the summary.
  void account_scanned(const AccountRecord& account) override;

  /// The whole page as it stands: summary, the `overlaps` found in the same scan (finished),
  /// legend, filter and every account drawn so far.
  [[nodiscard]] std::string page(const EstateOverlaps& overlaps) const;
  /// Writes the page to `path` all or nothing.
  void write(const std::filesystem::path& path, const EstateOverlaps& overlaps) const;

 private:
  // Where a card's overlap mark goes once the overlaps are known: an offset in body_ and the VPC.
  struct MarkPoint {
    std::size_t offset;
    std::string key;
  };

  void draw_region(const AccountRecord& account, const RegionRecord& region);
  void draw_vpc(const AccountRecord& account, const RegionRecord& region, const VpcRecord& vpc);
  [[nodiscard]] std::string body_with_marks(const EstateOverlaps& overlaps) const;

  AddressMapSettings settings_;
  std::string body_;
  std::vector<MarkPoint> marks_;
  std::vector<std::string> skipped_;  // "<account>: <reason>", as drawn in the summary
  std::size_t accounts_entered_ = 0;
  std::size_t regions_scanned_ = 0;
  std::size_t regions_failed_ = 0;
  ClosedRegionCount closed_regions_;
  std::size_t vpcs_ = 0;
  std::size_t vpcs_without_room_ = 0;
};

}  // namespace generator::generate
