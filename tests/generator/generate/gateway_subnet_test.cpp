// The gateway subnet choice of a VPC: the lowest free aligned /27 (or /25) of the first block with
// room, its messages, and agreement with a plain scan on random VPCs.

#include "generator/generate/gateway_subnet.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "generator/common/errors.hpp"
#include "generator/generate/plain_scan.hpp"
#include "generator/generate/vpc_stand_in.hpp"
#include "generator/log/log.hpp"
#include "ipv4/ipv4_network.hpp"
#include "support/log_capture.hpp"

namespace generator::generate {
namespace {

using testing::CidrBlockAssociation;
using testing::plain_scan_hvn_cidr;
using testing::VpcStandIn;

// The rules' choice as the files write it.
std::string chosen(const VpcRecord& vpc, Hpe hpe) { return testing::text_of(compute_hvn_cidr(vpc, hpe, {})); }
std::string chosen_in(const VpcRecord& vpc, Hpe hpe, const std::string& block) {
  return testing::text_of(_compute_hvn_cidr(vpc, hpe, ipv4::Network::parse(block)));
}

// Every message of the "generator" tree as "LEVEL|logger|message", with the tree at `level`.
class LogCapture : public test_support::LogCapture {
 public:
  explicit LogCapture(int level)
      : test_support::LogCapture(level, "{levelname}|{name}|{message}") {}
};

VpcStandIn vpc_with(std::string primary, std::vector<std::optional<std::string>> subnets,
                    std::vector<CidrBlockAssociation> further = {}) {
  VpcStandIn vpc;
  vpc.primary_block = primary;
  vpc.subnet_blocks = std::move(subnets);
  // EC2 lists the primary block among the associations too.
  vpc.associations.push_back({primary, "associated"});
  for (auto& association : further) vpc.associations.push_back(std::move(association));
  return vpc;
}

struct SelectionCase {
  std::string primary;
  std::vector<std::optional<std::string>> subnets;
  Hpe hpe;
  std::string expected;
};

TEST(ComputeHvnCidr, TakesTheLowestCandidateThatOverlapsNoSubnet) {
  LogCapture capture(log::INFO);  // keeps the warnings of the cases without room off the terminal
  const std::vector<SelectionCase> cases{
      {"10.0.0.0/24", {"10.0.0.0/25"}, Hpe::disabled, "10.0.0.128/27"},
      {"10.0.0.0/24", {"10.0.0.64/26"}, Hpe::enabled, "10.0.0.128/25"},
      // A block of exactly the wanted size is its own single candidate.
      {"10.0.0.0/25", {}, Hpe::enabled, "10.0.0.0/25"},
      {"10.0.0.0/25", {"10.0.0.112/28"}, Hpe::enabled, ""},
      {"10.0.0.0/27", {}, Hpe::disabled, "10.0.0.0/27"},
      {"10.0.0.0/16", {}, Hpe::disabled, "10.0.0.0/27"},
      // A /24 subnet blocks the eight candidates inside it.
      {"10.0.0.0/16", {"10.0.0.0/24"}, Hpe::disabled, "10.0.1.0/27"},
      // Touching at the boundary is not overlapping.
      {"10.0.0.0/24", {"10.0.0.0/27"}, Hpe::disabled, "10.0.0.32/27"},
      {"10.0.0.0/24", {std::nullopt, "10.0.0.0/27", std::nullopt}, Hpe::disabled, "10.0.0.32/27"},
      {"10.0.0.0/24", {std::nullopt}, Hpe::disabled, "10.0.0.0/27"},
      // A subnet smaller than a candidate still blocks the whole candidate.
      {"10.0.0.0/24", {"10.0.0.16/28"}, Hpe::disabled, "10.0.0.32/27"},
      {"10.0.0.0/24", {"10.0.0.16/28", "10.0.0.48/28"}, Hpe::disabled, "10.0.0.64/27"},
      {"10.0.0.0/24", {"10.0.0.31/32", "10.0.0.32/32"}, Hpe::disabled, "10.0.0.64/27"},
      // Listing order does not matter; nested and duplicate subnets do no harm.
      {"10.0.0.0/24",
       {"10.0.0.64/27", "10.0.0.32/27", "10.0.0.0/27"},
       Hpe::disabled,
       "10.0.0.96/27"},
      {"10.0.0.0/24",
       {"10.0.0.0/25", "10.0.0.0/27", "10.0.0.0/25"},
       Hpe::disabled,
       "10.0.0.128/27"},
      {"10.0.0.0/24", {"10.0.0.0/27", "10.0.0.64/27"}, Hpe::disabled, "10.0.0.32/27"},
      // Only the last candidate is free.
      {"10.0.0.0/24",
       {"10.0.0.0/25", "10.0.0.128/26", "10.0.0.192/27"},
       Hpe::disabled,
       "10.0.0.224/27"},
      // Subnets of other blocks never block a candidate; one covering the whole block does.
      {"10.0.0.0/24",
       {"10.1.0.0/24", "10.0.1.0/27", "9.255.255.224/27"},
       Hpe::disabled,
       "10.0.0.0/27"},
      {"10.0.0.0/24", {"10.0.0.0/8"}, Hpe::disabled, ""},
      {"10.0.0.0/24",
       {"10.0.0.0/26", "10.0.0.64/26", "10.0.0.128/26", "10.0.0.192/26"},
       Hpe::disabled,
       ""},
      // The ends of the address space.
      {"255.255.255.0/24", {"255.255.255.0/25"}, Hpe::disabled, "255.255.255.128/27"},
      {"255.255.255.0/24",
       {"255.255.255.0/25", "255.255.255.128/26", "255.255.255.192/27"},
       Hpe::disabled,
       "255.255.255.224/27"},
      {"0.0.0.0/0", {"0.0.0.0/1"}, Hpe::disabled, "128.0.0.0/27"},
      {"0.0.0.0/0", {"0.0.0.0/1", "128.0.0.0/2", "192.0.0.0/25"}, Hpe::enabled, "192.0.0.128/25"},
  };
  for (const auto& test_case : cases) {
    const VpcStandIn vpc = vpc_with(test_case.primary, test_case.subnets);
    EXPECT_EQ(chosen(vpc, test_case.hpe), test_case.expected)
        << test_case.primary << " with " << test_case.subnets.size() << " subnets";
  }
}

TEST(ComputeHvnCidr, TriesFurtherAssociatedBlocksInOrderAfterThePrimary) {
  LogCapture capture(log::INFO);
  const std::optional<std::string> primary_full = "10.0.0.0/24";

  // The primary block is full; the second block has room.
  EXPECT_EQ(
      chosen(vpc_with("10.0.0.0/24", {primary_full}, {{"100.64.0.0/24", "associated"}}),
                       Hpe::disabled),
      "100.64.0.0/27");
  EXPECT_EQ(chosen(vpc_with("10.0.0.0/24", {primary_full, "100.64.0.0/25"},
                                      {{"100.64.0.0/24", "associated"}}),
                             Hpe::enabled),
            "100.64.0.128/25");

  // Only the state "associated", spelt exactly, counts.
  for (const char* state :
       {"disassociated", "associating", "disassociating", "failed", "Associated", ""}) {
    EXPECT_EQ(chosen(vpc_with("10.0.0.0/24", {primary_full}, {{"100.64.0.0/24", state}}),
                               Hpe::disabled),
              "")
        << state;
  }

  // The first block with room supplies the result, even when a later block has a lower address.
  EXPECT_EQ(chosen(vpc_with("10.0.0.0/24", {primary_full, "100.64.0.0/24"},
                                      {{"172.16.0.0/24", "disassociated"},
                                       {"100.64.0.0/24", "associated"},
                                       {"192.168.0.0/24", "associated"},
                                       {"100.0.0.0/24", "associated"}}),
                             Hpe::disabled),
            "192.168.0.0/27");

  // A block smaller than the wanted subnet has no candidate; the next block is still tried.
  EXPECT_EQ(chosen(vpc_with("10.1.0.0/28", {}, {{"100.64.0.0/24", "associated"}}),
                             Hpe::disabled),
            "100.64.0.0/27");
  EXPECT_EQ(chosen(vpc_with("10.1.0.0/26", {}, {{"100.64.0.0/24", "associated"}}),
                             Hpe::enabled),
            "100.64.0.0/25");
  EXPECT_EQ(chosen(vpc_with("10.1.0.0/26", {}), Hpe::disabled), "10.1.0.0/27");

  // The association list need not hold the primary block at all.
  VpcStandIn without_primary =
      vpc_with("10.0.0.0/24", {primary_full}, {{"100.64.0.0/24", "associated"}});
  without_primary.associations.erase(without_primary.associations.begin());
  EXPECT_EQ(chosen(without_primary, Hpe::disabled), "100.64.0.0/27");
}

TEST(ComputeHvnCidr, ExaminesOneBlockAlone) {
  LogCapture capture(log::INFO);
  const VpcStandIn vpc = vpc_with("10.0.0.0/24", {"10.0.0.0/24"});
  EXPECT_EQ(chosen_in(vpc, Hpe::disabled, "100.64.0.0/24"), "100.64.0.0/27");
  EXPECT_EQ(chosen_in(vpc, Hpe::disabled, "10.9.0.0/28"), "");
}

TEST(ComputeHvnCidr, WritesEveryStepAtDebug) {
  LogCapture capture(log::DEBUG);
  const VpcStandIn vpc = vpc_with("10.0.0.0/26", {"10.0.0.0/27", std::nullopt, "192.168.0.0/24"});
  EXPECT_EQ(chosen(vpc, Hpe::disabled), "10.0.0.32/27");

  const auto& lines = capture.lines();
  ASSERT_EQ(lines.size(), 7u) << ::testing::PrintToString(lines);
  EXPECT_EQ(lines[0], "DEBUG|generator.generate|VPC cidr_block: 10.0.0.0/26");
  EXPECT_EQ(lines[1].rfind("DEBUG|generator.generate|VPC subnets:\n", 0), 0u);
  EXPECT_NE(lines[1].find("10.0.0.0/27"), std::string::npos);
  EXPECT_NE(lines[1].find("192.168.0.0/24"), std::string::npos);
  EXPECT_EQ(lines[2], "DEBUG|generator.generate|Checking candidate subnet: 10.0.0.0/27");
  EXPECT_EQ(lines[3],
            "DEBUG|generator.generate|Subnet '10.0.0.0/27' overlaps with existing subnet.");
  EXPECT_EQ(lines[4], "DEBUG|generator.generate|Checking candidate subnet: 10.0.0.32/27");
  EXPECT_EQ(lines[5], "DEBUG|generator.generate|Subnet '10.0.0.32/27' is viable.");
  EXPECT_EQ(lines[6].rfind("DEBUG|generator.generate|Viable subnets:\n", 0), 0u);
  EXPECT_NE(lines[6].find("10.0.0.32/27"), std::string::npos);
  EXPECT_EQ(lines[6].find("10.0.0.0/27"), std::string::npos);
}

TEST(ComputeHvnCidr, ChecksEveryCandidateToTheEndOfTheBlockAtDebug) {
  LogCapture capture(log::DEBUG);
  // The first candidate is free, yet all eight are checked and the five free ones are listed.
  const VpcStandIn vpc = vpc_with("10.0.0.0/24", {"10.0.0.32/27", "10.0.0.64/26"});
  EXPECT_EQ(chosen(vpc, Hpe::disabled), "10.0.0.0/27");
  EXPECT_EQ(capture.starting_with("DEBUG|generator.generate|Checking candidate subnet: ").size(),
            8u);
  const std::string start = "DEBUG|generator.generate|Subnet '";
  const std::string end = "' is viable.";
  std::vector<std::string> viable;
  for (const auto& line : capture.starting_with(start))
    if (line.ends_with(end))
      viable.push_back(line.substr(start.size(), line.size() - start.size() - end.size()));
  EXPECT_EQ(viable, (std::vector<std::string>{"10.0.0.0/27", "10.0.0.128/27", "10.0.0.160/27",
                                              "10.0.0.192/27", "10.0.0.224/27"}));
  const auto summary = capture.starting_with("DEBUG|generator.generate|Viable subnets:\n");
  ASSERT_EQ(summary.size(), 1u);
  for (const auto& network : viable)
    EXPECT_NE(summary[0].find(network), std::string::npos) << network;
}

TEST(ComputeHvnCidr, ReportsABlockWithoutRoomAndAVpcWithoutRoom) {
  LogCapture capture(log::DEBUG);
  const VpcStandIn vpc =
      vpc_with("10.1.0.0/28", {"100.64.0.0/24"},
               {{"100.64.0.0/24", "associated"}, {"100.65.0.0/24", "disassociated"}});
  EXPECT_EQ(chosen(vpc, Hpe::disabled), "");

  const std::vector<std::string> expected_summaries{
      "DEBUG|generator.generate|cidr block 10.1.0.0/28 prefix value must be less than or equal to "
      "27",
      "DEBUG|generator.generate|Could not compute hvn_cidr for vpc 'vpc-0123456789abcdef0' in cidr "
      "block "
      "'10.1.0.0/28': No available subnets with prefix 27",
      "DEBUG|generator.generate|Could not compute hvn_cidr for vpc 'vpc-0123456789abcdef0' in cidr "
      "block "
      "'100.64.0.0/24': No available subnets with prefix 27",
      "WARNING|generator.generate|Could not compute hvn_cidr for vpc 'vpc-0123456789abcdef0': No "
      "available "
      "subnets with prefix 27",
  };
  std::vector<std::string> summaries;
  for (const auto& line : capture.lines())
    if (line.find("cidr block ") != std::string::npos || line.rfind("WARNING", 0) == 0)
      summaries.push_back(line);
  EXPECT_EQ(summaries, expected_summaries);
  // The too small block enumerates nothing; its viable list is still written, empty.
  EXPECT_EQ(capture.starting_with("DEBUG|generator.generate|Checking candidate subnet: ").size(),
            8u);
  EXPECT_EQ(capture.starting_with("DEBUG|generator.generate|Viable subnets:\n").size(), 2u);
  EXPECT_EQ(capture.lines().back(), expected_summaries.back());

  capture.clear();
  EXPECT_EQ(chosen(vpc_with("10.0.0.0/25", {"10.0.0.0/28"}), Hpe::enabled), "");
  EXPECT_EQ(capture.lines().back(),
            "WARNING|generator.generate|Could not compute hvn_cidr for vpc "
            "'vpc-0123456789abcdef0': No available "
            "subnets with prefix 25");

  // A block examined alone is named as it was given.
  capture.clear();
  EXPECT_EQ(chosen_in(vpc, Hpe::enabled, "100.64.0.0/26"), "");
  EXPECT_EQ(capture.lines().front(), "DEBUG|generator.generate|VPC cidr_block: 100.64.0.0/26");
  EXPECT_EQ(capture.lines().back(),
            "DEBUG|generator.generate|Could not compute hvn_cidr for vpc 'vpc-0123456789abcdef0' "
            "in cidr block "
            "'100.64.0.0/26': No available subnets with prefix 25");
}

TEST(ComputeHvnCidr, WritesOnlyTheWarningAboveDebug) {
  LogCapture capture(log::INFO);
  EXPECT_EQ(chosen(vpc_with("10.0.0.0/16", {"10.0.0.0/27"}), Hpe::disabled),
            "10.0.0.32/27");
  EXPECT_TRUE(capture.lines().empty()) << ::testing::PrintToString(capture.lines());
  EXPECT_EQ(
      chosen(vpc_with("10.0.0.0/24", {"10.0.0.0/24"}, {{"10.9.0.0/28", "associated"}}),
                       Hpe::disabled),
      "");
  EXPECT_EQ(capture.lines(),
            (std::vector<std::string>{"WARNING|generator.generate|Could not compute hvn_cidr for "
                                      "vpc 'vpc-0123456789abcdef0': No available subnets with "
                                      "prefix 27"}));

  // Reserved ranges are taken as subnets are; a VPC that only they leave without room is named so.
  capture.clear();
  const std::vector<ipv4::Network> reserved{ipv4::Network::parse("10.0.0.32/27"),
                                            ipv4::Network::parse("10.0.0.64/26"),
                                            ipv4::Network::parse("192.168.0.0/16")};
  EXPECT_EQ(testing::text_of(compute_hvn_cidr(vpc_with("10.0.0.0/24", {"10.0.0.0/27"}),
                                              Hpe::disabled, reserved)),
            "10.0.0.128/27");
  EXPECT_EQ(testing::text_of(compute_hvn_cidr(vpc_with("10.0.0.0/25", {"10.0.0.0/27"}),
                                              Hpe::disabled, reserved)),
            "");
  EXPECT_EQ(capture.lines(),
            (std::vector<std::string>{"WARNING|generator.generate|Could not compute hvn_cidr for "
                                      "vpc 'vpc-0123456789abcdef0': No available subnets with "
                                      "prefix 27 outside the reserved ranges (reserved_cidrs "
                                      "10.0.0.32/27, 10.0.0.64/26)"}));
}

// Random VPCs in 10.0.0.0/8 and 100.64.0.0/10: a primary block, further blocks in various
// states, and subnets that are sparse, fill a block, leave one hole or cover several blocks.
class RandomVpcs {
 public:
  explicit RandomVpcs(std::uint32_t seed) : random_(seed) {}

  VpcStandIn next() {
    VpcStandIn vpc;
    const ipv4::Network primary = block(16, 28);
    vpc.primary_block = primary.to_string();
    std::vector<ipv4::Network> blocks{primary};
    const int further = pick(0, 3);
    const int primary_position = pick(0, further);
    for (int index = 0; index <= further; ++index) {
      if (index == primary_position) {
        vpc.associations.push_back({vpc.primary_block, "associated"});
        continue;
      }
      // Sometimes the same block twice, sometimes the primary again.
      const ipv4::Network extra = chance(8) ? blocks.back() : block(18, 28);
      blocks.push_back(extra);
      static const char* const states[]{"associated", "associated", "disassociated", "associating",
                                        "failed"};
      vpc.associations.push_back({extra.to_string(), states[pick(0, 4)]});
    }
    for (const auto& each : blocks) add_subnets(vpc, each);
    if (chance(10)) vpc.subnet_blocks.push_back(std::nullopt);
    if (chance(15))
      vpc.subnet_blocks.push_back(
          ipv4::Network(primary.first_address() & ~0xFFFFu, 16).to_string());
    std::shuffle(vpc.subnet_blocks.begin(), vpc.subnet_blocks.end(), random_);
    return vpc;
  }

  int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }
  bool chance(int one_in) { return pick(1, one_in) == 1; }

 private:
  ipv4::Network block(int shortest, int longest) {
    const int prefix = pick(shortest, longest);
    const bool shared_space = chance(3);
    const std::uint32_t base =
        shared_space ? 0x64400000u : 0x0A000000u;  // 100.64.0.0/10 or 10.0.0.0/8
    const std::uint32_t span = shared_space ? 0x003FFFFFu : 0x00FFFFFFu;
    // Few distinct high bits so that blocks and subnets of different draws meet now and then.
    const std::uint32_t offset = static_cast<std::uint32_t>(random_()) & span & 0x0003FFFFu;
    const std::uint32_t mask = prefix == 0 ? 0 : ~((std::uint32_t{1} << (32 - prefix)) - 1);
    return ipv4::Network((base | offset) & mask, prefix);
  }

  // A random aligned subnet of `prefix` inside `within`, or `within` itself when not smaller.
  ipv4::Network inside(const ipv4::Network& within, int prefix) {
    if (prefix <= within.prefix_length()) return within;
    const auto count = within.subnet_count(prefix);
    return within.subnet_at(prefix,
                            std::uniform_int_distribution<std::uint64_t>(0, count - 1)(random_));
  }

  void add_subnets(VpcStandIn& vpc, const ipv4::Network& within) {
    switch (pick(0, 3)) {
      case 0:
        break;
      case 1: {  // sparse
        const int count = pick(1, 12);
        for (int index = 0; index < count; ++index)
          vpc.subnet_blocks.push_back(
              inside(within, pick(within.prefix_length(), chance(4) ? 32 : 28)).to_string());
        break;
      }
      case 2:
      case 3: {  // the block tiled with subnets of mixed sizes, leaving at most one hole
        const bool leave_hole = pick(0, 2) > 0;
        std::uint64_t covered_until = within.first_address();
        std::vector<ipv4::Network> tiles;
        while (covered_until <= within.last_address() && tiles.size() < 600) {
          const auto address = static_cast<std::uint32_t>(covered_until);
          int prefix = pick(std::max(within.prefix_length(), 22), 28);
          // Grow the prefix until the subnet is aligned at this address.
          while (prefix < 32 && (address & ((std::uint32_t{1} << (32 - prefix)) - 1)) != 0)
            ++prefix;
          tiles.emplace_back(address, prefix);
          covered_until += tiles.back().size();
        }
        if (leave_hole) tiles.erase(tiles.begin() + pick(0, static_cast<int>(tiles.size()) - 1));
        for (const auto& tile : tiles) vpc.subnet_blocks.push_back(tile.to_string());
        break;
      }
    }
  }

  std::mt19937 random_;
};

TEST(ComputeHvnCidrProperty, AgreesWithThePlainScanOnRandomVpcs) {
  LogCapture capture(log::INFO);  // the warnings of VPCs without room go here, not to the terminal
  RandomVpcs vpcs(20240607);
  int found = 0;
  int not_found = 0;
  int beyond_primary = 0;
  for (int iteration = 0; iteration < 400; ++iteration) {
    const VpcStandIn vpc = vpcs.next();
    const Hpe hpe = vpcs.chance(3) ? Hpe::enabled : Hpe::disabled;
    const auto expected = plain_scan_hvn_cidr(vpc, gateway_prefix_length(hpe));
    ASSERT_EQ(chosen(vpc, hpe), expected.hvn_cidr) << "iteration " << iteration;
    (expected.hvn_cidr.empty() ? not_found : found) += 1;
    if (expected.viable_per_block.size() > 1 && !expected.hvn_cidr.empty()) ++beyond_primary;
  }
  // The draws must exercise each outcome, or the comparison proves little.
  EXPECT_GT(found, 40);
  EXPECT_GT(not_found, 40);
  EXPECT_GT(beyond_primary, 10);
}

TEST(ComputeHvnCidrProperty, AtDebugClassifiesEveryCandidateAsThePlainScanDoes) {
  LogCapture capture(log::DEBUG);
  RandomVpcs vpcs(77);
  for (int iteration = 0; iteration < 120; ++iteration) {
    const VpcStandIn vpc = vpcs.next();
    const Hpe hpe = vpcs.chance(3) ? Hpe::enabled : Hpe::disabled;
    const auto expected = plain_scan_hvn_cidr(vpc, gateway_prefix_length(hpe));
    capture.clear();
    ASSERT_EQ(chosen(vpc, hpe), expected.hvn_cidr) << "iteration " << iteration;

    std::vector<std::string> expected_viable;
    for (const auto& block_viable : expected.viable_per_block)
      for (const auto& network : block_viable)
        expected_viable.push_back("DEBUG|generator.generate|Subnet '" + network.to_string() +
                                  "' is viable.");
    std::vector<std::string> viable;
    for (const auto& line : capture.starting_with("DEBUG|generator.generate|Subnet '"))
      if (line.ends_with(" is viable.")) viable.push_back(line);
    ASSERT_EQ(viable, expected_viable) << "iteration " << iteration;
  }
}

}  // namespace
}  // namespace generator::generate
