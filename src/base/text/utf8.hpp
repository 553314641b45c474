#pragma once

// Reading UTF-8 text one code point at a time, strictly: overlong forms, surrogates and values
// beyond U+10FFFF are not well-formed.

#include <cstddef>
#include <optional>
#include <string_view>

namespace base::text {

/// The code point of `text` that starts at `position` (which is advanced past it), or nothing,
/// with `position` unchanged, when the bytes there are not well-formed UTF-8.
std::optional<char32_t> next_code_point(std::string_view text, std::size_t& position);

/// The number of code points of `text`, or nothing when it is not well-formed UTF-8.
std::optional<std::size_t> utf8_length(std::string_view text);

}  // namespace base::text
