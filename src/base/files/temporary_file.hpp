#pragma once

#include <cstddef>
#include <filesystem>

namespace base::files {

/// A new empty temporary file beside a target file, removed again unless it is renamed over the
/// target. While it exists it is also removed when a signal ends the process (SIGINT, SIGTERM,
/// SIGHUP, SIGQUIT, SIGPIPE, SIGXFSZ, ... whatever the process leaves to the default action): the
/// signal handler unlinks every such file, then the signal ends the process as it would have.
class TemporaryFile {
 public:
  /// Creates ".<name>.tmp-XXXXXX" in the target's folder; fails with OSError naming the target.
  explicit TemporaryFile(const std::filesystem::path& target);
  /// Removes the file unless rename_over succeeded.
  ~TemporaryFile();
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  /// Where the temporary file is.
  [[nodiscard]] const std::filesystem::path& path() const noexcept { return path_; }

  /// Renames the file over the target it was made for; fails with OSError naming the target and
  /// keeps the file for the destructor to remove.
  void rename_over_target();

 private:
  std::filesystem::path target_;
  std::filesystem::path path_;
  std::size_t slot_;
  bool renamed_ = false;
};

}  // namespace base::files
