#include "base/files/atomic_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

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

// Flushes the text of `descriptor` to disk and closes it, so that a failed write shows before the
// file takes the target's place.
void flush_and_close(int descriptor, const std::filesystem::path& target) {
  const int synced = ::fsync(descriptor);
  const int sync_error = errno;
  const int closed = ::close(descriptor);
  const int close_error = errno;
  if (synced != 0) fail("Cannot write", target, sync_error);
  if (closed != 0) fail("Cannot write", target, close_error);
}

// Gives the finished temporary file the target's mode and renames it over the target.
void put_in_place(TemporaryFile& temporary, const std::filesystem::path& target,
                  const std::filesystem::path& destination, FileAccess access) {
  const mode_t mode = access == FileAccess::owner_only ? 0600 : mode_for(destination);
  if (::chmod(temporary.path().c_str(), mode) != 0) fail("Cannot write", target, errno);
  temporary.rename_over_target();
}

// The target as it will be replaced: checked, and through a symbolic link the file it leads to,
// so that the link stays a link.
std::filesystem::path checked_destination(const std::filesystem::path& target) {
  if (const auto problem = output_path_problem(target))
    throw OSError("Cannot write " + target.string() + ": " + *problem, *problem);
  return resolve_output_target(target);
}

}  // namespace

FileReplacement::FileReplacement(const std::filesystem::path& target, FileAccess access)
    : target_(target),
      destination_(checked_destination(target)),
      access_(access),
      temporary_(std::make_unique<TemporaryFile>(destination_)) {}

FileReplacement::~FileReplacement() = default;

const std::filesystem::path& FileReplacement::temporary() const { return temporary_->path(); }

void FileReplacement::commit() {
  if (std::exchange(committed_, true))
    throw OSError("Cannot write " + target_.string() + ": already committed", "already committed");
  const int written = ::open(temporary_->path().c_str(), O_RDONLY | O_CLOEXEC);
  if (written < 0) fail("Cannot write", target_, errno);
  flush_and_close(written, target_);
  put_in_place(*temporary_, target_, destination_, access_);
}

void replace_file_atomically(
    const std::filesystem::path& target,
    const std::function<void(const std::filesystem::path& temporary)>& write, FileAccess access) {
  FileReplacement replacement(target, access);
  write(replacement.temporary());
  replacement.commit();
}

AtomicFileWriter::AtomicFileWriter(const std::filesystem::path& target, FileAccess access)
    : target_(target), replacement_(target, access) {
  descriptor_ = ::open(replacement_.temporary().c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (descriptor_ < 0) fail("Cannot write", target_, errno);
}

AtomicFileWriter::~AtomicFileWriter() {
  if (descriptor_ >= 0) ::close(descriptor_);
}

void AtomicFileWriter::append(std::string_view text) {
  if (descriptor_ < 0) throw OSError("Cannot write " + target_.string() + ": already committed",
                                     "already committed");
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t count = ::write(descriptor_, text.data() + done, text.size() - done);
    if (count < 0) {
      if (errno == EINTR) continue;
      fail("Cannot write", target_, errno);
    }
    done += static_cast<std::size_t>(count);
  }
}

void AtomicFileWriter::commit() {
  if (descriptor_ < 0) throw OSError("Cannot write " + target_.string() + ": already committed",
                                     "already committed");
  // The replacement flushes the file to disk through a descriptor of its own.
  if (::close(std::exchange(descriptor_, -1)) != 0) fail("Cannot write", target_, errno);
  replacement_.commit();
}

FolderReplacement::FolderReplacement(const std::filesystem::path& target) : target_(target) {
  if (const auto problem = output_folder_problem(target))
    throw OSError("Cannot write " + target.string() + ": " + *problem, *problem);
  temporary_ = std::make_unique<TemporaryFolder>(resolve_output_target(target));
  // mkdtemp makes a folder for its owner alone; the pages are for whoever may read the page.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  if (::chmod(temporary_->path().c_str(), 0777 & ~mask) != 0) fail("Cannot write", target, errno);
}

FolderReplacement::~FolderReplacement() = default;

void FolderReplacement::write_file(const std::string& name, std::string_view text) {
  const std::filesystem::path shown = target_ / name;
  const std::filesystem::path path = temporary_->path() / name;
  const int descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (descriptor < 0) fail("Cannot write", shown, errno);
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t count = ::write(descriptor, text.data() + done, text.size() - done);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) {
      const int error = errno;
      ::close(descriptor);
      fail("Cannot write", shown, error);
    }
    done += static_cast<std::size_t>(count);
  }
  if (::close(descriptor) != 0) fail("Cannot write", shown, errno);
}

std::string FolderReplacement::read_file(const std::string& name) const {
  const std::filesystem::path shown = target_ / name;
  const int descriptor = ::open((temporary_->path() / name).c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) fail("Cannot read", shown, errno);
  std::string text;
  char buffer[1 << 16];
  for (;;) {
    const ssize_t count = ::read(descriptor, buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) {
      const int error = errno;
      ::close(descriptor);
      fail("Cannot read", shown, error);
    }
    if (count == 0) break;
    text.append(buffer, static_cast<std::size_t>(count));
  }
  ::close(descriptor);
  return text;
}

void FolderReplacement::commit(const std::function<void()>& then) {
  // One flush of the file system for every file of the folder, rather than one per file.
  const int folder = ::open(temporary_->path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) fail("Cannot write", target_, errno);
  const int synced = ::syncfs(folder);
  const int sync_error = errno;
  ::close(folder);
  if (synced != 0) fail("Cannot write", target_, sync_error);
  temporary_->swap_with_target();
  if (!then) return;
  try {
    then();
  } catch (...) {
    temporary_->swap_back();
    throw;
  }
}

void write_text_atomically(const std::filesystem::path& target, std::string_view contents,
                           FileAccess access) {
  AtomicFileWriter file(target, access);
  file.append(contents);
  file.commit();
}

}  // namespace base::files
