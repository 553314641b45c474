#pragma once

// How the scan's outputs write a value the configuration or the controller may leave out: the
// discovery file's entries and the workbook's rows share these rules.

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <variant>

#include "generator/config/account_defaults.hpp"

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

namespace entry_values_detail {

// A member of the defaults as a value of a document; `missing` for an optional one that holds none.
template <class T>
nlohmann::ordered_json value_or(const T& value, const nlohmann::ordered_json& /*missing*/) {
  return value;
}
template <class T>
nlohmann::ordered_json value_or(const std::optional<T>& value,
                                const nlohmann::ordered_json& missing) {
  return value ? nlohmann::ordered_json(*value) : missing;
}

}  // namespace entry_values_detail

/// The default's value when the configuration gives it, otherwise `missing`.
[[nodiscard]] inline nlohmann::ordered_json given_or(const config::Defaults& defaults,
                                                     const config::AccountDefaultEntry& entry,
                                                     const nlohmann::ordered_json& missing) {
  if (!defaults.is_given(entry.which)) return missing;
  return std::visit(
      [&](auto member) { return entry_values_detail::value_or(defaults.*member, missing); },
      entry.member);
}

}  // namespace generator::generate
