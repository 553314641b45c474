// The address map's geometry (bars that tile their block exactly, merged runs, the gateway
// subnet's piece, reserved ranges in the gaps); the page itself is checked in a browser by the
// end-to-end test.

#include "generator/generate/address_map_geometry.hpp"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <tuple>
#include <vector>

namespace generator::generate {
namespace {

using ipv4::Network;
using namespace std::string_view_literals;

std::vector<Network> networks(const std::vector<std::string>& texts) {
  std::vector<Network> parsed;
  for (const auto& text : texts) parsed.push_back(Network::parse(text));
  return parsed;
}

// Each piece as (kind, first, last, merged subnets), addresses in dotted text.
using Shown = std::tuple<PieceKind, std::string, std::string, std::size_t>;
std::vector<Shown> shown(const std::vector<BarPiece>& pieces) {
  std::vector<Shown> out;
  for (const auto& piece : pieces)
    out.emplace_back(piece.kind, ipv4::format_address(piece.first),
                     ipv4::format_address(piece.last), piece.subnets.size());
  return out;
}

// The pieces cover the block from its first to its last address without gap or overlap.
void expect_tiles(const Network& block, const std::vector<BarPiece>& pieces) {
  ASSERT_FALSE(pieces.empty());
  EXPECT_EQ(pieces.front().first, block.first_address());
  EXPECT_EQ(pieces.back().last, block.last_address());
  for (std::size_t i = 1; i < pieces.size(); ++i)
    EXPECT_EQ(std::uint64_t{pieces[i - 1].last} + 1, pieces[i].first) << "piece " << i;
}

TEST(AddressMapBars, AdjacentSubnetsMergeAndTheGatewaySplitsTheFreeSpace) {
  const Network block = Network::parse("10.0.0.0/24");
  const Network gateway = Network::parse("10.0.0.128/27");
  // Listed out of order, with a subnet of another block that must not show.
  const auto pieces = bar_pieces(
      block, networks({"10.0.0.192/28", "10.0.0.64/26", "10.0.0.0/26", "100.64.0.0/24"}), &gateway);
  expect_tiles(block, pieces);
  EXPECT_EQ(shown(pieces), (std::vector<Shown>{
                               {PieceKind::used, "10.0.0.0", "10.0.0.127", 2},
                               {PieceKind::gateway, "10.0.0.128", "10.0.0.159", 0},
                               {PieceKind::free, "10.0.0.160", "10.0.0.191", 0},
                               {PieceKind::used, "10.0.0.192", "10.0.0.207", 1},
                               {PieceKind::free, "10.0.0.208", "10.0.0.255", 0},
                           }));
}

TEST(AddressMapBars, NestedSubnetsAndTheTopOfTheAddressSpace) {
  // A subnet inside another extends nothing; a run ending at 255.255.255.255 does not wrap.
  const Network top = Network::parse("255.255.255.0/24");
  const auto pieces = bar_pieces(
      top, networks({"255.255.255.128/25", "255.255.255.192/26", "255.255.255.0/28"}), nullptr);
  expect_tiles(top, pieces);
  EXPECT_EQ(shown(pieces), (std::vector<Shown>{
                               {PieceKind::used, "255.255.255.0", "255.255.255.15", 1},
                               {PieceKind::free, "255.255.255.16", "255.255.255.127", 0},
                               {PieceKind::used, "255.255.255.128", "255.255.255.255", 2},
                           }));

  // No subnets: one free piece; a gateway of another block is not drawn here.
  const Network block = Network::parse("10.1.0.0/16");
  const Network elsewhere = Network::parse("100.64.0.0/27");
  const auto empty = bar_pieces(block, {}, &elsewhere);
  EXPECT_EQ(shown(empty), (std::vector<Shown>{{PieceKind::free, "10.1.0.0", "10.1.255.255", 0}}));
}

TEST(AddressMapBars, AGatewayOnAUsedRunIsStillDrawnWhole) {
  const Network block = Network::parse("10.0.0.0/24");
  const Network gateway = Network::parse("10.0.0.32/27");
  const auto pieces = bar_pieces(block, networks({"10.0.0.0/25"}), &gateway);
  expect_tiles(block, pieces);
  EXPECT_EQ(shown(pieces), (std::vector<Shown>{
                               {PieceKind::used, "10.0.0.0", "10.0.0.31", 1},
                               {PieceKind::gateway, "10.0.0.32", "10.0.0.63", 0},
                               {PieceKind::used, "10.0.0.64", "10.0.0.127", 0},
                               {PieceKind::free, "10.0.0.128", "10.0.0.255", 0},
                           }));
}

TEST(AddressMapBars, ReservedRangesFillOnlyTheGapsAndMergeWhereTheyMeet) {
  const Network block = Network::parse("10.0.0.0/24");
  const Network gateway = Network::parse("10.0.0.128/27");
  // One under a subnet, two that overlap and one that touches them, one at the block's end and
  // one of another block; then one wider than the block at the top of the address space.
  const auto reserved = networks({"10.0.0.32/27", "10.0.0.64/27", "10.0.0.80/28", "10.0.0.96/28",
                                  "10.0.0.240/28", "10.0.1.0/24"});
  const auto pieces = bar_pieces(block, networks({"10.0.0.0/26"}), &gateway, reserved);
  expect_tiles(block, pieces);
  EXPECT_EQ(shown(pieces), (std::vector<Shown>{
                               {PieceKind::used, "10.0.0.0", "10.0.0.63", 1},
                               {PieceKind::reserved, "10.0.0.64", "10.0.0.111", 0},
                               {PieceKind::free, "10.0.0.112", "10.0.0.127", 0},
                               {PieceKind::gateway, "10.0.0.128", "10.0.0.159", 0},
                               {PieceKind::free, "10.0.0.160", "10.0.0.239", 0},
                               {PieceKind::reserved, "10.0.0.240", "10.0.0.255", 0},
                           }));
  const Network top = Network::parse("255.255.255.0/24");
  const auto whole = bar_pieces(top, {}, nullptr, networks({"255.255.0.0/16"}));
  EXPECT_EQ(shown(whole),
            (std::vector<Shown>{{PieceKind::reserved, "255.255.255.0", "255.255.255.255", 0}}));
}

}  // namespace
}  // namespace generator::generate
