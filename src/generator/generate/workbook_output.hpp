#pragma once

// The discovery workbook as an output of the scan: one row of the workbook's columns per VPC,
// handed to the workbook's writer as each account arrives, so that no estate is held whole.

#include <exception>
#include <nlohmann/json.hpp>

#include "generator/common/workbook_layout.hpp"
#include "generator/config/config.hpp"
#include "generator/generate/scan_records.hpp"
#include "serializers/export/export.hpp"

namespace generator::generate {

/// Turns the scan's records into the workbook rows, one mapping of the WORKBOOK_COLUMNS per VPC,
/// appended to `rows` account by account. A workbook without a region would pass for a complete
/// one once edited, so a failed region spoils it: `finish` then fails with the first failed
/// region's error and the rows are never completed.
class WorkbookOutput : public ScanOutput {
 public:
  WorkbookOutput(const config::Defaults& defaults, serializers::ListExport& rows)
      : defaults_(defaults), rows_(rows) {}

  [[nodiscard]] bool outlives_failed_regions() const override { return false; }
  void vpc_scanned(const AccountRecord& account, const RegionRecord& region,
                   const VpcRecord& vpc) const override;
  void account_scanned(const AccountRecord& account) override;

  /// Fails with the error of the first failed region, when there was one.
  void check_complete() const;
  /// Completes the rows handed over (ListExport::finish), after check_complete.
  void finish() override;

 private:
  [[nodiscard]] nlohmann::ordered_json row(const AccountRecord& account, const RegionRecord& region,
                                           const VpcRecord& vpc) const;
  [[nodiscard]] nlohmann::ordered_json cell(WorkbookColumn column, const AccountRecord& account,
                                            const RegionRecord& region, const VpcRecord& vpc) const;

  const config::Defaults& defaults_;
  serializers::ListExport& rows_;
  std::exception_ptr first_failure_;
};

}  // namespace generator::generate
