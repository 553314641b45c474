#include "generator/controller/terminal.hpp"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <string_view>

#include "base/signals/ending_signals.hpp"
#include "generator/common/errors.hpp"

namespace generator::controller {

namespace {

// The signal that cut the prompt short, and the pipe its handler wakes the prompt through. A signal
// sent to the process reaches whichever thread does not block it, seldom the one at the prompt
// (during a long run, a scanning thread renews the credentials): only a byte in a pipe that the
// prompt waits on reaches the prompt from any thread. One prompt is shown at a time.
volatile std::sig_atomic_t interrupting_signal = 0;
volatile std::sig_atomic_t signal_wake_descriptor = -1;

extern "C" void note_interrupting_signal(int signal_number) {
  const int saved_errno = errno;
  interrupting_signal = signal_number;
  const char byte = 0;
  if (signal_wake_descriptor >= 0) (void)!::write(signal_wake_descriptor, &byte, 1);
  errno = saved_errno;
}

std::string system_error_text(int error_number) { return std::strerror(error_number); }

class TerminalFile {
 public:
  explicit TerminalFile(const SecretUse& use)
      : fd_(::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC)), noun_(use.noun) {
    if (fd_ < 0) {
      throw OSError("No terminal to read " + use.what +
                    " from (/dev/tty: " + system_error_text(errno) + "); " + use.otherwise + ".");
    }
  }
  ~TerminalFile() { ::close(fd_); }
  TerminalFile(const TerminalFile&) = delete;
  TerminalFile& operator=(const TerminalFile&) = delete;
  [[nodiscard]] int fd() const noexcept { return fd_; }

  void write_text(std::string_view text) const {
    while (!text.empty()) {
      const ssize_t written = ::write(fd_, text.data(), text.size());
      if (written < 0) {
        if (errno == EINTR) continue;
        throw OSError("Cannot write the " + noun_ +
                      " prompt to the terminal: " + system_error_text(errno));
      }
      text.remove_prefix(static_cast<std::size_t>(written));
    }
  }

 private:
  int fd_;
  std::string noun_;
};

// Catches, for the duration of the prompt, every signal that asks the process to stop and that it
// does not ignore, so that the terminal's echo is back on before the signal takes its course.
class SignalCatcher {
 public:
  SignalCatcher() {
    if (::pipe2(wake_pipe_.data(), O_CLOEXEC | O_NONBLOCK) != 0)
      throw OSError("Cannot prepare the terminal prompt: " + system_error_text(errno));
    interrupting_signal = 0;
    signal_wake_descriptor = wake_pipe_[1];
    struct sigaction catching {};
    catching.sa_handler = &note_interrupting_signal;
    sigemptyset(&catching.sa_mask);
    // The other threads' calls go on; the prompt's wait returns through the pipe.
    catching.sa_flags = SA_RESTART;
    for (const int signal_number : base::signals::stop_requests()) {
      const auto index = static_cast<std::size_t>(signal_number);
      if (::sigaction(signal_number, nullptr, &previous_actions_[index]) != 0) continue;
      // A signal the process ignores (nohup, a background job) stays ignored.
      if (previous_actions_[index].sa_handler == SIG_IGN) continue;
      installed_[index] = ::sigaction(signal_number, &catching, nullptr) == 0;
    }
  }
  ~SignalCatcher() {
    for (const int signal_number : base::signals::stop_requests()) {
      const auto index = static_cast<std::size_t>(signal_number);
      if (installed_[index]) ::sigaction(signal_number, &previous_actions_[index], nullptr);
    }
    signal_wake_descriptor = -1;
    ::close(wake_pipe_[0]);
    ::close(wake_pipe_[1]);
  }
  SignalCatcher(const SignalCatcher&) = delete;
  SignalCatcher& operator=(const SignalCatcher&) = delete;

  /// The end of the pipe that becomes readable once a caught signal has arrived.
  [[nodiscard]] int wake_descriptor() const noexcept { return wake_pipe_[0]; }

 private:
  std::array<int, 2> wake_pipe_{-1, -1};
  std::array<struct sigaction, NSIG> previous_actions_{};
  std::array<bool, NSIG> installed_{};
};

class EchoOff {
 public:
  explicit EchoOff(int fd) : fd_(fd) {
    if (::tcgetattr(fd_, &saved_) != 0) {
      throw OSError("Cannot read the terminal settings: " + system_error_text(errno));
    }
    termios silent = saved_;
    silent.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL);
    silent.c_lflag |= ICANON;
    if (::tcsetattr(fd_, TCSAFLUSH, &silent) != 0) {
      throw OSError("Cannot switch the terminal echo off: " + system_error_text(errno));
    }
  }
  ~EchoOff() { ::tcsetattr(fd_, TCSAFLUSH, &saved_); }
  EchoOff(const EchoOff&) = delete;
  EchoOff& operator=(const EchoOff&) = delete;

 private:
  int fd_;
  termios saved_{};
};

enum class ReadOutcome { line, interrupted };

// Reads up to the line end; returns `interrupted` when one of the catcher's signals arrived.
ReadOutcome read_line(int fd, const SignalCatcher& catcher, const std::string& noun,
                      std::string& line) {
  std::array<char, 256> buffer{};
  for (;;) {
    std::array<pollfd, 2> waiting{pollfd{fd, POLLIN, 0},
                                  pollfd{catcher.wake_descriptor(), POLLIN, 0}};
    const int ready = ::poll(waiting.data(), waiting.size(), -1);
    if (ready < 0) {
      if (errno == EINTR) continue;
      throw OSError("Cannot wait for the terminal: " + system_error_text(errno));
    }
    if (interrupting_signal != 0) return ReadOutcome::interrupted;
    if (waiting[0].revents == 0) continue;
    const ssize_t count = ::read(fd, buffer.data(), buffer.size());
    if (count < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      throw OSError("Cannot read the " + noun + " from the terminal: " + system_error_text(errno));
    }
    if (count == 0) {
      if (line.empty()) throw OSError("No " + noun + " was typed: the terminal input ended.");
      return ReadOutcome::line;
    }
    const std::string_view chunk(buffer.data(), static_cast<std::size_t>(count));
    const auto line_end = chunk.find('\n');
    line.append(chunk.substr(0, line_end));
    if (line_end != std::string_view::npos) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return ReadOutcome::line;
    }
  }
}

}  // namespace

std::string ControllingTerminal::read_secret(const std::string& prompt) {
  TerminalFile terminal(use_);
  std::string line;
  ReadOutcome outcome;
  {
    SignalCatcher catcher;
    {
      EchoOff echo_off(terminal.fd());
      terminal.write_text(prompt);
      outcome = read_line(terminal.fd(), catcher, use_.noun, line);
    }
    // The typed line end was not echoed; end the prompt's line ourselves.
    terminal.write_text("\n");
  }
  if (outcome == ReadOutcome::interrupted) {
    // Echo and signal handling are back as they were: let the interrupt take its usual course.
    std::raise(static_cast<int>(interrupting_signal));
    throw OSError("The " + use_.noun + " prompt was interrupted.");
  }
  return line;
}

}  // namespace generator::controller
