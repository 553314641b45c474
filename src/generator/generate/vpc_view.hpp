#pragma once

// What the gateway subnet selection and the gateway naming read of a VPC. The EC2-backed VPC
// record is adapted to this view; tests put a plain stand-in here.

#include <optional>
#include <string>
#include <vector>

namespace generator::generate {

/// One CIDR block associated with a VPC, with the association's state ("associated", ...).
struct CidrBlockAssociation {
  std::string cidr_block;
  std::string state;
};

/// One tag of a VPC.
struct Tag {
  std::string key;
  std::string value;
};

/// A VPC as the discovery reads it.
class VpcView {
 public:
  virtual ~VpcView() = default;
  /// The VPC identifier ("vpc-0123456789abcdef0").
  [[nodiscard]] virtual std::string id() const = 0;
  /// The primary IPv4 CIDR block, as CIDR text.
  [[nodiscard]] virtual std::string cidr_block() const = 0;
  /// Every associated CIDR block, the primary one included, in the order EC2 returns them.
  [[nodiscard]] virtual std::vector<CidrBlockAssociation> cidr_block_association_set() const = 0;
  /// The VPC's tags in EC2's order; empty when it has none.
  [[nodiscard]] virtual std::vector<Tag> tags() const = 0;
  /// Lists the VPC's subnets anew (every page) and gives each one's IPv4 CIDR text in listing
  /// order, or nothing for a subnet without an IPv4 block; EC2 errors pass to the caller.
  [[nodiscard]] virtual std::vector<std::optional<std::string>> list_subnet_cidr_blocks() const = 0;
};

}  // namespace generator::generate
