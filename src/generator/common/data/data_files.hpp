#pragma once

#include <filesystem>
#include <string>

namespace generator::data {

/// The "data" folder that belongs to the running program: beside the executable in a build tree,
/// or the package's share folder when installed. Fails with FileNotFoundError when neither exists.
std::filesystem::path data_directory();

/// The whole text of a file of the data folder.
std::string read_data_file(const std::string& name);

}  // namespace generator::data
