#include "generator/convert/field_formatters.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <optional>
#include <string_view>

#include "base/text/ascii.hpp"
#include "generator/common/errors.hpp"
#include "serializers/document.hpp"
#include "serializers/xlsx/xlsx.hpp"

namespace generator::convert {

namespace {

std::string lower_trimmed(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
    text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
    text.remove_suffix(1);
  return base::text::lower_case(text);
}

const std::string& require_text(const Value& cell, std::string_view expected) {
  if (!cell.is_string()) {
    throw TypeError("expected " + std::string(expected) + ", got " + shown_cell(cell));
  }
  return cell.get_ref<const std::string&>();
}

std::vector<std::string> split(const std::string& text, std::string_view separator) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  while (true) {
    const auto at = text.find(separator, start);
    pieces.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos) break;
    start = at + separator.size();
  }
  return pieces;
}

// A list cell's items before conversion: brackets and apostrophes removed, split at ", ".
std::vector<std::string> list_items(std::string text) {
  std::erase(text, '[');
  std::erase(text, ']');
  std::erase(text, '\'');
  std::vector<std::string> items;
  for (auto& piece : split(text, ", ")) {
    if (!piece.empty()) items.push_back(std::move(piece));
  }
  return items;
}

// Blanks an operator cannot see at the edge of a text: the no-break space comes from pasted web
// pages and from spreadsheet programs that put one before punctuation.
constexpr std::array<std::string_view, 5> EDGE_BLANKS{" ", "\t", "\n", "\r", "\u00a0"};

bool begins_with_blank(std::string_view text) {
  return std::any_of(EDGE_BLANKS.begin(), EDGE_BLANKS.end(),
                     [&](std::string_view blank) { return text.starts_with(blank); });
}

bool ends_with_blank(std::string_view text) {
  return std::any_of(EDGE_BLANKS.begin(), EDGE_BLANKS.end(),
                     [&](std::string_view blank) { return text.ends_with(blank); });
}

// "begins with a blank", "ends with a blank" or both, for a text that has blanks at its edges.
std::optional<std::string> blank_edges(std::string_view text) {
  const bool begins = begins_with_blank(text);
  const bool ends = ends_with_blank(text);
  if (begins && ends) return "begins and ends with a blank";
  if (begins) return "begins with a blank";
  if (ends) return "ends with a blank";
  return std::nullopt;
}

// Appended piece by piece: GCC 12 misreads "\"" + text + "\"" as overlapping copies.
std::string quoted_text(std::string_view text) {
  std::string quoted;
  quoted.reserve(text.size() + 2);
  quoted += '"';
  quoted += text;
  quoted += '"';
  return quoted;
}

}  // namespace

bool _bool(const Value& value) {
  if (value.is_string()) {
    static constexpr std::array<std::string_view, 5> true_words{"true", "yes", "y", "on", "1"};
    static constexpr std::array<std::string_view, 5> false_words{"false", "no", "n", "off", "0"};
    const std::string word = lower_trimmed(value.get<std::string>());
    if (std::find(true_words.begin(), true_words.end(), word) != true_words.end()) return true;
    if (std::find(false_words.begin(), false_words.end(), word) != false_words.end()) return false;
    throw ValueError("\"" + value.get<std::string>() +
                     "\" is not a yes/no value (write true or false)");
  }
  if (value.is_boolean()) return value.get<bool>();
  if (value.is_number()) return value.get<double>() != 0.0;
  throw TypeError("expected true or false, got " + shown_cell(value));
}

FieldFormatter _list(std::function<Value(const std::string&)> item_conversion) {
  return [conversion = std::move(item_conversion)](const Value& value) {
    Value items = Value::array();
    for (const auto& item : list_items(require_text(value, "a list such as ['a', 'b']")))
      items.push_back(conversion(item));
    return items;
  };
}

Value parse_spoke_gw_tags(const Value& tags_str) {
  const std::string& text = require_text(tags_str, "tags such as Name=web,env=prod");
  Value tags = Value::array();
  for (const auto& piece : split(text, ",")) {
    if (piece.empty()) continue;
    const auto parts = split(piece, "=");
    if (parts.size() != 2) {
      throw ValueError("tag \"" + piece +
                       "\" must be written as key=value (tags are separated by commas)");
    }
    Value tag = Value::object();
    tag["key"] = parts[0];
    tag["value"] = parts[1];
    tags.push_back(std::move(tag));
  }
  return tags;
}

const std::map<std::string, FieldFormatter>& FIELD_FORMATTERS() {
  static const std::map<std::string, FieldFormatter> formatters = [] {
    const auto as_bool = [](const Value& cell) { return Value(_bool(cell)); };
    const auto as_text = [](const std::string& item) { return Value(item); };
    std::map<std::string, FieldFormatter> table;
    for (const WorkbookColumnEntry& entry : WORKBOOK_COLUMN_TABLE) {
      switch (entry.kind) {
        case CellKind::boolean:
          table.emplace(entry.header, as_bool);
          break;
        case CellKind::list:
          table.emplace(entry.header, _list(as_text));
          break;
        case CellKind::tags:
          table.emplace(entry.header, parse_spoke_gw_tags);
          break;
        case CellKind::text:
        case CellKind::as_read:
          break;
      }
    }
    return table;
  }();
  return formatters;
}

std::vector<std::string> doubtful_readings(CellKind kind, const Value& cell) {
  if (!cell.is_string()) return {};
  const auto& text = cell.get_ref<const std::string&>();
  std::vector<std::string> doubts;
  if (kind == CellKind::list) {
    for (const auto& item : list_items(text)) {
      const auto edges = blank_edges(item);
      const bool comma = item.find(',') != std::string::npos;
      if (!edges && !comma) continue;
      std::string doubt = "item " + quoted_text(item);
      if (edges) doubt += " " + *edges;
      if (comma) doubt += std::string(edges ? " and" : "") + " holds a comma that did not separate";
      doubts.push_back(std::move(doubt));
    }
  } else if (kind == CellKind::tags) {
    for (const auto& piece : split(text, ",")) {
      if (piece.empty()) continue;
      const auto parts = split(piece, "=");
      if (parts.size() != 2) return {};
      if (parts[0].empty()) doubts.push_back("tag " + quoted_text(piece) + " has an empty key");
      if (const auto edges = blank_edges(parts[0]))
        doubts.push_back("key " + quoted_text(parts[0]) + " " + *edges);
      if (const auto edges = blank_edges(parts[1]))
        doubts.push_back("value " + quoted_text(parts[1]) + " " + *edges);
    }
  }
  return doubts;
}

std::string shown_cell(const Value& cell) {
  if (cell.is_string()) return quoted_text(cell.get_ref<const std::string&>());
  if (cell.is_boolean()) return cell.get<bool>() ? "TRUE" : "FALSE";
  if (serializers::is_date(cell)) {
    std::string date = serializers::date_text(cell);
    // A time of day alone has no date in front ("10:10:10").
    if (date.find('-') == std::string::npos) return "the time " + date;
    // A date without a time of day is shown as a spreadsheet shows it: the date alone.
    constexpr std::string_view MIDNIGHT = " 00:00:00";
    if (std::string_view(date).ends_with(MIDNIGHT)) date.resize(date.size() - MIDNIGHT.size());
    return "the date " + date;
  }
  if (cell.is_number()) return "the number " + serializers::to_text(cell).get<std::string>();
  return serializers::kind_name(cell);
}

}  // namespace generator::convert
