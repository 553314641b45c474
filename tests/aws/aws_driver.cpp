// Drives the account access operations from the command line so that script tests can run them
// against moto_server:
//   aws_driver scan <role_arn> [region...]   assumes the role and lists every VPC (pages of 64)
//                                           with its subnets (one region listing, pages of 1000);
//                                           without regions, the account's own
//   aws_driver regions <role_arn>            assumes the role and lists the enabled regions
// Prints one JSON document on standard output; log lines go to standard error.

#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>

#include "generator/generate/account_access.hpp"
#include "generator/log/log.hpp"

namespace {

constexpr int PAGE_SIZE = 64;
constexpr int SUBNET_PAGE_SIZE = 1000;

// The role's credentials in the process's own context, nothing when the role was refused.
std::optional<aws::Credentials> role_credentials(const std::string& role_arn,
                                                 const aws::Context& context) {
  aws::OwnCredentials own;
  return generator::generate::get_temp_creds_for_account(role_arn, {}, context, own).credentials();
}

nlohmann::ordered_json scan(const std::string& role_arn, std::vector<std::string> regions) {
  using namespace generator::generate;
  const aws::Context context = process_context();
  nlohmann::ordered_json result = {{"credentials", false}};
  const auto creds = role_credentials(role_arn, context);
  if (!creds) return result;
  result["credentials"] = true;
  if (regions.empty()) regions = get_regions(*creds, context);
  result["regions"] = nlohmann::ordered_json::array();
  for (const auto& region : regions) {
    const auto handle = get_ec2_resource_handler(region, *creds, context);
    nlohmann::ordered_json vpcs = nlohmann::ordered_json::array();
    nlohmann::ordered_json pages = nlohmann::ordered_json::array();
    const std::vector<aws::Subnet> subnets = handle->list_region_subnets(SUBNET_PAGE_SIZE);
    handle->list_vpc_pages(PAGE_SIZE, [&](std::vector<aws::Vpc>& page) {
      pages.push_back(page.size());
      for (auto& vpc : page) {
        nlohmann::ordered_json entry = {{"id", vpc.id}, {"cidr_block", vpc.cidr_block}};
        entry["associations"] = nlohmann::ordered_json::array();
        for (const auto& association : vpc.cidr_block_association_set) {
          entry["associations"].push_back({association.cidr_block, association.state});
        }
        entry["tags"] = nlohmann::ordered_json::array();
        for (const auto& tag : vpc.tags) entry["tags"].push_back({tag.key, tag.value});
        entry["subnets"] = nlohmann::ordered_json::array();
        for (const auto& subnet : subnets) {
          if (subnet.vpc_id != vpc.id) continue;
          entry["subnets"].push_back(subnet.cidr_block ? nlohmann::ordered_json(*subnet.cidr_block)
                                                       : nlohmann::ordered_json(nullptr));
        }
        vpcs.push_back(std::move(entry));
      }
    });
    result["regions"].push_back({{"region", region}, {"pages", pages}, {"vpcs", vpcs}});
  }
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  generator::log::configure_logger();
  const std::vector<std::string> args(argv + 1, argv + argc);
  try {
    if (args.size() >= 2 && args[0] == "scan") {
      std::cout << scan(args[1], std::vector<std::string>(args.begin() + 2, args.end())).dump()
                << std::endl;
      return 0;
    }
    if (args.size() == 2 && args[0] == "regions") {
      const aws::Context context = generator::generate::process_context();
      const auto creds = role_credentials(args[1], context);
      if (!creds) return 1;
      std::cout << nlohmann::ordered_json(generator::generate::get_regions(*creds, context)).dump()
                << std::endl;
      return 0;
    }
  } catch (const std::exception& error) {
    std::cerr << "aws_driver: " << error.what() << std::endl;
    return 1;
  }
  std::cerr << "usage: aws_driver scan <role_arn> [region...] | regions <role_arn>" << std::endl;
  return 2;
}
