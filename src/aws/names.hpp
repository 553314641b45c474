#pragma once

// The forms of the two AWS names that the configuration, the discovery files and the workbook all
// hold: account numbers and region names. One rule each, for every reader.

#include <algorithm>
#include <cstddef>
#include <string_view>

namespace aws {

/// Digits of an AWS account number.
inline constexpr std::size_t ACCOUNT_NUMBER_DIGITS = 12;

/// Whether `text` is made of ASCII digits only (and is not empty).
[[nodiscard]] constexpr bool is_all_digits(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

/// Whether `text` is an AWS account number: exactly 12 ASCII digits, leading zeros included.
[[nodiscard]] constexpr bool is_account_number(std::string_view text) {
  return text.size() == ACCOUNT_NUMBER_DIGITS && is_all_digits(text);
}

/// Whether `text` has the form of an AWS region name as AWS writes them: words joined by single
/// dashes, at least three; the first of two or more lowercase letters, the last a number, those
/// between of lowercase letters and digits ("us-east-1", "us-gov-west-1", "us-isob-east-1",
/// "eusc-de-east-1"). Checked by hand: the standard library's regex matcher recurses once per
/// character and overflows the stack on a long value.
[[nodiscard]] constexpr bool is_region_name(std::string_view text) {
  const auto letter = [](char c) { return c >= 'a' && c <= 'z'; };
  const auto letter_or_digit = [&](char c) { return letter(c) || (c >= '0' && c <= '9'); };
  std::size_t words = 0;
  std::string_view last;
  for (std::size_t start = 0;;) {
    const std::size_t dash = text.find('-', start);
    const std::string_view word =
        text.substr(start, dash == std::string_view::npos ? dash : dash - start);
    if (word.empty()) return false;
    const bool first = words == 0;
    if (first && (word.size() < 2 || !std::all_of(word.begin(), word.end(), letter)))
      return false;
    if (!first && !std::all_of(word.begin(), word.end(), letter_or_digit)) return false;
    ++words;
    last = word;
    if (dash == std::string_view::npos) break;
    start = dash + 1;
  }
  return words >= 3 && is_all_digits(last);
}

}  // namespace aws
