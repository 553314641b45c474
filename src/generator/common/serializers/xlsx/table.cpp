#include "generator/common/serializers/xlsx/table.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <unordered_set>

#include "generator/common/serializers/xlsx/archive.hpp"
#include "untrusted/untrusted.hpp"

namespace generator::serializers::xlsx_detail {

namespace {

const std::vector<std::string> TRUE_WORDS{"True", "TRUE", "true"};
const std::vector<std::string> FALSE_WORDS{"False", "FALSE", "false"};

bool is_one_of(const std::string& text, const std::vector<std::string>& words) {
  return std::find(words.begin(), words.end(), text) != words.end();
}

bool is_number(const Document& value) { return value.is_number(); }

// An explicit boolean, or a boolean word, or nothing.
std::optional<bool> boolean_of(const Document& value) {
  if (value.is_boolean()) return value.get<bool>();
  if (!value.is_string()) return std::nullopt;
  const auto& text = value.get_ref<const std::string&>();
  if (is_one_of(text, TRUE_WORDS)) return true;
  if (is_one_of(text, FALSE_WORDS)) return false;
  return std::nullopt;
}

std::optional<Document> number_of(const Document& value) {
  if (is_number(value)) return value;
  if (value.is_string()) return decimal_number(value.get_ref<const std::string&>());
  return std::nullopt;
}

// Column typing for a column without a conversion; `values` has the missing ones as null.
void type_column(std::vector<Document>& values) {
  bool any_missing = false;
  bool all_numbers = true;
  bool all_booleans = true;
  bool any_fraction = false;
  for (auto& value : values) {
    if (value.is_null()) {
      any_missing = true;
      continue;
    }
    if (all_numbers) {
      const auto number = number_of(value);
      if (!number)
        all_numbers = false;
      else if (number->is_number_float())
        any_fraction = true;
    }
    if (all_booleans && !boolean_of(value)) all_booleans = false;
    if (!all_numbers && !all_booleans) return;
  }
  if (all_numbers) {
    for (auto& value : values) {
      if (value.is_null()) continue;
      Document number = *number_of(value);
      if (any_fraction || any_missing) number = number.get<double>();
      value = std::move(number);
    }
  } else if (all_booleans) {
    for (auto& value : values) {
      if (!value.is_null()) value = *boolean_of(value);
    }
  }
}

std::string header_text(const Document& value) {
  if (value.is_null()) return "";
  return to_text(value).get<std::string>();
}

std::vector<std::string> headers_of(const RawSheet& sheet, std::size_t column_count) {
  std::vector<std::string> headers(column_count);
  for (const auto& cell : sheet.cells) {
    if (cell.row != 1) break;
    headers[cell.column - 1] = header_text(cell.value);
  }
  std::unordered_set<std::string> seen;
  for (std::size_t index = 0; index < headers.size(); ++index) {
    auto& header = headers[index];
    if (header.empty()) header = "Unnamed: " + std::to_string(index);
    if (seen.insert(header).second) continue;
    for (std::size_t suffix = 1;; ++suffix) {
      std::string candidate = header + "." + std::to_string(suffix);
      if (seen.insert(candidate).second) {
        header = std::move(candidate);
        break;
      }
    }
  }
  return headers;
}

}  // namespace

bool is_missing(const Document& value) {
  return value.is_null() || (value.is_string() &&
                             is_one_of(value.get_ref<const std::string&>(), MISSING_VALUE_MARKERS));
}

std::optional<Document> decimal_number(std::string_view text) {
  std::size_t position = 0;
  if (position < text.size() && (text[position] == '+' || text[position] == '-')) ++position;
  const auto digits_from = [&](std::size_t at) {
    std::size_t end = at;
    while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end;
    return end;
  };
  const std::size_t integer_end = digits_from(position);
  bool has_digits = integer_end > position;
  bool is_float = false;
  position = integer_end;
  if (position < text.size() && text[position] == '.') {
    const std::size_t fraction_end = digits_from(position + 1);
    has_digits = has_digits || fraction_end > position + 1;
    is_float = true;
    position = fraction_end;
  }
  if (!has_digits) return std::nullopt;
  if (position < text.size() && (text[position] == 'e' || text[position] == 'E')) {
    std::size_t exponent = position + 1;
    if (exponent < text.size() && (text[exponent] == '+' || text[exponent] == '-')) ++exponent;
    const std::size_t exponent_end = digits_from(exponent);
    if (exponent_end == exponent) return std::nullopt;
    is_float = true;
    position = exponent_end;
  }
  if (position != text.size()) return std::nullopt;
  // from_chars takes no leading plus sign.
  const std::string_view digits = text.front() == '+' ? text.substr(1) : text;
  if (!is_float) {
    std::int64_t integer = 0;
    const auto [end, error] =
        std::from_chars(digits.data(), digits.data() + digits.size(), integer);
    if (error == std::errc() && end == digits.data() + digits.size()) return Document(integer);
  }
  double number = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
  if (error != std::errc() || end != digits.data() + digits.size() || !std::isfinite(number))
    return std::nullopt;
  return Document(number);
}

std::vector<std::uint32_t> record_row_numbers(const RawSheet& sheet) {
  std::vector<std::uint32_t> record_rows;
  for (const auto& cell : sheet.cells) {
    if (cell.row > 1 && (record_rows.empty() || record_rows.back() != cell.row))
      record_rows.push_back(cell.row);
  }
  return record_rows;
}

Document build_table(const RawSheet& sheet, const Converters& converters,
                     const std::filesystem::path& workbook) {
  std::size_t column_count = 0;
  for (const auto& cell : sheet.cells)
    column_count = std::max<std::size_t>(column_count, cell.column);
  const std::vector<std::uint32_t> record_rows = record_row_numbers(sheet);
  if (column_count != 0 && record_rows.size() > MAX_TABLE_CELLS / column_count) {
    throw XLSXError("the first sheet of workbook " + quoted(workbook) + " spans " +
                    std::to_string(record_rows.size()) + " rows of " +
                    std::to_string(column_count) + " columns, more than " +
                    std::to_string(MAX_TABLE_CELLS) + " cells");
  }
  const std::vector<std::string> headers = headers_of(sheet, column_count);

  // Column by column, an empty cell being the empty text.
  std::vector<std::vector<Document>> columns(column_count,
                                             std::vector<Document>(record_rows.size(), ""));
  std::size_t record = 0;
  for (const auto& cell : sheet.cells) {
    if (cell.row == 1) continue;
    while (record_rows[record] != cell.row) ++record;
    columns[cell.column - 1][record] = cell.value;
  }

  for (std::size_t column = 0; column < column_count; ++column) {
    auto& values = columns[column];
    const auto converter = converters.find(headers[column]);
    if (converter != converters.end()) {
      for (auto& value : values) {
        if (!value.is_null()) value = converter->second(value);
      }
    }
    for (auto& value : values) {
      if (is_missing(value)) value = nullptr;
    }
    if (converter == converters.end()) type_column(values);
    for (auto& value : values) {
      if (value.is_null()) value = "";
    }
  }

  Document records = Document::array();
  records.get_ref<Document::array_t&>().reserve(record_rows.size());
  for (std::size_t index = 0; index < record_rows.size(); ++index) {
    Document row = Document::object();
    // The headers are unique, so the entries are appended without the ordered object's key search.
    auto& entries = static_cast<Document::object_t::Container&>(row.get_ref<Document::object_t&>());
    entries.reserve(column_count);
    for (std::size_t column = 0; column < column_count; ++column) {
      entries.emplace_back(headers[column], std::move(columns[column][index]));
    }
    records.push_back(std::move(row));
  }
  return records;
}

std::string render_table(const Document& records) {
  std::string text;
  if (records.empty()) return "(no records)";
  bool first = true;
  // Cells are whatever the workbook's author typed: a line break or an escape sequence in one is
  // shown escaped, so that it can neither start a row of its own nor steer the terminal.
  for (const auto& [header, value] : records.front().items()) {
    text += (first ? "" : " | ") + untrusted::printable(header);
    first = false;
  }
  for (const auto& row : records) {
    text += '\n';
    first = true;
    for (const auto& [header, value] : row.items()) {
      text += first ? "" : " | ";
      text += untrusted::printable(value.is_string() ? value.get<std::string>()
                                                     : to_text(value).get<std::string>());
      first = false;
    }
  }
  return text;
}

}  // namespace generator::serializers::xlsx_detail
