#include "generator/convert/field_formatters.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>

#include "generator/common/errors.hpp"
#include "generator/common/serializers/document.hpp"

namespace generator::convert {

namespace {

std::string lower_trimmed(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
    text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
    text.remove_suffix(1);
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

const std::string& require_text(const Value& cell, std::string_view expected) {
  if (!cell.is_string()) {
    throw TypeError("expected " + std::string(expected) + ", got " + serializers::kind_name(cell) +
                    " " + cell.dump());
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
  throw TypeError(std::string("expected true or false, got ") + serializers::kind_name(value));
}

FieldFormatter _list(std::function<Value(const std::string&)> item_conversion) {
  return [conversion = std::move(item_conversion)](const Value& value) {
    std::string text = require_text(value, "a list such as ['a', 'b']");
    std::erase(text, '[');
    std::erase(text, ']');
    std::erase(text, '\'');
    Value items = Value::array();
    for (const auto& piece : split(text, ", ")) {
      if (!piece.empty()) items.push_back(conversion(piece));
    }
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
    return std::map<std::string, FieldFormatter>{
        {"hpe", as_bool},
        {"managed_tgw", as_bool},
        {"encrypt", as_bool},
        {"inspection", as_bool},
        {"gw_zones", _list(as_text)},
        {"filter_cidrs", _list(as_text)},
        {"spoke_routes", _list(as_text)},
        {"spoke_gw_tags", parse_spoke_gw_tags},
    };
  }();
  return formatters;
}

}  // namespace generator::convert
