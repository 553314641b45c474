#include "generator/generate/address_map_geometry.hpp"

#include <algorithm>
#include <optional>
#include <utility>

#include "ipv4/runs.hpp"

namespace generator::generate {

namespace {

BarPiece piece_of(PieceKind kind, std::uint64_t first, std::uint64_t last,
                  std::vector<ipv4::Network> subnets = {}) {
  return {kind, static_cast<std::uint32_t>(first), static_cast<std::uint32_t>(last),
          std::move(subnets)};
}

// The used runs of the block: its subnets merged where they overlap or touch, each run with the
// subnets it merges in address order.
std::vector<BarPiece> used_pieces(const ipv4::Network& block,
                                  const std::vector<ipv4::Network>& subnets) {
  std::vector<ipv4::Network> inside;
  for (const auto& subnet : subnets)
    if (subnet.overlaps(block)) inside.push_back(subnet);
  std::sort(inside.begin(), inside.end());
  std::vector<ipv4::Run> clipped;
  for (const auto& subnet : inside) clipped.push_back(*ipv4::clipped_run(subnet, block));

  std::vector<BarPiece> used;
  for (const ipv4::Run& run : ipv4::merged_runs(clipped))
    used.push_back(piece_of(PieceKind::used, run.first, run.last));
  // Subnets and runs are both in address order: each subnet goes to the run that holds its start.
  std::size_t run = 0;
  for (std::size_t i = 0; i < inside.size(); ++i) {
    while (used[run].last < clipped[i].first) ++run;
    used[run].subnets.push_back(inside[i]);
  }
  return used;
}

}  // namespace

std::vector<BarPiece> bar_pieces(const ipv4::Network& block,
                                 const std::vector<ipv4::Network>& subnets,
                                 const ipv4::Network* gateway,
                                 const std::vector<ipv4::Network>& reserved) {
  // The gateway subnet is chosen to overlap no subnet; should the records disagree, it is still
  // drawn, cut out of whatever used run it lies on.
  std::vector<BarPiece> taken;
  std::optional<ipv4::Run> gate;
  if (gateway && block.contains(*gateway))
    gate = ipv4::Run{gateway->first_address(), gateway->last_address()};
  for (auto& piece : used_pieces(block, subnets)) {
    if (!gate || piece.last < gate->first || piece.first > gate->last) {
      taken.push_back(std::move(piece));
      continue;
    }
    if (piece.first < gate->first)
      taken.push_back(piece_of(PieceKind::used, piece.first, gate->first - 1, piece.subnets));
    if (piece.last > gate->last)
      taken.push_back(piece_of(PieceKind::used, gate->last + 1, piece.last,
                               piece.first < gate->first ? std::vector<ipv4::Network>{}
                                                         : piece.subnets));
  }
  if (gate) taken.push_back(piece_of(PieceKind::gateway, gate->first, gate->last));
  std::sort(taken.begin(), taken.end(),
            [](const BarPiece& a, const BarPiece& b) { return a.first < b.first; });

  // The reserved ranges inside the block, merged, are drawn only where nothing else stands.
  std::vector<ipv4::Run> held;
  for (const auto& range : reserved)
    if (const auto run = ipv4::clipped_run(range, block)) held.push_back(*run);
  held = ipv4::merged_runs(std::move(held));
  std::vector<BarPiece> pieces;
  const auto add_gap = [&](std::uint64_t first, std::uint64_t last) {
    for (const ipv4::Run& run : held) {
      if (run.last < first || run.first > last) continue;
      if (run.first > first) pieces.push_back(piece_of(PieceKind::free, first, run.first - 1));
      const std::uint64_t end = std::min(run.last, last);
      pieces.push_back(piece_of(PieceKind::reserved, std::max(run.first, first), end));
      first = end + 1;
      if (first > last) return;
    }
    pieces.push_back(piece_of(PieceKind::free, first, last));
  };
  std::uint64_t next = block.first_address();
  for (auto& piece : taken) {
    if (piece.first > next) add_gap(next, piece.first - 1);
    next = std::uint64_t{piece.last} + 1;
    pieces.push_back(std::move(piece));
  }
  if (next <= block.last_address()) add_gap(next, block.last_address());
  return pieces;
}

}  // namespace generator::generate
