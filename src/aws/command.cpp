#include "aws/command.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "aws/errors.hpp"

extern char** environ;

namespace aws {

namespace {

// The process's environment without the withheld variables; built before the child exists, as
// nothing but async-signal-safe calls may run between fork and exec.
std::vector<std::string> environment_without(const std::vector<std::string>& withheld) {
  std::vector<std::string> kept;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const std::string_view variable(*entry);
    const std::string_view name = variable.substr(0, variable.find('='));
    if (std::find(withheld.begin(), withheld.end(), name) == withheld.end())
      kept.emplace_back(variable);
  }
  return kept;
}

class FileActions {
 public:
  FileActions() { posix_spawn_file_actions_init(&actions_); }
  ~FileActions() { posix_spawn_file_actions_destroy(&actions_); }
  FileActions(const FileActions&) = delete;
  FileActions& operator=(const FileActions&) = delete;
  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
};

}  // namespace

CommandResult run_shell_command(const std::string& command,
                                const std::vector<std::string>& withheld,
                                std::size_t max_output_bytes) {
  std::vector<std::string> environment = environment_without(withheld);
  std::vector<char*> envp;
  for (auto& variable : environment) envp.push_back(variable.data());
  envp.push_back(nullptr);
  std::string shell = "/bin/sh";
  std::string flag = "-c";
  std::string text = command;
  char* argv[] = {shell.data(), flag.data(), text.data(), nullptr};

  int pipe_ends[2];
  if (::pipe2(pipe_ends, O_CLOEXEC) != 0)
    throw ClientError(std::string("Cannot start a command: ") + std::strerror(errno));
  FileActions actions;
  posix_spawn_file_actions_adddup2(actions.get(), pipe_ends[1], STDOUT_FILENO);
  pid_t child = 0;
  const int spawned =
      ::posix_spawn(&child, shell.c_str(), actions.get(), nullptr, argv, envp.data());
  ::close(pipe_ends[1]);
  if (spawned != 0) {
    ::close(pipe_ends[0]);
    throw ClientError(std::string("Cannot start a command: ") + std::strerror(spawned));
  }

  CommandResult result;
  char buffer[4096];
  for (;;) {
    const ssize_t count = ::read(pipe_ends[0], buffer, sizeof buffer);
    if (count == 0) break;
    if (count < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (static_cast<std::size_t>(count) > max_output_bytes - result.output.size()) {
      result.output_cut = true;
      break;
    }
    result.output.append(buffer, static_cast<std::size_t>(count));
  }
  // Closing our end makes a command that keeps writing fail instead of blocking forever.
  ::close(pipe_ends[0]);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return result;
  }
  if (WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
  return result;
}

}  // namespace aws
