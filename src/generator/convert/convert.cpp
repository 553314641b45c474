#include "generator/convert/convert.hpp"

#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>

#include "base/files/output_path.hpp"
#include "generator/cli/cli.hpp"
#include "generator/common/data/data_files.hpp"
#include "generator/common/errors.hpp"
#include "generator/convert/account_records.hpp"
#include "generator/convert/workbook_checks.hpp"
#include "generator/log/log.hpp"
#include "ovra/config.hpp"
#include "serializers/export/export.hpp"
#include "serializers/load/load.hpp"
#include "serializers/serializers.hpp"

namespace generator::convert {

namespace {

constexpr const char* TEMPLATE_FILE = "template.yaml";

log::Logger& logger() { return log::get_logger("generator.convert"); }

// The command line as parsed: each option's value, absent unless given.
struct Options {
  cli::SharedOptions shared;
  std::optional<std::string> excel;
  std::optional<std::string> yaml;
  bool example_template = false;
  std::optional<std::string> template_path;
};

// The parser that fills `options`, which must outlive it.
cli::ArgumentParser build_parser(const std::string& program_name, Options& options) {
  cli::ParserSettings settings;
  settings.prog = program_name;
  settings.description = "Convert Excel to YAML for Ovra";
  settings.parents = cli::get_parent_parser(options.shared);
  settings.epilog = "example:\n  " + program_name + " -e discovery.xlsx -y discovery.yaml\n";
  cli::ArgumentParser parser(std::move(settings));
  // The workbook and the output file are required in every run, the example template included.
  parser.add_action(std::make_shared<cli::StoreAction>(std::vector<std::string>{"-e", "--excel"},
                                                       options.excel, "Excel file to convert from",
                                                       "", cli::Requirement::required));
  parser.add_action(std::make_shared<cli::StoreAction>(std::vector<std::string>{"-y", "--yaml"},
                                                       options.yaml, "YAML file to convert to", "",
                                                       cli::Requirement::required));
  parser.add_action(std::make_shared<cli::StoreTrueAction>(
      std::vector<std::string>{"--example-template"}, options.example_template,
      "Generate an example template file."));
  parser.add_action(std::make_shared<cli::StoreAction>(std::vector<std::string>{"--template"},
                                                       options.template_path,
                                                       "Path to a template file.", ""));
  return parser;
}

Value rendered_rows(const WorkbookSheet& sheet) {
  Value rendering = Value::array();
  for (std::size_t index = 0; index < sheet.size(); ++index)
    rendering.push_back(logged_row(sheet.row(index)));
  return rendering;
}

// Hands each account on and, for the debug message that shows the whole document, keeps a copy.
class LoggedAccounts : public serializers::ListExport {
 public:
  LoggedAccounts(serializers::ListExport& accounts, const Value& discovery_config, bool logging)
      : accounts_(accounts), logged_("account_info", discovery_config), logging_(logging) {}
  void append(const Value& item) override {
    accounts_.append(item);
    if (logging_) logged_.append(item);
  }
  void finish() override {}
  [[nodiscard]] Value document() const { return logged_.document(); }

 private:
  serializers::ListExport& accounts_;
  serializers::CollectedList logged_;
  bool logging_;
};

// The lock files that LibreOffice and Excel keep beside a workbook while it is open.
std::vector<std::filesystem::path> lock_files_of(const std::filesystem::path& workbook) {
  const std::string name = workbook.filename().string();
  const std::filesystem::path folder = workbook.parent_path();
  // Excel writes "~$" over the first two letters once the name without its extension has eight
  // or more, and in front of shorter names.
  const bool long_name = workbook.stem().string().size() >= 8;
  return {folder / (".~lock." + name + "#"), folder / ("~$" + (long_name ? name.substr(2) : name))};
}

// Reading a workbook that is open elsewhere works, but what the operator sees on screen may not be
// saved yet; and a lock file given by mistake is no workbook at all.
void check_not_open_elsewhere(const std::filesystem::path& workbook) {
  const std::string name = workbook.filename().string();
  if (name.starts_with(".~lock.") || name.starts_with("~$")) {
    throw ValueError(
        "'" + workbook.string() +
        "' is the lock file of a workbook that is open in a spreadsheet program, not the "
        "workbook itself");
  }
  for (const auto& lock : lock_files_of(workbook)) {
    std::error_code unreadable;
    if (std::filesystem::is_regular_file(lock, unreadable)) {
      logger().warning(
          "{} is open in a spreadsheet program (lock file {}): changes not saved there are not "
          "converted",
          workbook, lock);
      return;
    }
  }
}

}  // namespace

void discovery_document(const WorkbookSheet& sheet, const Value& discovery_config,
                        const std::string& template_path, serializers::ListExport& accounts,
                        log::Issuer caller) {
  logger().info({caller, "Parsing discovery account information"});
  // An empty template document reads as null, which has no place for the accounts.
  if (!discovery_config.is_object()) {
    throw TypeError("template " + template_path + " holds " +
                    serializers::kind_name(discovery_config) +
                    ", not a mapping to put account_info in");
  }
  LoggedAccounts logged(accounts, discovery_config, logger().is_enabled_for(log::DEBUG));
  generate_discovery_account_info(sheet, discovery_config, logged);
  logger().debug({caller, "Generated DiscoveryConfig:\n{}"}, log::Readable{logged.document()});

  Value sections = discovery_config;
  sections["account_info"] = Value::array();
  try {
    _validate_discovery_config(sections);
  } catch (const ovra::ValidationError& error) {
    // The accounts passed the model one by one, so what it refuses now comes from the template.
    throw ovra::ValidationError("template " + template_path + ": " + error.what());
  }
}

void _validate_discovery_config(const Value& discovery_config) {
  (void)ovra::load_from_dict(discovery_config);
}

std::optional<std::string> name_error_kind(const std::exception& error) {
  if (dynamic_cast<const ovra::ValidationError*>(&error) != nullptr)
    return ovra::ValidationError::KIND;
  return std::nullopt;
}

void main(const std::vector<std::string>& args, const std::string& program_name) {
  Options options;
  cli::ArgumentParser parser = build_parser(program_name, options);
  parser.parse_args(args);
  cli::apply_verbosity(options.shared);

  if (options.example_template) {
    std::cout << data::read_data_file(TEMPLATE_FILE) << '\n';
    return;
  }

  serializers::start_serializers();
  const std::string template_path =
      options.template_path.value_or((data::data_directory() / TEMPLATE_FILE).string());
  // Both are required: the parser refuses a command line without them.
  const std::string excel_path = *options.excel;
  const std::string yaml_path = *options.yaml;
  // Before anything is read: an output that cannot be written, or that would replace the workbook
  // or the template, would otherwise be found only after the whole conversion.
  base::files::check_planned_outputs({{"--yaml", yaml_path, &serializers::Exporters::missing_exporter}},
                               {{"--excel", excel_path}, {"--template", template_path}});

  logger().info("Loading VPC data from {}", excel_path);
  check_not_open_elsewhere(excel_path);
  const WorkbookSheet sheet = WorkbookSheet::read(excel_path);
  check_sheet(sheet, excel_path);
  if (logger().is_enabled_for(log::DEBUG))
    logger().debug("Loaded data from excel:\n{}", log::Readable{rendered_rows(sheet)});

  logger().info("Reading discovery configuration template: {}", template_path);
  const Value discovery_config = serializers::load_from_path(template_path);

  // Each account is written to the output's temporary file as it is built; the file takes the
  // output's name only once the whole document has passed.
  const std::unique_ptr<serializers::ListExport> accounts = serializers::open_list_export(
      yaml_path, "account_info", discovery_config.is_object() ? discovery_config : Value::object());
  discovery_document(sheet, discovery_config, template_path, *accounts);
  logger().info("Exporting accounts to discovery file: {}", yaml_path);
  accounts->finish();
}

}  // namespace generator::convert
