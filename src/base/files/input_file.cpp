#include "base/files/input_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "base/files/file_kind.hpp"

namespace base::files {

namespace {

// The problem with reading a file of this status, if any.
std::optional<InputProblem> problem_of(const struct stat& status) {
  // The null device (major 1, minor 3 on Linux) reads as empty and never waits.
  const bool null_device = S_ISCHR(status.st_mode) && status.st_rdev == makedev(1, 3);
  if (S_ISREG(status.st_mode) || null_device) return std::nullopt;
  return S_ISDIR(status.st_mode) ? InputProblem::directory : InputProblem::not_a_file;
}

bool is_absence(int error_number) { return error_number == ENOENT || error_number == ENOTDIR; }

}  // namespace

std::optional<InputFile> InputFile::open_if_present(const std::filesystem::path& path) {
  // Looked at before it is opened, so that a device is not even opened (opening some has effects
  // of its own), and again once it is, in case another file took its place in between.
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) {
    const int error_number = errno;
    if (is_absence(error_number)) return std::nullopt;
    throw InputFileError(path, std::strerror(error_number), InputProblem::unreadable);
  }
  if (const auto problem = problem_of(status))
    throw InputFileError(path, not_a_regular_file(status.st_mode), *problem);
  const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (descriptor < 0) {
    const int error_number = errno;
    if (is_absence(error_number)) return std::nullopt;
    throw InputFileError(path, std::strerror(error_number), InputProblem::unreadable);
  }
  InputFile file(path, descriptor);
  if (::fstat(descriptor, &status) != 0)
    throw InputFileError(path, std::strerror(errno), InputProblem::unreadable);
  if (const auto problem = problem_of(status))
    throw InputFileError(path, not_a_regular_file(status.st_mode), *problem);
  // Reads of a regular file never wait; the flag only had to keep the open from waiting.
  const int flags = ::fcntl(descriptor, F_GETFL);
  if (flags >= 0) (void)::fcntl(descriptor, F_SETFL, flags & ~O_NONBLOCK);
  return file;
}

InputFile::InputFile(InputFile&& other) noexcept
    : path_(std::move(other.path_)), descriptor_(std::exchange(other.descriptor_, -1)) {}

InputFile& InputFile::operator=(InputFile&& other) noexcept {
  if (this != &other) {
    if (descriptor_ >= 0) ::close(descriptor_);
    path_ = std::move(other.path_);
    descriptor_ = std::exchange(other.descriptor_, -1);
  }
  return *this;
}

InputFile::~InputFile() {
  if (descriptor_ >= 0) ::close(descriptor_);
}

std::optional<std::string> InputFile::read_up_to(std::size_t limit) {
  std::string contents;
  char buffer[65536];
  for (;;) {
    const ssize_t count = ::read(descriptor_, buffer, sizeof buffer);
    if (count == 0) return contents;
    if (count < 0) {
      if (errno == EINTR) continue;
      throw InputFileError(path_, std::strerror(errno), InputProblem::unreadable);
    }
    if (static_cast<std::size_t>(count) > limit - contents.size()) return std::nullopt;
    contents.append(buffer, static_cast<std::size_t>(count));
  }
}

int InputFile::release() noexcept { return std::exchange(descriptor_, -1); }

}  // namespace base::files
