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

/// A new empty temporary folder beside a target folder, for a folder of files written all or
/// nothing; it and what stands in it are removed when it is dropped, and also when SIGINT, SIGTERM
/// or SIGHUP stops the process (the signal handler removes the files directly in it and then the
/// folder).
class TemporaryFolder {
 public:
  /// Creates ".<name>.tmp-XXXXXX" in the target's folder; fails with OSError naming the target.
  explicit TemporaryFolder(const std::filesystem::path& target);
  /// Removes whatever stands at the temporary path: the new folder, or after swap_with_target the
  /// one it replaced.
  ~TemporaryFolder();
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;

  /// Where the temporary folder is.
  [[nodiscard]] const std::filesystem::path& path() const noexcept { return path_; }

  /// Puts the folder in the target's place in one step; a folder that stood there takes the
  /// temporary path instead. Fails with OSError naming the target.
  void swap_with_target();
  /// Undoes swap_with_target: the previous folder (or none) stands at the target again.
  void swap_back();

 private:
  std::filesystem::path target_;
  std::filesystem::path path_;
  std::size_t slot_;
  bool target_existed_ = false;
};

}  // namespace base::files
