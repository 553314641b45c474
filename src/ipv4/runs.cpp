#include "ipv4/runs.hpp"

#include <algorithm>

namespace ipv4 {

std::optional<Run> clipped_run(const Network& network, const Network& block) {
  if (!network.overlaps(block)) return std::nullopt;
  return Run{std::max(network.first_address(), block.first_address()),
             std::min(network.last_address(), block.last_address())};
}

std::vector<Run> merged_runs(std::vector<Run> runs) {
  std::sort(runs.begin(), runs.end(), [](const Run& a, const Run& b) { return a.first < b.first; });
  // In order of first numbers, a run that starts at most one past the current run's end extends it.
  std::vector<Run> merged;
  for (const Run& run : runs) {
    if (!merged.empty() && run.first <= merged.back().last + 1)
      merged.back().last = std::max(merged.back().last, run.last);
    else
      merged.push_back(run);
  }
  return merged;
}

}  // namespace ipv4
