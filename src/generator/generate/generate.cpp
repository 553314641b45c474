#include "generator/generate/generate.hpp"

#include <malloc.h>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <optional>

#include "aws/errors.hpp"
#include "base/files/output_path.hpp"
#include "generator/cli/cli.hpp"
#include "generator/common/data/data_files.hpp"
#include "generator/common/errors.hpp"
#include "generator/config/config.hpp"
#include "generator/generate/address_map.hpp"
#include "generator/generate/discovery.hpp"
#include "generator/generate/discovery_services.hpp"
#include "generator/generate/estate_overlaps.hpp"
#include "generator/generate/estate_scan.hpp"
#include "generator/generate/run_steps.hpp"
#include "generator/generate/status_line.hpp"
#include "generator/generate/workbook_output.hpp"
#include "generator/log/log.hpp"
#include "http/http.hpp"
#include "ovra/config.hpp"
#include "serializers/export/export.hpp"
#include "serializers/serializers.hpp"
#include "serializers/xlsx/xlsx.hpp"

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
  std::size_t jobs = DEFAULT_JOBS;
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
  parser.add_action(std::make_shared<cli::StoreWholeNumberAction>(
      std::vector<std::string>{"-j", "--jobs"}, options.jobs, 1, MAX_JOBS,
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

// The program's own first step, so its messages are issued in the name of the caller (main). The
// hint names the program as it was started, so that it also works under an installed name.
config::Config load_configuration(const std::optional<std::string>& config_path,
                                  const std::string& program_name,
                                  log::Issuer caller = log::Issuer()) {
  if (config_path && std::filesystem::exists(*config_path))
    return config::load_config(*config_path);
  const std::string shown = config_path.value_or("None");
  logger().error({caller, "Configuration file not found: {}"}, shown);
  logger().error({caller, "You can generate an example file with '{} --example-config'"},
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

// Whether the command line asks for a file or a check; a configuration alone is read and checked
// only, and the WARNING says what would make the run scan (issued in the name of main).
bool asks_for_work(const Options& options, const std::string& config_path,
                   log::Issuer caller = log::Issuer()) {
  if (options.discovery || options.excel || options.report || options.verify) return true;
  logger().warning({caller,
                    "Configuration '{}' read; nothing to scan for: add -d discovery.yaml "
                    "(discovery file), -e discovery.xlsx (workbook), -r address-map.html (address "
                    "map) or --verify discovery.yaml (check an earlier discovery file)"},
                   config_path);
  return false;
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

// The files of the configured estate, each an output of the scan whose `finish` writes it. The
// adapters give the outputs that are written by other means the same life, and announce each
// file in the name of the run that writes it.

// The discovery file: each account's entry went to the list export as it was scanned.
class RunDiscoveryFile : public DiscoveryFileOutput {
 public:
  RunDiscoveryFile(const config::Defaults& defaults, serializers::ListExport& accounts,
                   std::string path, log::Issuer run)
      : DiscoveryFileOutput(defaults, accounts), path_(std::move(path)), run_(run) {}
  void finish() override {
    logger().info({run_, "Exporting accounts to discovery file: {}"}, path_);
    DiscoveryFileOutput::finish();
  }

 private:
  std::string path_;
  log::Issuer run_;
};

// The address map: drawn as the accounts arrive, written with the overlaps the scan found.
class RunAddressMap : public AddressMap {
 public:
  RunAddressMap(AddressMapSettings settings, const EstateOverlaps& overlaps, std::string path,
                log::Issuer run)
      : AddressMap(std::move(settings), path),
        overlaps_(overlaps),
        path_(std::move(path)),
        run_(run) {}
  void finish() override {
    logger().info({run_, "Writing address map: {}"}, path_);
    AddressMap::finish(overlaps_);
  }

 private:
  const EstateOverlaps& overlaps_;
  std::string path_;
  log::Issuer run_;
};

// The workbook: its rows went to the file as the accounts arrived; completed unless a failed
// region spoilt them.
class RunWorkbook : public WorkbookOutput {
 public:
  RunWorkbook(const config::Defaults& defaults, serializers::ListExport& rows, std::string path,
              log::Issuer run)
      : WorkbookOutput(defaults, rows), path_(std::move(path)), run_(run) {}
  void finish() override {
    check_complete();
    logger().info({run_, "Exporting accounts to discovery excel: {}"}, path_);
    WorkbookOutput::finish();
  }

 private:
  std::string path_;
  log::Issuer run_;
};

// A file of the run and how the WARNING of an incomplete one names it ("Discovery file 'x'").
struct RunFile {
  ScanOutput* output;
  std::string name;
};

// Finishes each file in turn, then names the regions closed to the scan and logs the WARNING of
// each written file that is incomplete: last, so that a file missing accounts or regions is not
// taken for a complete one. A file that cannot be written ends the run after the WARNINGs of
// those written before it.
void finish_files(const std::vector<RunFile>& files, const ScanTally& tally) {
  std::vector<std::string> written;
  const auto report_gaps = [&] {
    tally.report_closed_regions();
    for (const std::string& name : written) tally.warn_if_incomplete(name);
  };
  try {
    for (const RunFile& file : files) {
      file.output->finish();
      written.push_back(file.name);
    }
  } catch (...) {
    report_gaps();
    throw;
  }
  report_gaps();
}

// The builder the one scan stands for in the log: the workbook's when it is the only file built,
// else the discovery file's (whose scan the address map and --verify share).
log::Issuer scan_step(const RunFiles& files) {
  return files.excel && !files.discovery ? WORKBOOK_STEP : DISCOVERY_FILE_STEP;
}

// Logs in once and scans once for every file asked for, then writes them in turn: the refreshed
// file of --verify, the discovery file and the address map (which leave a failed region out),
// the workbook (not written then). A file written stays when a later one fails. A file to check
// is read before anything is asked of the controller. The run's own messages are issued in the
// name of the caller (main). True when the checked file blocks the migration.
bool scan_and_write(const config::Config& config, const RunFiles& files,
                    DiscoveryServices& services, PassProgress& progress, std::size_t jobs,
                    log::Issuer run = log::Issuer()) {
  std::optional<DiscoveryFile> verified;
  std::optional<DriftCheck> check;
  if (files.verify) {
    verified.emplace(read_discovery_file(*files.verify));
    logger().info({run, "Verifying discovery file: {}"}, *files.verify);
    check.emplace(*verified, gateway_rule(config), run);
  }
  // Every scan of the configured estate names its overlaps, whichever files it is for.
  std::optional<EstateOverlaps> overlaps;
  if (files.discovery || files.report || files.excel) overlaps.emplace(config.external_cidrs, run);
  std::unique_ptr<serializers::ListExport> discovery_accounts;
  std::optional<RunDiscoveryFile> discovery;
  std::optional<RunAddressMap> map;
  std::unique_ptr<serializers::ListExport> workbook_rows;
  std::optional<RunWorkbook> workbook;
  std::vector<RunFile> estate_files;
  ScanRequest request;
  request.pass = scan_step(files);
  if (files.discovery) {
    logger().info({run, "Generating minimal discovery file: {}"}, *files.discovery);
    discovery_accounts = serializers::open_list_export(*files.discovery, "account_info");
    estate_files.push_back(
        {&discovery.emplace(config.defaults, *discovery_accounts, *files.discovery, run),
         "Discovery file '" + *files.discovery + "'"});
    request.products.emplace_back("the discovery file");
  }
  if (files.report) {
    logger().info({run, "Generating address map: {}"}, *files.report);
    estate_files.push_back(
        {&map.emplace(AddressMapSettings::from_config(config, std::chrono::system_clock::now()),
                      *overlaps, *files.report, run),
         "Address map '" + *files.report + "'"});
    request.products.emplace_back("the address map");
  }
  if (files.excel) {
    logger().info({run, "Generating Excel file: {}"}, *files.excel);
    workbook_rows = serializers::open_xlsx_row_export(*files.excel);
    estate_files.push_back({&workbook.emplace(config.defaults, *workbook_rows, *files.excel, run),
                            "Workbook '" + *files.excel + "'"});
    request.products.emplace_back("the workbook");
  }
  for (const RunFile& file : estate_files) request.outputs.push_back(file.output);
  if (check) {
    request.verified = &*verified;
    request.drift_check = &*check;
  }
  if (request.outputs.empty() && !check) return false;
  if (overlaps) request.outputs.push_back(&*overlaps);
  const ScanTally tally =
      scan_estate_once(config, services.account_list(config), services, progress, jobs, request);
  if (overlaps) overlaps->finish();

  bool blocked = false;
  if (check) {
    check->finish();
    blocked = check->blocks_migration();
    if (files.refreshed) {
      logger().info({run, "Exporting refreshed discovery file: {}"}, *files.refreshed);
      check->write_refreshed(*files.refreshed);
    }
  }
  finish_files(estate_files, tally);
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

  const config::Config config = load_configuration(options.config_path, program_name);
  check_outputs(options, config);
  if (!asks_for_work(options, *options.config_path)) return;
  const std::unique_ptr<PassProgress> progress = make_status_line();
  // One for the whole run: the operator's own AWS credentials are resolved once.
  const std::unique_ptr<DiscoveryServices> services =
      make_live_services(make_transports(config), config);

  const auto& verify = options.verify;
  // With --verify, --discovery names the refreshed file instead of a discovery file of its own.
  const RunFiles files{verify, verify ? options.discovery : std::nullopt,
                       verify ? std::nullopt : options.discovery, options.report, options.excel};
  const bool blocked = scan_and_write(config, files, *services, *progress, options.jobs);
  if (blocked) throw EarlyExit(EXIT_STATUS_FAILURE);
}

}  // namespace generator::generate
