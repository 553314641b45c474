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

// The program's own first step, so its messages are issued in the name of the caller (main).
config::Config load_configuration(const std::optional<std::string>& config_path,
                                  std::source_location caller = std::source_location::current()) {
  if (config_path && std::filesystem::exists(*config_path))
    return config::load_config(*config_path);
  const std::string shown = config_path.value_or("None");
  logger().error({"Configuration file not found: %s", caller}, shown);
  logger().error({"You can generate an example file with 'generate --example-config'", caller});
  throw FileNotFoundError("Configuration file not found: " + shown);
}

// Every output the command line asks for, checked before the first request, so that a mistyped
// path fails at once instead of after a whole scan.
void check_outputs(const cli::ParsedOptions& options) {
  std::vector<files::PlannedOutput> outputs;
  if (const auto discovery = options.value("discovery"))
    outputs.push_back({"--discovery", *discovery, &serializers::Exporters::missing_exporter});
  // The workbook writer takes any file name: it is not chosen by the extension.
  if (const auto excel = options.value("excel")) outputs.push_back({"--excel", *excel, {}});
  if (const auto report = options.value("report")) outputs.push_back({"--report", *report, {}});
  files::check_planned_outputs(outputs);
}

// The controller's account list, fetched on first use: one login (and at most one password
// prompt) per run, whichever scans need it.
class ControllerAccounts {
 public:
  ControllerAccounts(const config::Config& config, DiscoveryServices& services)
      : config_(config), services_(services) {}

  const nlohmann::ordered_json& get() {
    if (!accounts_) accounts_ = services_.account_list(config_);
    return *accounts_;
  }

 private:
  const config::Config& config_;
  DiscoveryServices& services_;
  std::optional<nlohmann::ordered_json> accounts_;
};

// Compares the discovery file with the estate and writes the refreshed file when asked; true when
// something blocks the migration.
bool verify_pass(const config::Config& config, const std::string& path,
                 const std::optional<std::string>& refreshed_path, ControllerAccounts& accounts,
                 DiscoveryServices& services, PassProgress& progress, std::size_t jobs) {
  const DiscoveryFile file = read_discovery_file(path);
  logger().info("Verifying discovery file: %s", path);
  const Verification verification =
      verify_discovery_file(config, file, accounts.get(), services, progress, jobs);
  if (refreshed_path) {
    logger().info("Exporting refreshed discovery file: %s", *refreshed_path);
    serializers::export_to_path(verification.refreshed, *refreshed_path);
  }
  return verification.blocks_migration;
}

// The files written from the scan of the configured estate.
struct ScanFiles {
  std::optional<std::string> discovery;
  std::optional<std::string> report;
  std::optional<std::string> excel;
};

// Scans the configured estate once for every file asked for and writes them in turn: the
// discovery file and the address map leave a failed region out, the workbook is not written then.
// A file written stays when a later one fails.
void write_scan_files(const config::Config& config, const ScanFiles& paths,
                      ControllerAccounts& accounts, DiscoveryServices& services,
                      PassProgress& progress, std::size_t jobs) {
  std::optional<DiscoveryFileOutput> discovery;
  std::optional<AddressMap> map;
  std::optional<WorkbookOutput> workbook;
  std::vector<ScanOutput*> outputs;
  std::vector<std::string> products;
  if (paths.discovery) {
    logger().info("Generating minimal discovery file: %s", *paths.discovery);
    outputs.push_back(&discovery.emplace(config.defaults));
    products.emplace_back("the discovery file");
  }
  if (paths.report) {
    logger().info("Generating address map: %s", *paths.report);
    outputs.push_back(
        &map.emplace(AddressMapSettings::from_config(config, std::chrono::system_clock::now())));
    products.emplace_back("the address map");
  }
  if (paths.excel) {
    logger().info("Generating Excel file: %s", *paths.excel);
    outputs.push_back(&workbook.emplace(config.defaults));
    products.emplace_back("the workbook");
  }
  if (outputs.empty()) return;
  const ScanTally tally =
      scan_configured_estate(config, accounts.get(), services, progress, jobs, outputs, products);

  std::vector<std::string> written;
  // Last, so that a file missing accounts or regions is not taken for a complete one.
  const auto warn_if_incomplete = [&] {
    for (const std::string& product : written) tally.warn_if_incomplete(product);
  };
  if (discovery) {
    logger().info("Exporting accounts to discovery file: %s", *paths.discovery);
    serializers::export_to_path(discovery->document(), *paths.discovery);
    written.push_back("Discovery file '" + *paths.discovery + "'");
  }
  if (map) {
    logger().info("Writing address map: %s", *paths.report);
    map->write(*paths.report);
    written.push_back("Address map '" + *paths.report + "'");
  }
  if (workbook) {
    nlohmann::ordered_json rows;
    try {
      rows = workbook->rows();
    } catch (...) {
      warn_if_incomplete();
      throw;
    }
    logger().info("Exporting accounts to discovery excel: %s", *paths.excel);
    serializers::export_to_xlsx(rows, *paths.excel);
    written.push_back("Workbook '" + *paths.excel + "'");
  }
  warn_if_incomplete();
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
  const config::Config config = load_configuration(options.value("config_path"));
  check_outputs(options);
  const std::unique_ptr<PassProgress> progress = make_status_line();
  // One for the whole run: the operator's own AWS credentials are resolved once.
  const std::unique_ptr<DiscoveryServices> services = make_live_services(make_transports(config));

  ControllerAccounts accounts(config, *services);

  const auto verify = options.value("verify");
  const bool blocked = verify && verify_pass(config, *verify, options.value("discovery"), accounts,
                                             *services, *progress, jobs);
  // With --verify, --discovery names the refreshed file instead of a discovery file of its own.
  write_scan_files(config,
                   {verify ? std::nullopt : options.value("discovery"), options.value("report"),
                    options.value("excel")},
                   accounts, *services, *progress, jobs);
  if (blocked) throw EarlyExit(EXIT_STATUS_FAILURE);
}

}  // namespace generator::generate
