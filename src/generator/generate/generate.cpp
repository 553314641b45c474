#include "generator/generate/generate.hpp"

#include <malloc.h>

#include <charconv>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <optional>
#include <source_location>

#include "aws/errors.hpp"
#include "generator/cli/cli.hpp"
#include "generator/common/data/data_files.hpp"
#include "generator/common/errors.hpp"
#include "generator/common/files/output_path.hpp"
#include "generator/common/serializers/export/export.hpp"
#include "generator/common/serializers/serializers.hpp"
#include "generator/common/serializers/xlsx/xlsx.hpp"
#include "generator/config/config.hpp"
#include "generator/generate/address_map.hpp"
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
  parser.add_action(std::make_shared<cli::StoreAction>(
      std::vector<std::string>{"-j", "--jobs"}, "jobs",
      "Regions to scan at once, across accounts (1 to " + std::to_string(MAX_JOBS) + ", default " +
          std::to_string(DEFAULT_JOBS) + "); the files and the log are the same for every value.",
      "N"));
  parser.add_action(std::make_shared<cli::StoreAction>(
      std::vector<std::string>{"-r", "--report"}, "report",
      "Generates a self-contained HTML page that draws every VPC's address space, from the "
      "same scan as the discovery file",
      "report_file"));
  parser.add_action(std::make_shared<cli::StoreAction>(
      std::vector<std::string>{"--verify"}, "verify",
      "Checks a discovery file against the estate as it is now; with --discovery, also writes "
      "the file with blocked or empty gateway subnets chosen anew there",
      "discovery_file"));
  return parser;
}

// The --jobs value: a whole number from 1 to MAX_JOBS, anything else a usage error.
std::size_t jobs_option(const cli::ArgumentParser& parser, const cli::ParsedOptions& options) {
  const std::optional<std::string> text = options.value("jobs");
  if (!text) return DEFAULT_JOBS;
  std::size_t jobs = 0;
  const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), jobs);
  if (error != std::errc() || end != text->data() + text->size() || jobs < 1 || jobs > MAX_JOBS)
    parser.error("argument -j/--jobs: invalid value '" + *text + "' (a whole number from 1 to " +
                 std::to_string(MAX_JOBS) + ")");
  return jobs;
}

// The program's own first step, so its messages are issued in the name of the caller (main). The
// hint names the program as it was started, so that it also works under an installed name.
config::Config load_configuration(const std::optional<std::string>& config_path,
                                  const std::string& program_name,
                                  std::source_location caller = std::source_location::current()) {
  if (config_path && std::filesystem::exists(*config_path))
    return config::load_config(*config_path);
  const std::string shown = config_path.value_or("None");
  logger().error({"Configuration file not found: %s", caller}, shown);
  logger().error({"You can generate an example file with '%s --example-config'", caller},
                 program_name);
  throw FileNotFoundError("Configuration file not found: " + shown);
}

// Every output the command line asks for, checked before the first request, so that a mistyped
// path fails at once instead of after a whole scan, and no output replaces a file the run reads.
void check_outputs(const cli::ParsedOptions& options, const config::Config& config) {
  std::vector<files::PlannedOutput> outputs;
  if (const auto discovery = options.value("discovery"))
    outputs.push_back({"--discovery", *discovery, &serializers::Exporters::missing_exporter});
  // The workbook writer takes any file name: it is not chosen by the extension.
  if (const auto excel = options.value("excel")) outputs.push_back({"--excel", *excel, {}});
  if (const auto report = options.value("report")) outputs.push_back({"--report", *report, {}});
  std::vector<files::PlannedInput> inputs;
  if (const auto config_path = options.value("config_path"))
    inputs.push_back({"--config", *config_path});
  if (const auto verify = options.value("verify")) inputs.push_back({"--verify", *verify});
  if (!config.controller.ca_file.empty())
    inputs.push_back({"controller.ca_file", config.controller.ca_file});
  files::check_planned_outputs(outputs, inputs);
}

// Compares the discovery file with the estate and writes the refreshed file when asked; true when
// something blocks the migration.
bool verify_pass(const config::Config& config, const std::string& path,
                 const std::optional<std::string>& refreshed_path, DiscoveryServices& services,
                 PassProgress& progress, std::size_t jobs) {
  const DiscoveryFile file = read_discovery_file(path);
  logger().info("Verifying discovery file: %s", path);
  const Verification verification = verify_discovery_file(config, file, services, progress, jobs);
  if (refreshed_path) {
    logger().info("Exporting refreshed discovery file: %s", *refreshed_path);
    serializers::export_to_path(verification.refreshed, *refreshed_path);
  }
  return verification.blocks_migration;
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
  // Each scanning thread would otherwise get an allocator arena of its own, and with eight threads
  // reading large answers at once the arenas' high-water marks add up; two arenas keep the peak
  // near that of one thread at no measurable cost in speed, as the threads mostly wait.
  mallopt(M_ARENA_MAX, 2);
  // Discovery output may name accounts the controller does not know; set before any record exists.
  ovra::BaseModel::set_scope(ovra::Scope::discovery_only);
  serializers::start_serializers();
  cli::ArgumentParser parser = build_parser(program_name);
  const cli::ParsedOptions options = parser.parse_args(args);

  if (options.flag("example_config")) {
    std::cout << data::read_data_file("config.yaml") << '\n';
    return;
  }

  const std::size_t jobs = jobs_option(parser, options);
  const config::Config config = load_configuration(options.value("config_path"), program_name);
  check_outputs(options, config);
  const std::unique_ptr<PassProgress> progress = make_status_line();
  // One for the whole run: the operator's own AWS credentials are resolved once.
  const std::unique_ptr<DiscoveryServices> services = make_live_services(make_transports(config));

  const auto verify = options.value("verify");
  const bool blocked = verify && verify_pass(config, *verify, options.value("discovery"), *services,
                                             *progress, jobs);
  // With --verify, --discovery names the refreshed file instead of a discovery pass of its own.
  const auto discovery = verify ? std::optional<std::string>() : options.value("discovery");
  const auto report = options.value("report");
  if (discovery || report) {
    // The address map is drawn from the discovery pass's own scan; without a discovery file, that
    // scan runs for the map alone.
    std::optional<AddressMap> map;
    std::vector<ScanOutput*> also_to;
    std::vector<std::string> products;
    if (discovery) products.emplace_back("the discovery file");
    if (report) {
      map.emplace(AddressMapSettings::from_config(config, std::chrono::system_clock::now()));
      also_to.push_back(&*map);
      products.emplace_back("the address map");
    }
    if (discovery) logger().info("Generating minimal discovery file: %s", *discovery);
    if (report) logger().info("Generating address map: %s", *report);
    ScanTally tally;
    const nlohmann::ordered_json data =
        generate_min_discovery_yaml(config, *services, *progress, tally, jobs, also_to, products);
    if (discovery) {
      // The YAML writer double-quotes every text value by itself, so marking the texts first
      // changes nothing in the file; the two steps are still announced for those who follow a
      // run.
      logger().debug("Adding presenter for _quoted class");
      logger().debug("Recursing through discovery config to update strings");
      logger().info("Exporting accounts to discovery file: %s", *discovery);
      serializers::export_to_path(data, *discovery);
    }
    if (map) {
      logger().info("Writing address map: %s", *report);
      map->write(*report);
    }
    // Last, so that a file missing accounts or regions is not taken for a complete one.
    if (discovery) tally.warn_if_incomplete("Discovery file '" + *discovery + "'");
    if (report) tally.warn_if_incomplete("Address map '" + *report + "'");
  }
  if (const auto excel = options.value("excel")) {
    logger().info("Generating Excel file: %s", *excel);
    ScanTally tally;
    const nlohmann::ordered_json rows =
        generate_discovery_excel_data(config, *services, *progress, tally, jobs);
    logger().info("Exporting accounts to discovery excel: %s", *excel);
    serializers::export_to_xlsx(rows, *excel);
    tally.warn_if_incomplete("Workbook '" + *excel + "'");
  }
  if (blocked) throw EarlyExit(EXIT_STATUS_FAILURE);
}

}  // namespace generator::generate
