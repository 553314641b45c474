#include "generator/convert/convert.hpp"

#include <filesystem>
#include <iostream>
#include <optional>

#include "generator/cli/cli.hpp"
#include "generator/common/data/data_files.hpp"
#include "generator/common/errors.hpp"
#include "base/files/output_path.hpp"
#include "generator/common/serializers/export/export.hpp"
#include "generator/common/serializers/load/load.hpp"
#include "generator/common/serializers/serializers.hpp"
#include "generator/common/serializers/xlsx/xlsx.hpp"
#include "generator/convert/account_records.hpp"
#include "generator/convert/workbook_checks.hpp"
#include "generator/log/log.hpp"
#include "ovra/config.hpp"

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

// A cell as text, except a date, which stays a date so that it can be refused as one: its text
// form is not what the cell shows.
serializers::Document text_unless_date(const serializers::Document& cell) {
  return serializers::is_date(cell) ? cell : serializers::to_text(cell);
}

Value rendered_rows(const std::vector<WorkbookRow>& rows) {
  Value rendering = Value::array();
  for (const auto& row : rows)
    rendering.push_back(Value{{"row", row.row_number}, {"cells", row.record}});
  return rendering;
}

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

// Account numbers keep their leading zeros, and a name made only of digits (an account named after
// its number, a gateway "0123") stays the text the operator sees instead of turning into a number.
serializers::Converters text_columns() {
  serializers::Converters converters;
  for (const WorkbookColumnEntry& entry : WORKBOOK_COLUMN_TABLE)
    if (entry.kind == CellKind::text) converters.emplace(entry.header, &text_unless_date);
  return converters;
}

Value discovery_document(const std::vector<WorkbookRow>& rows, Value discovery_config,
                         const std::string& template_path, std::source_location caller) {
  logger().info(caller, "Parsing discovery account information");
  Value account_info = generate_discovery_account_info(rows, discovery_config);

  // An empty template document reads as null, which has no place for the accounts.
  if (!discovery_config.is_object()) {
    throw TypeError("template " + template_path + " holds " +
                    serializers::kind_name(discovery_config) +
                    ", not a mapping to put account_info in");
  }
  discovery_config["account_info"] = std::move(account_info["account_info"]);
  logger().debug(caller, "Generated DiscoveryConfig:\n{}", log::Readable{discovery_config});

  try {
    _validate_discovery_config(discovery_config);
  } catch (const ovra::ValidationError& error) {
    // The accounts passed the model one by one, so what it refuses now comes from the template.
    throw ovra::ValidationError("template " + template_path + ": " + error.what());
  }
  return discovery_config;
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
  const serializers::NumberedSheet sheet =
      serializers::load_numbered_records_from_xlsx(excel_path, text_columns());
  check_sheet(sheet, excel_path);
  const std::vector<WorkbookRow>& vpc_data = sheet.records;
  logger().debug("Loaded data from excel:\n{}", log::Readable{rendered_rows(vpc_data)});

  logger().info("Reading discovery configuration template: {}", template_path);
  Value discovery_config = serializers::load_from_path(template_path);

  const Value document = discovery_document(vpc_data, std::move(discovery_config), template_path);
  logger().info("Exporting accounts to discovery file: {}", yaml_path);
  serializers::export_to_path(document, yaml_path);
}

}  // namespace generator::convert
