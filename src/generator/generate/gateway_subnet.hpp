#pragma once

// Choice of the gateway subnet (hvn_cidr) of a VPC: the lowest free aligned /27 (or /25 for a
// high-performance gateway) of the first of the VPC's blocks that has one.

#include <optional>
#include <vector>

#include "generator/common/gateway_size.hpp"
#include "generator/generate/scan_records.hpp"
#include "ipv4/ipv4_network.hpp"

namespace generator::generate {

/// How a scan chooses the gateway subnets it hands over (the configuration's defaults), which the
/// drift check applies again.
struct GatewayRule {
  Hpe hpe = Hpe::disabled;
  /// When set, gateway subnets stay empty: the migration adds a block to the VPC instead.
  bool add_vpc_cidr = false;
  /// Addresses no gateway subnet may use (reserved_cidrs), as if subnets stood there.
  std::vector<ipv4::Network> reserved{};
};

/// The gateway subnet of `vpc` against the subnets the record carries and the `reserved` ranges,
/// which count as taken just as subnets do: tried in the primary block, then in each further block
/// in state "associated", in association order; nothing (with a warning that says when the
/// reserved ranges took the last room) when none has room.
[[nodiscard]] std::optional<ipv4::Network> compute_hvn_cidr(
    const VpcRecord& vpc, Hpe hpe, const std::vector<ipv4::Network>& reserved);

/// The lowest aligned subnet of the wanted size inside `block` that overlaps none of the VPC's
/// subnets and none of the `reserved` ranges, or nothing when there is none.
[[nodiscard]] std::optional<ipv4::Network> _compute_hvn_cidr(
    const VpcRecord& vpc, Hpe hpe, const ipv4::Network& block,
    const std::vector<ipv4::Network>& reserved = {});

}  // namespace generator::generate
