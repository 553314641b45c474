#pragma once

// The address map's drawing of one account: its section with a section per region and a card per
// VPC (id, Name tag, gateway name and subnet, each associated block as a bar to scale), and the
// place in each card where its overlap marks go once the whole estate is known. Also the few
// ways of writing networks and names that every page of the map shares.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "generator/generate/counts.hpp"
#include "generator/generate/scan_records.hpp"
#include "ipv4/ipv4_network.hpp"

namespace generator::generate {

/// The networks as a comma-separated list of <code> elements.
[[nodiscard]] std::string code_list(const std::vector<ipv4::Network>& networks);

/// The element id of a VPC's card, as an attribute value; a link to it is "#" and the same text.
[[nodiscard]] std::string card_id(std::string_view account_id, std::string_view region,
                                  std::string_view vpc_id);

/// One account drawn: the HTML of its section, and for each of its VPCs, in scan order, where
/// in that HTML the card's marks (overlaps, external ranges) are to be inserted.
struct AccountSection {
  std::string html;
  std::vector<std::uint32_t> mark_offsets;
  std::size_t regions_failed = 0;
  std::size_t vpcs = 0;
  std::size_t vpcs_without_room = 0;
  std::size_t default_vpcs = 0;
};

/// The section of `account` (an entered one): a section per region (the reason of a failed one,
/// or its cards), each card drawn with gateway subnets of /`gateway_prefix` and the `reserved`
/// ranges in its bars; every text from AWS or the controller escaped.
[[nodiscard]] AccountSection draw_account(const AccountRecord& account, int gateway_prefix,
                                          const std::vector<ipv4::Network>& reserved);

}  // namespace generator::generate
