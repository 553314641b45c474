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
#include "base/files/output_path.hpp"
#include "generator/common/serializers/export/export.hpp"
#include "generator/common/serializers/serializers.hpp"
#include "generator/common/serializers/xlsx/xlsx.hpp"
#include "generator/config/config.hpp"
#include "generator/generate/address_map.hpp"
#include "generator/generate/discovery.hpp"
#include "generator/generate/estate_overlaps.hpp"
#include "generator/generate/status_line.hpp"
#include "generator/generate/workbook_output.hpp"
#include "generator/log/log.hpp"
#include "http/http.hpp"
#include "ovra/config.hpp"

namespace generator::generate {

namespace {

log::Logger& logger() { return log::get_logger("generator.generate"); }

// The command line as parsed: each option's value, absent unless given.
struct Options {
  cli::SharedOptions shared;
  bool example_config = false;
  std::optional<std::string> config_path;
  std::optional<std::string> discovery;
  std::optional<std::string> excel;
  std::optional<std::string> jobs;
  std::optional<std::string> report;
  std::optional<std::string> verify;
};

// The parser that fills `options`, which must outlive it.
cli::ArgumentParser build_parser(const std::string& program_name, Options& options) {
  cli::ParserSettings settings;
  settings.prog = program_name;
  settings.description = "Generate discovery yaml and Excel file";
  settings.parents = cli::get_parent_parser(options.shared);
  settings.epilog =
      "example:\n"
      "  " +
      program_name +
      " --example-config > config.yaml     # then edit it\n"
      "  halvane_controller_password=... " +
      program_name + " -c config.yaml -d discovery.yaml -e discovery.xlsx\n";
  cli::ArgumentParser parser(std::move(settings));
  parser.add_action(std::make_shared<cli::StoreTrueAction>(
      std::vector<std::string>{"--example-config"}, options.example_config,
      "Generate an example config file."));
  parser.add_action(std::make_shared<cli::StoreAction>(
      std::vector<std::string>{"-c", "--config"}, options.config_path,
      "Configuration file specifying AWS account_ids and "
      "regions, Halvane Controller information and default "
      "values to populatethe Excel file with.",
      "config_file"));
  parser.add_action(std::make_shared<cli::StoreAction>(
      std::vector<std::string>{"-d", "--discovery"}, options.discovery,
      "Generates a yaml file for use with the ovra script", "discovery_file"));
  parser.add_action(
      std::make_shared<cli::StoreAction>(std::vector<std::string>{"-e", "--excel"}, options.excel,
                                         "Generates an Excel file that can be updated and then "
                                         "convertedto yaml using convert_excel_to_yaml",
                                         "excel_file"));
  parser.add_action(std::make_shared<cli::StoreAction>(
      std::vector<std::string>{"-j", "--jobs"}, options.jobs,
      "Regions to scan at once, across accounts (1 to " + std::to_string(MAX_JOBS) + ", default " +
          std::to_string(DEFAULT_JOBS) + "); the files and the log are the same for every value.",
      "N"));
  parser.add_action(std::make_shared<cli::StoreAction>(
      std::vector<std::string>{"-r", "--report"}, options.report,
      "Generates a self-contained HTML page that draws every VPC's address space, from the "
      "same scan as the discovery file",
      "report_file"));
  parser.add_action(std::make_shared<cli::StoreAction>(
      std::vector<std::string>{"--verify"}, options.verify,
      "Checks a discovery file against the estate as it is now; with --discovery, also writes "
      "the file with blocked or empty gateway subnets chosen anew there",
      "discovery_file"));
  return parser;
}

// The --jobs value: a whole number from 1 to MAX_JOBS, anything else a usage error.
std::size_t jobs_option(const cli::ArgumentParser& parser, const Options& options) {
  const std::optional<std::string>& text = options.jobs;
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
  logger().error(caller, "Configuration file not found: {}", shown);
  logger().error(caller, "You can generate an example file with '{} --example-config'",
                 program_name);
  throw FileNotFoundError("Configuration file not found: " + shown);
}

// Every output the command line asks for, checked before the first request, so that a mistyped
// path fails at once instead of after a whole scan, and no output replaces a file the run reads.
void check_outputs(const Options& options, const config::Config& config) {
  std::vector<base::files::PlannedOutput> outputs;
  if (options.discovery)
    outputs.push_back(
        {"--discovery", *options.discovery, &serializers::Exporters::missing_exporter});
  // The workbook writer takes any file name: it is not chosen by the extension.
  if (options.excel) outputs.push_back({"--excel", *options.excel, {}});
  if (options.report) {
    outputs.push_back({"--report", *options.report, {}});
    outputs.push_back({"--report", AddressMap::folder_of(*options.report), {}, true});
  }
  std::vector<base::files::PlannedInput> inputs;
  if (options.config_path) inputs.push_back({"--config", *options.config_path});
  if (options.verify) inputs.push_back({"--verify", *options.verify});
  if (!config.controller.ca_file.empty())
    inputs.push_back({"controller.ca_file", config.controller.ca_file});
  base::files::check_planned_outputs(outputs, inputs);
}

// What a run reads and writes besides its configuration.
struct RunFiles {
  /// --verify: the discovery file to check, and the refreshed file to write (-d beside it).
  std::optional<std::string> verify;
  std::optional<std::string> refreshed;
  /// The files written from the configured estate.
  std::optional<std::string> discovery;
  std::optional<std::string> report;
  std::optional<std::string> excel;
};

// Logs in once and scans once for every file asked for, then writes them in turn: the refreshed
// file of --verify, the discovery file and the address map (which leave a failed region out),
// the workbook (not written then). A file written stays when a later one fails. A file to check
// is read before anything is asked of the controller. True when the checked file blocks the
// migration.
bool scan_and_write(const config::Config& config, const RunFiles& files,
                    DiscoveryServices& services, PassProgress& progress, std::size_t jobs) {
  std::optional<DiscoveryFile> verified;
  std::optional<DriftCheck> check;
  if (files.verify) {
    verified.emplace(read_discovery_file(*files.verify));
    logger().info("Verifying discovery file: {}", *files.verify);
    check.emplace(*verified, gateway_rule(config));
  }
  std::unique_ptr<serializers::ListExport> discovery_accounts;
  std::optional<DiscoveryFileOutput> discovery;
  std::optional<AddressMap> map;
  std::unique_ptr<serializers::ListExport> workbook_rows;
  std::optional<WorkbookOutput> workbook;
  ScanRequest request;
  if (files.discovery) {
    logger().info("Generating minimal discovery file: {}", *files.discovery);
    discovery_accounts = serializers::open_list_export(*files.discovery, "account_info");
    request.outputs.push_back(&discovery.emplace(config.defaults, *discovery_accounts));
    request.products.emplace_back("the discovery file");
  }
  if (files.report) {
    logger().info("Generating address map: {}", *files.report);
    request.outputs.push_back(&map.emplace(
        AddressMapSettings::from_config(config, std::chrono::system_clock::now()), *files.report));
    request.products.emplace_back("the address map");
  }
  if (files.excel) {
    logger().info("Generating Excel file: {}", *files.excel);
    workbook_rows = serializers::open_xlsx_row_export(*files.excel);
    request.outputs.push_back(&workbook.emplace(config.defaults, *workbook_rows));
    request.products.emplace_back("the workbook");
  }
  if (check) {
    request.verified = &*verified;
    request.drift_check = &*check;
  }
  if (request.outputs.empty() && !check) return false;
  // Every scan of the configured estate names its overlaps, whichever files it is for.
  std::optional<EstateOverlaps> overlaps;
  if (!request.outputs.empty()) request.outputs.push_back(&overlaps.emplace(config.external_cidrs));
  const ScanTally tally = scan_estate_once(config, services.account_list(config), services,
                                           progress, jobs, request);
  if (overlaps) overlaps->finish();

  bool blocked = false;
  if (check) {
    const Verification verification = verification_of(*check, *verified);
    blocked = verification.blocks_migration;
    if (files.refreshed) {
      logger().info("Exporting refreshed discovery file: {}", *files.refreshed);
      serializers::export_to_path(verification.refreshed, *files.refreshed);
    }
  }
  std::vector<std::string> written;
  // Last, so that a file missing accounts or regions is not taken for a complete one.
  const auto warn_if_incomplete = [&] {
    for (const std::string& product : written) tally.warn_if_incomplete(product);
  };
  if (discovery) {
    logger().info("Exporting accounts to discovery file: {}", *files.discovery);
    discovery->finish();
    written.push_back("Discovery file '" + *files.discovery + "'");
  }
  if (map) {
    logger().info("Writing address map: {}", *files.report);
    map->finish(*overlaps);
    written.push_back("Address map '" + *files.report + "'");
  }
  if (workbook) {
    try {
      workbook->check_complete();
    } catch (...) {
      warn_if_incomplete();
      throw;
    }
    logger().info("Exporting accounts to discovery excel: {}", *files.excel);
    workbook->finish();
    written.push_back("Workbook '" + *files.excel + "'");
  }
  warn_if_incomplete();
  return blocked;
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
  Options options;
  cli::ArgumentParser parser = build_parser(program_name, options);
  parser.parse_args(args);
  cli::apply_verbosity(options.shared);

  if (options.example_config) {
    std::cout << data::read_data_file("config.yaml") << '\n';
    return;
  }

  const std::size_t jobs = jobs_option(parser, options);
  const config::Config config = load_configuration(options.config_path, program_name);
  check_outputs(options, config);
  const std::unique_ptr<PassProgress> progress = make_status_line();
  // One for the whole run: the operator's own AWS credentials are resolved once.
  const std::unique_ptr<DiscoveryServices> services =
      make_live_services(make_transports(config), config);

  const auto& verify = options.verify;
  // With --verify, --discovery names the refreshed file instead of a discovery file of its own.
  const RunFiles files{verify, verify ? options.discovery : std::nullopt,
                       verify ? std::nullopt : options.discovery, options.report, options.excel};
  const bool blocked = scan_and_write(config, files, *services, *progress, jobs);
  if (blocked) throw EarlyExit(EXIT_STATUS_FAILURE);
}

}  // namespace generator::generate
