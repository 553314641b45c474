#include "generator/generate/drift_check.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "generator/common/errors.hpp"
#include "ovra/config.hpp"
#include "serializers/serializers.hpp"

namespace generator::generate {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;
using Kind = DriftFinding::Kind;

constexpr const char* ALPHA = "111111111111";
constexpr const char* BETA = "222222222222";
constexpr const char* GAMMA = "333333333333";

// A subnet as EC2 lists it: its id and CIDR text, none for an IPv6-only one.
struct SubnetText {
  std::string id;
  std::optional<std::string> cidr;
};

VpcRecord vpc(std::string id, std::vector<BlockRecord> blocks, const std::vector<SubnetText>& subnets,
              const std::string& gateway_subnet) {
  VpcRecord record;
  record.id = std::move(id);
  record.primary = blocks.front().network;
  record.blocks = std::move(blocks);
  for (const auto& subnet : subnets) {
    record.subnets.push_back(
        {subnet.id, subnet.cidr ? std::optional(ipv4::Network::parse(*subnet.cidr)) : std::nullopt});
  }
  if (!gateway_subnet.empty()) record.gateway_subnet.network = ipv4::Network::parse(gateway_subnet);
  return record;
}

BlockRecord block(const std::string& cidr, std::string state) {
  return {ipv4::Network::parse(cidr), std::move(state)};
}
BlockRecord associated(const std::string& cidr) { return block(cidr, "associated"); }

class DriftCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ovra::BaseModel::set_scope(ovra::Scope::discovery_only);
    serializers::start_serializers();
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    folder_ = fs::path(TEST_SCRATCH_DIR) / "drift_check" / info->name();
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }

  fs::path write(const std::string& text) {
    const fs::path path = folder_ / "discovery.yaml";
    std::ofstream(path) << text;
    return path;
  }

  // The refreshed file the check writes, as read back.
  Json refreshed(const DriftCheck& check) {
    const fs::path path = folder_ / "refreshed.yaml";
    check.write_refreshed(path);
    return serializers::load_from_path(path);
  }

  static std::vector<Kind> kinds(const DriftCheck& check) {
    std::vector<Kind> result;
    for (const auto& finding : check.findings()) result.push_back(finding.kind);
    return result;
  }

  fs::path folder_;
};

TEST_F(DriftCheckTest, ComparesEveryVpcAndRefreshesOnlyBlockedOrEmptyChoices) {
  const DiscoveryFile file = read_discovery_file(write(R"(config:
  configure_gw_name: true
account_info:
  - account_id: "111111111111"
    account_name: "prod"
    regions:
      - region: "us-east-1"
        vpcs:
          - {vpc_id: "vpc-0000000a", hvn_cidr: "10.0.0.32/27", spoke_gw_name: "a-HVNGW"}
          - {vpc_id: "vpc-0000000b", hvn_cidr: "10.1.0.0/27"}
          - {vpc_id: "vpc-0000000c", hvn_cidr: "100.64.0.0/27"}
          - {vpc_id: "vpc-0000000d", hvn_cidr: ""}
          - {vpc_id: "vpc-0000000e", spoke_gw_name: "e-HVNGW"}
          - {vpc_id: "vpc-0000000f", hvn_cidr: "10.5.0.0/27"}
      - region: "eu-west-1"
        vpcs:
          - {vpc_id: "vpc-00000010", hvn_cidr: "10.6.0.0/27"}
  - account_id: "222222222222"
    regions:
      - {region: "us-east-1", vpcs: [{vpc_id: "vpc-00000020", hvn_cidr: "10.7.0.0/27"}]}
  - account_id: "333333333333"
    regions: []
)"));
  DriftCheck check(file, GatewayRule{Hpe::disabled, false});
  ASSERT_TRUE(check.needs_subnets());

  AccountRecord alpha{ALPHA, "prod", true, "", {}, {}, {}};
  RegionRecord east{"us-east-1", {}, nullptr, ""};
  // Touching the gateway subnet's boundary is no overlap; an IPv6-only subnet blocks nothing.
  east.vpcs.push_back(vpc("vpc-0000000a", {associated("10.0.0.0/24")},
                          {{"subnet-a1", "10.0.0.0/27"}, {"subnet-a2", std::nullopt}},
                          "10.0.0.64/27"));
  east.vpcs.push_back(vpc("vpc-0000000b", {associated("10.1.0.0/23")},
                          {{"subnet-b1", "10.1.0.0/24"}, {"subnet-b2", "10.1.0.16/28"}},
                          "10.1.1.0/27"));
  east.vpcs.push_back(vpc("vpc-0000000c",
                          {associated("10.2.0.0/24"), block("100.64.0.0/24", "disassociated")}, {},
                          "10.2.0.0/27"));
  east.vpcs.push_back(vpc("vpc-0000000d", {associated("10.3.0.0/24")}, {}, "10.3.0.0/27"));
  east.vpcs.push_back(
      vpc("vpc-0000000e", {associated("10.4.0.0/27")}, {{"subnet-e1", "10.4.0.0/27"}}, ""));
  VpcRecord fresh = vpc("vpc-00000011", {associated("10.8.0.0/24")}, {}, "10.8.0.0/27");
  fresh.tags = {{"Name", "late comer"}};
  east.vpcs.push_back(fresh);
  alpha.regions.push_back(east);
  alpha.regions.push_back(
      {"eu-west-1", {}, std::make_exception_ptr(std::runtime_error("no")), "AccessDenied"});
  check.account_scanned(alpha);
  check.account_scanned({BETA, std::nullopt, false, "the role cannot be assumed", {}, {}, {}});
  check.finish();

  EXPECT_EQ(kinds(check),
            (std::vector<Kind>{Kind::overlaps_subnet, Kind::outside_blocks, Kind::empty_with_room,
                               Kind::vpc_gone, Kind::new_vpc, Kind::not_scanned, Kind::not_scanned,
                               Kind::not_scanned}));
  const auto& findings = check.findings();
  EXPECT_EQ(findings[0].message,
            "account 111111111111, region us-east-1, VPC vpc-0000000b: hvn_cidr 10.1.0.0/27 "
            "overlaps subnets subnet-b1 (10.1.0.0/24), subnet-b2 (10.1.0.16/28); the rule would "
            "now pick 10.1.1.0/27");
  EXPECT_NE(findings[1].message.find("outside every associated block of the VPC (10.2.0.0/24)"),
            std::string::npos);
  EXPECT_NE(findings[2].message.find("the rule would pick 10.3.0.0/27"), std::string::npos);
  EXPECT_NE(findings[3].message.find("VPC vpc-0000000f is gone"), std::string::npos);
  EXPECT_NE(findings[4].message.find("VPC vpc-00000011 ('late comer') is new"), std::string::npos);
  EXPECT_NE(findings[5].message.find("region eu-west-1 could not be scanned (AccessDenied); 1 VPC"),
            std::string::npos);
  EXPECT_NE(findings[6].message.find("account 222222222222 could not be scanned (the role cannot"),
            std::string::npos);
  EXPECT_NE(findings[7].message.find("account 333333333333 could not be scanned (not in the scan)"),
            std::string::npos);
  std::vector<bool> blocking;
  for (const auto& finding : findings) blocking.push_back(finding.blocks);
  EXPECT_EQ(blocking, (std::vector<bool>{true, true, false, true, false, true, true, true}));
  EXPECT_TRUE(check.blocks_migration());

  Json expected = serializers::load_from_path(file.path);
  Json& vpcs = expected["account_info"][0]["regions"][0]["vpcs"];
  vpcs[1]["hvn_cidr"] = "10.1.1.0/27";
  vpcs[2]["hvn_cidr"] = "10.2.0.0/27";
  vpcs[3]["hvn_cidr"] = "10.3.0.0/27";
  EXPECT_EQ(refreshed(check), expected);
}

TEST_F(DriftCheckTest, AnAccountOfItsOwnSizeAndTheAddVpcCidrRule) {
  const DiscoveryFile file = read_discovery_file(write(R"(account_info:
  - account_id: "111111111111"
    hpe: true
    regions:
      - region: "us-east-1"
        vpcs: [{vpc_id: "vpc-0000000a", hvn_cidr: "10.0.0.0/25"}, {vpc_id: "vpc-0000000b"}]
)"));
  AccountRecord alpha{ALPHA, std::nullopt, true, "", {}, {}, {}};
  // The records carry the scan's /27 choices; the account asks for /25 gateway subnets.
  alpha.regions.push_back({"us-east-1",
                           {vpc("vpc-0000000a", {associated("10.0.0.0/24")},
                                {{"subnet-a1", "10.0.0.96/27"}}, "10.0.0.0/27"),
                            vpc("vpc-0000000b", {associated("10.1.0.0/24")},
                                {{"subnet-b1", "10.1.0.0/27"}}, "10.1.0.32/27")},
                           nullptr,
                           ""});

  DriftCheck sized(file, GatewayRule{Hpe::disabled, false});
  sized.account_scanned(alpha);
  sized.finish();
  ASSERT_EQ(kinds(sized), (std::vector<Kind>{Kind::overlaps_subnet, Kind::empty_with_room}));
  const Json sized_file = refreshed(sized);
  const Json& vpcs = sized_file["account_info"][0]["regions"][0]["vpcs"];
  EXPECT_EQ(vpcs[0]["hvn_cidr"], "10.0.0.128/25");
  // A new key stands where the migration model puts it.
  EXPECT_EQ(vpcs[1], Json::parse(R"({"vpc_id": "vpc-0000000b", "hvn_cidr": "10.1.0.128/25"})"));

  DriftCheck adding(file, GatewayRule{Hpe::enabled, true});
  adding.account_scanned(alpha);
  adding.finish();
  ASSERT_EQ(kinds(adding), std::vector<Kind>{Kind::overlaps_subnet});
  EXPECT_NE(adding.findings()[0].message.find("add_vpc_cidr is set"), std::string::npos);
  EXPECT_EQ(refreshed(adding)["account_info"][0]["regions"][0]["vpcs"][0]["hvn_cidr"], "");

  alpha.regions[0].vpcs[0].subnets.clear();
  DriftCheck clean(file, GatewayRule{Hpe::enabled, true});
  clean.account_scanned(alpha);
  clean.finish();
  EXPECT_TRUE(clean.findings().empty());
  EXPECT_FALSE(clean.blocks_migration());

  // A reserved range over the file's gateway subnet blocks it as a subnet there would, and the
  // rule chooses around it.
  DriftCheck reserving(file, GatewayRule{Hpe::disabled, false, {ipv4::Network::parse("10.0.0.64/26")}});
  reserving.account_scanned(alpha);
  reserving.finish();
  ASSERT_EQ(kinds(reserving), (std::vector<Kind>{Kind::overlaps_reserved, Kind::empty_with_room}));
  EXPECT_EQ(reserving.findings()[0].message,
            "account 111111111111, region us-east-1, VPC vpc-0000000a: hvn_cidr 10.0.0.0/25 "
            "overlaps reserved_cidrs 10.0.0.64/26; the rule would now pick 10.0.0.128/25");
  EXPECT_TRUE(reserving.blocks_migration());
  EXPECT_EQ(refreshed(clean), serializers::load_from_path(file.path));

  // A file changed between the check and the writing of its refreshed form is not written.
  const fs::path before = write(R"(account_info:
  - account_id: "111111111111"
    regions: [{region: "us-east-1", vpcs: [{vpc_id: "vpc-0000000a", hvn_cidr: "10.0.0.0/25"}]}]
)");
  const DiscoveryFile changing = read_discovery_file(before);
  std::ofstream(before) << "account_info: []\n";
  DriftCheck late(changing, GatewayRule{Hpe::enabled, true});
  late.finish();
  EXPECT_THROW(late.write_refreshed(folder_ / "late.yaml"), ValueError);
  EXPECT_FALSE(fs::exists(folder_ / "late.yaml"));
}

TEST_F(DriftCheckTest, ReadingRefusesMalformedFilesNamingFileAndEntry) {
  const auto refusal = [&](const std::string& text) -> std::string {
    const fs::path path = write(text);
    try {
      (void)read_discovery_file(path);
    } catch (const std::exception& error) {
      const std::string message = error.what();
      EXPECT_EQ(message.rfind(path.string() + ": ", 0), 0u) << message;
      return message;
    }
    ADD_FAILURE() << "accepted: " << text;
    return "";
  };
  EXPECT_NE(refusal("account_info:\n  - account_id: \"111111111111\"\n    regions:\n"
                    "      - {region: us-east-1, vpcs: [{vpc_id: vpc-0000000a, hvn_cidr: "
                    "10.0.0.1/27}]}\n")
                .find("VPC 'vpc-0000000a': hvn_cidr: "),
            std::string::npos);
  EXPECT_NE(refusal("account_info:\n  - account_id: \"111111111111\"\n    regions:\n"
                    "      - {region: us-east-1, vpcs: [{vpc_id: vpc-0000000a}, "
                    "{vpc_id: vpc-0000000a}]}\n")
                .find("account '111111111111', region 'us-east-1', VPC 'vpc-0000000a' appears "
                      "twice"),
            std::string::npos);
  EXPECT_NE(refusal("vpcs: []\n").find("account_info"), std::string::npos);
  // Unquoted, 011111111111 is octal for 1227133513; the message says how to write it.
  EXPECT_NE(refusal("account_info:\n  - account_id: 011111111111\n    regions: []\n")
                .find("account #1: account_id: read as the number 1227133513, not as text; "
                      "unquoted numbers with a leading 0 are read as octal"),
            std::string::npos);
  EXPECT_THROW((void)read_discovery_file(folder_ / "missing.yaml"), FileNotFoundError);
  EXPECT_NE(refusal("account_info:\n  - {account_id: \"111111111111\", regions: []}\n"
                    "  - {account_id: \"222222222222\", regions: [], colour: red}\n")
                .find("account '222222222222': colour: unknown field"),
            std::string::npos)
      << "each account is checked as it is read";
  EXPECT_NE(refusal("account_info: []\nsection: 1\n").find("section: unknown field"),
            std::string::npos);
  EXPECT_THROW((void)read_discovery_file(folder_), OSError) << "a folder is no discovery file";
}

}  // namespace
}  // namespace generator::generate
