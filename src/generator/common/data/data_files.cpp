#include "generator/common/data/data_files.hpp"

#include <optional>

#include "base/files/input_file.hpp"
#include "generator/common/errors.hpp"

namespace generator::data {

namespace {

std::filesystem::path executable_directory() {
  std::error_code error;
  const auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return std::filesystem::current_path();
  return executable.parent_path();
}

}  // namespace

std::filesystem::path data_directory() {
  const auto here = executable_directory();
  const std::filesystem::path candidates[] = {here / "data",
                                              here / ".." / "share" / "halvane-discovery" / "data"};
  for (const auto& candidate : candidates) {
    if (std::filesystem::is_directory(candidate)) return candidate.lexically_normal();
  }
  throw FileNotFoundError("No data folder found beside " + here.string() + " (looked in " +
                          candidates[0].string() + " and " +
                          candidates[1].lexically_normal().string() + ")");
}

std::string read_data_file(const std::string& name) {
  const auto path = data_directory() / name;
  std::optional<base::files::InputFile> file = base::files::InputFile::open_if_present(path);
  if (!file) throw FileNotFoundError("No such data file: " + path.string());
  // The files installed beside the programs are a few kilobytes.
  constexpr std::size_t LARGEST_DATA_FILE = 1u << 20;
  std::optional<std::string> text = file->read_up_to(LARGEST_DATA_FILE);
  if (!text) throw ValueError("Cannot read " + path.string() + ": it is larger than 1 MiB");
  return std::move(*text);
}

}  // namespace generator::data
