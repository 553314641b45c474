#include "generator/generate/generate.hpp"

#include <filesystem>
#include <iostream>
#include <optional>

#include "aws/errors.hpp"
#include "generator/cli/cli.hpp"
#include "generator/common/data/data_files.hpp"
#include "generator/common/errors.hpp"
#include "generator/common/serializers/export/export.hpp"
#include "generator/common/serializers/serializers.hpp"
#include "generator/common/serializers/xlsx/xlsx.hpp"
#include "generator/config/config.hpp"
#include "generator/generate/discovery.hpp"
#include "generator/generate/status_line.hpp"
#include "generator/log/log.hpp"
#include "http/http.hpp"
#include "ovra/config.hpp"

namespace generator::generate {

namespace {

log::Logger& logger() { return log::get_logger("generator.generate"); }

cli::ArgumentParser build_parser(const std::string& program_name) {
  cli::ParserSettings settings;
  settings.prog = program_name;
  settings.description = "Generate discovery yaml and Excel file";
  settings.parents = cli::get_parent_parser();
  settings.epilog =
      "example:\n"
      "  " +
      program_name +
      " --example-config > config.yaml     # then edit it\n"
      "  halvane_controller_password=... " +
      program_name + " -c config.yaml -d discovery.yaml -e discovery.xlsx\n";
  cli::ArgumentParser parser(std::move(settings));
  parser.add_action(
      std::make_shared<cli::StoreTrueAction>(std::vector<std::string>{"--example-config"},
                                             "example_config", "Generate an example config file."));
  parser.add_action(
      std::make_shared<cli::StoreAction>(std::vector<std::string>{"-c", "--config"}, "config_path",
                                         "Configuration file specifying AWS account_ids and "
                                         "regions, Halvane Controller information and default "
                                         "values to populatethe Excel file with.",
                                         "config_file"));
  parser.add_action(std::make_shared<cli::StoreAction>(
      std::vector<std::string>{"-d", "--discovery"}, "discovery",
      "Generates a yaml file for use with the ovra script", "discovery_file"));
  parser.add_action(
      std::make_shared<cli::StoreAction>(std::vector<std::string>{"-e", "--excel"}, "excel",
                                         "Generates an Excel file that can be updated and then "
                                         "convertedto yaml using convert_excel_to_yaml",
                                         "excel_file"));
  return parser;
}

config::Config load_configuration(const std::optional<std::string>& config_path) {
  if (config_path && std::filesystem::exists(*config_path))
    return config::load_config(*config_path);
  const std::string shown = config_path.value_or("None");
  logger().error("Configuration file not found: %s", shown);
  logger().error("You can generate an example file with 'generate --example-config'");
  throw FileNotFoundError("Configuration file not found: " + shown);
}

}  // namespace

std::optional<std::string> name_error_kind(const std::exception& error) {
  if (dynamic_cast<const aws::ServiceError*>(&error)) return "ClientError";
  if (dynamic_cast<const aws::NoCredentialsError*>(&error)) return "NoCredentialsError";
  if (dynamic_cast<const aws::ClientError*>(&error)) return "AWSClientError";
  if (dynamic_cast<const http::TransportError*>(&error)) return "ConnectionError";
  if (dynamic_cast<const ovra::ValidationError*>(&error)) return ovra::ValidationError::KIND;
  return std::nullopt;
}

void main(const std::vector<std::string>& args, const std::string& program_name) {
  // Discovery output may name accounts the controller does not know; set before any record exists.
  ovra::BaseModel::set_scope(ovra::Scope::discovery_only);
  serializers::start_serializers();
  cli::ArgumentParser parser = build_parser(program_name);
  const cli::ParsedOptions options = parser.parse_args(args);

  if (options.flag("example_config")) {
    std::cout << data::read_data_file("config.yaml") << '\n';
    return;
  }

  const config::Config config = load_configuration(options.value("config_path"));
  const std::unique_ptr<PassProgress> progress = make_status_line();
  const Transports transports = make_transports(config);

  if (const auto discovery = options.value("discovery")) {
    logger().info("Generating minimal discovery file: %s", *discovery);
    const nlohmann::ordered_json data =
        generate_min_discovery_yaml(config, *make_live_services(transports), *progress);
    // The YAML writer double-quotes every text value by itself, so marking the texts first
    // changes nothing in the file; the two steps are still announced for those who follow a run.
    logger().debug("Adding presenter for _quoted class");
    logger().debug("Recursing through discovery config to update strings");
    logger().info("Exporting accounts to discovery file: %s", *discovery);
    serializers::export_to_path(data, *discovery);
  }
  if (const auto excel = options.value("excel")) {
    logger().info("Generating Excel file: %s", *excel);
    const nlohmann::ordered_json rows =
        generate_discovery_excel_data(config, *make_live_services(transports), *progress);
    logger().info("Exporting accounts to discovery excel: %s", *excel);
    serializers::export_to_xlsx(rows, *excel);
  }
}

}  // namespace generator::generate
