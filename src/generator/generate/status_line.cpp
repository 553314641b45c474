#include "generator/generate/status_line.hpp"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <vector>

namespace generator::generate {

namespace {

constexpr std::string_view ERASE_LINE = "\r\x1b[K";
constexpr std::size_t FALLBACK_COLUMNS = 80;

std::size_t terminal_columns(int descriptor) {
  winsize size{};
  if (ioctl(descriptor, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return FALLBACK_COLUMNS;
}

// The terminal's status line, hooked into every standard-error handler of the program's loggers
// while it lives.
class AttachedStatusLine : public StatusLine {
 public:
  AttachedStatusLine()
      : StatusLine(
            [](std::string_view text) {
              std::fwrite(text.data(), 1, text.size(), stderr);
              std::fflush(stderr);
            },
            terminal_columns(STDERR_FILENO)) {
    for (const auto& handler : log::get_logger("generator").handlers()) {
      if (auto* standard_error = dynamic_cast<log::StandardErrorHandler*>(handler.get())) {
        standard_error->set_transient_line(this);
        attached_.push_back(standard_error);
      }
    }
  }
  ~AttachedStatusLine() override {
    const std::lock_guard lock(log::terminal_mutex());
    clear();
    for (auto* handler : attached_) handler->set_transient_line(nullptr);
  }
  AttachedStatusLine(const AttachedStatusLine&) = delete;
  AttachedStatusLine& operator=(const AttachedStatusLine&) = delete;

 private:
  std::vector<log::StandardErrorHandler*> attached_;
};

}  // namespace

StatusLine::StatusLine(std::function<void(std::string_view)> write, std::size_t columns)
    : write_(std::move(write)), columns_(columns) {}

void StatusLine::pass_started(const std::string& pass) {
  const std::lock_guard lock(log::terminal_mutex());
  pass_ = pass;
  account_number_ = account_count_ = regions_done_ = regions_in_flight_ = vpcs_found_ = 0;
  active_ = true;
  redraw();
}

void StatusLine::account_started(std::size_t number, std::size_t count,
                                 const std::string& /*account_id*/) {
  const std::lock_guard lock(log::terminal_mutex());
  // Accounts are entered in order, a few ahead of the regions being scanned.
  account_number_ = std::max(account_number_, number);
  account_count_ = count;
  redraw();
}

void StatusLine::region_started(const std::string& /*region*/) {
  const std::lock_guard lock(log::terminal_mutex());
  ++regions_in_flight_;
  redraw();
}

void StatusLine::region_done() {
  const std::lock_guard lock(log::terminal_mutex());
  if (regions_in_flight_ > 0) --regions_in_flight_;
  ++regions_done_;
  redraw();
}

void StatusLine::vpc_found() {
  const std::lock_guard lock(log::terminal_mutex());
  ++vpcs_found_;
  redraw();
}

void StatusLine::pass_ended() {
  const std::lock_guard lock(log::terminal_mutex());
  clear();
  active_ = false;
}

void StatusLine::clear() {
  if (!drawn_) return;
  write_(ERASE_LINE);
  drawn_ = false;
}

void StatusLine::redraw() {
  // Before the first account the pass is still logging in, and the password prompt may be on
  // the terminal's last line.
  if (!active_ || account_count_ == 0) return;
  std::string line = text();
  // A line that wraps could no longer be erased by returning to its start.
  if (columns_ > 1 && line.size() > columns_ - 1) line.resize(columns_ - 1);
  write_(std::string(ERASE_LINE) + line);
  drawn_ = true;
}

std::string StatusLine::text() const {
  return pass_ + ": account " + std::to_string(account_number_) + " of " +
         std::to_string(account_count_) + ", " + std::to_string(regions_done_) +
         (regions_done_ == 1 ? " region" : " regions") + " done, " +
         std::to_string(regions_in_flight_) + " in flight, " + std::to_string(vpcs_found_) +
         (vpcs_found_ == 1 ? " VPC" : " VPCs") + " found";
}

std::unique_ptr<PassProgress> make_status_line() {
  if (isatty(STDERR_FILENO) != 1) return std::make_unique<PassProgress>();
  return std::make_unique<AttachedStatusLine>();
}

}  // namespace generator::generate
