#pragma once

#include <filesystem>
#include <functional>
#include <string_view>

namespace generator::files {

/// Writes `target` all or nothing: `write` fills a new temporary file beside the target (its path
/// is passed in), which is flushed to disk and renamed over the target only when `write` returned.
/// On any failure the temporary file is removed, the target is left as it was, and the error passes
/// on (OSError for the file system's own failures, naming the target).
void replace_file_atomically(
    const std::filesystem::path& target,
    const std::function<void(const std::filesystem::path& temporary)>& write);

/// replace_file_atomically with `contents` as the whole new text of the file.
void write_text_atomically(const std::filesystem::path& target, std::string_view contents);

}  // namespace generator::files
