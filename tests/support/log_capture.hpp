#pragma once

// The log as tests read it: every message of the "generator" tree kept as a line in a chosen
// layout, instead of written to the terminal; or, for fuzz targets and benchmarks, dropped.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "generator/log/log.hpp"

namespace generator::test_support {

/// A log handler that keeps each line it is handed, in its formatter's layout.
class CapturedLines : public log::Handler {
 public:
  std::vector<std::string> lines;

 protected:
  void write_line(const std::string& text) override { lines.push_back(text); }
};

/// A log handler that formats each message it is handed and drops the line: for runs that must
/// go through the log's formatting (fuzz targets, benchmarks) without keeping or showing a line.
class DroppedLines : public log::Handler {
 protected:
  void write_line(const std::string&) override {}
};

/// While it lives, "generator" hands every message also to a CapturedLines in `layout`, with the
/// tree set to `level`; the level before is restored at the end.
class LogCapture {
 public:
  explicit LogCapture(int level = log::DEBUG, std::string_view layout = "{levelname} {message}")
      : handler_(std::make_shared<CapturedLines>()),
        top_(log::get_logger(log::TOP_LOGGER)),
        previous_level_(top_.effective_level()) {
    handler_->set_formatter(std::make_shared<log::Formatter>(layout));
    top_.set_level(level);
    top_.add_handler(handler_);
  }
  ~LogCapture() {
    top_.remove_handler(handler_);
    top_.set_level(previous_level_);
  }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  /// The lines written so far, oldest first.
  [[nodiscard]] const std::vector<std::string>& lines() const { return handler_->lines; }
  /// Forgets the lines written so far.
  void clear() { handler_->lines.clear(); }
  /// The lines that start with `start`, in order.
  [[nodiscard]] std::vector<std::string> starting_with(std::string_view start) const {
    std::vector<std::string> found;
    for (const auto& line : lines())
      if (line.starts_with(start)) found.push_back(line);
    return found;
  }
  /// How many lines are exactly `line`.
  [[nodiscard]] std::size_t count(std::string_view line) const {
    std::size_t found = 0;
    for (const auto& written : lines())
      if (written == line) ++found;
    return found;
  }

 private:
  std::shared_ptr<CapturedLines> handler_;
  log::Logger& top_;
  int previous_level_;
};

}  // namespace generator::test_support
