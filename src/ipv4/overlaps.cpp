#include "ipv4/overlaps.hpp"

#include <algorithm>
#include <bit>
#include <iterator>
#include <limits>
#include <map>
#include <unordered_map>

namespace ipv4 {

namespace {

constexpr std::size_t NONE = std::numeric_limits<std::size_t>::max();

// A node with more owners than this enters an owner's partners as a bitset of owners built once
// for every owner that relates to it, instead of one owner at a time: ten thousand default VPCs
// that share one block cost one bitset, not ten thousand lists of ten thousand.
constexpr std::size_t CROWDED = 64;

// The networks after the same owner's duplicates and inner networks are dropped, in owner order,
// with each owner's networks ascending.
struct OwnersNetworks {
  std::vector<Network> networks;
  std::vector<std::size_t> node;   // the forest node of each network
  std::vector<std::size_t> begin;  // owner o holds networks [begin[o], begin[o + 1])
};

// The forest of distinct networks in ascending order, which is the order of a walk that visits
// every node before its descendants.
struct Forest {
  std::vector<Network> networks;
  std::vector<std::size_t> owner_begin;  // node v's owners: owners[owner_begin[v] .. owner_begin[v + 1])
  std::vector<std::size_t> owners;
  std::vector<std::size_t> parent;       // NONE for an outermost network
  std::vector<std::size_t> subtree_end;  // node v's descendants are the nodes after v before this
  std::vector<int> depth;
  std::vector<std::uint64_t> related;    // owners of the node, its ancestors and its descendants
  // How many of `related` are an owner met again: an owner's networks are disjoint, so only
  // several of them inside the node's subtree repeat it.
  std::vector<std::uint64_t> repeats;

  [[nodiscard]] std::size_t owner_count(std::size_t node) const {
    return owner_begin[node + 1] - owner_begin[node];
  }
};

// The other owners of a set of nodes, counted once each: how many, and the lowest ones.
struct Partners {
  std::uint64_t count = 0;
  std::vector<std::size_t> lowest;
};

OwnersNetworks keep_outer_networks(std::vector<OwnedNetwork>& input, std::size_t owner_total) {
  std::sort(input.begin(), input.end(), [](const OwnedNetwork& a, const OwnedNetwork& b) {
    return a.owner != b.owner ? a.owner < b.owner : a.network < b.network;
  });
  OwnersNetworks kept;
  kept.begin.assign(owner_total + 1, 0);
  std::vector<std::size_t> owner_of;
  for (const auto& [owner, network] : input) {
    // In ascending order a network that lies inside another of its owner's comes right after
    // that one or after others inside it, which were dropped: the last kept is the container.
    if (!owner_of.empty() && owner_of.back() == owner && kept.networks.back().contains(network))
      continue;
    kept.networks.push_back(network);
    owner_of.push_back(owner);
    ++kept.begin[owner + 1];
  }
  for (std::size_t owner = 0; owner < owner_total; ++owner)
    kept.begin[owner + 1] += kept.begin[owner];
  kept.node.assign(kept.networks.size(), NONE);
  return kept;
}

Forest grow_forest(OwnersNetworks& kept, std::size_t owner_total) {
  std::vector<std::size_t> order(kept.networks.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  // Owners were laid out ascending, so a stable sort by network keeps each node's owners ascending.
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return kept.networks[a] < kept.networks[b];
  });
  std::vector<std::size_t> owner_of(kept.networks.size());
  for (std::size_t owner = 0; owner < owner_total; ++owner)
    for (std::size_t i = kept.begin[owner]; i < kept.begin[owner + 1]; ++i) owner_of[i] = owner;

  Forest forest;
  for (const std::size_t entry : order) {
    if (forest.networks.empty() || forest.networks.back() != kept.networks[entry]) {
      forest.networks.push_back(kept.networks[entry]);
      forest.owner_begin.push_back(forest.owners.size());
    }
    forest.owners.push_back(owner_of[entry]);
    kept.node[entry] = forest.networks.size() - 1;
  }
  forest.owner_begin.push_back(forest.owners.size());

  const std::size_t nodes = forest.networks.size();
  forest.parent.assign(nodes, NONE);
  forest.subtree_end.assign(nodes, nodes);
  forest.depth.assign(nodes, 0);
  std::vector<std::size_t> enclosing;
  for (std::size_t node = 0; node < nodes; ++node) {
    while (!enclosing.empty() && !forest.networks[enclosing.back()].contains(forest.networks[node])) {
      forest.subtree_end[enclosing.back()] = node;
      enclosing.pop_back();
    }
    if (!enclosing.empty()) forest.parent[node] = enclosing.back();
    forest.depth[node] = static_cast<int>(enclosing.size());
    enclosing.push_back(node);
  }

  // Owners inside each node's subtree, summed from the last node back, then the ancestors' owners.
  std::vector<std::uint64_t> inside(nodes);
  for (std::size_t node = nodes; node-- > 0;) {
    inside[node] += forest.owner_count(node);
    if (forest.parent[node] != NONE) inside[forest.parent[node]] += inside[node];
  }
  forest.related.assign(nodes, 0);
  std::vector<std::uint64_t> above(nodes, 0);
  for (std::size_t node = 0; node < nodes; ++node) {
    const std::size_t parent = forest.parent[node];
    if (parent != NONE) above[node] = above[parent] + forest.owner_count(parent);
    forest.related[node] = above[node] + inside[node];
  }
  return forest;
}

void count_repeats(const OwnersNetworks& kept, std::size_t owner_total, Forest& forest) {
  forest.repeats.assign(forest.networks.size(), 0);
  std::vector<std::size_t> enclosing;
  for (std::size_t owner = 0; owner < owner_total; ++owner) {
    if (kept.begin[owner + 1] - kept.begin[owner] < 2) continue;
    enclosing.clear();
    for (std::size_t i = kept.begin[owner]; i < kept.begin[owner + 1]; ++i)
      for (std::size_t node = kept.node[i]; node != NONE; node = forest.parent[node])
        enclosing.push_back(node);
    std::sort(enclosing.begin(), enclosing.end());
    for (std::size_t run = 0; run < enclosing.size();) {
      std::size_t end = run;
      while (end < enclosing.size() && enclosing[end] == enclosing[run]) ++end;
      forest.repeats[enclosing[run]] += end - run - 1;
      run = end;
    }
  }
}

// Partners of a signature: the union of the owners of every node related to the signature's
// nodes. Crowded nodes are merged as bitsets, kept per set of crowded nodes because owners that
// differ elsewhere often share the same crowded ones (a common secondary block).
class PartnerFinder {
 public:
  PartnerFinder(const Forest& forest, std::size_t owner_total, std::size_t wanted)
      : forest_(forest), words_((owner_total + 63) / 64), wanted_(wanted) {}

  const Partners& of(const std::vector<std::size_t>& signature) {
    if (signature.size() == 1) {
      const auto known = by_node_.find(signature.front());
      if (known != by_node_.end()) return known->second;
      return by_node_.emplace(signature.front(), alone(signature.front())).first->second;
    }
    const auto known = by_signature_.find(signature);
    if (known != by_signature_.end()) return known->second;
    return by_signature_.emplace(signature, gather(signature)).first->second;
  }

 private:
  struct CrowdUnion {
    std::vector<std::uint64_t> bits;
    Partners partners;
  };

  // The owner of one network relates to every owner counted at its node, less those met twice;
  // the lowest of them are among the lowest of each related node.
  Partners alone(std::size_t node) {
    Partners partners;
    partners.count = forest_.related[node] - forest_.repeats[node];
    std::vector<std::size_t>& lowest = partners.lowest;
    const auto take_lowest = [&](std::size_t related) {
      const auto first = forest_.owners.begin() + static_cast<std::ptrdiff_t>(forest_.owner_begin[related]);
      lowest.insert(lowest.end(), first,
                    first + static_cast<std::ptrdiff_t>(std::min(wanted_, forest_.owner_count(related))));
    };
    for (std::size_t up = forest_.parent[node]; up != NONE; up = forest_.parent[up]) take_lowest(up);
    for (std::size_t inner = node; inner < forest_.subtree_end[node]; ++inner) take_lowest(inner);
    std::sort(lowest.begin(), lowest.end());
    lowest.erase(std::unique(lowest.begin(), lowest.end()), lowest.end());
    lowest.resize(std::min(wanted_, lowest.size()));
    return partners;
  }

  Partners gather(const std::vector<std::size_t>& signature) {
    std::vector<std::size_t> related;
    for (const std::size_t node : signature)
      for (std::size_t up = forest_.parent[node]; up != NONE; up = forest_.parent[up])
        related.push_back(up);
    // An owner's networks are disjoint, so their subtrees are too, and none holds an ancestor of
    // another; only the ancestors may repeat.
    std::sort(related.begin(), related.end());
    related.erase(std::unique(related.begin(), related.end()), related.end());
    for (const std::size_t node : signature)
      for (std::size_t inner = node; inner < forest_.subtree_end[node]; ++inner)
        related.push_back(inner);

    std::vector<std::size_t> crowded;
    std::vector<std::size_t> single;
    for (const std::size_t node : related) {
      if (forest_.owner_count(node) > CROWDED) {
        crowded.push_back(node);
      } else {
        single.insert(single.end(), forest_.owners.begin() + forest_.owner_begin[node],
                      forest_.owners.begin() + forest_.owner_begin[node + 1]);
      }
    }
    std::sort(crowded.begin(), crowded.end());
    const CrowdUnion* crowd = crowded.empty() ? nullptr : &union_of(crowded);

    std::sort(single.begin(), single.end());
    single.erase(std::unique(single.begin(), single.end()), single.end());
    if (crowd) {
      std::erase_if(single, [&](std::size_t owner) {
        return (crowd->bits[owner / 64] >> (owner % 64)) & 1u;
      });
    }
    Partners partners;
    partners.count = single.size() + (crowd ? crowd->partners.count : 0);
    const std::vector<std::size_t> none;
    const auto& crowd_lowest = crowd ? crowd->partners.lowest : none;
    const std::size_t take = std::min<std::uint64_t>(wanted_, partners.count);
    std::merge(crowd_lowest.begin(), crowd_lowest.end(), single.begin(),
               single.begin() + static_cast<std::ptrdiff_t>(std::min(take, single.size())),
               std::back_inserter(partners.lowest));
    partners.lowest.resize(take);
    return partners;
  }

  const CrowdUnion& union_of(const std::vector<std::size_t>& crowded) {
    const auto known = by_crowd_.find(crowded);
    if (known != by_crowd_.end()) return known->second;
    CrowdUnion crowd;
    crowd.bits.assign(words_, 0);
    for (const std::size_t node : crowded)
      for (std::size_t i = forest_.owner_begin[node]; i < forest_.owner_begin[node + 1]; ++i)
        crowd.bits[forest_.owners[i] / 64] |= std::uint64_t{1} << (forest_.owners[i] % 64);
    for (std::size_t word = 0; word < words_; ++word) {
      crowd.partners.count += static_cast<std::uint64_t>(std::popcount(crowd.bits[word]));
      for (std::uint64_t rest = crowd.bits[word];
           rest != 0 && crowd.partners.lowest.size() < wanted_; rest &= rest - 1)
        crowd.partners.lowest.push_back(word * 64 + static_cast<std::size_t>(std::countr_zero(rest)));
    }
    return by_crowd_.emplace(crowded, std::move(crowd)).first->second;
  }

  const Forest& forest_;
  std::size_t words_;
  std::size_t wanted_;
  std::unordered_map<std::size_t, Partners> by_node_;
  std::map<std::vector<std::size_t>, Partners> by_signature_;
  std::map<std::vector<std::size_t>, CrowdUnion> by_crowd_;
};

}  // namespace

Overlaps find_overlaps(std::vector<OwnedNetwork> networks, std::size_t listed_others) {
  std::vector<OwnerOverlaps> owners;
  Overlaps overlaps =
      find_overlaps(std::move(networks), listed_others,
                    [&](const OwnerOverlaps& found) { owners.push_back(found); });
  overlaps.owners = std::move(owners);
  return overlaps;
}

Overlaps find_overlaps(std::vector<OwnedNetwork> networks, std::size_t listed_others,
                       const std::function<void(const OwnerOverlaps&)>& each_owner) {
  std::size_t owner_total = 0;
  for (const auto& entry : networks) owner_total = std::max(owner_total, entry.owner + 1);
  OwnersNetworks kept = keep_outer_networks(networks, owner_total);
  Forest forest = grow_forest(kept, owner_total);
  count_repeats(kept, owner_total, forest);

  Overlaps overlaps;
  // One more than listed, because the owner itself is among the partners of its own nodes.
  PartnerFinder partners_of(forest, owner_total, listed_others + 1);
  std::uint64_t partner_sum = 0;
  // One record, reused from owner to owner, so that its lists are not allocated anew each time.
  OwnerOverlaps found;
  for (std::size_t owner = 0; owner < owner_total; ++owner) {
    const std::size_t first = kept.begin[owner];
    const std::size_t last = kept.begin[owner + 1];
    found.owner = owner;
    found.networks.clear();
    found.others.clear();
    found.other_count = 0;
    for (std::size_t i = first; i < last; ++i)
      if (forest.related[kept.node[i]] > 1) found.networks.push_back(kept.networks[i]);
    if (found.networks.empty()) continue;

    const std::vector<std::size_t> signature(kept.node.begin() + static_cast<std::ptrdiff_t>(first),
                                             kept.node.begin() + static_cast<std::ptrdiff_t>(last));
    const Partners& partners = partners_of.of(signature);
    found.other_count = partners.count - 1;
    partner_sum += found.other_count;
    for (const std::size_t other : partners.lowest) {
      if (other == owner || found.others.size() == listed_others) continue;
      for (std::size_t i = kept.begin[other]; i < kept.begin[other + 1]; ++i) {
        const Network& theirs = kept.networks[i];
        if (std::any_of(found.networks.begin(), found.networks.end(),
                        [&](const Network& mine) { return mine.overlaps(theirs); })) {
          found.others.push_back({other, theirs});
          break;
        }
      }
    }
    each_owner(found);
  }
  overlaps.pair_count = partner_sum / 2;

  for (std::size_t root = 0; root < forest.networks.size(); root = forest.subtree_end[root]) {
    // Every node of a tree relates to its root, so the root's count is the tree's.
    if (forest.related[root] < 2) continue;
    auto& group = overlaps.groups.emplace_back();
    for (std::size_t node = root; node < forest.subtree_end[root]; ++node) {
      group.push_back({forest.networks[node], forest.depth[node],
                       {forest.owners.begin() + static_cast<std::ptrdiff_t>(forest.owner_begin[node]),
                        forest.owners.begin() + static_cast<std::ptrdiff_t>(forest.owner_begin[node + 1])}});
    }
  }
  return overlaps;
}

}  // namespace ipv4
