#pragma once

// Runs of consecutive addresses, or of consecutive positions of equal subnets in a block, and the
// one way they are merged: the gateway subnet choice merges the candidate positions that subnets
// cover, the address map the subnets and reserved ranges it draws.

#include <cstdint>
#include <optional>
#include <vector>

#include "ipv4/ipv4_network.hpp"

namespace ipv4 {

/// A run of consecutive numbers, first to last inclusive; 64 bits wide, so that one past the last
/// address never wraps.
struct Run {
  std::uint64_t first;
  std::uint64_t last;

  friend bool operator==(const Run&, const Run&) = default;
};

/// The addresses of `network` that lie in `block`, or nothing when the two share none.
[[nodiscard]] std::optional<Run> clipped_run(const Network& network, const Network& block);

/// `runs` in ascending order with every two that overlap or touch (one ends just before the other
/// begins) made one: the result is ascending, with at least one number between any two runs.
[[nodiscard]] std::vector<Run> merged_runs(std::vector<Run> runs);

}  // namespace ipv4
