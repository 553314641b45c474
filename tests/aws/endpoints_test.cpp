// Region and endpoint resolution: regional endpoints in every partition, the configured overrides
// and the switch that ignores them, STS without a region.

#include "aws/endpoints.hpp"

#include <gtest/gtest.h>

#include "aws/errors.hpp"

namespace aws {
namespace {

Endpoint endpoint_of(Service service, std::optional<std::string> region,
                     std::map<std::string, std::string> variables, SharedConfig config = {}) {
  if (config.profile_name.empty()) config.profile_name = "default";
  return resolve_endpoint(service, region, Environment::fixed(std::move(variables)), config);
}

TEST(Endpoints, RegionalEndpointsFollowThePartitionOfTheRegion) {
  EXPECT_EQ(endpoint_of(Service::ec2, "eu-west-1", {}).url, "https://ec2.eu-west-1.amazonaws.com");
  EXPECT_EQ(endpoint_of(Service::ec2, "cn-north-1", {}).url,
            "https://ec2.cn-north-1.amazonaws.com.cn");
  EXPECT_EQ(endpoint_of(Service::ec2, "us-gov-west-1", {}).url,
            "https://ec2.us-gov-west-1.amazonaws.com");
  EXPECT_EQ(endpoint_of(Service::ec2, "us-iso-east-1", {}).url,
            "https://ec2.us-iso-east-1.c2s.ic.gov");
  EXPECT_EQ(endpoint_of(Service::sts, "ap-east-1", {}).url, "https://sts.ap-east-1.amazonaws.com");
  EXPECT_EQ(endpoint_of(Service::sts, "cn-northwest-1", {}).signing_region, "cn-northwest-1");
}

TEST(Endpoints, StsWithoutARegionUsesUsEast1sRegionalEndpointAndEc2NeedsOne) {
  const Endpoint sts = endpoint_of(Service::sts, std::nullopt, {});
  EXPECT_EQ(sts.url, "https://sts.us-east-1.amazonaws.com");
  EXPECT_EQ(sts.signing_region, "us-east-1");
  EXPECT_THROW((void)endpoint_of(Service::ec2, std::nullopt, {}), ClientError);
}

TEST(Endpoints, ServiceOverridesBeatTheGeneralOneAndCanAllBeIgnored) {
  const std::map<std::string, std::string> variables{
      {"AWS_ENDPOINT_URL", "http://127.0.0.1:5000/"},
      {"AWS_ENDPOINT_URL_STS", "http://127.0.0.1:6000"}};
  EXPECT_EQ(endpoint_of(Service::ec2, "eu-west-1", variables).url, "http://127.0.0.1:5000");
  EXPECT_EQ(endpoint_of(Service::ec2, "eu-west-1", variables).signing_region, "eu-west-1");
  EXPECT_EQ(endpoint_of(Service::sts, std::nullopt, variables).url, "http://127.0.0.1:6000");

  auto ignoring = variables;
  ignoring["AWS_IGNORE_CONFIGURED_ENDPOINT_URLS"] = "True";
  EXPECT_EQ(endpoint_of(Service::ec2, "eu-west-1", ignoring).url,
            "https://ec2.eu-west-1.amazonaws.com");

  SharedConfig config;
  config.profile_name = "default";
  config.config_profiles["default"] = {{"endpoint_url", "http://profile.local"}};
  EXPECT_EQ(endpoint_of(Service::ec2, "eu-west-1", {}, config).url, "http://profile.local");
  EXPECT_EQ(
      endpoint_of(Service::ec2, "eu-west-1", {{"AWS_ENDPOINT_URL_EC2", "http://env.local"}}, config)
          .url,
      "http://env.local");
}

TEST(Endpoints, ARegionThatIsNotAHostNameLabelIsRefused) {
  for (const char* region : {"evil.example.com/", "eu-west-1@x", "EU-WEST-1", "", "-eu"}) {
    EXPECT_THROW((void)endpoint_of(Service::ec2, std::string(region), {}), ClientError) << region;
  }
}

TEST(Regions, EnvironmentVariablesComeBeforeTheProfile) {
  SharedConfig config;
  config.profile_name = "ops";
  config.config_profiles["ops"] = {{"region", "eu-north-1"}};
  EXPECT_EQ(resolve_region(Environment::fixed({}), config), "eu-north-1");
  EXPECT_EQ(resolve_region(Environment::fixed({{"AWS_DEFAULT_REGION", "us-west-2"}}), config),
            "us-west-2");
  EXPECT_EQ(resolve_region(Environment::fixed(
                               {{"AWS_DEFAULT_REGION", "us-west-2"}, {"AWS_REGION", "sa-east-1"}}),
                           config),
            "sa-east-1");
  config.config_profiles.clear();
  EXPECT_EQ(resolve_region(Environment::fixed({}), config), std::nullopt);
}

}  // namespace
}  // namespace aws
