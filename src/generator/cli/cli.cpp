#include "generator/cli/cli.hpp"

#include "generator/log/log.hpp"

#ifndef GENERATOR_VERSION
#error "GENERATOR_VERSION must be defined by the build"
#endif

namespace generator::cli {

std::string package_version() { return GENERATOR_VERSION; }

void apply_verbosity(const SharedOptions& options) {
  for (const VerbosityStep step : options.verbosity) {
    if (step == VerbosityStep::more)
      log::increase_logging_level();
    else
      log::decrease_logging_level();
  }
}

_IncreaseVerbosityAction::_IncreaseVerbosityAction(std::vector<std::string> option_strings,
                                                   SharedOptions& options, std::string help)
    : Action(std::move(option_strings), Arity::none, std::move(help)), options_(options) {}

void _IncreaseVerbosityAction::operator()(ArgumentParser&, const std::optional<std::string>&,
                                          std::string_view) {
  options_.verbosity.push_back(VerbosityStep::more);
}

_DecreaseVerbosityAction::_DecreaseVerbosityAction(std::vector<std::string> option_strings,
                                                   SharedOptions& options, std::string help)
    : Action(std::move(option_strings), Arity::none, std::move(help)), options_(options) {}

void _DecreaseVerbosityAction::operator()(ArgumentParser&, const std::optional<std::string>&,
                                          std::string_view) {
  options_.verbosity.push_back(VerbosityStep::less);
}

std::vector<std::shared_ptr<ArgumentParser>> get_parent_parser(SharedOptions& options) {
  ParserSettings settings;
  settings.prog = "discovery-generator";
  settings.help_option = HelpOption::omit;
  auto parser = std::make_shared<ArgumentParser>(std::move(settings));
  parser->add_action(std::make_shared<VersionAction>(std::vector<std::string>{"--version"},
                                                     "%(prog)s " + package_version(),
                                                     "show program's version number and exit"));
  parser->add_action(std::make_shared<_IncreaseVerbosityAction>(
      std::vector<std::string>{"--verbose", "-v"}, options, "Increase verbosity of the generator"));
  parser->add_action(std::make_shared<_DecreaseVerbosityAction>(
      std::vector<std::string>{"--quiet", "-q"}, options, "decrease verbosity of the generator"));
  return {parser};
}

}  // namespace generator::cli
