#include "base/text/html.hpp"

#include <gtest/gtest.h>

#include <string_view>

namespace base::text {
namespace {

using namespace std::string_view_literals;

TEST(HtmlEscaping, MarkupQuotesBrokenUtf8AndControlsBecomeInertText) {
  EXPECT_EQ(escape_html("\"><img src=x onerror=alert(1)>"),
            "&quot;&gt;&lt;img src=x onerror=alert(1)&gt;");
  EXPECT_EQ(escape_html("<script>a&&b</script>'"),
            "&lt;script&gt;a&amp;&amp;b&lt;/script&gt;&#39;");
  EXPECT_EQ(escape_html("Réseau \xF0\x9F\x8C\x8D\tok"), "Réseau \xF0\x9F\x8C\x8D\tok");
  // A lone continuation byte, a truncated sequence, NUL and ESC.
  EXPECT_EQ(escape_html("a\x80"
                        "b\xE2\x82"
                        "c\x00\x1B"
                        "d"sv),
            "a\uFFFD"
            "b\uFFFD\uFFFD"
            "c\uFFFD\uFFFD"
            "d");
}

}  // namespace
}  // namespace base::text
