#pragma once

// The one place where a program's errors end up: message on standard error, named exit status.

#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace generator::cli {

/// A program's run: the arguments without the program name, and the name it was started under.
using ProgramEntry =
    std::function<void(const std::vector<std::string>& args, const std::string& program_name)>;

/// Names the kind of an error that is not one of the generator's own (an AWS error, say); returns
/// nothing for errors it does not know.
using ErrorKindNamer = std::function<std::optional<std::string>(const std::exception& error)>;

/// Configures the logger, runs the entry and turns its outcome into an exit status: 0 on success,
/// 2 with usage and message after a usage error, 1 with "<Kind>: <message>" after any other error.
int run_program(int argc, char** argv, const ProgramEntry& entry,
                const ErrorKindNamer& name_error_kind = {});

}  // namespace generator::cli
