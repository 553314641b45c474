#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace base::files {

/// Who may read a file written all or nothing.
enum class FileAccess {
  as_before,   // the mode of the file it replaces, or the usual mode (0666 less the umask)
  owner_only,  // 0600 whatever the file had: for files that hold secrets
};

/// Writes `target` all or nothing: `write` fills a new temporary file beside the target (its path
/// is passed in), which is flushed to disk and renamed over the target only when `write` returned.
/// A target that is a symbolic link has the file it leads to replaced, and stays a link; a target
/// that is no regular file (a directory, a device) is refused before anything is written. On any
/// failure, or when a signal ends the process (see TemporaryFile), the temporary file is
/// removed and the target is left as it was; errors pass on (OSError for the file system's own
/// failures, naming the target, with the system's reason apart).
void replace_file_atomically(
    const std::filesystem::path& target,
    const std::function<void(const std::filesystem::path& temporary)>& write,
    FileAccess access = FileAccess::as_before);

class TemporaryFile;

/// A file written all or nothing by a writer that takes a file name (a library that creates its
/// file itself): the writer fills `temporary()`, a new file beside the target, which `commit`
/// flushes to disk and renames over the target. Dropped before `commit` (or when SIGINT, SIGTERM
/// or SIGHUP stops the process), the temporary file is removed and the target is left as it was.
/// The target is checked and resolved as by replace_file_atomically; errors are OSError naming the
/// target.
class FileReplacement {
 public:
  explicit FileReplacement(const std::filesystem::path& target,
                           FileAccess access = FileAccess::as_before);
  ~FileReplacement();
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;

  /// Where the new file is to be written.
  [[nodiscard]] const std::filesystem::path& temporary() const;
  /// Makes what was written at `temporary()` the target's whole content.
  void commit();

 private:
  std::filesystem::path target_;
  std::filesystem::path destination_;
  FileAccess access_;
  std::unique_ptr<TemporaryFile> temporary_;
  bool committed_ = false;
};

/// A file written all or nothing in pieces, for text too large to hold whole: each piece goes to a
/// temporary file beside the target, which `commit` flushes to disk and renames over the target.
/// Dropped before `commit` (or when a signal ends the process), the temporary
/// file is removed and the target is left as it was. The target is checked and resolved as by
/// replace_file_atomically; errors are OSError naming the target.
class AtomicFileWriter {
 public:
  explicit AtomicFileWriter(const std::filesystem::path& target,
                            FileAccess access = FileAccess::as_before);
  ~AtomicFileWriter();
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

  /// Writes `text` after what was written so far.
  void append(std::string_view text);
  /// Makes the text written so far the target's whole content; nothing may be appended after.
  void commit();

 private:
  std::filesystem::path target_;
  FileReplacement replacement_;
  int descriptor_ = -1;
};

class TemporaryFolder;

/// A folder of files written all or nothing, with a file that belongs with it (a page and the
/// folder of pages it links to): the files go into a new temporary folder beside the target, and
/// `commit` puts it in the target's place in one step and then commits the file that goes with it.
/// Dropped before `commit` (or when SIGINT, SIGTERM or SIGHUP stops the process), the temporary
/// folder is removed and the target is left as it was. The target must be absent or a folder (a
/// symbolic link is followed, as for files); errors are OSError naming the file or the folder.
class FolderReplacement {
 public:
  explicit FolderReplacement(const std::filesystem::path& target);
  ~FolderReplacement();
  FolderReplacement(const FolderReplacement&) = delete;
  FolderReplacement& operator=(const FolderReplacement&) = delete;

  /// Writes the file `name` of the new folder, whole; a file written before under that name is
  /// replaced.
  void write_file(const std::string& name, std::string_view text);
  /// The text of the file `name` of the new folder, as written so far.
  [[nodiscard]] std::string read_file(const std::string& name) const;
  /// Flushes the new folder's files to disk, puts the folder in the target's place and runs
  /// `then` (the commit of the file that belongs with it); when `then` fails, the previous folder
  /// is put back and the error passes on. The previous folder is removed.
  void commit(const std::function<void()>& then = {});

 private:
  std::filesystem::path target_;
  std::unique_ptr<TemporaryFolder> temporary_;
};

/// replace_file_atomically with `contents` as the whole new text of the file.
void write_text_atomically(const std::filesystem::path& target, std::string_view contents,
                           FileAccess access = FileAccess::as_before);

}  // namespace base::files
