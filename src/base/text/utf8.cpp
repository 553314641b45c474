#include "base/text/utf8.hpp"

namespace base::text {

std::optional<char32_t> next_code_point(std::string_view text, std::size_t& position) {
  if (position >= text.size()) return std::nullopt;
  const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(text[at]); };
  const unsigned char lead = byte(position);
  std::size_t length = 0;
  char32_t code = 0;
  char32_t least = 0;
  if (lead < 0x80) {
    ++position;
    return lead;
  }
  if ((lead & 0xE0) == 0xC0) {
    length = 2, code = lead & 0x1F, least = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, code = lead & 0x0F, least = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, code = lead & 0x07, least = 0x10000;
  } else {
    return std::nullopt;
  }
  if (position + length > text.size()) return std::nullopt;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(position + i) & 0xC0) != 0x80) return std::nullopt;
    code = (code << 6) | (byte(position + i) & 0x3F);
  }
  // The shortest form only, and no UTF-16 surrogate halves.
  if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return std::nullopt;
  position += length;
  return code;
}

std::optional<std::size_t> utf8_length(std::string_view text) {
  std::size_t characters = 0;
  for (std::size_t position = 0; position < text.size(); ++characters) {
    if (!next_code_point(text, position)) return std::nullopt;
  }
  return characters;
}

}  // namespace base::text
