#include "aws/command.hpp"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
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

class SpawnAttributes {
 public:
  SpawnAttributes() { posix_spawnattr_init(&attributes_); }
  ~SpawnAttributes() { posix_spawnattr_destroy(&attributes_); }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
  posix_spawnattr_t* get() { return &attributes_; }

 private:
  posix_spawnattr_t attributes_;
};

// Asks the command's whole group to end, then forces it after a second; true when the command
// itself was reaped (its status in `status`) within that time.
bool end_process_group(pid_t child, int& status) {
  ::kill(-child, SIGTERM);
  const auto grace_end = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  while (std::chrono::steady_clock::now() < grace_end) {
    if (::waitpid(child, &status, WNOHANG) == child) {
      // Helpers it started may ignore the request; they go with the group.
      ::kill(-child, SIGKILL);
      return true;
    }
    ::usleep(20'000);
  }
  ::kill(-child, SIGKILL);
  return false;
}

// While the command runs, its group holds the terminal in the foreground when ours held it, so
// that a sign-in helper can still ask the operator something (an MFA code) as it could from the
// AWS tools; ours takes the terminal back afterwards.
class TerminalHandover {
 public:
  explicit TerminalHandover(pid_t group) {
    if (::isatty(STDIN_FILENO) == 1 && ::tcgetpgrp(STDIN_FILENO) == ::getpgrp()) {
      handed_ = put_in_foreground(group);
      // A command that read from the terminal before it was handed over was stopped for it.
      if (handed_) ::kill(-group, SIGCONT);
    }
  }
  ~TerminalHandover() {
    if (handed_) (void)put_in_foreground(::getpgrp());
  }
  TerminalHandover(const TerminalHandover&) = delete;
  TerminalHandover& operator=(const TerminalHandover&) = delete;

 private:
  static bool put_in_foreground(pid_t group) {
    // Asked from the background (taking the terminal back), tcsetpgrp would stop this process.
    sigset_t ttou;
    sigset_t previous;
    sigemptyset(&ttou);
    sigaddset(&ttou, SIGTTOU);
    pthread_sigmask(SIG_BLOCK, &ttou, &previous);
    const bool done = ::tcsetpgrp(STDIN_FILENO, group) == 0;
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return done;
  }

  bool handed_ = false;
};

}  // namespace

CommandResult run_shell_command(const std::string& command,
                                const std::vector<std::string>& withheld,
                                std::size_t max_output_bytes,
                                std::chrono::milliseconds time_limit) {
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
  SpawnAttributes attributes;
  // A group of its own, so that the command and whatever it starts can be ended together.
  posix_spawnattr_setflags(attributes.get(), POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(attributes.get(), 0);
  pid_t child = 0;
  const int spawned =
      ::posix_spawn(&child, shell.c_str(), actions.get(), attributes.get(), argv, envp.data());
  ::close(pipe_ends[1]);
  if (spawned != 0) {
    ::close(pipe_ends[0]);
    throw ClientError(std::string("Cannot start a command: ") + std::strerror(spawned));
  }

  CommandResult result;
  // Handed back when this function returns, once the command has been reaped.
  const TerminalHandover terminal(child);
  const int output = pipe_ends[0];
  const auto deadline = std::chrono::steady_clock::now() + time_limit;
  int status = 0;
  bool exited = false;
  bool status_lost = false;  // someone else reaped the command
  bool output_ended = false;
  while (!output_ended) {
    if (!exited) {
      const pid_t waited = ::waitpid(child, &status, WNOHANG);
      status_lost = waited < 0 && errno != EINTR;
      exited = waited == child || status_lost;
      // What the command printed is in the pipe by now; programs it left behind may keep the
      // pipe open for ever, so the rest is read without waiting.
      if (exited) (void)::fcntl(output, F_SETFL, ::fcntl(output, F_GETFL) | O_NONBLOCK);
    }
    const auto now = std::chrono::steady_clock::now();
    if (!exited && now >= deadline) {
      result.timed_out = true;
      break;
    }
    if (!exited) {
      // Short waits, so that the command's exit is seen while its output stays open.
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
      pollfd ready{output, POLLIN, 0};
      const int polled = ::poll(&ready, 1, static_cast<int>(std::min<long long>(left.count(), 50)));
      if (polled == 0 || (polled < 0 && errno == EINTR)) continue;
    }
    char buffer[4096];
    const ssize_t count = ::read(output, buffer, sizeof buffer);
    if (count == 0) {
      output_ended = true;
    } else if (count < 0) {
      if (errno == EINTR) continue;
      // Nothing more to read without waiting (after the exit), or a broken pipe.
      output_ended = exited || errno != EAGAIN;
    } else if (static_cast<std::size_t>(count) > max_output_bytes - result.output.size()) {
      result.output_cut = true;
      output_ended = true;
    } else {
      result.output.append(buffer, static_cast<std::size_t>(count));
    }
  }
  // Closing our end makes a command that keeps writing fail instead of blocking forever.
  ::close(output);
  // A command that closed its output may still be running: it has the rest of its time.
  while (!exited && !result.timed_out) {
    const pid_t waited = ::waitpid(child, &status, WNOHANG);
    if (waited == child || (waited < 0 && errno != EINTR)) {
      status_lost = waited != child;
      exited = true;
    } else if (std::chrono::steady_clock::now() >= deadline) {
      result.timed_out = true;
    } else {
      ::usleep(20'000);
    }
  }
  if (result.timed_out) exited = end_process_group(child, status);
  while (!exited) {
    const pid_t waited = ::waitpid(child, &status, 0);
    if (waited == child) exited = true;
    if (waited < 0 && errno != EINTR) return result;
  }
  if (WIFEXITED(status) && !status_lost && !result.timed_out)
    result.exit_status = WEXITSTATUS(status);
  return result;
}

}  // namespace aws
