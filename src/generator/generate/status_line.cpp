#include "generator/generate/status_line.hpp"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>

namespace generator::generate {

namespace {

constexpr std::size_t FALLBACK_COLUMNS = 80;

std::size_t terminal_columns(int descriptor) {
  winsize size{};
  if (ioctl(descriptor, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return FALLBACK_COLUMNS;
}

}  // namespace

StatusLine::StatusLine(log::LinePrinter& printer, std::size_t columns)
    : printer_(printer), columns_(columns) {}

StatusLine::~StatusLine() { printer_.set_status(""); }

void StatusLine::pass_started(const std::string& pass) {
  const std::lock_guard lock(mutex_);
  pass_ = pass;
  account_number_ = account_count_ = regions_done_ = regions_in_flight_ = vpcs_found_ = 0;
  active_ = true;
  show();
}

void StatusLine::account_started(std::size_t number, std::size_t count,
                                 const std::string& /*account_id*/) {
  const std::lock_guard lock(mutex_);
  // Accounts are entered in order, a few ahead of the regions being scanned.
  account_number_ = std::max(account_number_, number);
  account_count_ = count;
  show();
}

void StatusLine::region_started(const std::string& /*region*/) {
  const std::lock_guard lock(mutex_);
  ++regions_in_flight_;
  show();
}

void StatusLine::region_done() {
  const std::lock_guard lock(mutex_);
  if (regions_in_flight_ > 0) --regions_in_flight_;
  ++regions_done_;
  show();
}

void StatusLine::vpc_found() {
  const std::lock_guard lock(mutex_);
  ++vpcs_found_;
  show();
}

void StatusLine::pass_ended() {
  const std::lock_guard lock(mutex_);
  active_ = false;
  show();
}

void StatusLine::show() {
  // Before the first account the pass is still logging in, and the password prompt may be on
  // the terminal's last line.
  if (!active_ || account_count_ == 0) {
    printer_.set_status("");
    return;
  }
  std::string line = text_locked();
  if (columns_ > 1 && line.size() > columns_ - 1) line.resize(columns_ - 1);
  printer_.set_status(line);
}

std::string StatusLine::text() const {
  const std::lock_guard lock(mutex_);
  return text_locked();
}

std::string StatusLine::text_locked() const {
  return pass_ + ": account " + std::to_string(account_number_) + " of " +
         std::to_string(account_count_) + ", " + std::to_string(regions_done_) +
         (regions_done_ == 1 ? " region" : " regions") + " done, " +
         std::to_string(regions_in_flight_) + " in flight, " + std::to_string(vpcs_found_) +
         (vpcs_found_ == 1 ? " VPC" : " VPCs") + " found";
}

std::unique_ptr<PassProgress> make_status_line() {
  if (isatty(STDERR_FILENO) != 1) return std::make_unique<PassProgress>();
  return std::make_unique<StatusLine>(log::standard_error(), terminal_columns(STDERR_FILENO));
}

}  // namespace generator::generate
