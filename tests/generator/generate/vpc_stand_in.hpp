#pragma once

// A VPC held in memory for the gateway subnet and gateway name tests and the benchmark: the
// members are plain fields, and every subnet listing is counted.

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "generator/generate/vpc_view.hpp"

namespace generator::generate::testing {

/// A VPC whose members the test sets directly; list_subnet_cidr_blocks() counts its calls and
/// runs `before_listing` first, which may throw to stand for a failed EC2 request.
class VpcStandIn : public VpcView {
 public:
  std::string vpc_id = "vpc-0123456789abcdef0";
  std::string primary_block;
  std::vector<CidrBlockAssociation> associations;
  std::vector<Tag> tag_list;
  std::vector<std::optional<std::string>> subnet_blocks;
  std::function<void()> before_listing;
  mutable int listings = 0;

  [[nodiscard]] std::string id() const override { return vpc_id; }
  [[nodiscard]] std::string cidr_block() const override { return primary_block; }
  [[nodiscard]] std::vector<CidrBlockAssociation> cidr_block_association_set() const override {
    return associations;
  }
  [[nodiscard]] std::vector<Tag> tags() const override { return tag_list; }
  [[nodiscard]] std::vector<std::optional<std::string>> list_subnet_cidr_blocks() const override {
    ++listings;
    if (before_listing) before_listing();
    return subnet_blocks;
  }
};

}  // namespace generator::generate::testing
