#pragma once

// The operator's terminal, reached for the one thing the programs ask of it: a line typed without
// echo.

#include <string>
#include <utility>

namespace generator::controller {

/// A terminal that can show a prompt and read one line without echoing it.
class Terminal {
 public:
  virtual ~Terminal() = default;
  /// Shows `prompt`, reads one line with echo off and returns it without its line end; throws
  /// OSError when there is no terminal or the line cannot be read.
  virtual std::string read_secret(const std::string& prompt) = 0;
};

/// What a line read from the terminal is, as the messages about the read name it.
struct SecretUse {
  /// "No password was typed", "The password prompt was interrupted".
  std::string noun = "password";
  /// "No terminal to read the Halvane Controller password from".
  std::string what = "the Halvane Controller password";
  /// What to do instead when there is no terminal.
  std::string otherwise = "set the environment variable halvane_controller_password instead";
};

/// The process's controlling terminal (/dev/tty); echo is restored on every way out of the read,
/// including Ctrl-C and every other signal that asks the process to stop, on whichever thread the
/// prompt is read, after which the signal takes its usual course.
class ControllingTerminal : public Terminal {
 public:
  /// A terminal whose messages name the line read as `use` says (the controller password unless
  /// told otherwise).
  explicit ControllingTerminal(SecretUse use = {}) : use_(std::move(use)) {}
  std::string read_secret(const std::string& prompt) override;

 private:
  SecretUse use_;
};

}  // namespace generator::controller
