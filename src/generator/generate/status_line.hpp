#pragma once

// A live status line on standard error while a pass scans accounts, shown only on a terminal. Log
// messages clear it before they are written and redraw it afterwards, so the two never mix.

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "generator/generate/discovery.hpp"
#include "generator/log/log.hpp"

namespace generator::generate {

/// The status line itself, writing through `write` and never wider than `columns` - 1 characters.
/// The progress members may be called from several threads: each takes log::terminal_mutex(),
/// under which the log handlers call `clear` and `redraw`.
class StatusLine : public PassProgress, public log::TransientLine {
 public:
  StatusLine(std::function<void(std::string_view)> write, std::size_t columns);

  void pass_started(const std::string& pass) override;
  void account_started(std::size_t number, std::size_t count,
                       const std::string& account_id) override;
  void region_started(const std::string& region) override;
  void region_done() override;
  void vpc_found() override;
  void pass_ended() override;

  void clear() override;
  void redraw() override;

  /// The text the line shows now ("scan: account 3 of 20, 12 regions done, 8 in flight,
  /// 340 VPCs found").
  [[nodiscard]] std::string text() const;

 private:
  std::function<void(std::string_view)> write_;
  std::size_t columns_;
  bool active_ = false;
  bool drawn_ = false;
  std::string pass_;
  std::size_t account_number_ = 0;
  std::size_t account_count_ = 0;
  std::size_t regions_done_ = 0;
  std::size_t regions_in_flight_ = 0;
  std::size_t vpcs_found_ = 0;
};

/// A status line on standard error when that is a terminal, attached to the program's log handlers
/// for its lifetime; a progress that shows nothing otherwise.
[[nodiscard]] std::unique_ptr<PassProgress> make_status_line();

}  // namespace generator::generate
