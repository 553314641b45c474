#include "untrusted/untrusted.hpp"

#include <array>

#include "base/text/utf8.hpp"

namespace untrusted {

namespace {

constexpr std::array<char, 16> HEX = {'0', '1', '2', '3', '4', '5', '6', '7',
                                      '8', '9', 'a', 'b', 'c', 'd', 'e', 'f'};

void append_byte_escape(std::string& out, unsigned char byte) {
  out += "\\x";
  out += HEX[byte >> 4];
  out += HEX[byte & 0x0F];
}

}  // namespace

std::string printable(std::string_view text, LineBreaks line_breaks) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t start = at;
    const auto code_point = base::text::next_code_point(text, at);
    if (!code_point) {
      // Only the first byte is escaped: what follows may be well-formed again.
      append_byte_escape(out, static_cast<unsigned char>(text[at]));
      ++at;
    } else if (*code_point == '\n' && line_breaks == LineBreaks::keep) {
      out += '\n';
    } else if (*code_point == '\n') {
      out += "\\n";
    } else if (*code_point == '\r') {
      out += "\\r";
    } else if ((*code_point < 0x20 && *code_point != '\t') || *code_point == 0x7F) {
      append_byte_escape(out, static_cast<unsigned char>(*code_point));
    } else if (*code_point >= 0x80 && *code_point <= 0x9F) {
      // The C1 controls, which some terminals obey like ESC sequences.
      out += "\\u00";
      out += HEX[*code_point >> 4];
      out += HEX[*code_point & 0x0F];
    } else {
      out.append(text.substr(start, at - start));
    }
  }
  return out;
}

}  // namespace untrusted
