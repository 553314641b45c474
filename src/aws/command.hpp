#pragma once

// Running a helper program of the shared configuration (credential_process) through the shell.

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace aws {

/// What a command printed on its standard output and how it ended.
struct CommandResult {
  std::string output;
  /// The output was longer than the limit and was cut there.
  bool output_cut = false;
  /// The command had not exited when its time was up, and its process group was ended.
  bool timed_out = false;
  /// The exit status, or -1 when the command did not exit normally.
  int exit_status = -1;
};

/// Runs `command` with "/bin/sh -c" in a process group of its own, its standard input and error
/// shared with ours, in an environment without the variables named in `withheld`; reads at most
/// `max_output_bytes` of its output. Once the command has exited, what it printed is taken
/// without waiting for programs it left behind that still hold its output open. A command still
/// running after `time_limit` is ended with its whole process group (SIGTERM, then SIGKILL a
/// second later). ClientError when it cannot be started.
[[nodiscard]] CommandResult run_shell_command(const std::string& command,
                                              const std::vector<std::string>& withheld,
                                              std::size_t max_output_bytes,
                                              std::chrono::milliseconds time_limit);

}  // namespace aws
