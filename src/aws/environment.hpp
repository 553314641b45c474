#pragma once

// The process environment as the AWS layer reads it; tests give a fixed set of variables instead.

#include <functional>
#include <map>
#include <optional>
#include <string>

namespace aws {

/// Read access to environment variables.
class Environment {
 public:
  using Lookup = std::function<std::optional<std::string>(const std::string&)>;

  /// The process's own variables, read at each lookup.
  static Environment process();
  /// Exactly these variables and no others.
  static Environment fixed(std::map<std::string, std::string> variables);

  /// The variable's value; a variable set to the empty text or to blanks only counts as not set,
  /// as in the SDKs.
  [[nodiscard]] std::optional<std::string> get(const std::string& name) const;
  /// Whether the variable holds "true" in any letter case.
  [[nodiscard]] bool is_true(const std::string& name) const;

 private:
  explicit Environment(Lookup lookup) : lookup_(std::move(lookup)) {}
  Lookup lookup_;
};

}  // namespace aws
