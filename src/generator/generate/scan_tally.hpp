#pragma once

// What a scan reached and what it skipped, counted over the records it hands to its outputs, so
// that a scan that reached nothing never replaces a file, an incomplete file says so, and the
// regions an organization keeps closed are named once.

#include <cstddef>
#include <string>
#include <vector>

#include "generator/generate/scan_records.hpp"

namespace generator::generate {

/// An output of a scan that only counts accounts and regions.
class ScanTally : public ScanOutput {
 public:
  /// The counts serve the other outputs only: a scan that feeds nothing else may end at its first
  /// failed region.
  [[nodiscard]] bool outlives_failed_regions() const override { return false; }
  void account_scanned(const AccountRecord& account) override;

  /// Whether the scan reached nothing: no configured account could be entered, or every region
  /// of every entered account failed.
  [[nodiscard]] bool reached_nothing() const;
  /// Whether some account was skipped or some region failed; a closed region is neither.
  [[nodiscard]] bool incomplete() const;

  /// Fails with ScanError when the scan reached nothing, saying that none of `products` ("the
  /// discovery file", "the address map", "the workbook") was written.
  void require_something_reached(const std::vector<std::string>& products) const;
  /// Logs one WARNING that counts the skipped accounts and failed regions when there are any,
  /// naming `product` ("Discovery file 'out.yaml'") as incomplete.
  void warn_if_incomplete(const std::string& product) const;
  /// Logs one line per region closed to some entered account, with how many it is closed to.
  void report_closed_regions() const;

  std::size_t accounts = 0;
  std::size_t accounts_entered = 0;
  /// Regions of the entered accounts, closed ones not counted.
  std::size_t regions = 0;
  std::size_t regions_failed = 0;
  ClosedRegionCount closed_regions;
};

}  // namespace generator::generate
