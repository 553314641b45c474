#include "base/text/html.hpp"

#include <optional>

#include "base/text/utf8.hpp"

namespace base::text {

std::string escape_html(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t position = 0;
  while (position < text.size()) {
    const std::size_t start = position;
    const std::optional<char32_t> point = next_code_point(text, position);
    if (!point) {
      out += "\uFFFD";
      ++position;
      continue;
    }
    switch (*point) {
      case U'&':
        out += "&amp;";
        break;
      case U'<':
        out += "&lt;";
        break;
      case U'>':
        out += "&gt;";
        break;
      case U'"':
        out += "&quot;";
        break;
      case U'\'':
        out += "&#39;";
        break;
      case U'\t':
      case U'\n':
        out += static_cast<char>(*point);
        break;
      default:
        if (*point < 0x20 || (*point >= 0x7F && *point < 0xA0))
          out += "\uFFFD";
        else
          out.append(text.substr(start, position - start));
    }
  }
  return out;
}

}  // namespace base::text
