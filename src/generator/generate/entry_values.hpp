#pragma once

// How the scan's outputs write a value the configuration or the controller may leave out: the
// discovery file's entries and the workbook's rows share these rules.

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace generator::generate {

/// The value that stands for a missing value: the empty text (an empty cell in the workbook).
inline const std::string NULL_TEXT;

/// The value, or null when there is none.
template <class T>
[[nodiscard]] nlohmann::ordered_json value_or_null(const std::optional<T>& value) {
  return value ? nlohmann::ordered_json(*value) : nlohmann::ordered_json(nullptr);
}

/// A text member when it holds a non-empty text, otherwise the missing value.
[[nodiscard]] inline std::string text_or_null(const std::optional<std::string>& value) {
  return value && !value->empty() ? *value : NULL_TEXT;
}

}  // namespace generator::generate
