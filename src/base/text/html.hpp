#pragma once

#include <string>
#include <string_view>

namespace base::text {

/// `text` made safe as HTML text and attribute value: & < > " ' as character references, bytes
/// that are not well-formed UTF-8 and control characters (tab and line feed kept) as U+FFFD.
[[nodiscard]] std::string escape_html(std::string_view text);

}  // namespace base::text
