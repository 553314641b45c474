#include "generator/convert/workbook_checks.hpp"

#include <algorithm>
#include <cctype>
#include <fmt/format.h>
#include <optional>
#include <string_view>

#include "base/text/ascii.hpp"
#include "generator/common/errors.hpp"
#include "generator/common/gateway_size.hpp"
#include "generator/convert/field_formatters.hpp"
#include "generator/log/log.hpp"
#include "ipv4/ipv4_network.hpp"
#include "serializers/xlsx/xlsx.hpp"

namespace generator::convert {

namespace {

log::Logger& logger() { return log::get_logger("generator.convert"); }

std::string joined(const std::vector<std::string>& items) {
  return fmt::format("{}", fmt::join(items, ", "));
}

// A header as an operator might have meant it: blanks at the edges (a no-break space included)
// and letter case do not count, and a blank or hyphen inside stands for the underscore.
std::string header_key(std::string_view header) {
  std::string key;
  for (std::size_t at = 0; at < header.size(); ++at) {
    if (header.substr(at).starts_with("\u00a0")) {
      key += ' ';
      ++at;
      continue;
    }
    key += base::text::lower_case(header[at]);
  }
  const auto first = key.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return "";
  key = key.substr(first, key.find_last_not_of(" \t\r\n") - first + 1);
  std::replace_if(
      key.begin(), key.end(), [](char c) { return c == ' ' || c == '-'; }, '_');
  return key;
}

// The blocks of a vpc_cidrs cell: generate joins them with commas; blanks around them do not count.
std::vector<std::string> split_blocks(const std::string& text) {
  std::vector<std::string> blocks;
  std::size_t start = 0;
  while (start <= text.size()) {
    const auto end = std::min(text.find(',', start), text.size());
    std::string block = text.substr(start, end - start);
    const auto first = block.find_first_not_of(" \t");
    if (first != std::string::npos)
      blocks.push_back(block.substr(first, block.find_last_not_of(" \t") - first + 1));
    start = end + 1;
  }
  return blocks;
}

}  // namespace

void check_sheet(const WorkbookSheet& sheet, const std::string& workbook) {
  const std::string sheet_name = "sheet '" + sheet.name() + "' of " + workbook;
  const std::vector<std::string>& headers = sheet.headers();
  std::vector<std::string> missing;
  std::size_t found = 0;
  for (const WorkbookColumnEntry& listed : WORKBOOK_COLUMN_TABLE) {
    const std::string column(listed.header);
    const auto header = std::find(headers.begin(), headers.end(), column);
    if (header != headers.end()) {
      ++found;
      // The reader tells a repeated header apart as "domain.1": which of the two cells counts
      // would be a guess.
      std::vector<std::string> columns{serializers::column_name(
          static_cast<std::size_t>(header - headers.begin()) + 1)};
      for (std::size_t index = 0; index < headers.size(); ++index) {
        const std::string_view other = headers[index];
        if (other.starts_with(column + ".") &&
            other.find_first_not_of("0123456789", column.size() + 1) == std::string_view::npos &&
            other.size() > column.size() + 1)
          columns.push_back(serializers::column_name(index + 1));
      }
      if (columns.size() > 1) {
        throw KeyError(sheet_name + " has the header " + column + " in columns " +
                       joined(columns) +
                       "; row 1 must name each column of the discovery workbook once");
      }
      continue;
    }
    // A workbook without the VPCs' blocks converts as one whose blocks are empty.
    if (listed.read_as == ReadAs::blocks_check) continue;
    std::string entry = column;
    for (const auto& other : headers) {
      if (other != column && header_key(other) == column) {
        entry += " (row 1 has \"" + other + "\")";
        break;
      }
    }
    missing.push_back(std::move(entry));
  }
  if (found == 0) {
    throw KeyError(sheet_name +
                   " has none of the discovery workbook's column headers in row 1; convert reads "
                   "the first sheet of a workbook, so the discovery sheet must come first");
  }
  if (!missing.empty()) {
    throw KeyError(sheet_name + " lacks the column" + (missing.size() == 1 ? " " : "s ") +
                   joined(missing) +
                   "; row 1 must name every column of the discovery workbook exactly as "
                   "generate writes it");
  }
  const std::string blocks = header_of(WorkbookColumn::vpc_cidrs);
  if (std::find(headers.begin(), headers.end(), blocks) == headers.end()) {
    logger().warning(
        "{} has no column {}: the gateway subnets (hvn_cidr) are not checked against the VPCs' "
        "address blocks",
        sheet_name, blocks);
  }
  if (sheet.size() == 0) {
    logger().warning("{} has no rows under its header row: the discovery file gets no accounts",
                     sheet_name);
  }
}

void check_cells(const WorkbookSheet& sheet) {
  for (std::size_t index = 0; index < sheet.size(); ++index) {
    const WorkbookRow row = sheet.row(index);
    for (const WorkbookColumnEntry& entry : WORKBOOK_COLUMN_TABLE) {
      const WorkbookColumn column = entry.column;
      if (!sheet.has(column)) continue;
      if (const auto missing = row.read_as_missing(column)) {
        if (missing->error_cell) {
          throw ValueError(cell_label(row, column) + ": the cell shows the error " +
                           missing->text + "; type the value itself, or leave the cell empty");
        }
        logger().warning(
            "{}: \"{}\" is read as an empty cell (a word that stands for a missing value)",
            cell_label(row, column), missing->text);
        continue;
      }
      const Value cell = row.cell(column);
      if (serializers::is_date(cell)) {
        throw ValueError(cell_label(row, column) + ": the cell holds " + shown_cell(cell) +
                         ", not text; a spreadsheet program turns some typed texts into dates: "
                         "format the cell as text and type the value again");
      }
      const auto doubts = doubtful_readings(entry.kind, cell);
      if (!doubts.empty()) {
        logger().warning("{} ({}): {}; kept as read ({})", cell_label(row, column),
                         shown_cell(cell), joined(doubts),
                         entry.kind == CellKind::tags
                             ? "tags are key=value pairs separated by commas"
                             : "list items are separated by a comma and one blank");
      }
    }
  }
}

void check_gateway_subnet(const WorkbookRow& row, bool hpe) {
  if (!row.sheet_has(WorkbookColumn::hvn_cidr) || !row.sheet_has(WorkbookColumn::vpc_cidrs))
    return;
  const Value hvn_cell = row.cell(WorkbookColumn::hvn_cidr);
  const Value blocks_cell = row.cell(WorkbookColumn::vpc_cidrs);
  if (!hvn_cell.is_string()) return;
  std::optional<ipv4::Network> subnet;
  try {
    subnet = ipv4::Network::parse(hvn_cell.get_ref<const std::string&>());
  } catch (const ipv4::InvalidNetwork&) {
    return;  // the migration model refuses it with its own words
  }
  const std::string blocks_text =
      blocks_cell.is_string() ? blocks_cell.get<std::string>() : std::string();
  const std::vector<std::string> block_texts = split_blocks(blocks_text);
  if (block_texts.empty()) {
    logger().warning(
        "{}: {} is not checked against the VPC's address blocks, as column vpc_cidrs is empty",
        cell_label(row, WorkbookColumn::hvn_cidr), subnet->to_string());
  } else {
    bool contained = false;
    for (const auto& text : block_texts) {
      try {
        contained = contained || ipv4::Network::parse(text).contains(*subnet);
      } catch (const ipv4::InvalidNetwork&) {
        throw ValueError(cell_label(row, WorkbookColumn::vpc_cidrs) + ": \"" + text +
                         "\" is not an IPv4 network such as 10.0.0.0/16; the column holds the "
                         "VPC's address blocks as generate found them, separated by commas");
      }
    }
    if (!contained) {
      throw ValueError(cell_label(row, WorkbookColumn::hvn_cidr) + ": " + subnet->to_string() +
                       " lies in none of the VPC's address blocks (column vpc_cidrs: " +
                       blocks_text + "); the gateway subnet must lie inside one of them");
    }
  }
  const int wanted = gateway_prefix_length(hpe_of(hpe));
  if (subnet->prefix_length() != wanted) {
    logger().warning("{}: {} is a /{} subnet, but hpe {}, which asks for a /{}",
                     cell_label(row, WorkbookColumn::hvn_cidr), subnet->to_string(), subnet->prefix_length(),
                     hpe ? "is true" : "is false or empty", wanted);
  }
}

std::string empty_cell_hint(const WorkbookRow& row, WorkbookColumn column) {
  if (const auto missing = row.read_as_missing(column))
    return "the cell holds \"" + missing->text + "\", which is read as an empty cell";
  if (table_entry(column).read_as != ReadAs::account_field) return "";
  return "a merged cell keeps its value in its first row only: if cells of column " +
         header_of(column) + " are merged, unmerge them and repeat the value in every row";
}

}  // namespace generator::convert
