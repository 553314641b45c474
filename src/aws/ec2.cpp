#include "aws/ec2.hpp"

#include <functional>
#include <unordered_set>

#include "aws/errors.hpp"
#include "aws/shared_config.hpp"

namespace aws {

namespace {

constexpr const char* EC2_API_VERSION = "2016-11-15";

std::vector<Tag> read_tags(const xml::Element& resource) {
  std::vector<Tag> tags;
  for (const xml::Element* item : resource.items("tagSet")) {
    tags.push_back(Tag{item->child_text_or_empty("key"), item->child_text_or_empty("value")});
  }
  return tags;
}

Vpc read_vpc(const xml::Element& item) {
  Vpc vpc;
  vpc.id = item.child_text_or_empty("vpcId");
  vpc.cidr_block = item.child_text_or_empty("cidrBlock");
  for (const xml::Element* association : item.items("cidrBlockAssociationSet")) {
    const xml::Element* state = association->child("cidrBlockState");
    vpc.cidr_block_association_set.push_back(
        CidrBlockAssociation{association->child_text_or_empty("cidrBlock"),
                             state != nullptr ? state->child_text_or_empty("state") : "",
                             association->child_text_or_empty("associationId")});
  }
  vpc.tags = read_tags(item);
  vpc.state = item.child_text_or_empty("state");
  vpc.is_default = item.child_text_or_empty("isDefault") == "true";
  vpc.owner_id = item.child_text_or_empty("ownerId");
  return vpc;
}

Subnet read_subnet(const xml::Element& item) {
  Subnet subnet;
  subnet.id = item.child_text_or_empty("subnetId");
  subnet.vpc_id = item.child_text_or_empty("vpcId");
  // An IPv6-only subnet has no cidrBlock element (or, from some servers, an empty one).
  if (auto cidr = item.child_text("cidrBlock"); cidr && !cidr->empty())
    subnet.cidr_block = std::move(*cidr);
  for (const xml::Element* association : item.items("ipv6CidrBlockAssociationSet")) {
    subnet.ipv6_cidr_blocks.push_back(association->child_text_or_empty("ipv6CidrBlock"));
  }
  subnet.availability_zone = item.child_text_or_empty("availabilityZone");
  subnet.state = item.child_text_or_empty("state");
  subnet.tags = read_tags(item);
  return subnet;
}

Endpoint ec2_endpoint(const Context& context, const std::string& region) {
  return resolve_endpoint(Service::ec2, region, context.environment,
                          load_shared_config(context.environment));
}

}  // namespace

Ec2Client::Ec2Client(const Context& context, const std::string& region, Credentials credentials)
    : Ec2Client(context, ec2_endpoint(context, region), std::move(credentials)) {}

Ec2Client::Ec2Client(const Context& context, Endpoint endpoint, Credentials credentials)
    : client_(context, std::move(endpoint), std::move(credentials), "ec2", EC2_API_VERSION) {}

void Ec2Client::for_each_page(
    const std::string& operation, QueryParameters parameters,
    const std::function<void(const xml::Element& answer)>& on_answer) const {
  // Tokens are remembered by their hash: a server may make them as long as an answer, and a
  // collision only ends a listing that was already endless or hostile.
  std::unordered_set<std::size_t> given_tokens;
  std::string token;
  for (std::size_t page = 1;; ++page) {
    QueryParameters page_parameters = parameters;
    if (!token.empty()) page_parameters.emplace_back("NextToken", token);
    const xml::Element answer = client_.call(operation, page_parameters);
    on_answer(answer);
    std::string next = answer.child_text_or_empty("nextToken");
    if (next.empty()) return;
    // Reported as botocore's paginator names it, and as a service error, so that the region
    // fails as it would had EC2 refused the listing.
    const auto endless = [&](const std::string& why) {
      return ServiceError("PaginationError",
                          "The " + operation + " listing of " + client_.endpoint().url + " " + why,
                          "", operation, 200);
    };
    if (!given_tokens.insert(std::hash<std::string>{}(next)).second) {
      throw endless("gave a page token on page " + std::to_string(page) +
                    " that it had given before: it would never end");
    }
    if (page >= MAX_LISTING_PAGES)
      throw endless("did not end after " + std::to_string(MAX_LISTING_PAGES) + " pages");
    token = std::move(next);
  }
}

std::vector<Region> Ec2Client::describe_regions() const {
  std::vector<Region> regions;
  const xml::Element answer = client_.call("DescribeRegions", {});
  for (const xml::Element* item : answer.items("regionInfo")) {
    regions.push_back(Region{item->child_text_or_empty("regionName"),
                             item->child_text_or_empty("regionEndpoint"),
                             item->child_text_or_empty("optInStatus")});
  }
  return regions;
}

void Ec2Client::for_each_vpc_page(
    int max_results, const std::function<void(std::vector<Vpc>& page)>& on_page) const {
  for_each_page("DescribeVpcs", {{"MaxResults", std::to_string(max_results)}},
                [&](const xml::Element& answer) {
                  std::vector<Vpc> page;
                  for (const xml::Element* item : answer.items("vpcSet"))
                    page.push_back(read_vpc(*item));
                  on_page(page);
                });
}

std::vector<Vpc> Ec2Client::describe_vpcs(int max_results) const {
  std::vector<Vpc> vpcs;
  for_each_vpc_page(max_results, [&](std::vector<Vpc>& page) {
    for (auto& vpc : page) vpcs.push_back(std::move(vpc));
  });
  return vpcs;
}

void Ec2Client::for_each_subnet_page(
    const std::string& vpc_id, int max_results,
    const std::function<void(std::vector<Subnet>& page)>& on_page) const {
  for_each_subnet_page({{"Filter.1.Name", "vpc-id"},
                        {"Filter.1.Value.1", vpc_id},
                        {"MaxResults", std::to_string(max_results)}},
                       on_page);
}

void Ec2Client::for_each_subnet_page(
    QueryParameters parameters,
    const std::function<void(std::vector<Subnet>& page)>& on_page) const {
  for_each_page("DescribeSubnets", std::move(parameters), [&](const xml::Element& answer) {
    std::vector<Subnet> page;
    for (const xml::Element* item : answer.items("subnetSet")) page.push_back(read_subnet(*item));
    on_page(page);
  });
}

std::vector<Subnet> Ec2Client::describe_subnets(const std::string& vpc_id, int max_results) const {
  std::vector<Subnet> subnets;
  for_each_subnet_page(vpc_id, max_results, [&](std::vector<Subnet>& page) {
    for (auto& subnet : page) subnets.push_back(std::move(subnet));
  });
  return subnets;
}

std::vector<Subnet> Ec2Client::describe_region_subnets(int max_results) const {
  std::vector<Subnet> subnets;
  for_each_subnet_page({{"MaxResults", std::to_string(max_results)}},
                       [&](std::vector<Subnet>& page) {
                         for (auto& subnet : page) subnets.push_back(std::move(subnet));
                       });
  return subnets;
}

}  // namespace aws
