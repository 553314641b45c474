#include "base/files/atomic_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "base/errors.hpp"
#include "base/files/output_path.hpp"
#include "base/files/temporary_file.hpp"

namespace base::files {

namespace {

[[noreturn]] void fail(const std::string& what, const std::filesystem::path& target,
                       int error_number) {
  throw OSError(what + " " + target.string() + ": " + std::strerror(error_number),
                std::strerror(error_number));
}

// mkstemp creates files readable by the owner only; an output file gets the usual mode instead,
// or the mode the file it replaces had.
mode_t mode_for(const std::filesystem::path& target) {
  struct stat existing {};
  if (::stat(target.c_str(), &existing) == 0) return existing.st_mode & 07777;
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

}  // namespace

void replace_file_atomically(
    const std::filesystem::path& target,
    const std::function<void(const std::filesystem::path& temporary)>& write, FileAccess access) {
  if (const auto problem = output_path_problem(target))
    throw OSError("Cannot write " + target.string() + ": " + *problem, *problem);
  // Through a symbolic link the file it leads to is replaced, so the link stays a link.
  const std::filesystem::path destination = resolve_output_target(target);
  TemporaryFile temporary(destination);
  write(temporary.path());
  const int written = ::open(temporary.path().c_str(), O_RDONLY);
  if (written < 0) fail("Cannot write", target, errno);
  const int synced = ::fsync(written);
  const int sync_error = errno;
  ::close(written);
  if (synced != 0) fail("Cannot write", target, sync_error);
  const mode_t mode = access == FileAccess::owner_only ? 0600 : mode_for(destination);
  if (::chmod(temporary.path().c_str(), mode) != 0)
    fail("Cannot write", target, errno);
  temporary.rename_over_target();
}

void write_text_atomically(const std::filesystem::path& target, std::string_view contents,
                           FileAccess access) {
  replace_file_atomically(target, [&](const std::filesystem::path& temporary) {
    const int descriptor = ::open(temporary.c_str(), O_WRONLY | O_TRUNC);
    if (descriptor < 0) fail("Cannot write", target, errno);
    std::size_t done = 0;
    while (done < contents.size()) {
      const ssize_t count = ::write(descriptor, contents.data() + done, contents.size() - done);
      if (count < 0) {
        if (errno == EINTR) continue;
        const int error_number = errno;
        ::close(descriptor);
        fail("Cannot write", target, error_number);
      }
      done += static_cast<std::size_t>(count);
    }
    if (::close(descriptor) != 0) fail("Cannot write", target, errno);
  }, access);
}

}  // namespace base::files
