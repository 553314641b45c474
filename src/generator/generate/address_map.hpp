#pragma once

// The address map: a self-contained HTML page that opens with the run's summary and the blocks
// that VPCs share, finds any VPC by id, name, account, region or block, and leads to one page per
// account (in a folder named after the page) that draws every scanned VPC's address space to
// scale (subnets, reserved ranges, free space, the proposed gateway subnet). The account pages are
// written as the accounts arrive, so the map of any estate takes the memory of one account and of
// a row per account; the first page stays a few megabytes however many VPCs there are, and the
// search reads the estate's VPCs from the folder only when it is used. Nothing is fetched from
// elsewhere, only the map's own scripts run, and every card shows without script. The renderer:
// the pages' style, scripts and policies are in address_map_assets.hpp, the cards in
// address_map_cards.hpp, the bars' geometry in address_map_geometry.hpp.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "generator/config/config.hpp"
#include "generator/generate/estate_overlaps.hpp"
#include "generator/generate/scan_records.hpp"
#include "ipv4/ipv4_network.hpp"

namespace base::files {
class FolderReplacement;
}

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
  /// Where the accounts come from; with the configuration's own list, how many it names (the
  /// controller's list and the organization's are counted as their accounts arrive).
  config::AccountSource account_source = config::AccountSource::listed;
  std::size_t accounts_configured = 0;
  /// The regions the configuration names; none when each account's enabled regions are scanned.
  std::vector<std::string> regions_configured;

  /// The settings of a scan of `config` that ran at `scan_time`.
  [[nodiscard]] static AddressMapSettings from_config(
      const config::Config& config, std::chrono::system_clock::time_point scan_time);
};

/// The time as the page's summary shows it: "YYYY-MM-DD HH:MM:SS UTC".
[[nodiscard]] std::string format_scan_time(std::chrono::system_clock::time_point time);

/// The address map as an output of the scan: each account's page is written as the account
/// arrives, so the records need not be kept; `finish` marks the cards of VPCs that overlap,
/// writes the first page and puts it and its folder in place.
class AddressMap : public ScanOutput {
 public:
  /// The folder of pages that belongs with the page at `page`: "<its name without extension>_files"
  /// beside it, as browsers save a page with what it links to.
  [[nodiscard]] static std::filesystem::path folder_of(const std::filesystem::path& page);

  /// A map to be written at `page`; its folder's pages wait in a temporary folder beside it
  /// until `finish` (OSError when none can be made there).
  AddressMap(AddressMapSettings settings, std::filesystem::path page);
  ~AddressMap() override;
  AddressMap(const AddressMap&) = delete;
  AddressMap& operator=(const AddressMap&) = delete;

  /// The map draws subnets, so it needs them.
  [[nodiscard]] bool needs_subnets() const override { return true; }
  /// Writes the page of an entered account and keeps the account's row for the first page.
  void account_scanned(const AccountRecord& account) override;

  /// Marks the cards of the VPCs that `overlaps` (finished, from the same scan) found, writes the
  /// first page and puts the page and its folder in place, all or nothing. Called once.
  void finish(const EstateOverlaps& overlaps);

 private:
  // What the first page shows of an account.
  struct AccountRow {
    std::string id;
    std::optional<std::string> name;
    std::string skip_reason;  // empty for an entered account
    std::string page;         // its page's file name in the folder, empty for a skipped account
    std::size_t regions = 0;
    std::size_t regions_failed = 0;
    std::size_t vpcs = 0;
    std::size_t vpcs_without_room = 0;
    std::size_t vpcs_overlapping = 0;
    // Where the marks of its VPCs go in its page, in scan order.
    std::vector<std::uint32_t> mark_offsets;
  };
  // What the first page shows of a region, over every account.
  struct RegionRow {
    std::string name;
    std::size_t scanned = 0;
    std::size_t failed = 0;
    std::size_t vpcs = 0;
    std::size_t vpcs_without_room = 0;
  };

  void keep_for_search(const AccountRecord& account, const std::string& page);
  void write_search_piece();
  void mark_cards(const EstateOverlaps& overlaps);
  void write_overlap_pages(const EstateOverlaps& overlaps);
  [[nodiscard]] std::string first_page(const EstateOverlaps& overlaps) const;
  [[nodiscard]] std::string summary(const EstateOverlaps& overlaps) const;
  [[nodiscard]] std::string accounts_section() const;
  [[nodiscard]] static std::string account_row(const std::string& folder,
                                               const AccountRow& account);
  [[nodiscard]] std::string regions_section() const;

  AddressMapSettings settings_;
  std::filesystem::path page_;
  std::unique_ptr<base::files::FolderReplacement> folder_;
  std::vector<AccountRow> accounts_;
  std::vector<RegionRow> regions_;
  std::unordered_map<std::string, std::size_t> region_rows_;
  // The search's data not yet written: the account pages and the lines of its VPCs.
  std::vector<std::string> search_pages_;
  std::string search_text_;
  std::vector<std::uint32_t> search_meta_;
  std::size_t search_lines_ = 0;
  std::size_t search_pieces_ = 0;
  std::size_t accounts_entered_ = 0;
  std::size_t skipped_ = 0;
  std::size_t regions_scanned_ = 0;
  std::size_t regions_failed_ = 0;
  ClosedRegionCount closed_regions_;
  std::size_t vpcs_ = 0;
  std::size_t vpcs_without_room_ = 0;
  std::size_t default_vpcs_ = 0;
};

}  // namespace generator::generate
