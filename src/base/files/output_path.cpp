#include "base/files/output_path.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "base/errors.hpp"
#include "base/files/file_kind.hpp"

namespace base::files {

namespace {

namespace fs = std::filesystem;

// As many links as the kernel itself follows before it gives up with ELOOP.
constexpr int MAX_LINK_HOPS = 40;

// Appended piece by piece: GCC 12 misreads `"'" + text` in optimised builds as an overlapping copy.
std::string quoted(const fs::path& path) {
  std::string text = "'";
  text += path.string();
  text += '\'';
  return text;
}

fs::path folder_of(const fs::path& path) {
  return path.has_parent_path() ? path.parent_path() : ".";
}

// What an output may replace: a regular file, or for a folder written whole a folder.
enum class OutputKind { file, folder };

std::optional<std::string> target_problem(const fs::path& target, OutputKind kind) {
  const bool folder_output = kind == OutputKind::folder;
  if (target.empty()) return folder_output ? "no folder name was given" : "no file name was given";
  struct stat status {};
  if (::stat(target.c_str(), &status) == 0) {
    if (folder_output && !S_ISDIR(status.st_mode))
      return "it is " +
             (S_ISREG(status.st_mode) ? std::string("a regular file") : file_kind_name(status.st_mode)) +
             ", not a folder";
    if (!folder_output && !S_ISREG(status.st_mode)) return not_a_regular_file(status.st_mode);
  } else if (errno != ENOENT) {
    return std::strerror(errno);
  }
  const fs::path folder = folder_of(target);
  if (::stat(folder.c_str(), &status) != 0) {
    if (errno == ENOENT) return "the folder " + quoted(folder) + " does not exist";
    return "the folder " + quoted(folder) + ": " + std::strerror(errno);
  }
  if (!S_ISDIR(status.st_mode)) return quoted(folder) + " is not a folder";
  // The temporary file or folder is created in the folder and renamed there.
  if (::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0)
    return "the folder " + quoted(folder) + " is not writable: " + std::strerror(errno);
  return std::nullopt;
}

// The problem of the output that `path` leads to, naming where a link leads.
std::optional<std::string> output_problem(const fs::path& path, OutputKind kind) {
  fs::path target;
  try {
    target = resolve_output_target(path);
  } catch (const OSError&) {
    return std::strerror(ELOOP);
  }
  auto problem = target_problem(target, kind);
  if (problem && target != path) *problem += " (the link leads to " + quoted(target) + ")";
  return problem;
}

// Where an output lands, so that two names of one file compare equal: the real folder and the
// name in it, and for a file that exists already its device and inode (which hard links share).
struct Landing {
  fs::path place;
  bool exists = false;
  dev_t device = 0;
  ino_t inode = 0;

  [[nodiscard]] bool same_file_as(const Landing& other) const {
    if (exists && other.exists) return device == other.device && inode == other.inode;
    return place == other.place;
  }
};

Landing landing_of(const fs::path& path) {
  const fs::path target = resolve_output_target(path);
  Landing landing;
  std::error_code error;
  const fs::path folder = fs::canonical(folder_of(target), error);
  landing.place = (error ? folder_of(target) : folder) / target.filename();
  struct stat status {};
  if (::stat(target.c_str(), &status) == 0) {
    landing.exists = true;
    landing.device = status.st_dev;
    landing.inode = status.st_ino;
  }
  return landing;
}

// Whether the file or folder of `inner` lies somewhere inside the folder of `outer`.
bool lies_in(const Landing& inner, const Landing& outer) {
  std::error_code error;
  const fs::path place = fs::weakly_canonical(inner.place, error);
  const fs::path within = error ? inner.place : place;
  const fs::path relative = within.lexically_relative(outer.place);
  return !relative.empty() && relative != "." && *relative.begin() != "..";
}

}  // namespace

fs::path resolve_output_target(const fs::path& path) {
  fs::path current = path;
  for (int hop = 0; hop <= MAX_LINK_HOPS; ++hop) {
    struct stat status {};
    if (::lstat(current.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return current;
    std::error_code error;
    const fs::path leads_to = fs::read_symlink(current, error);
    if (error) return current;
    current = leads_to.is_absolute() ? leads_to : current.parent_path() / leads_to;
  }
  throw OSError("Cannot write " + path.string() + ": " + std::strerror(ELOOP),
                std::strerror(ELOOP));
}

std::optional<std::string> output_path_problem(const fs::path& path) {
  return output_problem(path, OutputKind::file);
}

std::optional<std::string> output_folder_problem(const fs::path& path) {
  return output_problem(path, OutputKind::folder);
}

void check_planned_outputs(const std::vector<PlannedOutput>& outputs,
                           const std::vector<PlannedInput>& inputs) {
  // An input behind a loop of links cannot be read, so no output can replace it either.
  std::vector<std::optional<Landing>> input_landings;
  for (const PlannedInput& input : inputs) {
    try {
      input_landings.emplace_back(landing_of(input.path));
    } catch (const OSError&) {
      input_landings.emplace_back();
    }
  }
  std::vector<Landing> landings;
  for (const PlannedOutput& output : outputs) {
    const std::string named = "Cannot write " + output.option + " " + quoted(output.path) + ": ";
    const auto problem =
        output.folder ? output_folder_problem(output.path) : output_path_problem(output.path);
    if (problem) throw OSError(named + *problem);
    landings.push_back(landing_of(output.path));
    // Replacing a file the run still has to read would destroy the operator's own input.
    for (std::size_t index = 0; index < inputs.size(); ++index) {
      if (!input_landings[index]) continue;
      if (output.folder && lies_in(*input_landings[index], landings.back()))
        throw ValueError(named + "it holds the file read by " + inputs[index].option + " " +
                         quoted(inputs[index].path) +
                         ", and it is replaced whole; an output must not replace an input");
      if (!landings.back().same_file_as(*input_landings[index])) continue;
      throw ValueError(named + "it leads to the file read by " + inputs[index].option + " " +
                       quoted(inputs[index].path) + "; an output must not replace an input");
    }
    if (output.format_problem) {
      if (const auto format_problem = output.format_problem(output.path))
        throw ValueError(named + *format_problem);
    }
  }
  for (std::size_t later = 1; later < outputs.size(); ++later) {
    for (std::size_t earlier = 0; earlier < later; ++earlier) {
      for (const auto& [inner, outer] : {std::pair{earlier, later}, std::pair{later, earlier}}) {
        if (!outputs[outer].folder || !lies_in(landings[inner], landings[outer])) continue;
        throw ValueError(outputs[inner].option + " " + quoted(outputs[inner].path) +
                         " lies in the folder of " + outputs[outer].option + " " +
                         quoted(outputs[outer].path) +
                         ", which is replaced whole; each output needs a file of its own");
      }
      if (!landings[earlier].same_file_as(landings[later])) continue;
      throw ValueError(outputs[earlier].option + " " + quoted(outputs[earlier].path) + " and " +
                       outputs[later].option + " " + quoted(outputs[later].path) +
                       " name the same file; each output needs a file of its own");
    }
  }
}

}  // namespace base::files
