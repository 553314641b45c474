#pragma once

#include <nlohmann/json.hpp>

namespace serializers {

/// The in-memory form of every structured file: mappings keep their keys in insertion order.
using Document = nlohmann::ordered_json;

/// A human name for the kind of a document node ("a mapping", "a sequence", "null", ...).
inline const char* kind_name(const Document& node) {
  switch (node.type()) {
    case Document::value_t::object:
      return "a mapping";
    case Document::value_t::array:
      return "a sequence";
    case Document::value_t::string:
      return "a text";
    case Document::value_t::boolean:
      return "a boolean";
    case Document::value_t::number_integer:
    case Document::value_t::number_unsigned:
      return "an integer";
    case Document::value_t::number_float:
      return "a float";
    case Document::value_t::null:
      return "null";
    case Document::value_t::binary:
      return "a date or timestamp";  // the only binary nodes the YAML reader makes
    default:
      return "an unsupported value";
  }
}

}  // namespace serializers
