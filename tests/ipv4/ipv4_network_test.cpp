#include "ipv4/ipv4_network.hpp"

#include <gtest/gtest.h>

#include <string>

namespace ipv4 {
namespace {

std::string refusal(std::string_view text) {
  try {
    (void)Network::parse(text);
  } catch (const InvalidNetwork& error) {
    return error.what();
  }
  return "accepted";
}

TEST(Ipv4NetworkTest, ParsesCanonicalBlocksAndWritesThemBack) {
  for (const char* text : {"10.0.0.0/8", "10.0.0.128/27", "0.0.0.0/0", "255.255.255.255/32",
                           "192.168.1.0/24", "100.64.0.0/10"}) {
    EXPECT_EQ(Network::parse(text).to_string(), text);
  }
  const Network network = Network::parse("172.16.4.0/22");
  EXPECT_EQ(network.prefix_length(), 22);
  EXPECT_EQ(format_address(network.first_address()), "172.16.4.0");
  EXPECT_EQ(format_address(network.last_address()), "172.16.7.255");
  EXPECT_EQ(network.size(), 1024u);
  EXPECT_EQ(Network::parse("0.0.0.0/0").size(), std::uint64_t{1} << 32);
  EXPECT_EQ(format_address(Network::parse("0.0.0.0/0").last_address()), "255.255.255.255");
}

TEST(Ipv4NetworkTest, RefusesHostBitsAndNamesTheNetwork) {
  EXPECT_EQ(refusal("10.0.0.1/24"),
            "'10.0.0.1/24' is not a valid IPv4 CIDR block: host bits are set (the network would be "
            "10.0.0.0/24)");
  EXPECT_NE(refusal("10.0.0.16/27").find("host bits"), std::string::npos);
  EXPECT_NE(refusal("1.0.0.0/0").find("0.0.0.0/0"), std::string::npos);
  EXPECT_THROW(Network(0x0a000001, 24), InvalidNetwork);
  EXPECT_THROW(Network(0x0a000000, 33), InvalidNetwork);
}

TEST(Ipv4NetworkTest, RefusesMalformedText) {
  for (const char* text : {"",
                           "10.0.0.0",
                           "10.0.0.0/",
                           "/24",
                           "10.0.0/24",
                           "10.0.0.0.0/24",
                           "10.0.0.256/32",
                           "10.0.0.01/32",
                           "010.0.0.0/8",
                           "10.0.0.0/33",
                           "10.0.0.0/08",
                           "10.0.0.0/-1",
                           " 10.0.0.0/8",
                           "10.0.0.0/8 ",
                           "10.0.0.0/8/9",
                           "10.0..0/24",
                           "+10.0.0.0/8",
                           "a.b.c.d/8",
                           "::/0",
                           "10.0.0.0/2x",
                           "1000.0.0.0/8"}) {
    EXPECT_NE(refusal(text).find("is not a valid IPv4 CIDR block"), std::string::npos) << text;
  }
  EXPECT_NE(refusal("10.0.0.256/32").find("octet '256'"), std::string::npos);
  EXPECT_NE(refusal("10.0.0.0/33").find("prefix length '33'"), std::string::npos);
}

TEST(Ipv4NetworkTest, OverlapMeansSharingAnAddress) {
  const Network block = Network::parse("10.0.0.0/24");
  EXPECT_TRUE(block.overlaps(Network::parse("10.0.0.0/27")));
  EXPECT_TRUE(Network::parse("10.0.0.0/27").overlaps(block));
  EXPECT_TRUE(block.overlaps(Network::parse("10.0.0.0/8")));
  EXPECT_TRUE(block.overlaps(Network::parse("10.0.0.255/32")));
  EXPECT_FALSE(block.overlaps(Network::parse("10.0.1.0/24")));
  // Neighbours touch at a boundary without sharing an address.
  EXPECT_FALSE(Network::parse("10.0.0.0/27").overlaps(Network::parse("10.0.0.32/27")));
  EXPECT_TRUE(block.contains(Network::parse("10.0.0.128/25")));
  EXPECT_FALSE(Network::parse("10.0.0.128/25").contains(block));
}

TEST(Ipv4NetworkTest, SubnetsAreAlignedAndAscending) {
  const Network block = Network::parse("10.0.0.0/24");
  const auto subnets = block.subnets(27);
  ASSERT_EQ(subnets.size(), 8u);
  EXPECT_EQ(subnets.front().to_string(), "10.0.0.0/27");
  EXPECT_EQ(subnets[4].to_string(), "10.0.0.128/27");
  EXPECT_EQ(subnets.back().to_string(), "10.0.0.224/27");
  EXPECT_EQ(block.subnets(24), std::vector<Network>{block});
  EXPECT_EQ(Network::parse("10.0.0.0/8").subnet_count(27), 524288u);
  EXPECT_EQ(Network::parse("10.0.0.0/8").subnet_at(27, 524287).to_string(), "10.255.255.224/27");
  EXPECT_EQ(Network::parse("0.0.0.0/0").subnet_at(1, 1).to_string(), "128.0.0.0/1");
  EXPECT_THROW((void)block.subnet_count(23), InvalidNetwork);
  EXPECT_THROW((void)block.subnet_at(27, 8), InvalidNetwork);
  EXPECT_LT(Network::parse("10.0.0.0/27"), Network::parse("10.0.0.32/27"));
}

}  // namespace
}  // namespace ipv4
