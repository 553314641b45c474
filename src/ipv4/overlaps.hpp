#pragma once

// Which owners of IPv4 networks share addresses with which others, for estates of any size.
// A generic piece: an owner is a number, whatever it stands for.
//
// Two CIDR networks share addresses exactly when one contains the other, so the networks form a
// forest: equal networks are one node and every node lies inside its ancestors. Two owners overlap
// when a network of one is a node, ancestor or descendant of a network of the other. The pairs are
// counted without being listed one by one: ten thousand owners of one network are one node.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "ipv4/ipv4_network.hpp"

namespace ipv4 {

/// A network and the number of whoever holds it.
struct OwnedNetwork {
  std::size_t owner;
  Network network;

  friend bool operator==(const OwnedNetwork&, const OwnedNetwork&) = default;
};

/// One owner that shares addresses with others.
struct OwnerOverlaps {
  std::size_t owner;
  /// Its networks that share addresses with another owner's, ascending.
  std::vector<Network> networks;
  /// The first of the other owners in ascending order (as many as asked for), each with its lowest
  /// network that shares addresses with one of this owner's.
  std::vector<OwnedNetwork> others;
  /// How many other owners share addresses with this one.
  std::uint64_t other_count = 0;
};

/// A node of the forest: a network, how deep it lies inside the group's outermost network (0 for
/// that one), and its owners, ascending.
struct NestedNetwork {
  Network network;
  int depth = 0;
  std::vector<std::size_t> owners;
};

/// What `find_overlaps` found.
struct Overlaps {
  /// Every owner that shares addresses with another, ascending.
  std::vector<OwnerOverlaps> owners;
  /// How many unordered pairs of different owners share addresses.
  std::uint64_t pair_count = 0;
  /// Every outermost network that two or more owners meet in, ascending, each with the networks
  /// inside it in ascending order (a network overlaps its ancestors, its descendants and the other
  /// owners of its own node, never its siblings).
  std::vector<std::vector<NestedNetwork>> groups;
};

/// The overlaps among `networks`; an owner never overlaps itself, and a network that lies inside
/// another of the same owner adds nothing and is left out. However many pairs there are, the time
/// is that of sorting the n networks plus, once per distinct network (or distinct set of networks
/// of an owner that holds several), a walk over its ancestors (at most 32) and descendants.
Overlaps find_overlaps(std::vector<OwnedNetwork> networks, std::size_t listed_others);

/// find_overlaps for estates too large to hold every owner's findings at once: each owner that
/// shares addresses is handed to `each_owner` in ascending order as it is found, and only the pair
/// count and the groups are kept (`owners` stays empty).
Overlaps find_overlaps(std::vector<OwnedNetwork> networks, std::size_t listed_others,
                       const std::function<void(const OwnerOverlaps&)>& each_owner);

}  // namespace ipv4
