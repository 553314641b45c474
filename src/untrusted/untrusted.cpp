#include "untrusted/untrusted.hpp"

#include <array>

namespace untrusted {

namespace {

constexpr std::array<char, 16> HEX = {'0', '1', '2', '3', '4', '5', '6', '7',
                                      '8', '9', 'a', 'b', 'c', 'd', 'e', 'f'};

void append_byte_escape(std::string& out, unsigned char byte) {
  out += "\\x";
  out += HEX[byte >> 4];
  out += HEX[byte & 0x0F];
}

// The length of the well-formed UTF-8 sequence at the start of `text`, or 0 when there is none
// (overlong forms, surrogates and values above U+10FFFF are not well-formed).
std::size_t sequence_length(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const auto continuation = [&](std::size_t i) {
    return i < text.size() && (byte(i) & 0xC0) == 0x80;
  };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return continuation(1) ? 2 : 0;
  if (lead >= 0xE0 && lead <= 0xEF) {
    if (!continuation(1) || !continuation(2)) return 0;
    if (lead == 0xE0 && byte(1) < 0xA0) return 0;
    if (lead == 0xED && byte(1) >= 0xA0) return 0;
    return 3;
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    if (!continuation(1) || !continuation(2) || !continuation(3)) return 0;
    if (lead == 0xF0 && byte(1) < 0x90) return 0;
    if (lead == 0xF4 && byte(1) >= 0x90) return 0;
    return 4;
  }
  return 0;
}

}  // namespace

std::string printable(std::string_view text, LineBreaks line_breaks) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    const auto byte = static_cast<unsigned char>(text[at]);
    const std::size_t length = sequence_length(text.substr(at));
    if (length == 0) {
      append_byte_escape(out, byte);
      ++at;
      continue;
    }
    if (length == 1) {
      if (byte == '\n' && line_breaks == LineBreaks::keep) {
        out += '\n';
      } else if (byte == '\n') {
        out += "\\n";
      } else if (byte == '\r') {
        out += "\\r";
      } else if ((byte < 0x20 && byte != '\t') || byte == 0x7F) {
        append_byte_escape(out, byte);
      } else {
        out += static_cast<char>(byte);
      }
    } else if (length == 2 && byte == 0xC2 && static_cast<unsigned char>(text[at + 1]) < 0xA0) {
      // U+0080 to U+009F: the C1 controls, which some terminals obey like ESC sequences.
      const auto second = static_cast<unsigned char>(text[at + 1]);
      out += "\\u00";
      out += HEX[second >> 4];
      out += HEX[second & 0x0F];
    } else {
      out.append(text.substr(at, length));
    }
    at += length;
  }
  return out;
}

}  // namespace untrusted
