#pragma once

#include <stdexcept>
#include <string>

#include "base/errors.hpp"
#include "serializers/errors.hpp"

namespace generator {

// The root of the kinds, and the generic ones that the base layer and the file formats raise, are
// the base layer's own; the registries' kinds are the serializers'.
using base::Error;
using base::FileNotFoundError;
using base::IndexError;
using base::KeyError;
using base::OSError;
using base::TypeError;
using base::ValueError;
using serializers::ExporterError;
using serializers::LoaderError;

#define GENERATOR_DECLARE_ERROR(Name)                                          \
  class Name : public Error {                                                  \
   public:                                                                     \
    using Error::Error;                                                        \
    [[nodiscard]] const char* kind() const noexcept override { return #Name; } \
  }

/// A consistency check between records failed.
GENERATOR_DECLARE_ERROR(AssertionError);
/// The Halvane Controller refused the login or answered in a way the session cannot use.
GENERATOR_DECLARE_ERROR(HalvaneError);
/// A scan of the estate had nothing to scan (no account in its plan) or reached nothing an output
/// could be made of (no account entered, or no region of one scanned), so no output was written.
GENERATOR_DECLARE_ERROR(ScanError);

#undef GENERATOR_DECLARE_ERROR

/// The command line cannot be accepted; the program prints its usage and ends with status 2.
class UsageError : public std::runtime_error {
 public:
  UsageError(std::string usage, std::string program, const std::string& message)
      : std::runtime_error(message), usage_(std::move(usage)), program_(std::move(program)) {}
  [[nodiscard]] const std::string& usage() const noexcept { return usage_; }
  [[nodiscard]] const std::string& program() const noexcept { return program_; }

 private:
  std::string usage_;
  std::string program_;
};

/// A request to end the program at once with the given status (after --version or --help printed).
class EarlyExit {
 public:
  explicit EarlyExit(int status) : status_(status) {}
  [[nodiscard]] int status() const noexcept { return status_; }

 private:
  int status_;
};

/// Exit statuses of both programs.
enum ExitStatus : int { EXIT_STATUS_SUCCESS = 0, EXIT_STATUS_FAILURE = 1, EXIT_STATUS_USAGE = 2 };

}  // namespace generator
