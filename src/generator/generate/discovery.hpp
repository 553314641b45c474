#pragma once

// What `generate` makes of one scan of the estate: the minimal discovery document and the workbook
// rows, outputs of the scan that only turn its records into entries or rows.

#include <exception>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "generator/common/serializers/export/export.hpp"
#include "generator/common/workbook_layout.hpp"
#include "generator/config/config.hpp"
#include "generator/generate/scan_records.hpp"

namespace generator::generate {

/// The value that stands for a missing value: the empty text (an empty cell in the workbook).
inline const std::string NULL_TEXT;

/// Turns the scan's records into the discovery document {account_info: [...]}: every account
/// whose role could be assumed, with its regions (a failed region is left out) and VPCs, each
/// entry checked and ordered by the migration model. Each account's entry goes to `accounts` as
/// soon as the account is scanned, so that an estate of any size is not held whole.
class DiscoveryFileOutput : public ScanOutput {
 public:
  DiscoveryFileOutput(const config::Defaults& defaults, serializers::ListExport& accounts)
      : defaults_(defaults), accounts_(accounts) {}

  void account_started(const AccountRecord& account) const override;
  void vpc_scanned(const AccountRecord& account, const RegionRecord& region,
                   const VpcRecord& vpc) const override;
  void region_scanned(const AccountRecord& account, const RegionRecord& region) const override;
  void account_scanned(const AccountRecord& account) override;

  /// Completes the document of every account handed over (ListExport::finish).
  void finish() override;

 private:
  [[nodiscard]] nlohmann::ordered_json account_entry(const AccountRecord& account) const;
  [[nodiscard]] nlohmann::ordered_json region_entry(const RegionRecord& region) const;
  [[nodiscard]] nlohmann::ordered_json vpc_entry(const VpcRecord& vpc) const;

  const config::Defaults& defaults_;
  serializers::ListExport& accounts_;
  // Every entry again, only for the debug message that shows them all at the end.
  nlohmann::ordered_json logged_accounts_ = nlohmann::ordered_json::array();
};

/// Turns the scan's records into the workbook rows, one mapping of the WORKBOOK_COLUMNS per VPC.
/// A workbook without a region would pass for a complete one once edited, so a failed region
/// spoils it: `rows` then fails with the first failed region's error.
class WorkbookOutput : public ScanOutput {
 public:
  explicit WorkbookOutput(const config::Defaults& defaults) : defaults_(defaults) {}

  [[nodiscard]] bool outlives_failed_regions() const override { return false; }
  void vpc_scanned(const AccountRecord& account, const RegionRecord& region,
                   const VpcRecord& vpc) const override;
  void account_scanned(const AccountRecord& account) override;

  /// Every row handed over so far; the error of the first failed region when there was one.
  [[nodiscard]] nlohmann::ordered_json rows();

 private:
  [[nodiscard]] nlohmann::ordered_json row(const AccountRecord& account, const RegionRecord& region,
                                           const VpcRecord& vpc) const;
  [[nodiscard]] nlohmann::ordered_json cell(WorkbookColumn column, const AccountRecord& account,
                                            const RegionRecord& region, const VpcRecord& vpc) const;

  const config::Defaults& defaults_;
  nlohmann::ordered_json rows_ = nlohmann::ordered_json::array();
  std::exception_ptr first_failure_;
};

}  // namespace generator::generate
