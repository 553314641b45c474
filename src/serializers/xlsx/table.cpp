#include "serializers/xlsx/table.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <unordered_set>

#include "serializers/xlsx/archive.hpp"
#include "untrusted/untrusted.hpp"

namespace serializers::xlsx_detail {

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

std::string header_text(const Document& value) {
  if (value.is_null()) return "";
  return to_text(value).get<std::string>();
}

}  // namespace

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

Document build_table(const RawSheet& sheet, const Converters& converters,
                     const std::filesystem::path& workbook) {
  std::size_t column_count = 0;
  for (const auto& cell : sheet.cells)
    column_count = std::max<std::size_t>(column_count, cell.column);
  std::vector<std::uint32_t> record_rows;
  for (const auto& cell : sheet.cells) {
    if (cell.row > 1 && (record_rows.empty() || record_rows.back() != cell.row))
      record_rows.push_back(cell.row);
  }
  if (column_count != 0 && record_rows.size() > MAX_TABLE_CELLS / column_count) {
    throw XLSXError("the first sheet of workbook " + quoted(workbook) + " spans " +
                    std::to_string(record_rows.size()) + " rows of " +
                    std::to_string(column_count) + " columns, more than " +
                    std::to_string(MAX_TABLE_CELLS) + " cells");
  }
  std::size_t header_end = 0;
  while (header_end < sheet.cells.size() && sheet.cells[header_end].row == 1) ++header_end;
  const std::vector<std::string> headers =
      table_headers(std::span(sheet.cells).first(header_end), column_count);

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
    ColumnTyping typing;
    for (auto& value : values) {
      if (!value.is_null() && converter != converters.end()) value = converter->second(value);
      if (is_missing(value)) value = nullptr;
      typing.see(value);
    }
    for (auto& value : values) {
      if (converter == converters.end()) value = typing.typed(std::move(value));
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

std::string rendered_line(const std::vector<std::string>& texts) {
  // Cells are whatever the workbook's author typed: a line break or an escape sequence in one is
  // shown escaped, so that it can neither start a row of its own nor steer the terminal.
  std::string line;
  for (std::size_t index = 0; index < texts.size(); ++index)
    line += (index == 0 ? "" : " | ") + untrusted::printable(texts[index]);
  return line;
}

std::string render_table(const Document& records) {
  if (records.empty()) return "(no records)";
  std::vector<std::string> texts;
  for (const auto& [header, value] : records.front().items()) texts.push_back(header);
  std::string text = rendered_line(texts);
  for (const auto& row : records) {
    texts.clear();
    for (const auto& [header, value] : row.items())
      texts.push_back(value.is_string() ? value.get<std::string>()
                                        : to_text(value).get<std::string>());
    text += '\n' + rendered_line(texts);
  }
  return text;
}

}  // namespace serializers::xlsx_detail

namespace serializers {

bool is_missing(const Document& value) {
  return value.is_null() || (value.is_string() &&
                             xlsx_detail::is_one_of(value.get_ref<const std::string&>(), MISSING_VALUE_MARKERS));
}

void ColumnTyping::see(const Document& value) {
  if (value.is_null()) {
    any_missing_ = true;
    return;
  }
  if (all_numbers_) {
    const auto number = xlsx_detail::number_of(value);
    if (!number)
      all_numbers_ = false;
    else if (number->is_number_float())
      any_fraction_ = true;
  }
  if (all_booleans_ && !xlsx_detail::boolean_of(value)) all_booleans_ = false;
}

Document ColumnTyping::typed(Document value) const {
  if (value.is_null()) return value;
  if (all_numbers_) {
    Document number = *xlsx_detail::number_of(value);
    if (any_fraction_ || any_missing_) number = number.get<double>();
    return number;
  }
  if (all_booleans_) return *xlsx_detail::boolean_of(value);
  return value;
}

std::vector<std::string> table_headers(std::span<const SheetCell> header_cells,
                                       std::size_t column_count) {
  std::vector<std::string> headers(column_count);
  for (const auto& cell : header_cells)
    if (cell.column <= column_count) headers[cell.column - 1] = xlsx_detail::header_text(cell.value);
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

}  // namespace serializers
