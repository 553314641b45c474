#pragma once

// A live status line on standard error while a pass scans accounts, shown only on a terminal. It
// is drawn by the printer of standard error, which keeps it below the log messages.

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>

#include "generator/generate/scan_engine.hpp"
#include "generator/log/line_printer.hpp"

namespace generator::generate {

/// The status line itself, shown through `printer` and never wider than `columns` - 1 characters.
/// The progress members may be called from several threads at once.
class StatusLine : public PassProgress {
 public:
  /// `printer` must outlive the status line.
  StatusLine(log::LinePrinter& printer, std::size_t columns);
  ~StatusLine() override;
  StatusLine(const StatusLine&) = delete;
  StatusLine& operator=(const StatusLine&) = delete;

  void pass_started(const std::string& pass) override;
  void account_started(std::size_t number, std::size_t count,
                       const std::string& account_id) override;
  void region_started(const std::string& region) override;
  void region_done() override;
  void vpc_found() override;
  void pass_ended() override;

  /// The text the line shows now ("scan: account 3 of 20, 12 regions done, 8 in flight,
  /// 340 VPCs found").
  [[nodiscard]] std::string text() const;

 private:
  // Hands the printer the line as it is now; called with mutex_ held, so that draws keep the order
  // of the changes.
  void show();
  [[nodiscard]] std::string text_locked() const;

  log::LinePrinter& printer_;
  std::size_t columns_;
  mutable std::mutex mutex_;
  bool active_ = false;
  std::string pass_;
  std::size_t account_number_ = 0;
  std::size_t account_count_ = 0;
  std::size_t regions_done_ = 0;
  std::size_t regions_in_flight_ = 0;
  std::size_t vpcs_found_ = 0;
};

/// A status line on standard error when that is a terminal; a progress that shows nothing
/// otherwise.
[[nodiscard]] std::unique_ptr<PassProgress> make_status_line();

}  // namespace generator::generate
