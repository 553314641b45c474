#include "generator/log/line_printer.hpp"

#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <ctime>

namespace generator::log {

namespace {

// Back to the start of the row, and the row emptied.
constexpr std::string_view ERASE_LINE = "\r\x1b[K";

// Whether the reader of standard error has gone (the other end of a pipe closed, `| head`).
std::atomic<bool> standard_error_gone{false};

// Writes `text` to standard error; once its reader has gone, the messages are dropped. Losing them
// must not end the run: the scan goes on and writes its files. The SIGPIPE that a write to a
// closed pipe raises goes to the writing thread, so it is held back here and taken off again
// before it can reach the process.
void write_standard_error(std::string_view text) {
  if (standard_error_gone.load(std::memory_order_relaxed)) return;
  sigset_t pipe_signal;
  sigemptyset(&pipe_signal);
  sigaddset(&pipe_signal, SIGPIPE);
  sigset_t previous_mask;
  ::pthread_sigmask(SIG_BLOCK, &pipe_signal, &previous_mask);
  // One that was waiting already is someone else's to take.
  sigset_t pending;
  const bool was_pending = ::sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
  while (!text.empty()) {
    const ssize_t written = ::write(STDERR_FILENO, text.data(), text.size());
    if (written >= 0) {
      text.remove_prefix(static_cast<std::size_t>(written));
      continue;
    }
    if (errno == EINTR) continue;
    if (errno == EPIPE) {
      standard_error_gone.store(true, std::memory_order_relaxed);
      if (!was_pending) {
        const timespec no_wait{0, 0};
        (void)::sigtimedwait(&pipe_signal, nullptr, &no_wait);
      }
    }
    // Any other failure loses this message only: there is nowhere left to report it.
    break;
  }
  ::pthread_sigmask(SIG_SETMASK, &previous_mask, nullptr);
}

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
  static LinePrinter* const printer = new LinePrinter(&write_standard_error);
  return *printer;
}

}  // namespace generator::log
