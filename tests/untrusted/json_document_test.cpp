#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "untrusted/untrusted.hpp"

namespace {

// Objects cross the size at which members are indexed; keys repeat before and after it.
std::string many_members(int count) {
  std::string text = "{";
  for (int i = 0; i < count; ++i)
    text += "\"k" + std::to_string(i % (count - 3)) + "\":" + std::to_string(i) + ",";
  return text +
         "\"k0\":[{\"z\":1,\"a\":{\"z\":null,\"a\":1.5e3}},\"t\",true,-7,18446744073709551615]}";
}

TEST(ParseJson, BuildsTheDocumentTheLibraryBuildsMemberOrderAndRepeatedKeysIncluded) {
  for (const int count : {4, 15, 16, 17, 40}) {
    const std::string text = many_members(count);
    EXPECT_EQ(untrusted::parse_json<nlohmann::ordered_json>(text),
              nlohmann::ordered_json::parse(text))
        << text;
    EXPECT_EQ(untrusted::parse_json<nlohmann::json>(text), nlohmann::json::parse(text)) << text;
    EXPECT_EQ(untrusted::parse_json<nlohmann::ordered_json>(text).dump(),
              nlohmann::ordered_json::parse(text).dump());
  }
  EXPECT_EQ(untrusted::parse_json<nlohmann::json>(" 42 "), 42);
}

TEST(ParseJson, RefusesDeepNestingMalformedTextAndNumbersNoDoubleHolds) {
  const auto nested = [](int levels) {
    return std::string(static_cast<std::size_t>(levels), '[') +
           std::string(static_cast<std::size_t>(levels), ']');
  };
  EXPECT_NO_THROW((void)untrusted::parse_json<nlohmann::json>(nested(untrusted::MAX_JSON_DEPTH)));
  EXPECT_THROW((void)untrusted::parse_json<nlohmann::json>(nested(untrusted::MAX_JSON_DEPTH + 1)),
               untrusted::NestingTooDeep);
  EXPECT_THROW((void)untrusted::parse_json<nlohmann::ordered_json>("{\"a\":1,}"),
               nlohmann::ordered_json::parse_error);
  EXPECT_THROW((void)untrusted::parse_json<nlohmann::ordered_json>("[1] [2]"),
               nlohmann::ordered_json::parse_error);
  EXPECT_THROW((void)untrusted::parse_json<nlohmann::ordered_json>("[1e400]"),
               nlohmann::ordered_json::out_of_range);
}

}  // namespace
