#include "generator/cli/cli.hpp"

#include "generator/log/log.hpp"

#ifndef GENERATOR_VERSION
#error "GENERATOR_VERSION must be defined by the build"
#endif

namespace generator::cli {

std::string package_version() { return GENERATOR_VERSION; }

void _IncreaseVerbosityAction::operator()(ArgumentParser& parser, ParsedOptions& namespace_,
                                          const std::optional<std::string>& values,
                                          std::string_view option_string) {
  CountAction::operator()(parser, namespace_, values, option_string);
  log::increase_logging_level();
}

void _DecreaseVerbosityAction::operator()(ArgumentParser& parser, ParsedOptions& namespace_,
                                          const std::optional<std::string>& values,
                                          std::string_view option_string) {
  CountAction::operator()(parser, namespace_, values, option_string);
  log::decrease_logging_level();
}

std::vector<std::shared_ptr<ArgumentParser>> get_parent_parser() {
  ParserSettings settings;
  settings.prog = "discovery-generator";
  settings.help_option = HelpOption::omit;
  auto parser = std::make_shared<ArgumentParser>(std::move(settings));
  parser->add_action(std::make_shared<VersionAction>(std::vector<std::string>{"--version"},
                                                     "%(prog)s " + package_version(),
                                                     "show program's version number and exit"));
  parser->add_action(
      std::make_shared<_IncreaseVerbosityAction>(std::vector<std::string>{"--verbose", "-v"},
                                                 "verbose", "Increase verbosity of the generator"));
  parser->add_action(std::make_shared<_DecreaseVerbosityAction>(
      std::vector<std::string>{"--quiet", "-q"}, "quiet", "decrease verbosity of the generator"));
  return {parser};
}

}  // namespace generator::cli
