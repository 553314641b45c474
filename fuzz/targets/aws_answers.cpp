// AWS's XML answers (parts of the input, served in order to the calls as they come): the region
// listing, the VPC listing with the gateway subnet and name worked out for each VPC from its subnet
// listing, AssumeRole; and the whole input read as an error answer.

#include "aws/errors.hpp"
#include "aws/query_client.hpp"
#include "aws/sts.hpp"
#include "fuzz_support.hpp"
#include "generator/common/errors.hpp"
#include "generator/generate/account_access.hpp"
#include "generator/generate/gateway_name.hpp"
#include "generator/generate/gateway_subnet.hpp"

namespace {

const aws::Credentials KEYS{"AKIDFUZZ", "fuzz-secret", "", ""};

// A VPC of the listing with the subnets of the region's one subnet listing that name it.
class ListedVpc : public generator::generate::VpcView {
 public:
  ListedVpc(const aws::Vpc& vpc, const std::vector<aws::Subnet>& region_subnets)
      : vpc_(vpc), region_subnets_(region_subnets) {}
  [[nodiscard]] std::string id() const override { return vpc_.id; }
  [[nodiscard]] std::string cidr_block() const override { return vpc_.cidr_block; }
  [[nodiscard]] std::vector<generator::generate::CidrBlockAssociation> cidr_block_association_set()
      const override {
    std::vector<generator::generate::CidrBlockAssociation> associations;
    for (const auto& association : vpc_.cidr_block_association_set)
      associations.push_back({association.cidr_block, association.state});
    return associations;
  }
  [[nodiscard]] std::vector<generator::generate::Tag> tags() const override {
    std::vector<generator::generate::Tag> tags;
    for (const auto& tag : vpc_.tags) tags.push_back({tag.key, tag.value});
    return tags;
  }
  [[nodiscard]] std::vector<std::optional<std::string>> list_subnet_cidr_blocks() const override {
    std::vector<std::optional<std::string>> blocks;
    for (const auto& subnet : region_subnets_)
      if (subnet.vpc_id == vpc_.id) blocks.push_back(subnet.cidr_block);
    return blocks;
  }

 private:
  const aws::Vpc& vpc_;
  const std::vector<aws::Subnet>& region_subnets_;
};

template <class Step>
void expecting_refusals(Step step) {
  try {
    step();
  } catch (const aws::Error&) {
  } catch (const generator::Error&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::log_everything_quietly();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input = fuzz::as_text(data, size);
  const std::vector<std::string> answers = fuzz::split_parts(input, 16);

  const aws::Context context = fuzz::scripted_aws_context({{"HOME", "/nonexistent"}}, answers);
  expecting_refusals([&] { (void)generator::generate::get_regions(KEYS, context); });

  expecting_refusals([&] {
    const auto ec2 = generator::generate::get_ec2_resource_handler("eu-west-1", KEYS, context);
    std::vector<aws::Vpc> vpcs;
    ec2->list_vpc_pages(64, [&](std::vector<aws::Vpc>& page) {
      for (auto& vpc : page) vpcs.push_back(std::move(vpc));
    });
    if (vpcs.empty()) return;
    const std::vector<aws::Subnet> subnets = ec2->list_region_subnets(1000);
    for (const auto& vpc : vpcs) {
      const ListedVpc view(vpc, subnets);
      (void)generator::generate::get_spoke_gw_name(view);
      (void)generator::generate::compute_hvn_cidr(view, generator::Hpe::disabled);
    }
  });

  expecting_refusals([&] {
    const aws::StsClient sts(context, KEYS, aws::Endpoint{"https://sts.invalid", "us-east-1"});
    (void)sts.assume_role({"arn:aws:iam::012345678901:role/fuzz", "fuzz", std::nullopt, 900});
  });

  (void)aws::read_service_error("DescribeVpcs", 400, std::string(input));
  return 0;
}
