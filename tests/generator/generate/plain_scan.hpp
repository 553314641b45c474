#pragma once

// The gateway subnet choice written the slow, obvious way: every aligned candidate of every block
// tried is checked against every listed subnet. The tests compare the real selection with it and
// the benchmark measures it.

#include <string>
#include <vector>

#include "generator/generate/vpc_stand_in.hpp"
#include "ipv4/ipv4_network.hpp"

namespace generator::generate::testing {

/// The candidates of one block that overlap no subnet of the VPC, in address order. Empty when the
/// block is smaller than a candidate.
inline std::vector<ipv4::Network> plain_scan_viable(const VpcStandIn& vpc, int prefix,
                                                    const std::string& cidr) {
  const ipv4::Network block = ipv4::Network::parse(cidr);
  std::vector<ipv4::Network> existing;
  for (const auto& subnet : vpc.subnet_blocks)
    if (subnet) existing.push_back(ipv4::Network::parse(*subnet));
  std::vector<ipv4::Network> viable;
  if (prefix < block.prefix_length()) return viable;
  const std::uint64_t count = block.subnet_count(prefix);
  for (std::uint64_t index = 0; index < count; ++index) {
    const ipv4::Network candidate = block.subnet_at(prefix, index);
    bool overlapping = false;
    for (const auto& subnet : existing) overlapping = overlapping || candidate.overlaps(subnet);
    if (!overlapping) viable.push_back(candidate);
  }
  return viable;
}

/// What the plain scan found: the chosen subnet ("" for none), and the viable candidates of
/// every block tried, in the order the blocks were tried.
struct PlainScanResult {
  std::string hvn_cidr;
  std::vector<std::vector<ipv4::Network>> viable_per_block;
};

/// The primary block first, then every other block in state "associated" in association order,
/// stopping at the first block with a viable candidate.
inline PlainScanResult plain_scan_hvn_cidr(const VpcStandIn& vpc, int prefix) {
  PlainScanResult result;
  std::vector<std::string> blocks{vpc.primary_block};
  for (const auto& association : vpc.associations)
    if (association.cidr_block != vpc.primary_block && association.state == "associated")
      blocks.push_back(association.cidr_block);
  for (const auto& block : blocks) {
    result.viable_per_block.push_back(plain_scan_viable(vpc, prefix, block));
    if (!result.viable_per_block.back().empty()) {
      result.hvn_cidr = result.viable_per_block.back().front().to_string();
      break;
    }
  }
  return result;
}

}  // namespace generator::generate::testing
