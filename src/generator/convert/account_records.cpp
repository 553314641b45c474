#include "generator/convert/account_records.hpp"

#include <algorithm>
#include <fmt/format.h>
#include <optional>
#include <ranges>
#include <unordered_map>
#include <vector>

#include "generator/common/errors.hpp"
#include "generator/log/log.hpp"
#include "ovra/config.hpp"
#include "serializers/document.hpp"

namespace generator::convert {

namespace {

log::Logger& logger() { return log::get_logger("generator.convert"); }

bool is_empty_cell(const Value& cell) {
  return cell.is_string() && cell.get_ref<const std::string&>() == NULL_CELL;
}

// The formatters know the cell but not where it stands; the error they raise gets the place.
Value formatted(const WorkbookRow& record, WorkbookColumn column, const Value& cell) {
  const auto& formatters = FIELD_FORMATTERS();
  const auto formatter = formatters.find(header_of(column));
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
  if (!(text.empty() || aws::is_all_digits(text)) || text.size() >= aws::ACCOUNT_NUMBER_DIGITS) return;
  const std::string padded = std::string(aws::ACCOUNT_NUMBER_DIGITS - text.size(), '0') + text;
  throw ValueError(
      cell_label(record, WorkbookColumn::account_id) + ": account number " + text + " has " +
      std::to_string(text.size()) + " digits, not " + std::to_string(aws::ACCOUNT_NUMBER_DIGITS) +
      "; a spreadsheet that stores the column as numbers drops leading zeros. Format the column as "
      "text and write all " +
      std::to_string(aws::ACCOUNT_NUMBER_DIGITS) + " digits (" + padded + " if only zeros were lost)");
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
  WorkbookRow row;
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
std::optional<WorkbookColumn> refused_column(const RowEntry& entry) {
  Value account = {{"account_id", std::string(aws::ACCOUNT_NUMBER_DIGITS, '0')},
                   {"account_name", "account"}};
  Value region = "us-east-1";
  Value vpc = {{"vpc_id", "vpc-00000000"}};
  const auto take = [](Value& target, const Value& source, WorkbookColumn column) {
    const std::string field = header_of(column);
    const auto found = source.find(field);
    if (found != source.end())
      target[field] = *found;
    else
      target.erase(field);
  };
  for (const WorkbookColumn column : ACCOUNT_INFO_FIELDS) {
    take(account, entry.account_fields, column);
    if (!model_accepts(account_entry(account, region, vpc))) return column;
  }
  region = entry.region;
  if (!model_accepts(account_entry(account, region, vpc))) return WorkbookColumn::region;
  for (const WorkbookColumn column : VPC_FIELDS) {
    take(vpc, entry.vpc, column);
    if (!model_accepts(account_entry(account, region, vpc))) return column;
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
      std::string message = (column ? cell_label(entry.row, *column) : row_label(entry.row)) +
                            ": " + row_error.what();
      if (column && is_empty_cell(entry.row.cell(*column))) {
        const std::string hint = empty_cell_hint(entry.row, *column);
        if (!hint.empty()) message += "; " + hint;
      }
      throw ovra::ValidationError(message);
    }
  }
  const auto number = [](const RowEntry& entry) { return entry.row.row_number(); };
  throw ovra::ValidationError(fmt::format("rows {}: {}",
                                          fmt::join(rows | std::views::transform(number), ", "),
                                          error.what()));
}

std::string shown_value(const Value& fields, const std::string& field) {
  const auto found = fields.find(field);
  return found == fields.end() ? std::string("empty") : found->dump();
}

void check_consistency(const Value& account_info, const WorkbookRow& first_row,
                       const Value& row_info, const WorkbookRow& row) {
  if (row_info == account_info) return;
  std::string differences;
  for (const WorkbookColumn column : ACCOUNT_INFO_FIELDS) {
    const std::string field = header_of(column);
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
  std::string message = "account " + account + ": rows " + std::to_string(first_row.row_number()) +
                        " and " + std::to_string(row.row_number()) + " differ in " + differences +
                        "; every row of an account must repeat the same account columns";
  // A cell left empty in one of the rows is most often a merged cell or a word read as empty.
  for (const WorkbookColumn column : ACCOUNT_INFO_FIELDS) {
    const std::string field = header_of(column);
    const bool first_present = account_info.contains(field);
    const bool other_present = row_info.contains(field);
    if (first_present == other_present) continue;
    const WorkbookRow& emptied = first_present ? row : first_row;
    const std::string hint = empty_cell_hint(emptied, column);
    if (!hint.empty()) {
      message += "; " + cell_label(emptied, column) + ": " + hint;
      break;
    }
  }
  throw AssertionError(message);
}

// A copied row would give the migration the same VPC twice.
void refuse_repeated_vpcs(const Value& account_id, const Value& region,
                          const std::vector<RowEntry>& entries, std::size_t begin,
                          std::size_t end) {
  std::unordered_map<std::string, std::uint32_t> first_rows;
  for (std::size_t index = begin; index < end; ++index) {
    const WorkbookRow& record = entries[index].row;
    const Value vpc_id = record.cell(WorkbookColumn::vpc_id);
    if (is_empty_cell(vpc_id)) continue;
    const auto [first, added] = first_rows.try_emplace(vpc_id.dump(), record.row_number());
    if (added) continue;
    const auto text = [](const Value& value) {
      return value.is_string() ? value.get<std::string>() : value.dump();
    };
    throw AssertionError(
        "account " + text(account_id) + ", region " + text(region) + ": VPC " + text(vpc_id) +
        " stands in rows " + std::to_string(first->second) + " and " +
        std::to_string(record.row_number()) + "; a VPC may have one row only, so remove the copy");
  }
}

// The rows of one account, region by region, each region's in sheet order.
struct AccountRows {
  Value account_id;
  std::vector<Value> regions;
  std::vector<std::vector<std::size_t>> rows;
  std::unordered_map<std::string, std::size_t> region_index;
};

bool debugging() { return logger().is_enabled_for(log::DEBUG); }

// Grouping: account and region keys compare as exact values, in order of first appearance.
std::vector<AccountRows> grouped_rows(const WorkbookSheet& sheet) {
  const bool debug = debugging();
  std::vector<AccountRows> accounts;
  std::unordered_map<std::string, std::size_t> account_index;
  for (std::size_t index = 0; index < sheet.size(); ++index) {
    const WorkbookRow record = sheet.row(index);
    if (debug) logger().debug("Record:\n{}", log::Readable{logged_row(record)});
    Value account_id = record.cell(WorkbookColumn::account_id);
    Value region = record.cell(WorkbookColumn::region);
    const auto [account_at, new_account] =
        account_index.try_emplace(account_id.dump(), accounts.size());
    if (new_account) accounts.push_back(AccountRows{std::move(account_id), {}, {}, {}});
    AccountRows& account = accounts[account_at->second];
    const auto [region_at, new_region] =
        account.region_index.try_emplace(region.dump(), account.regions.size());
    if (new_region) {
      account.regions.push_back(std::move(region));
      account.rows.emplace_back();
    }
    account.rows[region_at->second].push_back(index);
  }
  return accounts;
}

// The account's entry from its checked rows, in the order the rows were read.
Value account_document(const std::vector<RowEntry>& entries, const AccountRows& account,
                       const Value& account_info, bool debug) {
  Value document = account_info;
  Value regions = Value::array();
  std::size_t next = 0;
  for (std::size_t region = 0; region < account.regions.size(); ++region) {
    Value region_data = Value::object();
    region_data["region"] = account.regions[region];
    region_data["vpcs"] = Value::array();
    for (std::size_t count = 0; count < account.rows[region].size(); ++count)
      region_data["vpcs"].push_back(entries[next++].vpc);
    if (debug) logger().debug("Region Data:\n{}", log::Readable{region_data});
    regions.push_back(std::move(region_data));
  }
  document["regions"] = std::move(regions);
  if (debug) logger().debug("Account Data:\n{}", log::Readable{document});
  return document;
}

}  // namespace

Value _get_account_info(const WorkbookRow& record) {
  Value account_info = Value::object();
  for (const WorkbookColumn column : ACCOUNT_INFO_FIELDS) {
    const Value cell = record.cell(column);
    if (is_empty_cell(cell)) continue;
    if (column == WorkbookColumn::account_id) check_account_number_digits(record, cell);
    account_info[header_of(column)] = formatted(record, column, cell);
  }
  return account_info;
}

Value _get_vpc_data(const WorkbookRow& record, const Value& ovra_config) {
  const bool keep_gateway_names = configure_gw_name(ovra_config);
  Value vpc_data = Value::object();
  for (const WorkbookColumn column : VPC_FIELDS) {
    const Value cell = record.cell(column);
    // The gateway subnet stays in the entry even when empty: the migration then picks one.
    if (is_empty_cell(cell) && column != WorkbookColumn::hvn_cidr) continue;
    vpc_data[header_of(column)] = formatted(record, column, cell);
  }
  if (!keep_gateway_names) {
    vpc_data.erase("spoke_gw_name");
    vpc_data.erase("transit_gw_name");
  }
  return vpc_data;
}

void generate_discovery_account_info(const WorkbookSheet& sheet, const Value& discovery_config,
                                     serializers::ListExport& accounts) {
  check_cells(sheet);
  const bool debug = debugging();
  for (const AccountRows& account : grouped_rows(sheet)) {
    // Each row formatted as it stands alone, in the account's order of regions and rows.
    std::vector<RowEntry> entries;
    for (std::size_t region = 0; region < account.regions.size(); ++region) {
      for (const std::size_t index : account.rows[region]) {
        const WorkbookRow record = sheet.row(index);
        if (debug)
          logger().debug("Parsing VPC Record:\n{}", log::Readable{logged_row(record)});
        Value row_info = _get_account_info(record);
        Value vpc = _get_vpc_data(record, discovery_config);
        if (debug) logger().debug("VPC Data:\n{}", log::Readable{vpc});
        entries.push_back(
            RowEntry{record, std::move(row_info), account.regions[region], std::move(vpc)});
      }
    }

    // The account's rows checked together before the account is built.
    Value account_info = Value::object();
    std::optional<WorkbookRow> account_info_row;
    std::size_t begin = 0;
    for (std::size_t region = 0; region < account.regions.size(); ++region) {
      const std::size_t end = begin + account.rows[region].size();
      refuse_repeated_vpcs(account.account_id, account.regions[region], entries, begin, end);
      for (std::size_t index = begin; index < end; ++index) {
        const RowEntry& entry = entries[index];
        if (account_info.empty()) {
          account_info = entry.account_fields;
          account_info_row = entry.row;
        } else {
          check_consistency(account_info, *account_info_row, entry.account_fields, entry.row);
        }
        const auto hpe = entry.account_fields.find("hpe");
        check_gateway_subnet(entry.row, hpe != entry.account_fields.end() && hpe->is_boolean() &&
                                            hpe->get<bool>());
      }
      begin = end;
    }

    const Value document = account_document(entries, account, account_info, debug);
    try {
      accounts.append(ovra::AccountInfo(document).to_document());
    } catch (const ovra::ValidationError& error) {
      refuse_account(error, entries);
    }
  }
}

}  // namespace generator::convert
