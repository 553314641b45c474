#include "generator/convert/account_records.hpp"

#include <algorithm>
#include <optional>
#include <unordered_map>

#include "generator/common/errors.hpp"
#include "generator/common/serializers/document.hpp"
#include "generator/log/log.hpp"
#include "ovra/config.hpp"

namespace generator::convert {

namespace {

log::Logger& logger() { return log::get_logger("generator.convert"); }

const Value& read_cell(const WorkbookRow& record, const std::string& column) {
  const auto found = record.record.find(column);
  if (found == record.record.end()) {
    throw KeyError(cell_label(record, column) +
                   ": the workbook has no such column (its header row must name it)");
  }
  return *found;
}

bool is_empty_cell(const Value& cell) {
  return cell.is_string() && cell.get_ref<const std::string&>() == NULL_CELL;
}

// The formatters know the cell but not where it stands; the error they raise gets the place.
Value formatted(const WorkbookRow& record, const std::string& column, const Value& cell) {
  const auto& formatters = FIELD_FORMATTERS();
  const auto formatter = formatters.find(column);
  if (formatter == formatters.end()) return cell;
  try {
    return formatter->second(cell);
  } catch (const ValueError& error) {
    throw ValueError(cell_label(record, column) + ": " + error.what());
  } catch (const TypeError& error) {
    throw TypeError(cell_label(record, column) + ": " + error.what());
  }
}

// A spreadsheet that stores the account column as numbers drops leading zeros; the model would
// refuse the short number anyway, but the operator needs to know why and how to mend it.
void check_account_number_digits(const WorkbookRow& record, const Value& account_id) {
  if (!account_id.is_string()) return;
  const auto& text = account_id.get_ref<const std::string&>();
  if (!(text.empty() || is_all_digits(text)) || text.size() >= ACCOUNT_NUMBER_DIGITS) return;
  const std::string padded = std::string(ACCOUNT_NUMBER_DIGITS - text.size(), '0') + text;
  throw ValueError(
      cell_label(record, "account_id") + ": account number " + text + " has " +
      std::to_string(text.size()) + " digits, not " + std::to_string(ACCOUNT_NUMBER_DIGITS) +
      "; a spreadsheet that stores the column as numbers drops leading zeros. Format the column as "
      "text and write all " +
      std::to_string(ACCOUNT_NUMBER_DIGITS) + " digits (" + padded + " if only zeros were lost)");
}

// Truth of a template value, as an operator would read it: false, 0, "", an empty list or mapping
// and null all switch the names off.
bool is_truthy(const Value& value) {
  switch (value.type()) {
    case Value::value_t::null:
      return false;
    case Value::value_t::boolean:
      return value.get<bool>();
    case Value::value_t::number_integer:
    case Value::value_t::number_unsigned:
    case Value::value_t::number_float:
      return value.get<double>() != 0.0;
    case Value::value_t::string:
      return !value.get_ref<const std::string&>().empty();
    case Value::value_t::array:
    case Value::value_t::object:
      return !value.empty();
    default:
      return true;
  }
}

bool configure_gw_name(const Value& ovra_config) {
  if (!ovra_config.is_object() || ovra_config.empty()) return true;
  const auto config = ovra_config.find("config");
  if (config == ovra_config.end()) return true;
  if (!config->is_object()) {
    throw TypeError(
        std::string(
            "the template's config section must be a mapping holding configure_gw_name, got ") +
        serializers::kind_name(*config));
  }
  const auto setting = config->find("configure_gw_name");
  return setting == config->end() || is_truthy(*setting);
}

// One row as the model sees it when the row stands alone: its account fields, its region, its VPC.
struct RowEntry {
  const WorkbookRow* row;
  Value account_fields;
  Value region;
  Value vpc;
};

Value account_entry(const Value& account_fields, const Value& region, const Value& vpc) {
  Value region_entry = Value::object();
  region_entry["region"] = region;
  region_entry["vpcs"] = Value::array({vpc});
  Value entry = account_fields;
  entry["regions"] = Value::array({std::move(region_entry)});
  return entry;
}

bool model_accepts(const Value& entry) {
  try {
    (void)ovra::AccountInfo(entry);
    return true;
  } catch (const ovra::ValidationError&) {
    return false;
  }
}

// The first column, in the model's order, whose value the model refuses: the row's values replace
// valid stand-ins one column at a time, so the first refusal is that column's. The model's rules
// concern one field each, so this finds the column the model's own message is about.
std::optional<std::string> refused_column(const RowEntry& entry) {
  Value account = {{"account_id", std::string(ACCOUNT_NUMBER_DIGITS, '0')},
                   {"account_name", "account"}};
  Value region = "us-east-1";
  Value vpc = {{"vpc_id", "vpc-00000000"}};
  const auto take = [](Value& target, const Value& source, const std::string& field) {
    const auto found = source.find(field);
    if (found != source.end())
      target[field] = *found;
    else
      target.erase(field);
  };
  for (const auto& field : ACCOUNT_INFO_FIELDS) {
    take(account, entry.account_fields, field);
    if (!model_accepts(account_entry(account, region, vpc))) return field;
  }
  region = entry.region;
  if (!model_accepts(account_entry(account, region, vpc))) return "region";
  for (const auto& field : VPC_FIELDS) {
    take(vpc, entry.vpc, field);
    if (!model_accepts(account_entry(account, region, vpc))) return field;
  }
  return std::nullopt;
}

// The model refused a whole account: name the first row, and its column, that it refuses alone.
[[noreturn]] void refuse_account(const ovra::ValidationError& error,
                                 const std::vector<RowEntry>& rows) {
  for (const auto& entry : rows) {
    try {
      (void)ovra::AccountInfo(account_entry(entry.account_fields, entry.region, entry.vpc));
    } catch (const ovra::ValidationError& row_error) {
      const auto column = refused_column(entry);
      std::string message = (column ? cell_label(*entry.row, *column) : row_label(*entry.row)) +
                            ": " + row_error.what();
      if (column && is_empty_cell(read_cell(*entry.row, *column))) {
        const std::string hint = empty_cell_hint(*entry.row, *column);
        if (!hint.empty()) message += "; " + hint;
      }
      throw ovra::ValidationError(message);
    }
  }
  std::string numbers;
  for (const auto& entry : rows)
    numbers += (numbers.empty() ? "" : ", ") + std::to_string(entry.row->row_number);
  throw ovra::ValidationError("rows " + numbers + ": " + error.what());
}

std::string shown_value(const Value& fields, const std::string& field) {
  const auto found = fields.find(field);
  return found == fields.end() ? std::string("empty") : found->dump();
}

void check_consistency(const Value& account_info, const WorkbookRow& first_row,
                       const Value& row_info, const WorkbookRow& row) {
  if (row_info == account_info) return;
  std::string differences;
  for (const auto& field : ACCOUNT_INFO_FIELDS) {
    const auto first = account_info.find(field);
    const auto other = row_info.find(field);
    const bool first_present = first != account_info.end();
    const bool other_present = other != row_info.end();
    if (first_present == other_present && (!first_present || *first == *other)) continue;
    differences += (differences.empty() ? "" : ", ") + field + " (" + row_label(first_row) + ": " +
                   shown_value(account_info, field) + ", " + row_label(row) + ": " +
                   shown_value(row_info, field) + ")";
  }
  const auto account_id = account_info.find("account_id");
  const std::string account = account_id != account_info.end() && account_id->is_string()
                                  ? account_id->get<std::string>()
                                  : shown_value(account_info, "account_id");
  std::string message = "account " + account + ": rows " + std::to_string(first_row.row_number) +
                        " and " + std::to_string(row.row_number) + " differ in " + differences +
                        "; every row of an account must repeat the same account columns";
  // A cell left empty in one of the rows is most often a merged cell or a word read as empty.
  for (const auto& field : ACCOUNT_INFO_FIELDS) {
    const bool first_present = account_info.contains(field);
    const bool other_present = row_info.contains(field);
    if (first_present == other_present) continue;
    const std::string hint = empty_cell_hint(first_present ? row : first_row, field);
    if (!hint.empty()) {
      message += "; row " + std::to_string((first_present ? row : first_row).row_number) +
                 ", column " + field + ": " + hint;
      break;
    }
  }
  throw AssertionError(message);
}

// A copied row would give the migration the same VPC twice.
void refuse_repeated_vpcs(const Value& account_id, const Value& region,
                          const std::vector<const WorkbookRow*>& records) {
  std::unordered_map<std::string, const WorkbookRow*> first_rows;
  for (const WorkbookRow* record : records) {
    const Value& vpc_id = read_cell(*record, "vpc_id");
    if (is_empty_cell(vpc_id)) continue;
    const auto [first, added] = first_rows.try_emplace(vpc_id.dump(), record);
    if (added) continue;
    const auto text = [](const Value& value) {
      return value.is_string() ? value.get<std::string>() : value.dump();
    };
    throw AssertionError(
        "account " + text(account_id) + ", region " + text(region) + ": VPC " + text(vpc_id) +
        " stands in rows " + std::to_string(first->second->row_number) + " and " +
        std::to_string(record->row_number) + "; a VPC may have one row only, so remove the copy");
  }
}

struct RegionRecords {
  Value region;
  std::vector<const WorkbookRow*> records;
};

struct AccountRecords {
  std::vector<RegionRecords> regions;
  std::unordered_map<std::string, std::size_t> region_index;
};

}  // namespace

Value _get_account_info(const WorkbookRow& record) {
  Value account_info = Value::object();
  for (const auto& field : ACCOUNT_INFO_FIELDS) {
    const Value& cell = read_cell(record, field);
    if (is_empty_cell(cell)) continue;
    if (field == "account_id") check_account_number_digits(record, cell);
    account_info[field] = formatted(record, field, cell);
  }
  return account_info;
}

Value _get_vpc_data(const WorkbookRow& record, const Value& ovra_config) {
  const bool keep_gateway_names = configure_gw_name(ovra_config);
  Value vpc_data = Value::object();
  for (const auto& field : VPC_FIELDS) {
    const Value& cell = read_cell(record, field);
    // The gateway subnet stays in the entry even when empty: the migration then picks one.
    if (is_empty_cell(cell) && field != "hvn_cidr") continue;
    vpc_data[field] = formatted(record, field, cell);
  }
  if (!keep_gateway_names) {
    vpc_data.erase("spoke_gw_name");
    vpc_data.erase("transit_gw_name");
  }
  return vpc_data;
}

Value generate_discovery_account_info(const std::vector<WorkbookRow>& vpc_data,
                                      const Value& discovery_config) {
  check_cells(vpc_data);
  // Grouping: account and region keys compare as exact values, in order of first appearance.
  std::vector<std::pair<Value, AccountRecords>> account_record_map;
  std::unordered_map<std::string, std::size_t> account_index;
  for (const auto& record : vpc_data) {
    logger().debug("Record:\n{}",
                   log::Readable{Value{{"row", record.row_number}, {"cells", record.record}}});
    const Value& account_id = read_cell(record, "account_id");
    const Value& region = read_cell(record, "region");
    const auto [account_at, new_account] =
        account_index.try_emplace(account_id.dump(), account_record_map.size());
    if (new_account) account_record_map.emplace_back(account_id, AccountRecords{});
    AccountRecords& region_records = account_record_map[account_at->second].second;
    const auto [region_at, new_region] =
        region_records.region_index.try_emplace(region.dump(), region_records.regions.size());
    if (new_region) region_records.regions.push_back(RegionRecords{region, {}});
    region_records.regions[region_at->second].records.push_back(&record);
  }

  Value accounts = Value::array();
  for (const auto& [account_id, region_records] : account_record_map) {
    Value account_info = Value::object();
    const WorkbookRow* account_info_row = nullptr;
    Value regions = Value::array();
    std::vector<RowEntry> row_entries;
    for (const auto& [region, records] : region_records.regions) {
      refuse_repeated_vpcs(account_id, region, records);
      Value region_data = Value::object();
      region_data["region"] = region;
      region_data["vpcs"] = Value::array();
      Value& region_vpcs = region_data["vpcs"];
      for (const WorkbookRow* record : records) {
        logger().debug("Parsing VPC Record:\n{}", log::Readable{Value{{"row", record->row_number},
                                                                      {"cells", record->record}}});
        Value row_info = _get_account_info(*record);
        if (account_info.empty()) {
          account_info = row_info;
          account_info_row = record;
        } else {
          check_consistency(account_info, *account_info_row, row_info, *record);
        }
        Value vpc = _get_vpc_data(*record, discovery_config);
        const auto hpe = row_info.find("hpe");
        check_gateway_subnet(*record,
                             hpe != row_info.end() && hpe->is_boolean() && hpe->get<bool>());
        logger().debug("VPC Data:\n{}", log::Readable{vpc});
        region_vpcs.push_back(vpc);
        row_entries.push_back(RowEntry{record, std::move(row_info), region, std::move(vpc)});
      }
      logger().debug("Region Data:\n{}", log::Readable{region_data});
      regions.push_back(std::move(region_data));
    }
    account_info["regions"] = std::move(regions);
    logger().debug("Account Data:\n{}", log::Readable{account_info});
    try {
      accounts.push_back(ovra::AccountInfo(account_info).to_document());
    } catch (const ovra::ValidationError& error) {
      refuse_account(error, row_entries);
    }
  }
  return Value{{"account_info", std::move(accounts)}};
}

}  // namespace generator::convert
