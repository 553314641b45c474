#include "generator/log/line_printer.hpp"

#include <cstdio>

namespace generator::log {

namespace {

// Back to the start of the row, and the row emptied.
constexpr std::string_view ERASE_LINE = "\r\x1b[K";

}  // namespace

LinePrinter::LinePrinter(std::function<void(std::string_view)> write) : write_(std::move(write)) {}

void LinePrinter::print_line(std::string_view text) {
  const std::lock_guard lock(mutex_);
  std::string piece;
  piece.reserve(ERASE_LINE.size() + text.size() + 1 + status_.size());
  if (!status_.empty()) piece += ERASE_LINE;
  piece += text;
  piece += '\n';
  // The line end left the cursor on a fresh row: the status line needs no erasing there.
  piece += status_;
  write_(piece);
}

void LinePrinter::set_status(std::string_view text) {
  const std::lock_guard lock(mutex_);
  if (text == status_) return;
  status_ = text;
  write_(std::string(ERASE_LINE) + status_);
}

LinePrinter& standard_error() {
  // Never destroyed: a message issued while the process's statics are torn down still has a
  // printer.
  static LinePrinter* const printer = new LinePrinter([](std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
  });
  return *printer;
}

}  // namespace generator::log
