#pragma once

// The generate program: command line, example configuration, configuration file, one controller
// login and one scan of the estate, and the outputs written from it (discovery file, address map,
// workbook, or the --verify check and its refreshed file).

#include <cstddef>
#include <exception>
#include <optional>
#include <string>
#include <vector>

namespace generator::generate {

/// Regions scanned at once unless --jobs says otherwise, and the most it may say.
inline constexpr std::size_t DEFAULT_JOBS = 8;
inline constexpr std::size_t MAX_JOBS = 256;

/// Runs the program on `args` (without the program name); `program_name` is shown in usage,
/// help and --version. Errors pass to the caller.
void main(const std::vector<std::string>& args, const std::string& program_name);

/// The kind shown before the message of an error that is not one of the generator's own: AWS
/// refusals ("ClientError"), missing AWS credentials, unreachable peers, the migration model's
/// refusals; nothing for errors it does not know.
std::optional<std::string> name_error_kind(const std::exception& error);

}  // namespace generator::generate
