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

#include "generator/common/errors.hpp"

namespace generator::controller {

namespace {

constexpr std::array INTERRUPTING_SIGNALS = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// The signal that cut the prompt short. A signal handler can only leave a note; the reading loop
// looks at it once the wait returns.
volatile std::sig_atomic_t interrupting_signal = 0;

extern "C" void note_interrupting_signal(int signal_number) { interrupting_signal = signal_number; }

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

// Catches the interrupting signals for the duration of the prompt and holds them blocked except
// while waiting for input, so that an interrupt is noticed whenever it arrives.
class SignalCatcher {
 public:
  SignalCatcher() {
    interrupting_signal = 0;
    struct sigaction catching {};
    catching.sa_handler = &note_interrupting_signal;
    sigemptyset(&catching.sa_mask);
    catching.sa_flags = 0;  // no SA_RESTART: the wait must return when the signal arrives
    sigset_t blocked;
    sigemptyset(&blocked);
    for (std::size_t i = 0; i < INTERRUPTING_SIGNALS.size(); ++i) {
      const int signal_number = INTERRUPTING_SIGNALS[i];
      sigaction(signal_number, nullptr, &previous_actions_[i]);
      // A signal the process ignores (nohup, a background job) stays ignored.
      if (previous_actions_[i].sa_handler == SIG_IGN) continue;
      sigaction(signal_number, &catching, nullptr);
      installed_[i] = true;
      sigaddset(&blocked, signal_number);
    }
    pthread_sigmask(SIG_BLOCK, &blocked, &previous_mask_);
  }
  ~SignalCatcher() {
    // Handlers first, mask second: a signal still pending then meets the process's own handling.
    for (std::size_t i = 0; i < INTERRUPTING_SIGNALS.size(); ++i) {
      if (installed_[i]) sigaction(INTERRUPTING_SIGNALS[i], &previous_actions_[i], nullptr);
    }
    pthread_sigmask(SIG_SETMASK, &previous_mask_, nullptr);
  }
  SignalCatcher(const SignalCatcher&) = delete;
  SignalCatcher& operator=(const SignalCatcher&) = delete;

  /// The mask to wait under: the one the process had before the prompt.
  [[nodiscard]] const sigset_t* waiting_mask() const noexcept { return &previous_mask_; }

 private:
  std::array<struct sigaction, INTERRUPTING_SIGNALS.size()> previous_actions_{};
  std::array<bool, INTERRUPTING_SIGNALS.size()> installed_{};
  sigset_t previous_mask_{};
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
    pollfd waiting{fd, POLLIN, 0};
    const int ready = ::ppoll(&waiting, 1, nullptr, catcher.waiting_mask());
    if (ready < 0) {
      if (errno != EINTR)
        throw OSError("Cannot wait for the terminal: " + system_error_text(errno));
      if (interrupting_signal != 0) return ReadOutcome::interrupted;
      continue;
    }
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
