#pragma once

#include <filesystem>
#include <functional>
#include <string_view>

namespace generator::files {

/// Writes `target` all or nothing: `write` fills a new temporary file beside the target (its path
/// is passed in), which is flushed to disk and renamed over the target only when `write` returned.
/// A target that is a symbolic link has the file it leads to replaced, and stays a link; a target
/// that is no regular file (a directory, a device) is refused before anything is written. On any
/// failure, or when the process is stopped by SIGINT, SIGTERM or SIGHUP, the temporary file is
/// removed and the target is left as it was; errors pass on (OSError for the file system's own
/// failures, naming the target).
void replace_file_atomically(
    const std::filesystem::path& target,
    const std::function<void(const std::filesystem::path& temporary)>& write);

/// replace_file_atomically with `contents` as the whole new text of the file.
void write_text_atomically(const std::filesystem::path& target, std::string_view contents);

}  // namespace generator::files
