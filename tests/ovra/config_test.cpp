// The migration model: what it accepts, what it refuses and how it says where, the export of
// exactly the given fields in the model's order, and the discovery-only scope.

#include "ovra/config.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ovra {
namespace {

using Json = nlohmann::ordered_json;

// Every test starts in the migration scope and leaves the process-wide switch as it found it.
class ModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = BaseModel::scope();
    BaseModel::set_scope(Scope::migration);
  }
  void TearDown() override { BaseModel::set_scope(previous_); }

 private:
  Scope previous_ = Scope::migration;
};

Json account_with_vpc(const Json& vpc) {
  return Json{
      {"account_id", "012345678901"},
      {"account_name", "network-prod"},
      {"regions", Json::array({Json{{"region", "us-east-1"}, {"vpcs", Json::array({vpc})}}})}};
}

std::string refusal(const Json& entry) {
  try {
    (void)AccountInfo(entry);
  } catch (const ValidationError& error) {
    return error.what();
  }
  return "accepted";
}

std::string refusal_of_config(const Json& mapping) {
  try {
    (void)load_from_dict(mapping);
  } catch (const ValidationError& error) {
    return error.what();
  }
  return "accepted";
}

std::vector<std::string> keys_of(const Json& mapping) {
  std::vector<std::string> keys;
  for (const auto& [key, value] : mapping.items()) keys.push_back(key);
  return keys;
}

using AccountInfoTest = ModelTest;

TEST_F(AccountInfoTest, ExportsTheGivenFieldsInTheModelsOrderAtEveryLevel) {
  // Given in a scrambled order, with regions in the middle.
  const Json entry = Json::parse(R"({
    "role_name": "discovery-readonly",
    "regions": [
      {"vpcs": [
         {"transit_gw_name": "", "spoke_gw_name": "web-HVNGW", "hvn_cidr": "10.0.0.128/27",
          "vpc_id": "vpc-0123456789abcdef0"},
         {"spoke_gw_tags": [{"value": "prod", "key": "env"}], "inspection": false, "encrypt": true,
          "spoke_routes": ["10.0.0.0/16"], "spoke_advertisement": "10.0.0.0/16", "domain": "default",
          "gw_zones": ["a", "b"], "hvn_cidr": "", "vpc_id": "vpc-0a1b2c3d"}],
       "region": "us-east-1"},
      {"region": "us-gov-west-1", "vpcs": []}],
    "hpe": true,
    "spoke_gw_size": "t3.medium",
    "filter_cidrs": ["10.255.0.0/16"],
    "managed_tgw": false,
    "account_name": "network-prod",
    "account_id": "012345678901"})");
  const Json document = AccountInfo(entry).to_document();
  const Json expected = Json::parse(R"({
    "account_id": "012345678901",
    "account_name": "network-prod",
    "hpe": true,
    "managed_tgw": false,
    "filter_cidrs": ["10.255.0.0/16"],
    "spoke_gw_size": "t3.medium",
    "role_name": "discovery-readonly",
    "regions": [
      {"region": "us-east-1", "vpcs": [
         {"vpc_id": "vpc-0123456789abcdef0", "hvn_cidr": "10.0.0.128/27", "spoke_gw_name": "web-HVNGW",
          "transit_gw_name": ""},
         {"vpc_id": "vpc-0a1b2c3d", "hvn_cidr": "", "gw_zones": ["a", "b"],
          "spoke_gw_tags": [{"key": "env", "value": "prod"}], "domain": "default", "encrypt": true,
          "inspection": false, "spoke_advertisement": "10.0.0.0/16", "spoke_routes": ["10.0.0.0/16"]}]},
      {"region": "us-gov-west-1", "vpcs": []}]})");
  // ordered_json compares key order too; dump() shows it on failure.
  EXPECT_EQ(document.dump(), expected.dump());
  EXPECT_EQ(AccountInfo(entry).account_id(), "012345678901");
}

TEST_F(AccountInfoTest, AddsNothingThatWasNotGiven) {
  const Json minimal = Json::parse(
      R"({"regions": [{"region": "eu-west-1", "vpcs": [{"vpc_id": "vpc-0a1b2c3d"}]}],
          "account_name": "a", "account_id": "000000000001"})");
  const Json document = AccountInfo(minimal).to_document();
  EXPECT_EQ(keys_of(document), (std::vector<std::string>{"account_id", "account_name", "regions"}));
  EXPECT_EQ(keys_of(document["regions"][0]["vpcs"][0]), std::vector<std::string>{"vpc_id"});

  // Null in an optional field is kept as given; an empty list too.
  const Json with_nulls = account_with_vpc(Json{{"vpc_id", "vpc-0a1b2c3d"},
                                                {"domain", nullptr},
                                                {"gw_zones", Json::array()},
                                                {"hvn_cidr", ""}});
  const Json vpc = AccountInfo(with_nulls).to_document()["regions"][0]["vpcs"][0];
  EXPECT_EQ(vpc.dump(), R"({"vpc_id":"vpc-0a1b2c3d","hvn_cidr":"","gw_zones":[],"domain":null})");

  // A size typed into a workbook cell is a number and stays one.
  Json numeric_size = minimal;
  numeric_size["spoke_gw_size"] = 4;
  EXPECT_EQ(AccountInfo(numeric_size).to_document()["spoke_gw_size"], 4);
}

TEST_F(AccountInfoTest, RefusesAccountFieldsNamingTheAccountAndTheField) {
  const Json good = account_with_vpc(Json{{"vpc_id", "vpc-0a1b2c3d"}});
  struct Case {
    const char* field;
    Json value;
    std::string expected;
  };
  const std::vector<Case> cases{
      {"account_id", "01234567890",
       "account '01234567890': account_id: expected an account number of exactly 12 "
       "digits, got text '01234567890'"},
      {"account_id", "0123456789012",
       "account '0123456789012': account_id: expected an account number"},
      {"account_id", "01234567890a",
       "account '01234567890a': account_id: expected an account number"},
      {"account_id", " 12345678901",
       "account ' 12345678901': account_id: expected an account number"},
      // A number would have lost its leading zeros already.
      {"account_id", 123456789012, "account: account_id: expected text, got number 123456789012"},
      {"account_id", nullptr, "account: account_id: must not be null"},
      {"account_name", "", "account '012345678901': account_name: must not be empty"},
      {"account_name", 7, "account '012345678901': account_name: expected text, got number 7"},
      {"hpe", "true", "account '012345678901': hpe: expected true or false, got text 'true'"},
      {"managed_tgw", 1,
       "account '012345678901': managed_tgw: expected true or false, got number 1"},
      {"filter_cidrs", "10.0.0.0/8",
       "account '012345678901': filter_cidrs: expected a list, got text"},
      {"filter_cidrs", Json::array({"10.0.0.0/8", "10.1.0.1/16"}),
       "account '012345678901': filter_cidrs item 2: '10.1.0.1/16' is not a valid IPv4 CIDR block: "
       "host bits"},
      {"spoke_gw_size", true,
       "account '012345678901': spoke_gw_size: expected text or a number, got boolean true"},
      {"role_name", Json::array(), "account '012345678901': role_name: expected text, got a list"},
      {"regions", Json::object(),
       "account '012345678901': regions: expected a list, got a mapping"},
      {"Hpe", true,
       "account '012345678901': Hpe: unknown field (known fields: account_id, account_name, hpe,"},
      {"vpc_id", "vpc-0a1b2c3d", "account '012345678901': vpc_id: unknown field"},
  };
  for (const auto& test_case : cases) {
    Json entry = good;
    entry[test_case.field] = test_case.value;
    EXPECT_EQ(refusal(entry).rfind(test_case.expected, 0), 0u) << refusal(entry);
  }

  Json without_regions = good;
  without_regions.erase("regions");
  EXPECT_EQ(refusal(without_regions), "account '012345678901': regions: missing");
  EXPECT_EQ(refusal(Json::array()).rfind("account: expected a mapping, got a list", 0), 0u)
      << refusal(Json::array());
  // Long texts are shortened in messages without splitting a character.
  Json long_name = good;
  long_name["account_id"] = std::string(59, 'x') + "\u00E9\u00E9";
  EXPECT_NE(refusal(long_name).find("got text '" + std::string(59, 'x') + "...'"),
            std::string::npos)
      << refusal(long_name);
}

TEST_F(AccountInfoTest, RefusesRegionAndVpcFieldsNamingAccountRegionVpcAndField) {
  const std::string place = "account '012345678901', region 'us-east-1', VPC 'vpc-0a1b2c3d': ";
  struct Case {
    Json vpc;
    std::string expected;
  };
  const std::vector<Case> cases{
      {{{"vpc_id", "vpc-0a1b2c3d"}, {"hvn_cidr", "10.0.0.1/27"}},
       place + "hvn_cidr: '10.0.0.1/27' is not a valid IPv4 CIDR block: host bits are set"},
      {{{"vpc_id", "vpc-0a1b2c3d"}, {"hvn_cidr", "10.0.0.0"}},
       place + "hvn_cidr: '10.0.0.0' is not a valid"},
      {{{"vpc_id", "vpc-0a1b2c3d"}, {"hvn_cidr", " "}}, place + "hvn_cidr: ' ' is not a valid"},
      {{{"vpc_id", "vpc-0a1b2c3d"},
        {"hvn_cidr", nullptr},
        {"spoke_routes", Json::array({"10.0.0.0/16", "x"})}},
       place + "spoke_routes item 2: 'x' is not a valid IPv4 CIDR block"},
      {{{"vpc_id", "vpc-0a1b2c3d"}, {"gw_zones", Json::array({"a", 1})}},
       place + "gw_zones item 2: expected text, got number 1"},
      {{{"vpc_id", "vpc-0a1b2c3d"}, {"spoke_gw_tags", Json::array({Json{{"key", "env"}}})}},
       place + "spoke_gw_tags item 1: value: missing"},
      {{{"vpc_id", "vpc-0a1b2c3d"},
        {"spoke_gw_tags", Json::array({Json{{"key", "a"}, {"value", "b"}, {"x", "c"}}})}},
       place + "spoke_gw_tags item 1: x: unknown field (known fields: key, value)"},
      {{{"vpc_id", "vpc-0a1b2c3d"},
        {"spoke_gw_tags", Json::array({Json{{"key", 1}, {"value", "b"}}})}},
       place + "spoke_gw_tags item 1: key: expected text, got number 1"},
      {{{"vpc_id", "vpc-0a1b2c3d"}, {"spoke_gw_tags", Json::array({"env=prod"})}},
       place + "spoke_gw_tags item 1: expected a mapping, got text 'env=prod'"},
      {{{"vpc_id", "vpc-0a1b2c3d"}, {"spoke_gw_tags", "env=prod"}},
       place + "spoke_gw_tags: expected a list"},
      {{{"vpc_id", "vpc-0a1b2c3d"}, {"encrypt", "yes"}},
       place + "encrypt: expected true or false, got text 'yes'"},
      {{{"vpc_id", "vpc-0a1b2c3d"}, {"vpc_cidrs", "10.0.0.0/16"}},
       place + "vpc_cidrs: unknown field"},
      {{{"vpc_id", "vpc-0a1b2c3d"}, {"spoke_gw_name", 5}},
       place + "spoke_gw_name: expected text, got number 5"},
      {{{"vpc_id", "vpc-0A1B2C3D"}},
       "account '012345678901', region 'us-east-1', VPC 'vpc-0A1B2C3D': vpc_id: expected a "
       "VPC identifier such as vpc-0123456789abcdef0, got text 'vpc-0A1B2C3D'"},
      {{{"vpc_id", "vpc-0a1b2c3"}},
       "account '012345678901', region 'us-east-1', VPC 'vpc-0a1b2c3': vpc_id: expected"},
      {{{"vpc_id", "vpc-0a1b2c3d4"}},
       "account '012345678901', region 'us-east-1', VPC 'vpc-0a1b2c3d4': vpc_id:"},
      {{{"vpc_id", "vpc-0123456789abcdef01"}},
       "account '012345678901', region 'us-east-1', VPC 'vpc-0123456789abcdef01'"},
      {{{"vpc_id", "subnet-0a1b2c3d"}},
       "account '012345678901', region 'us-east-1', VPC 'subnet-0a1b2c3d': vpc_id:"},
      // Without a readable identifier the VPC is named by its position.
      {{{"hvn_cidr", ""}}, "account '012345678901', region 'us-east-1', VPC #1: vpc_id: missing"},
      {{{"vpc_id", 17}},
       "account '012345678901', region 'us-east-1', VPC #1: vpc_id: expected text"},
      {"vpc-0a1b2c3d",
       "account '012345678901', region 'us-east-1', VPC #1: expected a mapping, got text"},
  };
  for (const auto& test_case : cases) {
    const std::string message = refusal(account_with_vpc(test_case.vpc));
    EXPECT_EQ(message.rfind(test_case.expected, 0), 0u) << message;
  }

  const auto region_refusal = [](const Json& region) {
    Json entry = account_with_vpc(Json{{"vpc_id", "vpc-0a1b2c3d"}});
    entry["regions"].push_back(region);
    return refusal(entry);
  };
  for (const char* name : {"US-EAST-1", "us-east", "us-1", "useast1", "us-east-1a", "u-east-1",
                           "us--1", " us-east-1", ""}) {
    EXPECT_EQ(region_refusal(Json{{"region", name}, {"vpcs", Json::array()}}),
              std::string("account '012345678901', region '") + name +
                  "': region: expected a region name such as us-east-1, got text '" + name + "'");
  }
  for (const char* name :
       {"eu-west-1", "ap-southeast-2", "us-gov-west-1", "cn-northwest-1", "il-central-1",
        "us-isob-east-1", "eusc-de-east-1", "us-iso2-east-1"})
    EXPECT_EQ(region_refusal(Json{{"region", name}, {"vpcs", Json::array()}}), "accepted") << name;
  EXPECT_EQ(region_refusal(Json{{"region", "eu-west-1"}}),
            "account '012345678901', region 'eu-west-1': vpcs: missing");
  EXPECT_EQ(region_refusal(Json{{"vpcs", Json::array()}}),
            "account '012345678901', region #2: region: missing");
  EXPECT_EQ(region_refusal(Json{{"region", "eu-west-1"}, {"vpcs", nullptr}}),
            "account '012345678901', region 'eu-west-1': vpcs: must not be null");
  EXPECT_EQ(region_refusal(Json{{"region", "eu-west-1"}, {"vpcs", Json::array()}, {"name", "x"}})
                .rfind("account '012345678901', region 'eu-west-1': name: unknown field", 0),
            0u);
}

TEST_F(AccountInfoTest, DiscoveryOnlyScopeLetsTheAccountNameBeNullOrAbsent) {
  Json null_name = account_with_vpc(Json{{"vpc_id", "vpc-0a1b2c3d"}});
  null_name["account_name"] = nullptr;
  Json no_name = null_name;
  no_name.erase("account_name");

  EXPECT_EQ(refusal(null_name), "account '012345678901': account_name: must not be null");
  EXPECT_EQ(refusal(no_name).rfind(
                "account '012345678901': account_name: missing; a migration needs it", 0),
            0u);

  BaseModel::set_scope(Scope::discovery_only);
  EXPECT_TRUE(BaseModel::discovery_only());
  EXPECT_EQ(keys_of(AccountInfo(null_name).to_document()),
            (std::vector<std::string>{"account_id", "account_name", "regions"}));
  EXPECT_TRUE(AccountInfo(null_name).to_document()["account_name"].is_null());
  EXPECT_EQ(keys_of(AccountInfo(no_name).to_document()),
            (std::vector<std::string>{"account_id", "regions"}));
  // Everything else is checked as before.
  EXPECT_EQ(refusal(Json{
                {"account_id", "012345678901"}, {"account_name", ""}, {"regions", Json::array()}}),
            "account '012345678901': account_name: must not be empty");
  Json bad_cidr = null_name;
  bad_cidr["regions"][0]["vpcs"][0]["hvn_cidr"] = "10.0.0.0/33";
  EXPECT_NE(refusal(bad_cidr).find("hvn_cidr: '10.0.0.0/33' is not a valid"), std::string::npos);

  BaseModel::set_scope(Scope::migration);
  EXPECT_FALSE(BaseModel::discovery_only());
  EXPECT_EQ(refusal(null_name), "account '012345678901': account_name: must not be null");
}

using LoadFromDictTest = ModelTest;

TEST_F(LoadFromDictTest, ChecksTheWholeConfigurationAndKeepsItsAccountsInOrder) {
  const Json mapping = Json::parse(R"({
    "account_info": [
      {"regions": [], "account_name": "b", "account_id": "222222222222"},
      {"account_id": "111111111111", "account_name": "a", "regions": [], "hpe": false}],
    "config": {"configure_gw_name": false}})");
  const DiscoveryConfig config = load_from_dict(mapping);
  ASSERT_EQ(config.accounts().size(), 2u);
  EXPECT_EQ(config.accounts()[0].account_id(), "222222222222");
  EXPECT_EQ(config.accounts()[1].account_id(), "111111111111");
  EXPECT_EQ(config.to_document().dump(),
            R"({"config":{"configure_gw_name":false},"account_info":[)"
            R"({"account_id":"222222222222","account_name":"b","regions":[]},)"
            R"({"account_id":"111111111111","account_name":"a","hpe":false,"regions":[]}]})");
  EXPECT_EQ(load_from_dict(Json{{"account_info", Json::array()}}).accounts().size(), 0u);
}

TEST_F(LoadFromDictTest, RefusesNamingTheSectionOrTheAccount) {
  EXPECT_EQ(refusal_of_config(Json::array()),
            "discovery configuration: expected a mapping, got a list");
  EXPECT_EQ(refusal_of_config(Json::object()), "discovery configuration: account_info: missing");
  EXPECT_EQ(refusal_of_config(Json{{"account_info", nullptr}}),
            "discovery configuration: account_info: must not be null");
  EXPECT_EQ(refusal_of_config(Json{{"account_info", "x"}}),
            "discovery configuration: account_info: expected a list, got text 'x'");
  EXPECT_EQ(
      refusal_of_config(Json{{"account_info", Json::array()}, {"accounts", Json::array()}}),
      "discovery configuration: accounts: unknown field (known fields: config, account_info)");
  EXPECT_EQ(
      refusal_of_config(
          Json{{"account_info", Json::array()}, {"config", Json{{"configure_gw_name", "no"}}}}),
      "discovery configuration: config: configure_gw_name: expected true or false, got text 'no'");
  EXPECT_EQ(
      refusal_of_config(Json{{"account_info", Json::array()}, {"config", Json{{"gw_name", true}}}})
          .rfind("discovery configuration: config: gw_name: unknown field (known fields: "
                 "configure_gw_name)",
                 0),
      0u);

  // Accounts are named by their number, or by their position when it cannot be read.
  const Json accounts = Json::parse(R"({"account_info": [
      {"account_id": "111111111111", "account_name": "a", "regions": []},
      {"account_id": 222222222222, "account_name": "b", "regions": []}]})");
  EXPECT_EQ(refusal_of_config(accounts),
            "account #2: account_id: expected text, got number 222222222222");
  const Json regions = Json::parse(R"({"account_info": [
      {"account_id": "111111111111", "account_name": "a",
       "regions": [{"region": "us-east-1", "vpcs": [{"vpc_id": "vpc-0a1b2c3d", "hvn_cidr": "10.0.0.16/27"}]}]}]})");
  EXPECT_EQ(refusal_of_config(regions).rfind("account '111111111111', region 'us-east-1', VPC "
                                             "'vpc-0a1b2c3d': hvn_cidr: '10.0.0.16/27' is not",
                                             0),
            0u);
}

}  // namespace
}  // namespace ovra
