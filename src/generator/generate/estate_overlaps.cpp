#include "generator/generate/estate_overlaps.hpp"

#include "generator/log/log.hpp"

namespace generator::generate {

namespace {

log::Logger& logger() { return log::get_logger("generator.generate"); }

std::string place_text(const VpcPlace& vpc) {
  return vpc.vpc_id + " (account " + vpc.account_id + ", region " + vpc.region + ")";
}

std::string joined(const std::vector<ipv4::Network>& networks) {
  std::string text;
  for (const auto& network : networks) text += (text.empty() ? "" : ", ") + network.to_string();
  return text;
}

std::string count_of(std::uint64_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

}  // namespace

EstateOverlaps::EstateOverlaps(std::vector<ipv4::Network> external)
    : external_(std::move(external)) {}

void EstateOverlaps::account_scanned(const AccountRecord& account) {
  for (const RegionRecord& region : account.regions) {
    for (const VpcRecord& vpc : region.vpcs) {
      VpcPlace& place = vpcs_.emplace_back(VpcPlace{account.account_id, region.region, vpc.id, {}});
      for (const BlockRecord& block : vpc.blocks)
        if (block.is_associated()) place.blocks.push_back(block.network);
    }
  }
}

void EstateOverlaps::finish() {
  std::vector<ipv4::OwnedNetwork> blocks;
  for (std::size_t index = 0; index < vpcs_.size(); ++index)
    for (const auto& block : vpcs_[index].blocks) blocks.push_back({index, block});
  overlaps_ = ipv4::find_overlaps(std::move(blocks), OTHERS_NAMED);

  for (const ipv4::OwnerOverlaps& found : overlaps_.owners) {
    std::string others;
    for (const auto& [other, block] : found.others)
      others += (others.empty() ? "" : ", ") + place_text(vpcs_[other]) + " " + block.to_string();
    if (found.other_count > found.others.size())
      others += " and " + count_of(found.other_count - found.others.size(), "more VPC", "more VPCs");
    logger().warning("VPC {}: {} shares addresses with {}", place_text(vpcs_[found.owner]),
                     joined(found.networks), others);
  }
  if (!overlaps_.owners.empty()) {
    logger().warning(
        "{} share addresses with other VPCs ({}); VPCs that overlap cannot be reached "
        "side by side",
        count_of(overlaps_.owners.size(), "VPC", "VPCs"),
        count_of(overlaps_.pair_count, "pair", "pairs"));
  }

  // The external ranges are a handful, so each block is simply held against each of them.
  for (std::size_t index = 0; index < vpcs_.size() && !external_.empty(); ++index) {
    ExternalOverlap found{index, {}};
    for (const auto& block : vpcs_[index].blocks) {
      std::vector<ipv4::Network> ranges;
      for (const auto& range : external_)
        if (range.overlaps(block)) ranges.push_back(range);
      if (!ranges.empty()) found.blocks.emplace_back(block, std::move(ranges));
    }
    if (found.blocks.empty()) continue;
    std::string text;
    for (const auto& [block, ranges] : found.blocks)
      text += (text.empty() ? "" : "; ") + block.to_string() +
              " shares addresses with external_cidrs " + joined(ranges);
    logger().warning("VPC {}: {}", place_text(vpcs_[index]), text);
    external_overlaps_.push_back(std::move(found));
  }
}

}  // namespace generator::generate
