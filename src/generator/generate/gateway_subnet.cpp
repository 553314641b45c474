#include "generator/generate/gateway_subnet.hpp"

#include <cstdint>
#include <fmt/format.h>
#include <optional>
#include <ranges>
#include <utility>
#include <vector>

#include "generator/log/log.hpp"
#include "ipv4/ipv4_network.hpp"
#include "ipv4/runs.hpp"

namespace generator::generate {

namespace {

log::Logger& logger() { return log::get_logger("generator.generate"); }

std::vector<ipv4::Network> existing_subnets(const VpcRecord& vpc) {
  std::vector<ipv4::Network> existing;
  for (const auto& subnet : vpc.subnets)
    if (subnet.network) existing.push_back(*subnet.network);
  return existing;
}

std::string render_networks(const std::vector<ipv4::Network>& networks) {
  if (networks.empty()) return "(none)";
  std::string text;
  for (const auto& network : networks) {
    if (!text.empty()) text += '\n';
    text += network.to_string();
  }
  return text;
}

// The candidate positions that the existing subnets cover, as merged runs. Candidates and subnets
// are both aligned blocks, so a subnet covers exactly the candidates between the one holding its
// first address and the one holding its last address (clipped to the block).
std::vector<ipv4::Run> covered_runs(const ipv4::Network& block, int prefix,
                                    const std::vector<ipv4::Network>& existing) {
  const int shift = 32 - prefix;
  std::vector<ipv4::Run> runs;
  for (const auto& subnet : existing) {
    const std::optional<ipv4::Run> addresses = ipv4::clipped_run(subnet, block);
    if (!addresses) continue;
    runs.push_back({(addresses->first - block.first_address()) >> shift,
                    (addresses->last - block.first_address()) >> shift});
  }
  return ipv4::merged_runs(std::move(runs));
}

// The lowest candidate position outside every run, or nothing when the runs cover all `count`.
std::optional<std::uint64_t> first_free_position(const std::vector<ipv4::Run>& runs,
                                                 std::uint64_t count) {
  const std::uint64_t candidate =
      !runs.empty() && runs.front().first == 0 ? runs.front().last + 1 : 0;
  if (candidate < count) return candidate;
  return std::nullopt;
}

// Walks every candidate in address order with the per-candidate messages; only worth its cost
// when those messages are written. The messages are issued in the name of the caller.
std::vector<ipv4::Network> viable_candidates_logged(const ipv4::Network& block, int prefix,
                                                    const std::vector<ipv4::Run>& runs,
                                                    log::Issuer issuer = log::Issuer()) {
  std::vector<ipv4::Network> viable;
  const std::uint64_t count = block.subnet_count(prefix);
  std::size_t run_index = 0;
  for (std::uint64_t position = 0; position < count; ++position) {
    const ipv4::Network candidate = block.subnet_at(prefix, position);
    logger().debug({issuer, "Checking candidate subnet: {}"}, candidate.to_string());
    while (run_index < runs.size() && runs[run_index].last < position) ++run_index;
    const bool covered = run_index < runs.size() && runs[run_index].first <= position;
    if (covered) {
      logger().debug({issuer, "Subnet '{}' overlaps with existing subnet."}, candidate.to_string());
    } else {
      logger().debug({issuer, "Subnet '{}' is viable."}, candidate.to_string());
      viable.push_back(candidate);
    }
  }
  return viable;
}

}  // namespace

std::optional<ipv4::Network> _compute_hvn_cidr(const VpcRecord& vpc, Hpe hpe,
                                               const ipv4::Network& block,
                                               const std::vector<ipv4::Network>& reserved) {
  const int prefix = gateway_prefix_length(hpe);
  logger().debug("VPC cidr_block: {}", block.to_string());

  std::vector<ipv4::Network> existing = existing_subnets(vpc);
  const bool debugging = logger().is_enabled_for(log::DEBUG);
  if (debugging) logger().debug("VPC subnets:\n{}", render_networks(existing));
  if (debugging && !reserved.empty())
    logger().debug("Reserved ranges:\n{}", render_networks(reserved));
  existing.insert(existing.end(), reserved.begin(), reserved.end());

  std::optional<ipv4::Network> chosen;
  std::vector<ipv4::Network> viable;
  if (prefix >= block.prefix_length()) {
    const std::vector<ipv4::Run> runs = covered_runs(block, prefix, existing);
    if (debugging) {
      viable = viable_candidates_logged(block, prefix, runs);
      if (!viable.empty()) chosen = viable.front();
    } else if (const auto position = first_free_position(runs, block.subnet_count(prefix))) {
      chosen = block.subnet_at(prefix, *position);
    }
  } else {
    logger().debug("{}", "cidr block " + block.to_string() +
                             " prefix value must be less than or equal to " +
                             std::to_string(prefix));
  }

  if (debugging) logger().debug("Viable subnets:\n{}", render_networks(viable));
  if (!chosen) {
    logger().debug(
        "Could not compute hvn_cidr for vpc '{}' in cidr block '{}': No available subnets with "
        "prefix {}",
        vpc.id, block.to_string(), prefix);
  }
  return chosen;
}

std::optional<ipv4::Network> compute_hvn_cidr(const VpcRecord& vpc, Hpe hpe,
                                              const std::vector<ipv4::Network>& reserved) {
  if (auto chosen = _compute_hvn_cidr(vpc, hpe, vpc.primary, reserved)) return chosen;

  std::vector<ipv4::Network> searched{vpc.primary};
  for (const BlockRecord& block : vpc.blocks) {
    // The primary block was tried first; other states (disassociated, failed, ...) do not count.
    if (block.network == vpc.primary || !block.is_associated()) continue;
    if (auto chosen = _compute_hvn_cidr(vpc, hpe, block.network, reserved)) return chosen;
    searched.push_back(block.network);
  }

  // The operator must know whether the VPC is full or only the address plan keeps it so.
  const int prefix = gateway_prefix_length(hpe);
  const std::vector<ipv4::Network> subnets = existing_subnets(vpc);
  std::vector<ipv4::Network> in_the_way;
  bool room_without_reserved = false;
  for (const ipv4::Network& block : searched) {
    if (prefix < block.prefix_length()) continue;
    room_without_reserved =
        room_without_reserved ||
        first_free_position(covered_runs(block, prefix, subnets), block.subnet_count(prefix));
    for (const ipv4::Network& range : reserved)
      if (range.overlaps(block)) in_the_way.push_back(range);
  }
  if (room_without_reserved) {
    const std::string ranges =
        fmt::format("{}", fmt::join(in_the_way | std::views::transform(&ipv4::Network::to_string), ", "));
    logger().warning(
        "Could not compute hvn_cidr for vpc '{}': No available subnets with prefix {} outside "
        "the reserved ranges (reserved_cidrs {})",
        vpc.id, prefix, ranges);
  } else {
    logger().warning("Could not compute hvn_cidr for vpc '{}': No available subnets with prefix {}",
                     vpc.id, prefix);
  }
  return std::nullopt;
}

}  // namespace generator::generate
