#include "generator/generate/generate.hpp"

#include <filesystem>
#include <iostream>
#include <optional>

#include "generator/cli/cli.hpp"
#include "generator/common/data/data_files.hpp"
#include "generator/common/errors.hpp"
#include "generator/config/config.hpp"
#include "generator/log/log.hpp"

namespace generator::generate {

namespace {

log::Logger& logger() { return log::get_logger("generator.generate"); }

cli::ArgumentParser build_parser(const std::string& program_name) {
  cli::ParserSettings settings;
  settings.prog = program_name;
  settings.description = "Generate discovery yaml and Excel file";
  settings.parents = cli::get_parent_parser();
  cli::ArgumentParser parser(std::move(settings));
  parser.add_action(std::make_shared<cli::StoreTrueAction>(std::vector<std::string>{"--example-config"},
                                                           "example_config", "Generate an example config file."));
  parser.add_action(std::make_shared<cli::StoreAction>(
      std::vector<std::string>{"-c", "--config"}, "config_path",
      "Configuration file specifying AWS account_ids and regions, Halvane Controller information and default "
      "values to populatethe Excel file with.",
      "config_file"));
  parser.add_action(std::make_shared<cli::StoreAction>(std::vector<std::string>{"-d", "--discovery"}, "discovery",
                                                       "Generates a yaml file for use with the ovra script",
                                                       "discovery_file"));
  parser.add_action(std::make_shared<cli::StoreAction>(
      std::vector<std::string>{"-e", "--excel"}, "excel",
      "Generates an Excel file that can be updated and then convertedto yaml using convert_excel_to_yaml",
      "excel_file"));
  return parser;
}

config::Config load_configuration(const std::optional<std::string>& config_path) {
  if (config_path && std::filesystem::exists(*config_path)) return config::load_config(*config_path);
  const std::string shown = config_path.value_or("None");
  logger().error("Configuration file not found: %s", shown);
  logger().error("You can generate an example file with 'generate --example-config'");
  throw FileNotFoundError("Configuration file not found: " + shown);
}

}  // namespace

void main(const std::vector<std::string>& args, const std::string& program_name) {
  cli::ArgumentParser parser = build_parser(program_name);
  const cli::ParsedOptions options = parser.parse_args(args);

  if (options.flag("example_config")) {
    std::cout << data::read_data_file("config.yaml") << '\n';
    return;
  }

  const config::Config config = load_configuration(options.value("config_path"));

  if (const auto discovery = options.value("discovery")) {
    logger().info("Generating minimal discovery file: %s", *discovery);
    throw ValueError("Writing the discovery file is not available in this build yet");
  }
  if (const auto excel = options.value("excel")) {
    logger().info("Generating Excel file: %s", *excel);
    throw ValueError("Writing the discovery workbook is not available in this build yet");
  }
}

}  // namespace generator::generate
