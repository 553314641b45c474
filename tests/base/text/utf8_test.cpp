#include "base/text/utf8.hpp"

#include <gtest/gtest.h>

namespace base::text {
namespace {

TEST(Utf8, CodePointsOfEveryLengthAreReadAndCounted) {
  const std::string_view text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";  // a, é, €, 😀
  std::size_t position = 0;
  EXPECT_EQ(next_code_point(text, position), U'a');
  EXPECT_EQ(next_code_point(text, position), U'\u00E9');
  EXPECT_EQ(next_code_point(text, position), U'\u20AC');
  EXPECT_EQ(next_code_point(text, position), U'\U0001F600');
  EXPECT_EQ(position, text.size());
  EXPECT_EQ(next_code_point(text, position), std::nullopt) << "nothing left";
  EXPECT_EQ(utf8_length(text), 4u);
  EXPECT_EQ(utf8_length(""), 0u);
}

TEST(Utf8, MalformedSequencesAreRefusedWithoutMovingOn) {
  for (const std::string_view bad : {
           std::string_view("\x80"),              // a continuation byte first
           std::string_view("\xC3"),              // cut short
           std::string_view("\xC3\x28"),          // no continuation byte
           std::string_view("\xC0\xAF"),          // overlong "/"
           std::string_view("\xE0\x80\xAF"),      // overlong "/" in three bytes
           std::string_view("\xED\xA0\x80"),      // a UTF-16 surrogate half
           std::string_view("\xF4\x90\x80\x80"),  // beyond U+10FFFF
           std::string_view("\xFF"),
       }) {
    std::size_t position = 0;
    EXPECT_EQ(next_code_point(bad, position), std::nullopt);
    EXPECT_EQ(position, 0u);
    EXPECT_EQ(utf8_length(std::string("ok").append(bad)), std::nullopt);
  }
}

}  // namespace
}  // namespace base::text
