#include "base/files/temporary_file.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>

#include "base/errors.hpp"
#include "base/signals/ending_signals.hpp"

namespace base::files {

namespace {

// A signal handler may only touch memory that is fully written before it can run, so the paths
// live in a fixed table of plain arrays; every change to the table happens with the stop requests
// blocked (a fault cannot wait).
struct Slot {
  volatile std::sig_atomic_t in_use;
  volatile std::sig_atomic_t is_folder;
  std::array<char, PATH_MAX> path;
};
constexpr std::size_t SLOT_COUNT = 8;
std::array<Slot, SLOT_COUNT> slots{};
std::size_t slots_in_use = 0;
// By signal number: the handling this table's handler took over, and whether it did.
std::array<struct sigaction, NSIG> previous_actions{};
std::array<bool, NSIG> installed{};

// Removes a folder of files (no folders inside) with calls a signal handler may make: the
// directory's entries read with the system call itself, as readdir may allocate.
void remove_flat_folder(const char* path) {
  const int folder = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    alignas(8) static char entries[4096];
    // Entries removed while the folder is read may be skipped, so it is read again from the
    // start until a reading removes nothing.
    for (bool removed = true; removed;) {
      removed = false;
      ::lseek(folder, 0, SEEK_SET);
      for (;;) {
        const long count = ::syscall(SYS_getdents64, folder, entries, sizeof entries);
        if (count <= 0) break;
        for (long offset = 0; offset < count;) {
          const auto* entry = reinterpret_cast<const struct dirent64*>(entries + offset);
          const char* name = entry->d_name;
          const bool dots =
              name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
          if (!dots && ::unlinkat(folder, name, 0) == 0) removed = true;
          offset += entry->d_reclen;
        }
      }
    }
    ::close(folder);
  }
  ::rmdir(path);
}

extern "C" void remove_temporary_files(int signal_number, siginfo_t* info, void* /*context*/) {
  for (const Slot& slot : slots) {
    if (slot.in_use == 0) continue;
    if (slot.is_folder != 0)
      remove_flat_folder(slot.path.data());
    else
      ::unlink(slot.path.data());
  }
  ::sigaction(signal_number, &previous_actions[static_cast<std::size_t>(signal_number)], nullptr);
  // A fault recurs as soon as the handler returns, and meets its previous handling then (a core
  // dump, a sanitizer's report). A signal that was sent is sent again: it is blocked while this
  // handler runs, and takes its previous course on return.
  if (info == nullptr || !signals::is_fault(*info)) ::raise(signal_number);
}

// Holds the stop requests back for as long as the table is being changed.
class SignalsHeldBack {
 public:
  SignalsHeldBack() {
    const sigset_t set = signals::stop_request_set();
    ::pthread_sigmask(SIG_BLOCK, &set, &previous_mask_);
  }
  ~SignalsHeldBack() { ::pthread_sigmask(SIG_SETMASK, &previous_mask_, nullptr); }
  SignalsHeldBack(const SignalsHeldBack&) = delete;
  SignalsHeldBack& operator=(const SignalsHeldBack&) = delete;

 private:
  sigset_t previous_mask_{};
};

void install_handlers() {
  struct sigaction removing {};
  removing.sa_sigaction = &remove_temporary_files;
  removing.sa_mask = signals::stop_request_set();
  removing.sa_flags = SA_SIGINFO | SA_RESTART | SA_ONSTACK;
  for (const int signal_number : signals::ending_signals()) {
    const auto index = static_cast<std::size_t>(signal_number);
    installed[index] = false;
    if (::sigaction(signal_number, nullptr, &previous_actions[index]) != 0) continue;
    // Only where the signal would end the process as it stands: one it ignores (nohup, a
    // background job) stays ignored, and one that something else handles (a sanitizer's fault
    // report, a profiler's clock) stays with it.
    const bool ends_the_process = (previous_actions[index].sa_flags & SA_SIGINFO) == 0 &&
                                  previous_actions[index].sa_handler == SIG_DFL;
    if (ends_the_process) installed[index] = ::sigaction(signal_number, &removing, nullptr) == 0;
  }
}

void restore_handlers() {
  for (const int signal_number : signals::ending_signals()) {
    const auto index = static_cast<std::size_t>(signal_number);
    if (installed[index]) ::sigaction(signal_number, &previous_actions[index], nullptr);
    installed[index] = false;
  }
}

[[noreturn]] void fail(const std::string& what, const std::filesystem::path& target,
                       int error_number) {
  throw OSError(what + " " + target.string() + ": " + std::strerror(error_number),
                std::strerror(error_number));
}

// Clears a slot; the caller holds the signals back.
void release(std::size_t slot) {
  slots[slot].in_use = 0;
  if (--slots_in_use == 0) restore_handlers();
}

// ".<name>.tmp-XXXXXX" in the target's folder. A name near the longest a folder takes (or a path
// near the longest the system takes) is shortened in the temporary name only, so that every file
// that can be written can also be written through a temporary file.
std::string temporary_pattern(const std::filesystem::path& target) {
  const std::filesystem::path directory = target.has_parent_path() ? target.parent_path() : ".";
  constexpr std::string_view SUFFIX = ".tmp-XXXXXX";
  const std::string folder = (directory / "").string();
  std::string name = target.filename().string();
  constexpr std::size_t LONGEST_NAME = NAME_MAX;
  constexpr std::size_t LONGEST_PATH = PATH_MAX - 1;
  const std::size_t fixed = folder.size() + 1 + SUFFIX.size();
  const std::size_t room_in_path = LONGEST_PATH > fixed ? LONGEST_PATH - fixed : 0;
  std::size_t keep = std::min({name.size(), LONGEST_NAME - 1 - SUFFIX.size(), room_in_path});
  // Cut between characters, not inside one, so that the name stays readable.
  while (keep > 0 && keep < name.size() && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80)
    --keep;
  name.resize(keep);
  return folder + "." + name + std::string(SUFFIX);
}


// Takes a free slot for a new temporary file or folder made from `pattern` ("...XXXXXX"); the
// caller holds the signals back.
std::size_t take_slot(const std::string& pattern, bool folder, const std::filesystem::path& target) {
  if (pattern.size() >= PATH_MAX) fail("Cannot write", target, ENAMETOOLONG);
  std::size_t free_slot = 0;
  while (free_slot < SLOT_COUNT && slots[free_slot].in_use != 0) ++free_slot;
  if (free_slot == SLOT_COUNT) fail("Cannot write", target, EMFILE);
  Slot& slot = slots[free_slot];
  std::memcpy(slot.path.data(), pattern.c_str(), pattern.size() + 1);
  if (folder) {
    if (::mkdtemp(slot.path.data()) == nullptr) fail("Cannot write", target, errno);
  } else {
    const int descriptor = ::mkstemp(slot.path.data());
    if (descriptor < 0) fail("Cannot write", target, errno);
    ::close(descriptor);
  }
  slot.is_folder = folder ? 1 : 0;
  slot.in_use = 1;
  if (++slots_in_use == 1) install_handlers();
  return free_slot;
}

}  // namespace

TemporaryFile::TemporaryFile(const std::filesystem::path& target) : target_(target) {
  const SignalsHeldBack held_back;
  slot_ = take_slot(temporary_pattern(target), false, target);
  path_ = slots[slot_].path.data();
}

TemporaryFile::~TemporaryFile() {
  if (renamed_) return;
  const SignalsHeldBack held_back;
  ::unlink(path_.c_str());
  release(slot_);
}

void TemporaryFile::rename_over_target() {
  const SignalsHeldBack held_back;
  if (::rename(path_.c_str(), target_.c_str()) != 0) fail("Cannot replace", target_, errno);
  renamed_ = true;
  release(slot_);
}

TemporaryFolder::TemporaryFolder(const std::filesystem::path& target) : target_(target) {
  const SignalsHeldBack held_back;
  slot_ = take_slot(temporary_pattern(target), true, target);
  path_ = slots[slot_].path.data();
}

TemporaryFolder::~TemporaryFolder() {
  // Whatever stands at the temporary path now: the new folder when it never took the target's
  // place, or the previous one after it did.
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
  const SignalsHeldBack held_back;
  release(slot_);
}

void TemporaryFolder::swap_with_target() {
  const SignalsHeldBack held_back;
  struct stat status {};
  target_existed_ = ::lstat(target_.c_str(), &status) == 0;
  const unsigned flags = target_existed_ ? RENAME_EXCHANGE : RENAME_NOREPLACE;
  if (::renameat2(AT_FDCWD, path_.c_str(), AT_FDCWD, target_.c_str(), flags) != 0)
    fail("Cannot replace", target_, errno);
}

void TemporaryFolder::swap_back() {
  const SignalsHeldBack held_back;
  const int done = target_existed_ ? ::renameat2(AT_FDCWD, path_.c_str(), AT_FDCWD,
                                                 target_.c_str(), RENAME_EXCHANGE)
                                   : ::rename(target_.c_str(), path_.c_str());
  if (done != 0) fail("Cannot put back", target_, errno);
}

}  // namespace base::files
