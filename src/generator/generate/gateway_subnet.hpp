#pragma once

// Choice of the gateway subnet (hvn_cidr) of a VPC: the lowest free aligned /27 (or /25 for a
// high-performance gateway) of the first of the VPC's blocks that has one.

#include <string>
#include <string_view>

#include "generator/common/gateway_size.hpp"
#include "generator/generate/vpc_view.hpp"

namespace generator::generate {

/// The gateway subnet of `vpc` as canonical CIDR text: tried in the primary block, then in each
/// further block in state "associated", in association order; "" (with a warning) when none has
/// room. Lists the VPC's subnets once per block tried; ValueError for an unreadable CIDR text.
[[nodiscard]] std::string compute_hvn_cidr(const VpcView& vpc, Hpe hpe);

/// The lowest aligned subnet of the wanted size inside `cidr` that overlaps none of the VPC's
/// subnets (listed anew by this call), as canonical CIDR text, or "" when there is none.
[[nodiscard]] std::string _compute_hvn_cidr(const VpcView& vpc, Hpe hpe, std::string_view cidr);

}  // namespace generator::generate
