#pragma once

// ASCII lower-casing, the same in every locale: for the names that protocols and files compare
// without regard to case (header names, file extensions, profile keys, boolean words).

#include <string>
#include <string_view>

namespace base::text {

/// `c` lower-cased when it is an ASCII capital letter; every other byte as it is.
[[nodiscard]] constexpr char lower_case(char c) noexcept {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

/// `text` with its ASCII capital letters lower-cased; every other byte as it is.
[[nodiscard]] inline std::string lower_case(std::string_view text) {
  std::string lowered(text);
  for (char& c : lowered) c = lower_case(c);
  return lowered;
}

}  // namespace base::text
