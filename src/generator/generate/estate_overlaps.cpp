#include "generator/generate/estate_overlaps.hpp"

#include <algorithm>
#include <fmt/format.h>
#include <limits>
#include <ranges>

#include "generator/common/errors.hpp"
#include "generator/generate/counts.hpp"
#include "generator/log/log.hpp"

namespace generator::generate {

namespace {

log::Logger& logger() { return log::get_logger("generator.generate"); }

std::string joined(const std::vector<ipv4::Network>& networks) {
  return fmt::format("{}", fmt::join(networks | std::views::transform(&ipv4::Network::to_string), ", "));
}

// The tables hold their positions in 32 bits: four thousand million VPCs, ids or blocks.
std::uint32_t position(std::size_t value) {
  if (value > std::numeric_limits<std::uint32_t>::max())
    throw ValueError("the estate is too large for the overlap check: " + std::to_string(value));
  return static_cast<std::uint32_t>(value);
}

// One VPC of a shared block, with the block of the group it holds.
struct Member {
  std::size_t vpc;
  ipv4::Network network;
};

// The VPCs of a group of nested blocks, each once (with its outermost block there), in scan order.
std::vector<Member> members_of(const std::vector<ipv4::NestedNetwork>& group) {
  std::vector<Member> members;
  for (const auto& node : group)
    for (const std::size_t owner : node.owners) members.push_back({owner, node.network});
  std::stable_sort(members.begin(), members.end(),
                   [](const Member& a, const Member& b) { return a.vpc < b.vpc; });
  members.erase(std::unique(members.begin(), members.end(),
                            [](const Member& a, const Member& b) { return a.vpc == b.vpc; }),
                members.end());
  return members;
}

}  // namespace

EstateOverlaps::EstateOverlaps(std::vector<ipv4::Network> external, log::Issuer reporter)
    : external_(std::move(external)), reporter_(reporter) {}

void EstateOverlaps::account_scanned(const AccountRecord& account) {
  const std::uint32_t account_number = position(accounts_.size());
  bool any = false;
  for (const RegionRecord& region : account.regions) {
    if (region.vpcs.empty()) continue;
    const auto [found, added] =
        region_numbers_.try_emplace(region.region, position(regions_.size()));
    if (added) regions_.push_back(region.region);
    for (const VpcRecord& vpc : region.vpcs) {
      any = true;
      ids_ += vpc.id;
      for (const BlockRecord& block : vpc.blocks)
        if (block.is_associated()) blocks_.push_back(block.network);
      places_.push_back({account_number, found->second, position(ids_.size()),
                         position(blocks_.size()), vpc.is_default});
    }
  }
  if (any) accounts_.push_back(account.account_id);
}

VpcPlace EstateOverlaps::vpc(std::size_t index) const {
  const Place& place = places_.at(index);
  const std::size_t id_begin = index == 0 ? 0 : places_[index - 1].id_end;
  const std::size_t blocks_begin = index == 0 ? 0 : places_[index - 1].blocks_end;
  return VpcPlace{accounts_[place.account], regions_[place.region],
                  std::string_view(ids_).substr(id_begin, place.id_end - id_begin),
                  std::span<const ipv4::Network>(blocks_).subspan(
                      blocks_begin, place.blocks_end - blocks_begin),
                  place.is_default};
}

SharedVpc EstateOverlaps::shared(std::size_t index) const {
  const Shared& found = shared_.at(index);
  const std::size_t begin = index == 0 ? 0 : shared_[index - 1].networks_end;
  return SharedVpc{found.vpc,
                   std::span<const ipv4::Network>(shared_networks_)
                       .subspan(begin, found.networks_end - begin),
                   found.other_count};
}

std::string EstateOverlaps::place_text(std::size_t index) const {
  const VpcPlace place = vpc(index);
  std::string text(place.vpc_id);
  text.append(" (account ").append(place.account_id).append(", region ").append(place.region);
  return text + ")";
}

std::vector<ipv4::OwnedNetwork> EstateOverlaps::owned_blocks() const {
  std::vector<ipv4::OwnedNetwork> owned;
  owned.reserve(blocks_.size());
  for (std::size_t index = 0; index < places_.size(); ++index)
    for (const ipv4::Network& block : vpc(index).blocks) owned.push_back({index, block});
  return owned;
}

void EstateOverlaps::finish() {
  // The others of each VPC are named only in the lines of -v, so only then are they looked for.
  overlaps_ = ipv4::find_overlaps(owned_blocks(), 0, [&](const ipv4::OwnerOverlaps& found) {
    shared_networks_.insert(shared_networks_.end(), found.networks.begin(), found.networks.end());
    shared_.push_back({position(found.owner), position(shared_networks_.size()), found.other_count});
  });
  find_external_overlaps();
  log_summary();
  log_shared_blocks();
  log_external_ranges();
  if (logger().is_enabled_for(log::DEBUG)) log_every_vpc();
}

void EstateOverlaps::find_external_overlaps() {
  vpcs_over_external_.assign(external_.size(), 0);
  // The external ranges are a handful, so each block is simply held against each of them.
  std::vector<bool> counted(external_.size());
  for (std::size_t index = 0; index < places_.size() && !external_.empty(); ++index) {
    counted.assign(external_.size(), false);
    for (const ipv4::Network& block : vpc(index).blocks) {
      for (std::size_t range = 0; range < external_.size(); ++range) {
        if (!external_[range].overlaps(block)) continue;
        external_overlaps_.push_back({index, block, range});
        if (!counted[range]) ++vpcs_over_external_[range];
        counted[range] = true;
      }
    }
  }
}

void EstateOverlaps::log_summary() const {
  if (shared_.empty()) return;
  logger().warning(
      {reporter_,
       "{} share addresses with other VPCs ({}); VPCs that overlap cannot be reached side by side"},
      plural(shared_.size(), "VPC", "VPCs"), plural(overlaps_.pair_count, "pair", "pairs"));
}

void EstateOverlaps::log_shared_blocks() const {
  const auto& groups = overlaps_.groups;
  std::vector<std::pair<std::size_t, std::size_t>> by_size;  // (VPCs, group), largest first
  std::vector<std::vector<Member>> members(groups.size());
  for (std::size_t group = 0; group < groups.size(); ++group) {
    members[group] = members_of(groups[group]);
    by_size.emplace_back(members[group].size(), group);
  }
  std::stable_sort(by_size.begin(), by_size.end(),
                   [](const auto& a, const auto& b) { return a.first > b.first; });
  for (std::size_t rank = 0; rank < by_size.size() && rank < SHARED_BLOCKS_LOGGED; ++rank) {
    const std::size_t group = by_size[rank].second;
    std::vector<Member>& of_group = members[group];
    std::vector<std::uint32_t> accounts;
    std::size_t defaults = 0;
    for (const Member& member : of_group) {
      accounts.push_back(places_[member.vpc].account);
      if (places_[member.vpc].is_default) ++defaults;
    }
    std::sort(accounts.begin(), accounts.end());
    const auto account_count =
        static_cast<std::size_t>(std::unique(accounts.begin(), accounts.end()) - accounts.begin());
    // The VPCs an operator made come first among the examples: they are the ones to decide on.
    std::stable_partition(of_group.begin(), of_group.end(),
                          [&](const Member& member) { return !places_[member.vpc].is_default; });
    std::string examples;
    for (std::size_t i = 0; i < of_group.size() && i < EXAMPLES_NAMED; ++i)
      examples += (i ? ", " : "") + place_text(of_group[i].vpc) + " " +
                  of_group[i].network.to_string();
    const std::string block = groups[group].front().network.to_string();
    const std::string in_accounts = plural(account_count, "account", "accounts");
    if (defaults == of_group.size()) {
      logger().warning({reporter_, "{} share {} in {}: they overlap only one another, e.g. {}"},
                       plural(defaults, "default VPC", "default VPCs"), block, in_accounts,
                       examples);
      continue;
    }
    const std::size_t inside = groups[group].size() - 1;
    const std::string shared =
        inside == 0 ? block : block + " (with " + plural(inside, "block", "blocks") + " inside it)";
    const std::string of_them =
        defaults == 0 ? ""
                      : " (" + std::to_string(defaults) + " of them default VPCs)";
    logger().warning({reporter_, "{} is shared by {} in {}{}, e.g. {}"}, shared,
                     plural(of_group.size(), "VPC", "VPCs"), in_accounts, of_them, examples);
  }
  if (by_size.size() > SHARED_BLOCKS_LOGGED) {
    logger().warning(
        {reporter_,
         "{} not named here: the address map (--report) lists every one, and -v names each VPC "
         "that shares addresses"},
        plural(by_size.size() - SHARED_BLOCKS_LOGGED, "more shared block is",
               "more shared blocks are"));
  }
}

void EstateOverlaps::log_external_ranges() const {
  for (std::size_t range = 0; range < external_.size(); ++range) {
    if (vpcs_over_external_[range] == 0) continue;
    std::vector<std::uint32_t> accounts;
    std::string examples;
    std::size_t named = 0;
    std::size_t last_vpc = places_.size();
    for (const ExternalOverlap& found : external_overlaps_) {
      if (found.range != range) continue;
      accounts.push_back(places_[found.vpc].account);
      if (found.vpc == last_vpc || named == EXAMPLES_NAMED) continue;
      examples += (named++ ? ", " : "") + place_text(found.vpc) + " " + found.block.to_string();
      last_vpc = found.vpc;
    }
    std::sort(accounts.begin(), accounts.end());
    const auto account_count =
        static_cast<std::size_t>(std::unique(accounts.begin(), accounts.end()) - accounts.begin());
    logger().warning({reporter_, "external_cidrs {} shares addresses with {} in {}, e.g. {}"},
                     external_[range].to_string(),
                     plural(vpcs_over_external_[range], "VPC", "VPCs"),
                     plural(account_count, "account", "accounts"), examples);
  }
}

void EstateOverlaps::log_every_vpc() const {
  (void)ipv4::find_overlaps(owned_blocks(), OTHERS_NAMED, [&](const ipv4::OwnerOverlaps& found) {
    std::string others;
    for (const auto& [other, block] : found.others)
      others += (others.empty() ? "" : ", ") + place_text(other) + " " + block.to_string();
    if (found.other_count > found.others.size())
      others += " and " + plural(found.other_count - found.others.size(), "more VPC", "more VPCs");
    logger().warning({reporter_, "VPC {}: {} shares addresses with {}"}, place_text(found.owner),
                     joined(found.networks), others);
  });
  for (std::size_t i = 0; i < external_overlaps_.size();) {
    const std::size_t index = external_overlaps_[i].vpc;
    std::string text;
    while (i < external_overlaps_.size() && external_overlaps_[i].vpc == index) {
      const ipv4::Network block = external_overlaps_[i].block;
      std::vector<ipv4::Network> ranges;
      for (; i < external_overlaps_.size() && external_overlaps_[i].vpc == index &&
             external_overlaps_[i].block == block;
           ++i)
        ranges.push_back(external_[external_overlaps_[i].range]);
      text += (text.empty() ? "" : "; ") + block.to_string() +
              " shares addresses with external_cidrs " + joined(ranges);
    }
    logger().warning({reporter_, "VPC {}: {}"}, place_text(index), text);
  }
}

}  // namespace generator::generate
