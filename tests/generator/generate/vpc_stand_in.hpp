#pragma once

// A VPC written as texts, the way EC2 describes it, for the gateway subnet and gateway name tests
// and the benchmark; it turns into the scan's record wherever one is wanted.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "generator/generate/scan_records.hpp"
#include "ipv4/ipv4_network.hpp"

namespace generator::generate::testing {

/// One block of the association set, with its state ("associated", ...).
struct CidrBlockAssociation {
  std::string cidr_block;
  std::string state;
};

/// A VPC whose members the test sets directly.
struct VpcStandIn {
  std::string vpc_id = "vpc-0123456789abcdef0";
  std::string primary_block;
  std::vector<CidrBlockAssociation> associations;
  std::vector<TagRecord> tag_list;
  std::vector<std::optional<std::string>> subnet_blocks;

  /// The record the scan would make of this VPC.
  [[nodiscard]] VpcRecord record() const {
    VpcRecord record;
    record.id = vpc_id;
    if (!primary_block.empty()) record.primary = ipv4::Network::parse(primary_block);
    for (const auto& association : associations)
      record.blocks.push_back({ipv4::Network::parse(association.cidr_block), association.state});
    record.tags = tag_list;
    for (const auto& block : subnet_blocks) {
      record.subnets.push_back(
          {"subnet-" + std::to_string(record.subnets.size()),
           block ? std::optional(ipv4::Network::parse(*block)) : std::nullopt});
    }
    return record;
  }
  // NOLINTNEXTLINE(google-explicit-constructor): a stand-in goes where a record is wanted.
  operator VpcRecord() const { return record(); }
};

/// A chosen subnet as the files write it: its CIDR text, "" for none.
inline std::string text_of(const std::optional<ipv4::Network>& chosen) {
  return chosen ? chosen->to_string() : "";
}

}  // namespace generator::generate::testing
