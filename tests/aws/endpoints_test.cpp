// Region and endpoint resolution: the AWS SDKs' published endpoint rule cases of EC2 and STS,
// regional endpoints in every partition, the settings that ask for FIPS, dual-stack and STS's
// global endpoint, the configured overrides and the switch that ignores them, STS without a region.

#include "aws/endpoints.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "aws/errors.hpp"

namespace aws {
namespace {

Endpoint endpoint_of(Service service, std::optional<std::string> region,
                     std::map<std::string, std::string> variables, SharedConfig config = {}) {
  if (config.profile_name.empty()) config.profile_name = "default";
  return resolve_endpoint(service, region, Environment::fixed(std::move(variables)), config);
}

// Every case of the published file of `service`. Their parameters are the rules' own inputs; the
// SDK-only ways of passing them (operationInputs) say the same again and are not needed.
void expect_published_cases_agree(Service service, const std::string& file_name) {
  std::ifstream file(std::string(TEST_SOURCE_DIR) + "/aws/data/" + file_name);
  std::stringstream text;
  text << file.rdbuf();
  const auto cases = nlohmann::json::parse(text.str())["testCases"];
  ASSERT_GT(cases.size(), 100U);
  for (const auto& test : cases) {
    SCOPED_TRACE(test["documentation"].get<std::string>());
    const auto& given = test["params"];
    EndpointParameters parameters;
    if (given.contains("Region")) parameters.region = given["Region"].get<std::string>();
    if (given.contains("Endpoint")) parameters.endpoint = given["Endpoint"].get<std::string>();
    parameters.use_fips = given.value("UseFIPS", false);
    parameters.use_dual_stack = given.value("UseDualStack", false);
    parameters.use_global_endpoint = given.value("UseGlobalEndpoint", false);
    const auto& expected = test["expect"];
    if (expected.contains("error")) {
      try {
        (void)endpoint_by_rules(service, parameters);
        ADD_FAILURE() << "no error";
      } catch (const ClientError& error) {
        EXPECT_NE(std::string(error.what()).find(expected["error"].get<std::string>()),
                  std::string::npos)
            << error.what();
      }
      continue;
    }
    const Endpoint endpoint = endpoint_by_rules(service, parameters);
    EXPECT_EQ(endpoint.url, expected["endpoint"]["url"].get<std::string>());
    const auto& properties = expected["endpoint"].value("properties", nlohmann::json::object());
    if (properties.contains("authSchemes")) {
      EXPECT_EQ(endpoint.signing_region,
                properties["authSchemes"][0]["signingRegion"].get<std::string>());
    }
  }
}

TEST(Endpoints, EveryPublishedEc2AndStsRuleCaseAgrees) {
  expect_published_cases_agree(Service::ec2, "ec2-endpoint-tests.json");
  expect_published_cases_agree(Service::sts, "sts-endpoint-tests.json");
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
  // A region of any length is placed without exhausting the stack.
  const std::string long_region = "us-gov-" + std::string(200000, 'w') + "-1";
  EXPECT_EQ(endpoint_of(Service::ec2, long_region, {}).url,
            "https://ec2." + long_region + ".amazonaws.com");
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

  // A services section of the config file names endpoints per service, under the variables and
  // over the profile's own endpoint_url.
  config.config_profiles["default"]["services"] = "local";
  config.services["local"] = {{"sso_oidc", "\nendpoint_url = http://oidc.local"}};
  EXPECT_EQ(endpoint_of(Service::sso_oidc, "eu-west-1", {}, config).url, "http://oidc.local");
  EXPECT_EQ(endpoint_of(Service::ec2, "eu-west-1", {}, config).url, "http://profile.local");
  EXPECT_EQ(endpoint_of(Service::sso_oidc, "eu-west-1", {{"AWS_ENDPOINT_URL", "http://all.local"}},
                        config)
                .url,
            "http://all.local");
  config.config_profiles["default"]["services"] = "absent";
  EXPECT_THROW((void)endpoint_of(Service::ec2, "eu-west-1", {}, config), ClientError);
}

TEST(Endpoints, FipsDualStackAndStsLegacySettingsComeFromTheEnvironmentThenTheProfile) {
  SharedConfig config;
  config.profile_name = "federal";
  config.config_profiles["federal"] = {{"use_fips_endpoint", "true"},
                                       {"sts_regional_endpoints", "legacy"}};
  EXPECT_EQ(endpoint_of(Service::ec2, "us-east-1", {}, config).url,
            "https://ec2-fips.us-east-1.amazonaws.com");
  EXPECT_EQ(endpoint_of(Service::organizations, "us-west-2", {}, config).url,
            "https://organizations-fips.us-east-1.amazonaws.com");
  EXPECT_EQ(endpoint_of(Service::sso, "us-gov-west-1", {}, config).url,
            "https://portal.sso.us-gov-west-1.amazonaws.com");
  // The legacy global endpoint has no FIPS form: FIPS keeps STS regional.
  EXPECT_EQ(endpoint_of(Service::sts, "eu-west-1", {}, config).url,
            "https://sts-fips.eu-west-1.amazonaws.com");
  const Endpoint legacy =
      endpoint_of(Service::sts, "eu-west-1", {{"AWS_USE_FIPS_ENDPOINT", "FALSE"}}, config);
  EXPECT_EQ(legacy.url, "https://sts.amazonaws.com");
  EXPECT_EQ(legacy.signing_region, "us-east-1");
  EXPECT_EQ(endpoint_of(Service::sts, "eu-west-1",
                        {{"AWS_USE_FIPS_ENDPOINT", "false"}, {"AWS_STS_REGIONAL_ENDPOINTS", "regional"}},
                        config)
                .url,
            "https://sts.eu-west-1.amazonaws.com");
  EXPECT_EQ(endpoint_of(Service::organizations, "cn-north-1",
                        {{"AWS_USE_FIPS_ENDPOINT", "false"}, {"AWS_USE_DUALSTACK_ENDPOINT", "true"}},
                        config)
                .url,
            "https://organizations.cn-northwest-1.api.amazonwebservices.com.cn");
  // The isolated partitions have no dual-stack endpoints, and FIPS beside a configured endpoint
  // is refused: the request would not go where the setting asks.
  for (const auto& [region, variables, words] :
       {std::tuple{"us-iso-east-1", std::map<std::string, std::string>{{"AWS_USE_DUALSTACK_ENDPOINT", "true"}},
                   "ec2 in us-iso-east-1: FIPS and DualStack are enabled, but this partition does not support one or both"},
        std::tuple{"us-east-1", std::map<std::string, std::string>{{"AWS_ENDPOINT_URL", "http://127.0.0.1:5000"}},
                   "Invalid Configuration: FIPS and custom endpoint are not supported"},
        std::tuple{"us-east-1", std::map<std::string, std::string>{{"AWS_USE_FIPS_ENDPOINT", "yes"}},
                   "AWS_USE_FIPS_ENDPOINT must be true or false, not 'yes'"}}) {
    try {
      (void)endpoint_of(Service::ec2, std::string(region), variables, config);
      ADD_FAILURE() << "no error for " << region;
    } catch (const ClientError& error) {
      EXPECT_NE(std::string(error.what()).find(words), std::string::npos) << error.what();
    }
  }
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
