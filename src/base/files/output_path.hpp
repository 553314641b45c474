#pragma once

// Whether a path can take an output file, checked before a run does its work.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace base::files {

/// The file that writing to `path` replaces or creates: `path` itself, or, when it is a symbolic
/// link, the file the link leads to (through any chain of links), so that the link stays. Fails
/// with OSError on a loop of links.
[[nodiscard]] std::filesystem::path resolve_output_target(const std::filesystem::path& path);

/// Why no output file can be written at `path`, or nothing when one can: the file it leads to must
/// be absent or a regular file (never a directory or a device), in an existing, writable folder.
[[nodiscard]] std::optional<std::string> output_path_problem(const std::filesystem::path& path);

/// Why no output folder can be written at `path` (a folder of files written whole, see
/// FolderReplacement), or nothing when one can: what it leads to must be absent or a folder, in an
/// existing, writable folder.
[[nodiscard]] std::optional<std::string> output_folder_problem(const std::filesystem::path& path);

/// Says why a file of this name cannot be written in its format, or nothing when it can.
using FormatCheck = std::function<std::optional<std::string>(const std::filesystem::path&)>;

/// One output file a run will write, as the operator named it.
struct PlannedOutput {
  std::string option;  // the option that named it, e.g. "--discovery"
  std::filesystem::path path;
  FormatCheck format_problem;  // empty when any name will do
  /// Whether it is a folder written whole (the pages beside a page), which no input or other
  /// output may lie in.
  bool folder = false;
};

/// One file a run reads, as the operator named it (or as the run found it, for a default).
struct PlannedInput {
  std::string option;  // what names it: an option ("--config") or a configuration key
  std::filesystem::path path;
};

/// Checks every planned output before the run begins: each path can take a file
/// (output_path_problem; OSError) or a folder (output_folder_problem), leads to none of the inputs
/// and holds none of them (ValueError), its format can be written (ValueError), and no two outputs
/// lead to the same file, nor one into another's folder (ValueError). Files are compared through
/// symbolic links, ".." and hard links. Messages name the options and the paths.
void check_planned_outputs(const std::vector<PlannedOutput>& outputs,
                           const std::vector<PlannedInput>& inputs = {});

}  // namespace base::files
