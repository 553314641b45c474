#include "aws/environment.hpp"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <memory>

#include "base/text/ascii.hpp"

namespace aws {

Environment Environment::process() {
  return Environment([](const std::string& name) -> std::optional<std::string> {
    const char* value = std::getenv(name.c_str());
    if (value == nullptr) return std::nullopt;
    return std::string(value);
  });
}

Environment Environment::fixed(std::map<std::string, std::string> variables) {
  auto shared = std::make_shared<const std::map<std::string, std::string>>(std::move(variables));
  return Environment([shared](const std::string& name) -> std::optional<std::string> {
    const auto found = shared->find(name);
    if (found == shared->end()) return std::nullopt;
    return found->second;
  });
}

std::optional<std::string> Environment::get(const std::string& name) const {
  auto value = lookup_(name);
  if (value && value->find_first_not_of(" \t\r\n") == std::string::npos) return std::nullopt;
  return value;
}

bool Environment::is_true(const std::string& name) const {
  auto value = get(name);
  if (!value) return false;
  return base::text::lower_case(*value) == "true";
}

}  // namespace aws
