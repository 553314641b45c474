#pragma once

// How the messages name a thing in the file system that is not a regular file.

#include <sys/types.h>

#include <string>

namespace base::files {

/// What a file of this mode is, for a message that refuses it: "a directory", "a named pipe",
/// "a character device", "a block device", "a socket", else "a special file".
[[nodiscard]] std::string file_kind_name(mode_t mode);

/// "it is <file_kind_name>, not a regular file": why such a file is refused.
[[nodiscard]] std::string not_a_regular_file(mode_t mode);

}  // namespace base::files
