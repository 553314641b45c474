#pragma once

// The signals that end the process unless it handles them, for the pieces that must put something
// right first (remove temporary files, switch the terminal's echo back on).

#include <csignal>
#include <vector>

namespace base::signals {

/// Every signal a process can catch whose default action ends it, with or without a core dump
/// (SIGHUP, SIGINT, SIGQUIT, SIGPIPE, SIGALRM, SIGTERM, SIGUSR1, SIGXFSZ, the real-time signals,
/// the faults such as SIGSEGV, ...), in ascending order.
[[nodiscard]] const std::vector<int>& ending_signals();

/// Whether `signal_number` is one a process raises on itself by faulting (SIGSEGV, SIGBUS, SIGFPE,
/// SIGILL, SIGTRAP, SIGSYS) or aborting (SIGABRT): a handler must not take it for a request to stop
/// that can wait until the handler returns.
[[nodiscard]] bool is_fault_signal(int signal_number) noexcept;

/// Whether `info` is a fault of the running code itself (a bad address, a division by zero) rather
/// than a signal that someone sent: it comes back as soon as its handler returns, so a handler
/// that restores the previous handling and returns hands it on. Async-signal-safe.
[[nodiscard]] bool is_fault(const siginfo_t& info) noexcept;

/// The signals of ending_signals() less the fault signals: those that ask the process to stop, in
/// ascending order.
[[nodiscard]] const std::vector<int>& stop_requests();

/// The same as a signal set.
[[nodiscard]] sigset_t stop_request_set();

}  // namespace base::signals
