#pragma once

// The address map's geometry: each block of a VPC as a bar of pieces that tile its addresses from
// first to last (used runs of subnets, the gateway subnet, reserved ranges, free space). What a
// piece looks like on the page is the renderer's business.

#include <cstdint>
#include <vector>

#include "ipv4/ipv4_network.hpp"

namespace generator::generate {

/// What one piece of a block's bar stands for.
enum class PieceKind { used, free, gateway, reserved };

/// One piece of a block's bar: a run of addresses of one kind, and for used space the subnets it
/// merges, in address order.
struct BarPiece {
  PieceKind kind;
  std::uint32_t first;  // first address of the run
  std::uint32_t last;   // last address of the run, inclusive
  std::vector<ipv4::Network> subnets;
};

/// The bar of `block`: its addresses from first to last as pieces that touch end to end. Subnets
/// (clipped to the block; others ignored) that overlap or touch merge into one used piece; the
/// gateway subnet, when it lies in the block, is its own piece; in the gaps, the `reserved` ranges
/// are reserved pieces and the rest free pieces.
[[nodiscard]] std::vector<BarPiece> bar_pieces(const ipv4::Network& block,
                                               const std::vector<ipv4::Network>& subnets,
                                               const ipv4::Network* gateway,
                                               const std::vector<ipv4::Network>& reserved = {});

}  // namespace generator::generate
