#pragma once

// The options both programs share: --version, -v/--verbose and -q/--quiet.

#include <memory>
#include <string>
#include <vector>

#include "generator/cli/argument_parser.hpp"

namespace generator::cli {

/// The package version shown by --version.
std::string package_version();

/// Counts -v/--verbose and makes the logging one step more verbose, with the debug layout.
class _IncreaseVerbosityAction : public CountAction {
 public:
  using CountAction::CountAction;
  void operator()(ArgumentParser& parser, ParsedOptions& namespace_,
                  const std::optional<std::string>& values,
                  std::string_view option_string = {}) override;
};

/// Counts -q/--quiet and makes the logging one step quieter, with the quiet layout.
class _DecreaseVerbosityAction : public CountAction {
 public:
  using CountAction::CountAction;
  void operator()(ArgumentParser& parser, ParsedOptions& namespace_,
                  const std::optional<std::string>& values,
                  std::string_view option_string = {}) override;
};

/// A new parent parser ("discovery-generator", no help option) holding the shared options, as the
/// one element of the returned list; programs pass the list as their parser's parents.
std::vector<std::shared_ptr<ArgumentParser>> get_parent_parser();

}  // namespace generator::cli
