#include "ipv4/overlaps.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <string>
#include <utility>

namespace ipv4 {
namespace {

constexpr std::size_t LISTED = 10;

// Every owner against every other, network by network: what the sweep must agree with.
class PlainComparison {
 public:
  PlainComparison(const std::vector<OwnedNetwork>& input, std::size_t owners) : kept_(owners) {
    std::vector<std::set<Network>> held(owners);
    for (const auto& [owner, network] : input) held[owner].insert(network);
    for (std::size_t owner = 0; owner < owners; ++owner) {
      for (const Network& network : held[owner]) {
        const bool inner = std::any_of(held[owner].begin(), held[owner].end(), [&](const Network& other) {
          return other != network && other.contains(network);
        });
        if (!inner) kept_[owner].push_back(network);
      }
    }
  }

  [[nodiscard]] bool overlap(std::size_t a, std::size_t b) const {
    return a != b && !overlapping(kept_[a], kept_[b]).empty();
  }

  // A's networks that share addresses with one of `theirs`.
  static std::vector<Network> overlapping(const std::vector<Network>& mine,
                                          const std::vector<Network>& theirs) {
    std::vector<Network> result;
    for (const Network& network : mine)
      if (std::any_of(theirs.begin(), theirs.end(), [&](const Network& t) { return t.overlaps(network); }))
        result.push_back(network);
    return result;
  }

  [[nodiscard]] const std::vector<Network>& kept(std::size_t owner) const { return kept_[owner]; }
  [[nodiscard]] std::size_t owners() const { return kept_.size(); }

 private:
  std::vector<std::vector<Network>> kept_;
};

std::string text(const OwnedNetwork& entry) {
  return std::to_string(entry.owner) + ":" + entry.network.to_string();
}

// Owners hold one to three networks inside 10.0.0.0/16, drawn from `pool_size` choices so that
// some rounds put hundreds of owners on a handful of networks (the shared default VPC block) and
// others spread them out; some owners hold nothing, some hold a network twice or one inside
// another of their own.
std::vector<OwnedNetwork> random_estate(std::mt19937& random, std::size_t owners, std::size_t pool_size) {
  std::vector<Network> pool;
  std::uniform_int_distribution<int> prefix(16, 26);
  std::uniform_int_distribution<std::uint32_t> offset(0, 0xFFFF);
  for (std::size_t i = 0; i < pool_size; ++i) {
    const int length = prefix(random);
    const std::uint32_t mask = ~((std::uint32_t{1} << (32 - length)) - 1);
    pool.emplace_back((0x0A000000u | offset(random)) & mask, length);
  }
  std::uniform_int_distribution<std::size_t> pick(0, pool_size - 1);
  std::uniform_int_distribution<int> held(0, 3);
  std::vector<OwnedNetwork> estate;
  for (std::size_t owner = 0; owner < owners; ++owner) {
    for (int n = held(random); n > 0; --n) {
      const Network chosen = pool[pick(random)];
      estate.push_back({owner, chosen});
      if (n == 3 && chosen.prefix_length() < 30)
        estate.push_back({owner, chosen.subnet_at(chosen.prefix_length() + 2, 1)});
    }
  }
  std::shuffle(estate.begin(), estate.end(), random);
  return estate;
}

void expect_agreement(const std::vector<OwnedNetwork>& estate, std::size_t owners) {
  const PlainComparison plain(estate, owners);
  const Overlaps found = find_overlaps(estate, LISTED);

  std::uint64_t pairs = 0;
  std::vector<std::size_t> expected_owners;
  for (std::size_t a = 0; a < owners; ++a) {
    std::vector<std::size_t> others;
    std::vector<Network> everyone_else;
    for (std::size_t b = 0; b < owners; ++b) {
      if (plain.overlap(a, b)) others.push_back(b);
      if (b != a) everyone_else.insert(everyone_else.end(), plain.kept(b).begin(), plain.kept(b).end());
    }
    pairs += others.size();
    if (others.empty()) continue;
    expected_owners.push_back(a);
    const auto it = std::find_if(found.owners.begin(), found.owners.end(),
                                 [&](const OwnerOverlaps& o) { return o.owner == a; });
    ASSERT_NE(it, found.owners.end()) << "owner " << a;
    EXPECT_EQ(it->other_count, others.size()) << "owner " << a;
    EXPECT_EQ(it->networks, PlainComparison::overlapping(plain.kept(a), everyone_else)) << "owner " << a;
    std::vector<std::string> listed;
    for (std::size_t i = 0; i < std::min(LISTED, others.size()); ++i) {
      const auto theirs = PlainComparison::overlapping(plain.kept(others[i]), plain.kept(a));
      listed.push_back(text({others[i], theirs.front()}));
    }
    std::vector<std::string> listed_found;
    for (const auto& other : it->others) listed_found.push_back(text(other));
    EXPECT_EQ(listed_found, listed) << "owner " << a;
  }
  std::vector<std::size_t> found_owners;
  for (const auto& owner : found.owners) found_owners.push_back(owner.owner);
  EXPECT_EQ(found_owners, expected_owners);
  EXPECT_EQ(found.pair_count, pairs / 2);

  // The groups name every network that overlaps another owner's exactly once, nested as they lie,
  // and networks of different groups never touch.
  std::set<std::string> expected_in_groups;
  for (const std::size_t a : expected_owners) {
    std::vector<Network> everyone_else;
    for (std::size_t b = 0; b < owners; ++b)
      if (b != a) everyone_else.insert(everyone_else.end(), plain.kept(b).begin(), plain.kept(b).end());
    for (const Network& network : PlainComparison::overlapping(plain.kept(a), everyone_else))
      expected_in_groups.insert(text({a, network}));
  }
  std::multiset<std::string> in_groups;
  const NestedNetwork* previous_root = nullptr;
  for (const auto& group : found.groups) {
    ASSERT_FALSE(group.empty());
    EXPECT_EQ(group.front().depth, 0);
    if (previous_root) {
      EXPECT_LT(previous_root->network.last_address(), group.front().network.first_address());
    }
    previous_root = &group.front();
    for (std::size_t i = 0; i < group.size(); ++i) {
      for (const std::size_t owner : group[i].owners) in_groups.insert(text({owner, group[i].network}));
      if (i == 0) continue;
      EXPECT_LT(group[i - 1].network, group[i].network);
      EXPECT_LE(group[i].depth, group[i - 1].depth + 1);
      // The nearest earlier node one level up holds it.
      auto enclosing = group.rend() - static_cast<std::ptrdiff_t>(i);
      enclosing = std::find_if(enclosing, group.rend(),
                               [&](const NestedNetwork& n) { return n.depth == group[i].depth - 1; });
      ASSERT_NE(enclosing, group.rend());
      EXPECT_TRUE(enclosing->network.contains(group[i].network));
      EXPECT_NE(enclosing->network, group[i].network);
    }
  }
  EXPECT_EQ(std::set<std::string>(in_groups.begin(), in_groups.end()), expected_in_groups);
  EXPECT_EQ(in_groups.size(), expected_in_groups.size());
}

TEST(OverlapsTest, AgreesWithThePlainComparisonOfEveryPair) {
  std::mt19937 random(24);
  for (int round = 0; round < 24; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    // Few choices put over 64 owners on one network, many choices leave most owners alone.
    const std::size_t pool_size = round % 3 == 0 ? 4 : (round % 3 == 1 ? 40 : 400);
    expect_agreement(random_estate(random, round % 2 == 0 ? 300 : 60, pool_size), 300);
  }
}

}  // namespace
}  // namespace ipv4
