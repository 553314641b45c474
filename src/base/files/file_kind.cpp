#include "base/files/file_kind.hpp"

#include <sys/stat.h>

namespace base::files {

std::string file_kind_name(mode_t mode) {
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISFIFO(mode)) return "a named pipe";
  if (S_ISSOCK(mode)) return "a socket";
  return "a special file";
}

std::string not_a_regular_file(mode_t mode) {
  return "it is " + file_kind_name(mode) + ", not a regular file";
}

}  // namespace base::files
