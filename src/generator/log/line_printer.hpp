#pragma once

// The one writer of standard error: every message goes out in one piece, and a status line, when
// one is shown, stays on the terminal's last row below them.

#include <functional>
#include <mutex>
#include <string>
#include <string_view>

namespace generator::log {

/// Writes messages and keeps one status line below them; safe to call from several threads.
class LinePrinter {
 public:
  /// `write` receives each piece for the terminal whole, never two at once.
  explicit LinePrinter(std::function<void(std::string_view)> write);
  LinePrinter(const LinePrinter&) = delete;
  LinePrinter& operator=(const LinePrinter&) = delete;

  /// Writes `text` and a line end in one piece, the status line erased before it and drawn again
  /// after it.
  void print_line(std::string_view text);
  /// Shows `text` as the status line in place of the one shown; "" erases it. The caller keeps the
  /// text within one row of the terminal: a wrapped line could not be erased.
  void set_status(std::string_view text);

 private:
  std::mutex mutex_;
  std::function<void(std::string_view)> write_;
  std::string status_;
};

/// The printer of the process's standard error; when standard error's reader goes away (a closed
/// pipe), later messages are dropped and the process goes on, untouched by SIGPIPE.
LinePrinter& standard_error();

}  // namespace generator::log
