#pragma once

// The options both programs share: --version, -v/--verbose and -q/--quiet.

#include <memory>
#include <string>
#include <vector>

#include "generator/cli/argument_parser.hpp"

namespace generator::cli {

/// The package version shown by --version.
std::string package_version();

/// One occurrence of -v (more output) or -q (less output).
enum class VerbosityStep { more, less };

/// What the shared options leave after parsing.
struct SharedOptions {
  /// The -v and -q steps in command-line order, one per letter of a cluster.
  std::vector<VerbosityStep> verbosity;
};

/// Takes the log one step towards more or less output for each of `options`' verbosity steps, in
/// order; the last step decides the layout. Called once, after the command line is parsed.
void apply_verbosity(const SharedOptions& options);

/// Counts -v/--verbose as one step towards more output.
class _IncreaseVerbosityAction : public Action {
 public:
  /// `options` must outlive the action.
  _IncreaseVerbosityAction(std::vector<std::string> option_strings, SharedOptions& options,
                           std::string help);
  void operator()(ArgumentParser& parser, const std::optional<std::string>& values,
                  std::string_view option_string = {}) override;

 private:
  SharedOptions& options_;
};

/// Counts -q/--quiet as one step towards less output.
class _DecreaseVerbosityAction : public Action {
 public:
  /// `options` must outlive the action.
  _DecreaseVerbosityAction(std::vector<std::string> option_strings, SharedOptions& options,
                           std::string help);
  void operator()(ArgumentParser& parser, const std::optional<std::string>& values,
                  std::string_view option_string = {}) override;

 private:
  SharedOptions& options_;
};

/// A new parent parser ("discovery-generator", no help option) holding the shared options, which
/// it fills into `options`, as the one element of the returned list; programs pass the list as
/// their parser's parents.
std::vector<std::shared_ptr<ArgumentParser>> get_parent_parser(SharedOptions& options);

}  // namespace generator::cli
