#include "base/signals/ending_signals.hpp"

#include <algorithm>
#include <array>

namespace base::signals {

namespace {

// The fixed signals whose default action is to end the process (signal(7)); SIGKILL cannot be
// caught. The real-time signals, which end it too, are numbered only at run time.
constexpr std::array FIXED_ENDING_SIGNALS = {
    SIGHUP,  SIGINT,    SIGQUIT, SIGILL,  SIGTRAP, SIGABRT, SIGBUS,    SIGFPE,
    SIGUSR1, SIGSEGV,   SIGUSR2, SIGPIPE, SIGALRM, SIGTERM, SIGSTKFLT, SIGXCPU,
    SIGXFSZ, SIGVTALRM, SIGPROF, SIGIO,   SIGPWR,  SIGSYS};

constexpr std::array FAULT_SIGNALS = {SIGILL, SIGTRAP, SIGABRT, SIGBUS, SIGFPE, SIGSEGV, SIGSYS};

}  // namespace

const std::vector<int>& ending_signals() {
  static const std::vector<int> signals = [] {
    std::vector<int> numbers(FIXED_ENDING_SIGNALS.begin(), FIXED_ENDING_SIGNALS.end());
    for (int number = SIGRTMIN; number <= SIGRTMAX; ++number) numbers.push_back(number);
    std::sort(numbers.begin(), numbers.end());
    return numbers;
  }();
  return signals;
}

bool is_fault_signal(int signal_number) noexcept {
  return std::find(FAULT_SIGNALS.begin(), FAULT_SIGNALS.end(), signal_number) !=
         FAULT_SIGNALS.end();
}

bool is_fault(const siginfo_t& info) noexcept {
  // The kernel's own reports of a fault carry a positive code (SEGV_MAPERR, FPE_INTDIV); kill(),
  // raise() and abort() leave zero or a negative one.
  return is_fault_signal(info.si_signo) && info.si_code > 0;
}

const std::vector<int>& stop_requests() {
  static const std::vector<int> signals = [] {
    std::vector<int> numbers;
    for (const int number : ending_signals())
      if (!is_fault_signal(number)) numbers.push_back(number);
    return numbers;
  }();
  return signals;
}

sigset_t stop_request_set() {
  sigset_t set;
  sigemptyset(&set);
  for (const int number : stop_requests()) sigaddset(&set, number);
  return set;
}

}  // namespace base::signals
