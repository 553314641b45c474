// Reaching an account: the controller's name for it, the role ARN, the role assumption (refused,
// with the reason logged, or failed), the region list and the EC2 handle, against scripted AWS
// answers.

#include "generator/generate/account_access.hpp"

#include <gtest/gtest.h>

#include "aws/errors.hpp"
#include "aws/stand_ins.hpp"
#include "generator/common/errors.hpp"
#include "generator/log/log.hpp"
#include "support/log_capture.hpp"

namespace generator::generate {
namespace {

using aws::testing::answer;
using aws::testing::form_fields;
using aws::testing::header;
using aws::testing::make_context;
using test_support::ScriptedHttp;

// The messages of a test, as their bare texts.
class LogCapture : public test_support::LogCapture {
 public:
  LogCapture() : test_support::LogCapture(log::DEBUG, "{message}") {}
};

TEST(ControllerAccounts, TheFirstEntryOfATextNumberNamesTheAccountAndOddEntriesAreKeptAside) {
  const ControllerAccounts accounts =
      ControllerAccounts::from_answer(nlohmann::ordered_json::parse(R"([
    {"account_number": 111111111111, "account_name": "as-number"},
    {"account_number": "111111111111", "account_name": "first"},
    {"account_name": "no number"},
    "not an entry",
    {"account_number": "111111111111", "account_name": "second"},
    {"account_number": "222222222222", "account_name": "other"},
    {"account_number": "333333333333", "account_name": 7},
    {"account_number": "444444444444"},
    {"account_number": "555555555555", "account_name": null},
    {"account_number": "1234", "account_name": "short"}])"));
  EXPECT_EQ(accounts.name_of("111111111111"), "first");
  EXPECT_EQ(accounts.name_of("222222222222"), "other") << "entries without a number stop nothing";
  for (const char* nameless : {"333333333333", "444444444444", "555555555555", "666666666666"})
    EXPECT_EQ(accounts.name_of(nameless), std::nullopt) << nameless;
  std::vector<std::string> numbers;
  for (const ControllerAccount& entry : accounts.entries()) numbers.push_back(entry.account_number);
  EXPECT_EQ(numbers, (std::vector<std::string>{"111111111111", "111111111111", "222222222222",
                                               "333333333333", "444444444444", "555555555555"}));
  EXPECT_EQ(accounts.left_out(),
            (std::vector<std::string>{"111111111111", R"({"account_name":"no number"})",
                                      R"("not an entry")", R"("1234")"}));
  EXPECT_EQ(accounts.unnamed(), (std::vector<std::string>{"333333333333", "444444444444"}))
      << "a null name is the controller's way of giving none";
  EXPECT_EQ(
      ControllerAccounts::from_answer(nlohmann::ordered_json::array()).name_of("111111111111"),
      std::nullopt);
  EXPECT_THROW((void)ControllerAccounts::from_answer(nlohmann::ordered_json::object()), TypeError);
}

TEST(GetRoleArn, PartsAreJoinedAsTheyStandAndBothStepsAreLogged) {
  LogCapture capture;
  EXPECT_EQ(get_role_arn("123456789012", "halvane-role", "aws"),
            "arn:aws:iam::123456789012:role/halvane-role");
  EXPECT_EQ(get_role_arn("123456789012", "path/to/role", "aws-us-gov"),
            "arn:aws-us-gov:iam::123456789012:role/path/to/role");
  ASSERT_EQ(capture.lines().size(), 4u);
  EXPECT_EQ(capture.lines()[0], "Role ARN for account_id: 123456789012, role_name: halvane-role");
  EXPECT_EQ(capture.lines()[1], "Role ARN: arn:aws:iam::123456789012:role/halvane-role");
}

const std::map<std::string, std::string> OPERATOR_ENVIRONMENT{
    {"AWS_ACCESS_KEY_ID", "AKIAOPERATOR"},
    {"AWS_SECRET_ACCESS_KEY", "operator-secret"},
    {"AWS_EC2_METADATA_DISABLED", "true"},
    {"HOME", "/nonexistent"}};

TEST(GetTempCredsForAccount,
     ARefusedAccountGivesItsReasonAnUnreadableAnswerFailsTheOthersAreAssumed) {
  auto sts = std::make_shared<ScriptedHttp>([](const http::Request& request) {
    const auto fields = form_fields(request.body);
    if (fields.at("RoleArn") == "arn:aws:iam::222222222222:role/R") {
      return answer(
          403,
          "<ErrorResponse><Error><Type>Sender</Type><Code>AccessDenied</Code><Message>not "
          "authorized to "
          "perform sts:AssumeRole</Message></Error><RequestId>x</RequestId></ErrorResponse>");
    }
    // Something that answers in STS's place: no account would fare better, so it is no refusal.
    if (fields.at("RoleArn") == "arn:aws:iam::444444444444:role/R")
      return answer(200, "<html>portal</html>");
    const std::string account = fields.at("RoleArn").substr(13, 12);
    return answer(
        200, "<AssumeRoleResponse><AssumeRoleResult><Credentials><AccessKeyId>ASIA" + account +
                 "</AccessKeyId><SecretAccessKey>s</SecretAccessKey><SessionToken>t</SessionToken>"
                 "<Expiration>2030-01-01T00:00:00Z</Expiration></Credentials></AssumeRoleResult></"
                 "AssumeRoleResponse>");
  });
  const aws::Context context = make_context(OPERATOR_ENVIRONMENT, sts);
  aws::OwnCredentials own;
  LogCapture capture;
  std::vector<RoleAssumption> results;
  for (const char* account : {"111111111111", "222222222222", "333333333333", "444444444444"}) {
    results.push_back(get_temp_creds_for_account(std::string("arn:aws:iam::") + account + ":role/R",
                                                 {}, context, own));
  }
  ASSERT_TRUE(results[0].credentials().has_value());
  EXPECT_EQ(results[0].credentials()->access_key_id, "ASIA111111111111");
  EXPECT_FALSE(results[1].credentials().has_value());
  const std::string refusal =
      "An error occurred (AccessDenied) when calling the AssumeRole operation: not authorized to "
      "perform sts:AssumeRole";
  EXPECT_EQ(results[1].refusal(), refusal);
  ASSERT_TRUE(results[2].credentials().has_value());
  EXPECT_EQ(results[2].credentials()->access_key_id, "ASIA333333333333");
  EXPECT_THROW((void)results[3].credentials(), aws::ClientError);

  EXPECT_EQ(capture.lines(), std::vector<std::string>{refusal}) << "only the refusal is logged";
  // A client per account, each at us-east-1's regional endpoint, with the fixed session name.
  ASSERT_EQ(sts->requests.size(), 4u);
  for (const auto& request : sts->requests) {
    EXPECT_EQ(request.url, "https://sts.us-east-1.amazonaws.com/");
    EXPECT_EQ(form_fields(request.body).at("RoleSessionName"), "AssumeRoleSession1");
    EXPECT_FALSE(form_fields(request.body).contains("DurationSeconds"));
    EXPECT_NE(
        header(request, "Authorization").find("Credential=AKIAOPERATOR/20150830/us-east-1/sts/"),
        std::string::npos);
  }
}

TEST(GetTempCredsForAccount, MissingOwnCredentialsRefuseTheAccountWithWhereTheyWereLookedFor) {
  auto no_network = std::make_shared<ScriptedHttp>([](const http::Request&) -> http::Response {
    throw http::TransportError("unreachable", 7, false);
  });
  aws::OwnCredentials own;
  LogCapture capture;
  const RoleAssumption role = get_temp_creds_for_account(
      "arn:aws:iam::1:role/R", {},
      make_context({{"AWS_EC2_METADATA_DISABLED", "true"}, {"HOME", "/nonexistent"}}, no_network),
      own);
  EXPECT_FALSE(role.credentials().has_value());
  EXPECT_NE(role.refusal().find("Unable to locate credentials"), std::string::npos);
  EXPECT_EQ(capture.lines(), std::vector<std::string>{role.refusal()});
  EXPECT_TRUE(no_network->requests.empty());
}

const aws::Credentials ROLE{"ASIAROLE", "role-secret", "role-token", ""};

TEST(GetRegions, DescribeRegionsIsAskedWithoutParametersInThePartitionsOwnRegionWithTheRoleCredentials) {
  auto ec2 = std::make_shared<ScriptedHttp>([](const http::Request&) {
    return answer(
        200,
        "<DescribeRegionsResponse><regionInfo><item><regionName>eu-north-1</regionName></item>"
        "<item><regionName>ap-south-1</regionName></item><item><regionName>us-east-1</regionName></"
        "item>"
        "</regionInfo></DescribeRegionsResponse>");
  });
  EXPECT_EQ(get_regions(ROLE, make_context({{"AWS_REGION", "eu-west-3"}}, ec2)),
            (std::vector<std::string>{"eu-north-1", "ap-south-1", "us-east-1"}));
  ASSERT_EQ(ec2->requests.size(), 1u);
  EXPECT_EQ(ec2->requests[0].url, "https://ec2.us-east-1.amazonaws.com/");
  EXPECT_EQ(form_fields(ec2->requests[0].body),
            (std::map<std::string, std::string>{{"Action", "DescribeRegions"},
                                                {"Version", "2016-11-15"}}));
  EXPECT_NE(
      header(ec2->requests[0], "Authorization").find("Credential=ASIAROLE/20150830/us-east-1/ec2/"),
      std::string::npos);
  EXPECT_EQ(header(ec2->requests[0], "X-Amz-Security-Token"), "role-token");

  // GovCloud's and China's own regions, from the operator's region or the run's partition.
  (void)get_regions(ROLE, make_context({{"AWS_REGION", "us-gov-east-1"}}, ec2));
  aws::Context china = make_context({}, ec2);
  china.fallback_region = "cn-northwest-1";
  (void)get_regions(ROLE, china);
  ASSERT_EQ(ec2->requests.size(), 3u);
  EXPECT_EQ(ec2->requests[1].url, "https://ec2.us-gov-west-1.amazonaws.com/");
  EXPECT_EQ(ec2->requests[2].url, "https://ec2.cn-northwest-1.amazonaws.com.cn/");
}

TEST(ScanPartition, TheRegionsNameThePartitionAndTwoPartitionsAreRefusedByName) {
  config::Config config;
  const auto environment = aws::Environment::fixed({{"AWS_REGION", "us-gov-east-1"},
                                                     {"AWS_CONFIG_FILE", "/nonexistent"},
                                                     {"AWS_SHARED_CREDENTIALS_FILE", "/nonexistent"}});
  EXPECT_EQ(scan_partition(config, environment).id, "aws-us-gov");
  config.aws_regions = {"us-gov-west-1", "us-gov-east-1"};
  config.organization.role_arn = "arn:aws-us-gov:iam::123456789012:role/OrganizationReader";
  EXPECT_EQ(scan_partition(config, environment).global_region, "us-gov-west-1");
  const auto refusal = [&](const config::Config& refused, const aws::Environment& operator_region) {
    try {
      (void)scan_partition(refused, operator_region);
    } catch (const aws::ClientError& error) {
      return std::string(error.what());
    }
    return std::string("no error");
  };
  config.organization.role_arn = "arn:aws:iam::123456789012:role/OrganizationReader";
  EXPECT_EQ(refusal(config, environment),
            "organization.role_arn arn:aws:iam::123456789012:role/OrganizationReader lies outside "
            "the partition aws-us-gov of the regions scanned");
  config.organization.role_arn.reset();
  config.aws_regions = {"cn-north-1", "cn-northwest-1", "eu-west-1"};
  EXPECT_EQ(refusal(config, aws::Environment::fixed({{"AWS_CONFIG_FILE", "/nonexistent"}})),
            "aws_regions lists regions of two AWS partitions: cn-north-1 (aws-cn) and eu-west-1 "
            "(aws); one run scans one partition");
  config.aws_regions = {"cn-north-1"};
  EXPECT_NE(refusal(config, environment).find("The operator's AWS region us-gov-east-1"),
            std::string::npos);
}

TEST(GetRegions, ARefusalPassesToTheCaller) {
  auto ec2 = std::make_shared<ScriptedHttp>([](const http::Request&) {
    return answer(
        403,
        "<Response><Errors><Error><Code>UnauthorizedOperation</Code><Message>no</Message></Error>"
        "</Errors><RequestID>r</RequestID></Response>");
  });
  EXPECT_THROW((void)get_regions(ROLE, make_context({}, ec2)), aws::ServiceError);
}

TEST(Ec2Handle, NothingIsSentUntilAListingAndTheRegionsSubnetsComeInOneUnfilteredListing) {
  auto ec2 = std::make_shared<ScriptedHttp>([](const http::Request& request) {
    const auto fields = form_fields(request.body);
    if (fields.at("Action") == "DescribeVpcs") {
      EXPECT_EQ(fields.at("MaxResults"), "64");
      return answer(
          200,
          "<DescribeVpcsResponse><vpcSet><item><vpcId>vpc-1</vpcId><cidrBlock>10.0.0.0/16</"
          "cidrBlock>"
          "<cidrBlockAssociationSet><item><cidrBlock>10.0.0.0/16</cidrBlock><cidrBlockState><state>"
          "associated</state></cidrBlockState></item><item><cidrBlock>100.64.0.0/16</cidrBlock>"
          "<cidrBlockState><state>associated</state></cidrBlockState></item></"
          "cidrBlockAssociationSet>"
          "<tagSet><item><key>Name</key><value>prod vpc</value></item></tagSet></item></vpcSet>"
          "</DescribeVpcsResponse>");
    }
    EXPECT_FALSE(fields.contains("Filter.1.Name"));
    EXPECT_EQ(fields.at("MaxResults"), "1000");
    return answer(
        200,
        "<DescribeSubnetsResponse><subnetSet><item><subnetId>s-1</subnetId><vpcId>vpc-1</vpcId>"
        "<cidrBlock>10.0.0.0/24</cidrBlock></item><item><subnetId>s-2</subnetId><vpcId>vpc-2"
        "</vpcId></item></subnetSet></DescribeSubnetsResponse>");
  });
  const auto handle = get_ec2_resource_handler("eu-west-1", ROLE, make_context({}, ec2));
  EXPECT_TRUE(ec2->requests.empty());

  std::vector<aws::Vpc> vpcs;
  handle->list_vpc_pages(
      64, [&](std::vector<aws::Vpc>& page) { vpcs.insert(vpcs.end(), page.begin(), page.end()); });
  ASSERT_EQ(vpcs.size(), 1u);
  EXPECT_EQ(ec2->requests[0].url, "https://ec2.eu-west-1.amazonaws.com/");

  EXPECT_EQ(vpcs[0].id, "vpc-1");
  EXPECT_EQ(vpcs[0].cidr_block, "10.0.0.0/16");
  ASSERT_EQ(vpcs[0].cidr_block_association_set.size(), 2u);
  EXPECT_EQ(vpcs[0].cidr_block_association_set[1].cidr_block, "100.64.0.0/16");
  EXPECT_EQ(vpcs[0].cidr_block_association_set[1].state, "associated");
  ASSERT_EQ(vpcs[0].tags.size(), 1u);
  EXPECT_EQ(vpcs[0].tags[0].value, "prod vpc");
  const std::vector<aws::Subnet> subnets = handle->list_region_subnets(1000);
  ASSERT_EQ(subnets.size(), 2u);
  EXPECT_EQ(subnets[0].vpc_id, "vpc-1");
  EXPECT_EQ(subnets[0].cidr_block, "10.0.0.0/24");
  EXPECT_EQ(subnets[1].vpc_id, "vpc-2");
  EXPECT_EQ(subnets[1].cidr_block, std::nullopt);
  EXPECT_EQ(ec2->requests.size(), 2u);
}

}  // namespace
}  // namespace generator::generate
