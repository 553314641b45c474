#pragma once

// The address map: one self-contained HTML page that draws every scanned VPC's address space to
// scale (subnets, reserved ranges, free space, the proposed gateway subnet), with a summary of the
// run, the VPCs that share addresses, a search box and a filter for VPCs without room. It fetches nothing, runs only its own inline script and
// shows every card without script.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
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
  std::size_t vpcs_ = 0;
  std::size_t vpcs_without_room_ = 0;
};

/// What one piece of a block's bar stands for.
enum class PieceKind { used, free, gateway, reserved };

/// One piece of a block's bar: a run of addresses of one kind, and for used space the subnets it
/// merges, in address order.
struct BarPiece {
  PieceKind kind;
  std::uint32_t first;  // first address of the run
  std::uint32_t last;   // last address of the run, inclusive
  std::vector<ipv4::Network> subnets;
};

/// The bar of `block`: its addresses from first to last as pieces that touch end to end. Subnets
/// (clipped to the block; others ignored) that overlap or touch merge into one used piece; the
/// gateway subnet, when it lies in the block, is its own piece; in the gaps, the `reserved` ranges
/// are reserved pieces and the rest free pieces.
[[nodiscard]] std::vector<BarPiece> bar_pieces(const ipv4::Network& block,
                                               const std::vector<ipv4::Network>& subnets,
                                               const ipv4::Network* gateway,
                                               const std::vector<ipv4::Network>& reserved = {});


}  // namespace generator::generate
