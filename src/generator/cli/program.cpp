#include "generator/cli/program.hpp"

#include <cstdio>
#include <filesystem>
#include <iostream>

#include "generator/common/errors.hpp"
#include "generator/log/line_printer.hpp"
#include "generator/log/log.hpp"
#include "untrusted/secrets.hpp"
#include "untrusted/untrusted.hpp"

namespace generator::cli {

namespace {

// An error's message may quote what a peer or a file said, a secret of the run included; its own
// line breaks stay, secrets and control characters that would steer the terminal do not.
std::string shown(const char* message) {
  return untrusted::printable(untrusted::redact(message), untrusted::LineBreaks::keep);
}

}  // namespace

int run_program(int argc, char** argv, const ProgramEntry& entry,
                const ErrorKindNamer& name_error_kind) {
  const std::string program_name = argc > 0 && argv[0]
                                       ? std::filesystem::path(argv[0]).filename().string()
                                       : std::string("generate");
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  try {
    log::configure_logger();
    entry(args, program_name);
    std::cout.flush();
    return EXIT_STATUS_SUCCESS;
  } catch (const EarlyExit& exit) {
    std::cout.flush();
    return exit.status();
  } catch (const UsageError& error) {
    std::cout.flush();
    log::standard_error().print_line(std::string(error.usage()) + error.program() +
                                     ": error: " + shown(error.what()));
    return EXIT_STATUS_USAGE;
  } catch (const Error& error) {
    std::cout.flush();
    log::standard_error().print_line(std::string(error.kind()) + ": " + shown(error.what()));
    return EXIT_STATUS_FAILURE;
  } catch (const std::exception& error) {
    std::cout.flush();
    std::optional<std::string> kind;
    if (name_error_kind) kind = name_error_kind(error);
    log::standard_error().print_line(kind.value_or("Error") + ": " + shown(error.what()));
    return EXIT_STATUS_FAILURE;
  }
}

}  // namespace generator::cli
