// The proposed spoke gateway name: the Name tag or the identifier, cut to 23 characters (never
// inside a multi-byte character), "-HVNGW" appended, spaces turned into underscores.

#include "generator/generate/gateway_name.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "generator/generate/vpc_stand_in.hpp"

namespace generator::generate {
namespace {

using testing::VpcStandIn;

std::string name_of(std::vector<TagRecord> tags, std::string id = "vpc-0123456789abcdef0") {
  VpcStandIn vpc;
  vpc.vpc_id = std::move(id);
  vpc.tag_list = std::move(tags);
  return get_spoke_gw_name(vpc);
}

// The code points of a UTF-8 text, decoded here independently of the code under test; an
// ill-formed sequence fails the test.
std::u32string code_points(const std::string& text) {
  std::u32string points;
  for (std::size_t index = 0; index < text.size();) {
    const auto lead = static_cast<unsigned char>(text[index]);
    const int length = lead < 0x80         ? 1
                       : lead >> 5 == 0x6  ? 2
                       : lead >> 4 == 0xE  ? 3
                       : lead >> 3 == 0x1E ? 4
                                           : 0;
    if (length == 0 || index + length > text.size()) {
      ADD_FAILURE() << "ill-formed UTF-8 at byte " << index << " of '" << text << "'";
      return points;
    }
    char32_t point = length == 1 ? lead : lead & (0x7F >> length);
    for (int offset = 1; offset < length; ++offset) {
      const auto next = static_cast<unsigned char>(text[index + offset]);
      if ((next & 0xC0) != 0x80) {
        ADD_FAILURE() << "ill-formed UTF-8 at byte " << index + offset << " of '" << text << "'";
        return points;
      }
      point = (point << 6) | (next & 0x3F);
    }
    points.push_back(point);
    index += length;
  }
  return points;
}

TEST(GetSpokeGwName, TakesTheNameTagOrTheIdentifier) {
  EXPECT_EQ(name_of({{"Name", "Production VPC East"}}), "Production_VPC_East-HVNGW");
  EXPECT_EQ(name_of({}), "vpc-0123456789abcdef0-HVNGW");
  EXPECT_EQ(name_of({{"Owner", "network team"}, {"env", "prod"}}), "vpc-0123456789abcdef0-HVNGW");
  // The key is compared exactly.
  EXPECT_EQ(name_of({{"name", "web"}, {"NAME", "web"}, {"Name ", "web"}}),
            "vpc-0123456789abcdef0-HVNGW");
  // The first Name tag wins, wherever it stands.
  EXPECT_EQ(name_of({{"env", "prod"}, {"Name", "first"}, {"Name", "second"}}), "first-HVNGW");
  // An empty name is still the name; the identifier is not used.
  EXPECT_EQ(name_of({{"Name", ""}}), "-HVNGW");
  EXPECT_EQ(name_of({}, "vpc-0a1b2c3d"), "vpc-0a1b2c3d-HVNGW");
}

TEST(GetSpokeGwName, KeepsTwentyThreeCharactersAndReplacesOnlyPlainSpaces) {
  EXPECT_EQ(name_of({{"Name", "my very long vpc name exceeding limits"}}),
            "my_very_long_vpc_name_e-HVNGW");
  EXPECT_EQ(name_of({{"Name", "my very long vpc name exceeding limits"}}).size(), 29u);
  EXPECT_EQ(name_of({{"Name", " web"}}), "_web-HVNGW");
  EXPECT_EQ(name_of({{"Name", "abcdefghijklmnopqrstuvw"}}), "abcdefghijklmnopqrstuvw-HVNGW");
  EXPECT_EQ(name_of({{"Name", "abcdefghijklmnopqrstuvwx"}}), "abcdefghijklmnopqrstuvw-HVNGW");
  // A space just after the cut leaves no trace; one just before it becomes an underscore.
  EXPECT_EQ(name_of({{"Name", "abcdefghijklmnopqrstuvw x"}}), "abcdefghijklmnopqrstuvw-HVNGW");
  EXPECT_EQ(name_of({{"Name", "abcdefghijklmnopqrstuv wx"}}), "abcdefghijklmnopqrstuv_-HVNGW");
  EXPECT_EQ(name_of({{"Name", "  "}}), "__-HVNGW");
  // Tabs, line ends and the no-break space are kept as they are.
  EXPECT_EQ(name_of({{"Name", "a\tb\nc\u00A0d"}}), "a\tb\nc\u00A0d-HVNGW");
  // A long identifier is cut like a name.
  EXPECT_EQ(name_of({}, "vpc-0123456789abcdef0123456789"), "vpc-0123456789abcdef012-HVNGW");
}

TEST(GetSpokeGwName, CountsCharactersNotBytes) {
  // 30 two-byte characters: 23 remain, 46 bytes.
  std::string accented;
  for (int index = 0; index < 30; ++index) accented += "\u00E9";
  const std::string accented_name = name_of({{"Name", accented}});
  EXPECT_EQ(accented_name, accented.substr(0, 46) + "-HVNGW");
  EXPECT_EQ(code_points(accented_name).size(), 29u);

  // The 23rd character is three bytes long and is kept whole; the 24th is dropped whole.
  EXPECT_EQ(name_of({{"Name", "Lager Zürich Ost 2 – 東京 Nord"}}),
            "Lager_Zürich_Ost_2_–_東京-HVNGW");
  EXPECT_EQ(name_of({{"Name", std::string(22, 'a') + "€x"}}), std::string(22, 'a') + "€-HVNGW");
  EXPECT_EQ(name_of({{"Name", std::string(23, 'a') + "€"}}), std::string(23, 'a') + "-HVNGW");
  // Four-byte characters likewise.
  EXPECT_EQ(name_of({{"Name", std::string(22, 'b') + "🚀🚀"}}), std::string(22, 'b') + "🚀-HVNGW");
  EXPECT_EQ(name_of({{"Name", "数据中心 生产环境 东部区域 网络 核心交换 备份链路"}}),
            "数据中心_生产环境_东部区域_网络_核心交换_-HVNGW");

  EXPECT_EQ(first_characters("", 5), "");
  EXPECT_EQ(first_characters("abc", 0), "");
  EXPECT_EQ(first_characters("\u00E9t\u00E9", 0), "");
  EXPECT_EQ(first_characters("\u00E9t\u00E9", 2), "\u00E9t");
  EXPECT_EQ(first_characters("\u00E9t\u00E9", 3), "\u00E9t\u00E9");
}

TEST(GetSpokeGwName, NeverSplitsACharacterOfRandomNames) {
  const std::vector<std::string> pieces{
      "a", "Z", "7", " ", "-", "\u00E9", "\u00DF", "\u20AC", "\u6771", "\U0001F680", "\U00010348"};
  std::mt19937 random(4242);
  for (int iteration = 0; iteration < 300; ++iteration) {
    std::string value;
    const int length = std::uniform_int_distribution<int>(0, 40)(random);
    for (int index = 0; index < length; ++index)
      value += pieces[std::uniform_int_distribution<std::size_t>(0, pieces.size() - 1)(random)];

    const std::u32string input = code_points(value);
    std::u32string expected = input.substr(0, 23) + U"-HVNGW";
    for (auto& point : expected)
      if (point == U' ') point = U'_';
    EXPECT_EQ(code_points(name_of({{"Name", value}})), expected) << value;
  }
}

}  // namespace
}  // namespace generator::generate
