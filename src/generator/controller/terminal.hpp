#pragma once

// The operator's terminal, reached for the one thing the programs ask of it: a line typed without
// echo.

#include <string>

namespace generator::controller {

/// A terminal that can show a prompt and read one line without echoing it.
class Terminal {
 public:
  virtual ~Terminal() = default;
  /// Shows `prompt`, reads one line with echo off and returns it without its line end; throws
  /// OSError when there is no terminal or the line cannot be read.
  virtual std::string read_secret(const std::string& prompt) = 0;
};

/// The process's controlling terminal (/dev/tty); echo is restored on every way out of the read,
/// including Ctrl-C, after which the interrupt takes its usual course.
class ControllingTerminal : public Terminal {
 public:
  std::string read_secret(const std::string& prompt) override;
};

}  // namespace generator::controller
