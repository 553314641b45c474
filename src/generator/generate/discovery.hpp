#pragma once

// The minimal discovery document as an output of the scan, which only turns its records into
// entries (the workbook's rows are workbook_output's).

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "generator/config/config.hpp"
#include "generator/generate/scan_records.hpp"
#include "serializers/export/export.hpp"

namespace generator::generate {

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

}  // namespace generator::generate
