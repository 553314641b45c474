#pragma once

// Amazon EC2: DescribeRegions, DescribeVpcs and DescribeSubnets, every page.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "aws/context.hpp"
#include "aws/credentials.hpp"
#include "aws/query_client.hpp"

namespace aws {

/// A tag of an EC2 resource.
struct Tag {
  std::string key;
  std::string value;
};

/// One IPv4 block associated with a VPC.
struct CidrBlockAssociation {
  std::string cidr_block;
  std::string state;  // CidrBlockState.State: "associated", "disassociated", ...
  std::string association_id;
};

/// A VPC as DescribeVpcs gives it.
struct Vpc {
  std::string id;
  std::string cidr_block;                                        // the primary IPv4 block
  std::vector<CidrBlockAssociation> cidr_block_association_set;  // the primary block included
  std::vector<Tag> tags;
  std::string state;
  bool is_default = false;
  std::string owner_id;
};

/// A subnet as DescribeSubnets gives it.
struct Subnet {
  std::string id;
  std::string vpc_id;
  std::optional<std::string> cidr_block;  // absent for an IPv6-only subnet
  std::vector<std::string> ipv6_cidr_blocks;
  std::string availability_zone;
  std::string state;
  std::vector<Tag> tags;
};

/// A region as DescribeRegions gives it.
struct Region {
  std::string name;
  std::string endpoint;
  std::string opt_in_status;
};

/// The most pages one listing may take: far more than any region fills at the page sizes used.
inline constexpr std::size_t MAX_LISTING_PAGES = 10'000;

/// EC2 in one region with one set of credentials. Every listing follows NextToken to the end;
/// a token the listing gave before, or a page beyond MAX_LISTING_PAGES, is a ServiceError of code
/// "PaginationError" (the listing fails as a refused one does) rather than an endless loop.
class Ec2Client {
 public:
  /// EC2 of `region` at its regional endpoint or the configured override; sends nothing yet.
  Ec2Client(const Context& context, const std::string& region, Credentials credentials);
  /// EC2 at an explicit endpoint.
  Ec2Client(const Context& context, Endpoint endpoint, Credentials credentials);

  /// DescribeRegions without parameters: the regions enabled for the account, in answer order.
  [[nodiscard]] std::vector<Region> describe_regions() const;

  /// DescribeVpcs, `max_results` per request; `on_page` gets each page in order as it arrives.
  void for_each_vpc_page(int max_results,
                         const std::function<void(std::vector<Vpc>& page)>& on_page) const;
  /// Every VPC of the region, in listing order.
  [[nodiscard]] std::vector<Vpc> describe_vpcs(int max_results) const;

  /// DescribeSubnets filtered by vpc-id, `max_results` per request; `on_page` gets each page.
  void for_each_subnet_page(const std::string& vpc_id, int max_results,
                            const std::function<void(std::vector<Subnet>& page)>& on_page) const;
  /// Every subnet of the VPC, in listing order.
  [[nodiscard]] std::vector<Subnet> describe_subnets(const std::string& vpc_id,
                                                     int max_results) const;

  /// DescribeSubnets without a filter, `max_results` per request: every subnet of the region, in
  /// listing order.
  [[nodiscard]] std::vector<Subnet> describe_region_subnets(int max_results) const;

  [[nodiscard]] const Endpoint& endpoint() const noexcept { return client_.endpoint(); }

 private:
  void for_each_page(const std::string& operation, QueryParameters parameters,
                     const std::function<void(const xml::Element& answer)>& on_answer) const;
  void for_each_subnet_page(QueryParameters parameters,
                            const std::function<void(std::vector<Subnet>& page)>& on_page) const;

  QueryClient client_;
};

}  // namespace aws
