// AWS's answers (parts of the input, served in order to the calls as they come): the region
// listing, the VPC listing with the gateway subnet and name worked out for each VPC from its subnet
// listing, AssumeRole, the Organizations listings of a unit and its nested units (JSON) and the
// accounts the scan takes from them; and the whole input read as an error answer of either kind.

#include "aws/errors.hpp"
#include "aws/organizations.hpp"
#include "aws/query_client.hpp"
#include "aws/sts.hpp"
#include "fuzz_support.hpp"
#include "generator/common/errors.hpp"
#include "generator/generate/account_access.hpp"
#include "generator/generate/gateway_name.hpp"
#include "generator/generate/gateway_subnet.hpp"
#include "generator/generate/scan_engine.hpp"
#include "untrusted/secrets.hpp"

namespace {

const aws::Credentials KEYS{"AKIDFUZZ", "fuzz-secret", "", ""};

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
  // Each input is a run of its own: the secrets of earlier ones would only pile up.
  untrusted::forget_secrets();
  const std::string_view input = fuzz::as_text(data, size);
  const std::vector<std::string> answers = fuzz::split_parts(input, 16);

  const aws::Context context =
      fuzz::scripted_aws_context({{"HOME", "/nonexistent"},
                                  {"AWS_ACCESS_KEY_ID", "AKIDFUZZ"},
                                  {"AWS_SECRET_ACCESS_KEY", "fuzz-secret"}},
                                 answers);
  expecting_refusals([&] { (void)generator::generate::get_regions(KEYS, context); });

  expecting_refusals([&] {
    const auto ec2 = generator::generate::get_ec2_resource_handler("eu-west-1", KEYS, context);
    std::vector<aws::Vpc> vpcs;
    ec2->list_vpc_pages(64, [&](std::vector<aws::Vpc>& page) {
      for (auto& vpc : page) vpcs.push_back(std::move(vpc));
    });
    if (vpcs.empty()) return;
    generator::generate::RegionSubnets subnets(*ec2);
    for (const auto& vpc : vpcs) {
      generator::generate::VpcRecord record = generator::generate::vpc_record(vpc);
      record.subnets = subnets.take(vpc.id);
      (void)generator::generate::get_spoke_gw_name(record);
      (void)generator::generate::compute_hvn_cidr(record, generator::Hpe::disabled, {});
    }
  });

  expecting_refusals([&] {
    const aws::StsClient sts(context, KEYS, aws::Endpoint{"https://sts.invalid", "us-east-1"});
    (void)sts.assume_role({"arn:aws:iam::012345678901:role/fuzz", "fuzz", std::nullopt, 900});
  });

  expecting_refusals([&] {
    aws::OwnCredentials own;
    generator::config::OrganizationSettings settings;
    settings.ous = {"ou-ab12-cd34ef56"};
    settings.exclude_account_ids = {"012345678901"};
    const auto listed = generator::generate::list_organization_accounts(
        settings, generator::config::DEFAULT_ROLE_SESSION_NAME, context, own);
    (void)generator::generate::organization_account_ids(listed, settings);
  });

  (void)aws::read_service_error("DescribeVpcs", 400, std::string(input));
  (void)aws::read_json_service_error("ListAccounts", 400, std::string(input));
  return 0;
}
