#pragma once

// Reading what a peer or a file of unknown origin sent: JSON parsed with a bound on its nesting,
// and text made safe to show on a terminal.

#include <cstddef>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <string_view>

namespace untrusted {

/// The deepest nesting of arrays and objects accepted in a JSON text.
inline constexpr int MAX_JSON_DEPTH = 64;

/// A JSON text nested deeper than MAX_JSON_DEPTH.
class NestingTooDeep : public std::runtime_error {
 public:
  NestingTooDeep()
      : std::runtime_error("nested more than " + std::to_string(MAX_JSON_DEPTH) + " levels deep") {}
};

/// The document of `text`; NestingTooDeep as soon as the nesting passes the bound, and the
/// library's parse_error (out_of_range for a number no double holds) for malformed text. Nothing
/// deeper than the bound is ever built, so no later copy or rendering of the result can recurse
/// without end; the time taken grows with the length of the text alone, however many arrays,
/// objects and members it holds. A member named twice keeps its first place and its last value.
/// Defined for nlohmann::json and nlohmann::ordered_json.
template <class Json>
[[nodiscard]] Json parse_json(std::string_view text);

extern template nlohmann::json parse_json<nlohmann::json>(std::string_view text);
extern template nlohmann::ordered_json parse_json<nlohmann::ordered_json>(std::string_view text);

/// Whether line breaks stay as they are or are escaped like every other control character.
enum class LineBreaks { escape, keep };

/// `text` with every control character (C0, DEL, C1) and every byte that is not part of valid
/// UTF-8 written as an escape ("\n", "\r", "\x1b", "\u009b"), so that it can neither start a line
/// of its own nor move the cursor or retitle a terminal; tabs are kept.
[[nodiscard]] std::string printable(std::string_view text,
                                    LineBreaks line_breaks = LineBreaks::escape);

}  // namespace untrusted
