#pragma once

// A scanned VPC record as the gateway subnet and name rules read it; the scan engine and the drift
// check both hand records to the rules through it.

#include <optional>
#include <string>
#include <vector>

#include "generator/generate/scan_records.hpp"
#include "generator/generate/vpc_view.hpp"

namespace generator::generate {

/// `record` seen through VpcView; its subnets are those the record carries (the region's one
/// listing), so list_subnet_cidr_blocks() sends no request. The record must outlive the view.
class VpcRecordView : public VpcView {
 public:
  explicit VpcRecordView(const VpcRecord& record) : record_(record) {}
  [[nodiscard]] std::string id() const override { return record_.id; }
  [[nodiscard]] std::string cidr_block() const override { return record_.primary_cidr; }
  [[nodiscard]] std::vector<CidrBlockAssociation> cidr_block_association_set() const override {
    std::vector<CidrBlockAssociation> associations;
    for (const auto& block : record_.blocks) associations.push_back({block.cidr, block.state});
    return associations;
  }
  [[nodiscard]] std::vector<Tag> tags() const override {
    std::vector<Tag> tags;
    for (const auto& tag : record_.tags) tags.push_back({tag.key, tag.value});
    return tags;
  }
  [[nodiscard]] std::vector<std::optional<std::string>> list_subnet_cidr_blocks() const override {
    std::vector<std::optional<std::string>> cidrs;
    for (const auto& subnet : record_.subnets) cidrs.push_back(subnet.cidr_block);
    return cidrs;
  }

 private:
  const VpcRecord& record_;
};

}  // namespace generator::generate
