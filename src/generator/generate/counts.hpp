#pragma once

// A count written with the noun that fits it, for generate's messages and the address map.

#include <cstdint>
#include <string>
#include <string_view>

namespace generator::generate {

/// How a count's digits are written: as they stand ("65536", in messages) or with thousands
/// separators ("65,536", on the address map's pages).
enum class Digits { plain, grouped };

/// `number` with thousands separators ("65,536").
[[nodiscard]] inline std::string grouped(std::uint64_t number) {
  const std::string digits = std::to_string(number);
  std::string out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out.push_back(',');
    out.push_back(digits[i]);
  }
  return out;
}

/// A count and the noun that fits it: `one` for exactly one, `many` otherwise ("1 VPC",
/// "2048 VPCs", or "2,048 VPCs" with Digits::grouped).
[[nodiscard]] inline std::string plural(std::uint64_t count, std::string_view one,
                                        std::string_view many, Digits digits = Digits::plain) {
  return (digits == Digits::grouped ? grouped(count) : std::to_string(count)) + " " +
         std::string(count == 1 ? one : many);
}

}  // namespace generator::generate
