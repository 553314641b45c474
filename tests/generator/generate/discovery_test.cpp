#include "generator/generate/discovery.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <map>
#include <tuple>

#include "aws/errors.hpp"
#include "generator/common/errors.hpp"
#include "generator/generate/drift_check.hpp"
#include "generator/generate/estate_scan.hpp"
#include "generator/generate/status_line.hpp"
#include "generator/generate/workbook_output.hpp"
#include "generator/log/log.hpp"
#include "ovra/config.hpp"
#include "support/log_capture.hpp"

namespace generator::generate {
namespace {

using Json = nlohmann::ordered_json;
using config::AccountDefault;

// One region's VPCs, served in pages; a region may refuse its VPC or its subnet listing, or its
// organization may keep it closed.
struct RegionEstate {
  std::vector<aws::Vpc> vpcs;
  std::map<std::string, std::vector<aws::Subnet>> subnets;  // by VPC id
  bool refuse_vpc_listing = false;
  bool refuse_subnet_listing = false;
  bool closed_by_policy = false;
};

struct Calls {
  int logins = 0;
  int region_listings = 0;
  int subnet_listings = 0;
  std::vector<int> vpc_page_sizes;
  std::vector<int> subnet_page_sizes;
};

aws::ServiceError refusal(const std::string& operation) {
  return aws::ServiceError("UnauthorizedOperation",
                           "You are not authorized to perform this operation.", "req-1", operation,
                           403);
}

aws::ServiceError closed_region_refusal(const std::string& operation) {
  return aws::ServiceError("UnauthorizedOperation",
                           "You are not authorized to perform this operation. User: "
                           "arn:aws:sts::111111111111:assumed-role/Discovery/s is not authorized "
                           "to perform: ec2:" +
                               operation +
                               " with an explicit deny in a service control policy. Encoded "
                               "authorization failure message: x",
                           "req-2", operation, 403);
}

class RegionHandle : public Ec2Handle {
 public:
  RegionHandle(const RegionEstate& estate, Calls& calls) : estate_(estate), calls_(calls) {}
  void list_vpc_pages(
      int page_size,
      const std::function<void(std::vector<aws::Vpc>& page)>& on_page) const override {
    calls_.vpc_page_sizes.push_back(page_size);
    if (estate_.refuse_vpc_listing) throw refusal("DescribeVpcs");
    if (estate_.closed_by_policy) throw closed_region_refusal("DescribeVpcs");
    for (std::size_t start = 0; start < estate_.vpcs.size();
         start += static_cast<std::size_t>(page_size)) {
      const auto end = std::min(estate_.vpcs.size(), start + static_cast<std::size_t>(page_size));
      std::vector<aws::Vpc> page(estate_.vpcs.begin() + static_cast<long>(start),
                                 estate_.vpcs.begin() + static_cast<long>(end));
      on_page(page);
    }
  }
  [[nodiscard]] std::vector<aws::Subnet> list_region_subnets(int page_size) const override {
    ++calls_.subnet_listings;
    calls_.subnet_page_sizes.push_back(page_size);
    if (estate_.refuse_subnet_listing) throw refusal("DescribeSubnets");
    std::vector<aws::Subnet> subnets;
    for (const auto& [vpc_id, of_vpc] : estate_.subnets)
      subnets.insert(subnets.end(), of_vpc.begin(), of_vpc.end());
    return subnets;
  }
  [[nodiscard]] std::vector<std::string> describe_regions() const override { return {}; }

 private:
  const RegionEstate& estate_;
  Calls& calls_;
};

// The controller and AWS in memory: accounts by number, each with its regions.
class EstateServices : public DiscoveryServices {
 public:
  Json controller_accounts = Json::array();
  std::set<std::string> refusing_accounts;
  std::map<std::string, std::map<std::string, RegionEstate>>
      accounts;  // account -> region -> estate
  std::vector<std::string> enabled_regions{"us-east-1", "eu-west-1"};
  Calls calls;
  // The clock of renewals, and how far each region's EC2 handle moves it on; role credentials
  // last an hour from their assumption when `expiring` is set.
  std::chrono::system_clock::time_point clock{
      std::chrono::sys_days(std::chrono::year(2030) / 1 / 1)};
  std::chrono::minutes region_takes{0};
  bool expiring = false;
  int assumptions = 0;
  std::vector<std::string> tokens_used;

  ControllerAccounts account_list(const config::Config&) override {
    ++calls.logins;
    return ControllerAccounts::from_answer(controller_accounts);
  }
  RoleAssumption assume_role(const std::string& role_arn) override {
    const std::string account = role_arn.substr(13, 12);
    if (refusing_accounts.contains(account)) return RoleAssumption::refused("AccessDenied");
    ++assumptions;
    std::string expiration;
    if (expiring) {
      const std::time_t expiry =
          std::chrono::system_clock::to_time_t(clock + std::chrono::hours(1));
      std::tm parts{};
      ::gmtime_r(&expiry, &parts);
      char text[32];
      std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
      expiration = text;
    }
    return RoleAssumption::assumed(aws::Credentials{
        "ASIA" + account, "secret", "token-" + std::to_string(assumptions), expiration});
  }
  std::chrono::system_clock::time_point now() override { return clock; }
  std::vector<std::string> regions(const aws::Credentials&) override {
    ++calls.region_listings;
    return enabled_regions;
  }
  std::unique_ptr<Ec2Handle> ec2_handler(const std::string& region,
                                         const aws::Credentials& creds) override {
    tokens_used.push_back(creds.session_token);
    clock += region_takes;
    return std::make_unique<RegionHandle>(accounts[creds.access_key_id.substr(4)][region], calls);
  }
};

aws::Vpc make_vpc(const std::string& id, const std::string& primary,
                  std::vector<aws::CidrBlockAssociation> more = {}, const std::string& name = "") {
  aws::Vpc vpc;
  vpc.id = id;
  vpc.cidr_block = primary;
  vpc.cidr_block_association_set.push_back({primary, "associated", "assoc-" + id});
  for (auto& association : more) vpc.cidr_block_association_set.push_back(std::move(association));
  if (!name.empty()) vpc.tags.push_back({"Name", name});
  return vpc;
}

aws::Subnet make_subnet(const std::string& vpc_id, std::optional<std::string> block) {
  aws::Subnet subnet;
  subnet.vpc_id = vpc_id;
  subnet.cidr_block = std::move(block);
  return subnet;
}

constexpr const char* ALPHA = "111111111111";
constexpr const char* BETA = "222222222222";

class DiscoveryPasses : public ::testing::Test {
 protected:
  void SetUp() override {
    ovra::BaseModel::set_scope(ovra::Scope::discovery_only);

    config_.controller = {"127.0.0.1", "admin"};
    config_.account_ids = {ALPHA, BETA};
    config_.aws_regions = {"us-east-1", "eu-west-1"};
    config_.defaults.role_name = "Discovery";
    config_.defaults.transit_gw_name = "transit";
    give({AccountDefault::role_name, AccountDefault::transit_gw_name});

    services_.controller_accounts =
        Json::parse(R"([{"account_number": "111111111111", "account_name": "prod"}])");
    auto& alpha = services_.accounts[ALPHA];
    alpha["us-east-1"].vpcs = {make_vpc("vpc-00000001", "10.0.0.0/24", {}, "Production VPC East"),
                               make_vpc("vpc-00000002", "10.1.0.0/27",
                                        {{"100.64.0.0/24", "disassociated", "a1"},
                                         {"100.65.0.0/24", "associated", "a2"}})};
    alpha["us-east-1"].subnets["vpc-00000001"] = {make_subnet("vpc-00000001", "10.0.0.0/25"),
                                                  make_subnet("vpc-00000001", std::nullopt)};
    alpha["us-east-1"].subnets["vpc-00000002"] = {make_subnet("vpc-00000002", "10.1.0.0/27")};
    alpha["eu-west-1"].vpcs = {make_vpc("vpc-00000003", "10.2.0.0/16")};
    services_.accounts[BETA]["us-east-1"].vpcs = {make_vpc("vpc-00000004", "10.3.0.0/16")};
  }
  void TearDown() override { ovra::BaseModel::set_scope(ovra::Scope::migration); }

  // What one scan of the configured estate gives a run with --discovery and --excel: the document,
  // and the rows or the error that stops the workbook.
  struct Scanned {
    Json document;
    Json rows;
    ScanTally tally;
  };
  Scanned scan(PassProgress& progress, std::size_t jobs = 1) {
    serializers::CollectedList accounts("account_info");
    DiscoveryFileOutput discovery(config_.defaults, accounts);
    serializers::CollectedList rows("rows");
    WorkbookOutput workbook(config_.defaults, rows);
    Scanned scanned;
    scanned.tally =
        scan_estate_once(config_, services_.account_list(config_), services_, progress, jobs,
                         {{&discovery, &workbook}, {"the discovery file", "the workbook"}});
    discovery.finish();
    scanned.document = accounts.document();
    try {
      workbook.finish();
      scanned.rows = rows.items();
    } catch (const aws::ServiceError& error) {
      scanned.rows = error.what();
    }
    return scanned;
  }
  Scanned scan() { return scan(no_progress_); }
  // The rows of a run with --excel alone.
  Json workbook_alone() {
    serializers::CollectedList rows("rows");
    WorkbookOutput workbook(config_.defaults, rows);
    (void)scan_estate_once(config_, services_.account_list(config_), services_, no_progress_, 1,
                           {{&workbook}, {"the workbook"}});
    workbook.finish();
    return rows.items();
  }

  [[nodiscard]] bool logged(const std::string& line) const { return capture_.count(line) > 0; }
  // Marks the defaults as written in the configuration file, as its reader would.
  void give(std::initializer_list<AccountDefault> keys) {
    for (const AccountDefault key : keys) config_.defaults.mark_given(key);
  }

  config::Config config_;
  EstateServices services_;
  PassProgress no_progress_;
  test_support::LogCapture capture_{log::DEBUG, "{levelname} {funcName} {message}"};
};

TEST_F(DiscoveryPasses, DiscoveryDocumentFollowsAccountsRegionsAndVpcsInOrder) {
  config_.defaults.hpe = false;
  give({AccountDefault::hpe});
  services_.refusing_accounts = {BETA};
  const Json document = scan().document;

  const Json expected = Json::parse(R"({"account_info": [{
    "account_id": "111111111111", "account_name": "prod", "hpe": false, "role_name": "Discovery",
    "regions": [
      {"region": "us-east-1", "vpcs": [
        {"vpc_id": "vpc-00000001", "hvn_cidr": "10.0.0.128/27", "spoke_gw_name": "Production_VPC_East-HVNGW",
         "transit_gw_name": "transit"},
        {"vpc_id": "vpc-00000002", "hvn_cidr": "100.65.0.0/27", "spoke_gw_name": "vpc-00000002-HVNGW",
         "transit_gw_name": "transit"}]},
      {"region": "eu-west-1", "vpcs": [
        {"vpc_id": "vpc-00000003", "hvn_cidr": "10.2.0.0/27", "spoke_gw_name": "vpc-00000003-HVNGW",
         "transit_gw_name": "transit"}]}]}]})");
  EXPECT_EQ(document, expected);
  EXPECT_EQ(document.dump(), expected.dump()) << "key order";
  EXPECT_EQ(services_.calls.logins, 1);
  EXPECT_EQ(services_.calls.region_listings, 0) << "configured regions are not listed";
  EXPECT_EQ(services_.calls.vpc_page_sizes, (std::vector<int>{64, 64}))
      << "one scan feeds the discovery file and the workbook";
  EXPECT_EQ(services_.calls.subnet_page_sizes, (std::vector<int>{1000, 1000}))
      << "one subnet listing per region of the entered account";
  const auto count = [&](const std::string& line) {
    return static_cast<int>(capture_.count(line));
  };
  EXPECT_EQ(
      count("ERROR generate_min_discovery_yaml - Failed to assume role into account 222222222222 "
            "-- skipped"),
      1);
  EXPECT_EQ(count("INFO generate_min_discovery_yaml Discovering info for account 111111111111"), 1);
  EXPECT_EQ(count("DEBUG _compute_hvn_cidr Subnet '10.0.0.128/27' is viable."), 1);
}

TEST_F(DiscoveryPasses, RoleCredentialsAboutToExpireAreRenewedOnceAndTheScanCompletes) {
  config_.account_ids = {ALPHA};
  config_.aws_regions = {"us-east-1", "eu-west-1", "us-west-2", "eu-central-1"};
  services_.expiring = true;
  // Each region takes 28 minutes: the third starts 4 minutes before the hour is up.
  services_.region_takes = std::chrono::minutes(28);
  const Json document = scan().document;
  EXPECT_EQ(services_.assumptions, 2);
  EXPECT_EQ(services_.tokens_used,
            (std::vector<std::string>{"token-1", "token-1", "token-2", "token-2"}));
  EXPECT_EQ(document["account_info"][0]["regions"].size(), 4u);
  EXPECT_TRUE(logged("DEBUG current_creds Renewing the role credentials of account 111111111111"));
}

TEST_F(DiscoveryPasses, OnlyTheDefaultsGivenInTheFileAreRepeatedPerAccount) {
  config_.account_ids = {ALPHA};
  config_.defaults.managed_tgw = true;
  config_.defaults.filter_cidrs = std::vector<std::string>{"10.0.0.0/8"};
  config_.defaults.given.reset();
  give({AccountDefault::role_name, AccountDefault::managed_tgw, AccountDefault::filter_cidrs});
  config_.defaults.transit_gw_name.reset();
  const Json account = scan().document["account_info"][0];
  std::vector<std::string> keys;
  for (const auto& [key, unused] : account.items()) keys.push_back(key);
  EXPECT_EQ(keys, (std::vector<std::string>{"account_id", "account_name", "managed_tgw",
                                            "filter_cidrs", "role_name", "regions"}));
  EXPECT_EQ(account["regions"][0]["vpcs"][0]["transit_gw_name"], "");
}

TEST_F(DiscoveryPasses, ARefusingRegionIsLeftOutOfTheDiscoveryFileAndSpoilsTheWorkbook) {
  services_.accounts[ALPHA]["us-east-1"].refuse_subnet_listing = true;
  config_.account_ids = {ALPHA};
  const Scanned scanned = scan();
  const Json& regions = scanned.document["account_info"][0]["regions"];
  ASSERT_EQ(regions.size(), 1u);
  EXPECT_EQ(regions[0]["region"], "eu-west-1");
  EXPECT_TRUE(
      logged("WARNING generate_min_discovery_yaml Error occured while scanning VPCs in region "
             "'us-east-1'."));
  EXPECT_TRUE(
      std::any_of(capture_.lines().begin(), capture_.lines().end(), [](const std::string& line) {
        return line.starts_with(
                   "DEBUG generate_min_discovery_yaml Error encountered during 'us-east-1' region "
                   "scan:\n") &&
               line.find("UnauthorizedOperation") != std::string::npos;
      }));
  // The workbook's error names the place, which AWS's message does not.
  EXPECT_EQ(scanned.rows,
            "An error occurred (UnauthorizedOperation) when calling the DescribeSubnets operation: "
            "You are not authorized to perform this operation. (account 111111111111, region "
            "us-east-1)");

  // With the workbook alone, the failed region ends the scan with the same error.
  try {
    (void)workbook_alone();
    ADD_FAILURE() << "no error";
  } catch (const aws::ServiceError& error) {
    EXPECT_EQ(error.what(), scanned.rows.get<std::string>());
  }

  // A region closed by a service control policy is no failure: left out of both, the workbook
  // written (alone too), nothing counted as incomplete, and the closed region named once.
  services_.accounts[ALPHA]["us-east-1"].refuse_subnet_listing = false;
  services_.accounts[ALPHA]["us-east-1"].closed_by_policy = true;
  config_.account_ids = {ALPHA, BETA};
  capture_.clear();
  const Scanned closed = scan();
  ASSERT_EQ(closed.document["account_info"][0]["regions"].size(), 1u);
  EXPECT_EQ(closed.document["account_info"][0]["regions"][0]["region"], "eu-west-1");
  EXPECT_EQ(closed.document["account_info"][1]["regions"][0]["region"], "us-east-1")
      << "open to the other account";
  ASSERT_TRUE(closed.rows.is_array()) << closed.rows;
  EXPECT_EQ(closed.rows.size(), 2u);
  EXPECT_EQ(closed.rows, workbook_alone());
  EXPECT_FALSE(closed.tally.incomplete());
  EXPECT_EQ(closed.tally.regions, 3u);
  closed.tally.report_closed_regions();
  EXPECT_TRUE(logged("INFO report_closed_regions Region 'us-east-1' is closed by a service control "
                     "policy in 1 of 2 entered accounts; it is left out of the files"));
  for (const std::string& line : capture_.lines())
    EXPECT_FALSE(line.starts_with("WARNING") || line.starts_with("ERROR")) << line;
}

TEST_F(DiscoveryPasses, AddVpcCidrLeavesTheGatewaySubnetEmptyWithoutListingSubnets) {
  config_.defaults.add_vpc_cidr = true;
  config_.account_ids = {ALPHA};
  const Scanned scanned = scan();
  for (const auto& region : scanned.document["account_info"][0]["regions"]) {
    for (const auto& vpc : region["vpcs"]) EXPECT_EQ(vpc["hvn_cidr"], "");
  }
  for (const auto& row : scanned.rows) {
    EXPECT_EQ(row["hvn_cidr"], "");
    EXPECT_EQ(row["hpe"], "") << "hpe not given in the file";
  }
  EXPECT_EQ(services_.calls.subnet_listings, 0);
}

TEST_F(DiscoveryPasses, WithoutConfiguredRegionsEachAccountsEnabledRegionsAreScannedOnce) {
  config_.aws_regions.clear();
  // What AWS lists twice is taken once: a region, and a VPC (on another page).
  services_.enabled_regions = {"eu-west-1", "eu-west-1"};
  auto& vpcs = services_.accounts[ALPHA]["eu-west-1"].vpcs;
  for (int more = 0; more < VPC_PAGE_SIZE; ++more)
    vpcs.push_back(make_vpc("vpc-" + std::to_string(10000000 + more), "10.9.0.0/24"));
  vpcs.push_back(vpcs.front());
  const Json document = scan().document;
  EXPECT_EQ(document["account_info"][0]["regions"][0]["vpcs"].size(), vpcs.size() - 1);
  EXPECT_EQ(services_.calls.region_listings, 2);
  ASSERT_EQ(document["account_info"].size(), 2u);
  EXPECT_EQ(document["account_info"][1]["account_name"], nullptr) << "unknown to the controller";
  for (const auto& account : document["account_info"]) {
    ASSERT_EQ(account["regions"].size(), 1u);
    EXPECT_EQ(account["regions"][0]["region"], "eu-west-1");
  }
}

TEST_F(DiscoveryPasses, WorkbookRowsCarryTheTwentyColumnsWithTheirValueForms) {
  config_.defaults.hpe = true;
  config_.defaults.managed_tgw = false;
  config_.defaults.filter_cidrs = std::vector<std::string>{};
  config_.defaults.gw_zones = std::vector<std::string>{"a", "b"};
  config_.defaults.spoke_gw_size = "";
  config_.defaults.inspection = true;
  give({AccountDefault::hpe, AccountDefault::managed_tgw, AccountDefault::filter_cidrs,
        AccountDefault::gw_zones, AccountDefault::spoke_gw_size, AccountDefault::inspection});
  services_.refusing_accounts = {BETA};
  const Json rows = workbook_alone();

  ASSERT_EQ(rows.size(), 3u);
  std::vector<std::string> columns;
  for (const auto& [key, unused] : rows[0].items()) columns.push_back(key);
  EXPECT_EQ(columns, WORKBOOK_COLUMNS);
  const Json& second = rows[1];
  EXPECT_EQ(second["account_id"], ALPHA);
  EXPECT_EQ(second["account_name"], "prod");
  EXPECT_EQ(second["hpe"], true);
  EXPECT_EQ(second["managed_tgw"], false);
  EXPECT_EQ(second["filter_cidrs"], Json::array());
  EXPECT_EQ(second["spoke_gw_size"], "");
  EXPECT_EQ(second["role_name"], "Discovery");
  EXPECT_EQ(second["region"], "us-east-1");
  EXPECT_EQ(second["vpc_cidrs"], "10.1.0.0/27,100.65.0.0/24");
  EXPECT_EQ(second["hvn_cidr"], "100.65.0.0/25") << "the /27 primary block is too small for a /25";
  EXPECT_EQ(second["gw_zones"], Json::parse(R"(["a", "b"])"));
  EXPECT_EQ(second["domain"], "");
  EXPECT_EQ(second["encrypt"], "");
  EXPECT_EQ(second["inspection"], true);
  EXPECT_EQ(second["spoke_gw_tags"], "");
  EXPECT_EQ(second["spoke_advertisement"], "");
  EXPECT_EQ(second["spoke_routes"], "");
  EXPECT_EQ(second["spoke_gw_name"], "vpc-00000002-HVNGW");
  EXPECT_EQ(second["transit_gw_name"], "transit");
  EXPECT_EQ(rows[0]["hvn_cidr"], "10.0.0.128/25");
  EXPECT_EQ(rows[2]["region"], "eu-west-1");
}

TEST_F(DiscoveryPasses, AScanThatReachedNothingFailsAndAPartialOneIsCounted) {
  services_.refusing_accounts = {ALPHA, BETA};
  try {
    (void)scan();
    ADD_FAILURE() << "no error";
  } catch (const ScanError& error) {
    EXPECT_STREQ(error.what(),
                 "Nothing was scanned (none of the 2 configured accounts could be entered): the "
                 "discovery file and the workbook were not written and existing ones are left as "
                 "they were");
  }
  EXPECT_THROW((void)workbook_alone(), ScanError);
  const std::string warning =
      "WARNING warn_no_account_entered None of the 2 configured accounts could be entered: check "
      "the role name "
      "'Discovery' and the AWS credentials that assume it";
  EXPECT_EQ(capture_.count(warning), 2u);

  // The one account entered has every region refusing: nothing was scanned either.
  services_.refusing_accounts = {BETA};
  for (auto& [name, region] : services_.accounts[ALPHA]) region.refuse_vpc_listing = true;
  try {
    (void)scan();
    ADD_FAILURE() << "no error";
  } catch (const ScanError& error) {
    EXPECT_STREQ(error.what(),
                 "Nothing was scanned (all 2 regions of the 1 entered accounts failed): the "
                 "discovery file and the workbook were not written and existing ones are left as "
                 "they were");
  }

  services_.accounts[ALPHA]["eu-west-1"].refuse_vpc_listing = false;
  const Scanned scanned = scan();
  const ScanTally& partial = scanned.tally;
  const Json& document = scanned.document;
  ASSERT_EQ(document["account_info"].size(), 1u);
  EXPECT_EQ(document["account_info"][0]["regions"].size(), 1u);
  EXPECT_EQ((std::vector<std::size_t>{partial.accounts, partial.accounts_entered, partial.regions,
                                      partial.regions_failed}),
            (std::vector<std::size_t>{2, 1, 2, 1}));
  partial.warn_if_incomplete("Discovery file 'out.yaml'");
  EXPECT_TRUE(
      logged("WARNING warn_if_incomplete Discovery file 'out.yaml' is incomplete: 1 of 2 accounts "
             "could not be entered and 1 of 2 regions could not be scanned (see the errors "
             "above)"));
}

TEST_F(DiscoveryPasses, OneScanServesTheConfiguredEstateAndAFileThatNamesOtherRegionsAndAccounts) {
  config_.account_ids = {ALPHA};
  config_.aws_regions = {"us-east-1"};
  const DiscoveryFile file = read_discovery_text(R"({"account_info": [
    {"account_id": "111111111111", "regions": [{"region": "eu-west-1", "vpcs": [
      {"vpc_id": "vpc-00000003", "hvn_cidr": "10.2.0.0/27"}]}]},
    {"account_id": "222222222222", "regions": [{"region": "us-east-1", "vpcs": [
      {"vpc_id": "vpc-00000004", "hvn_cidr": "10.3.0.0/27"}]}]}]})",
                                                 "checked.yaml");
  serializers::CollectedList accounts("account_info");
  DiscoveryFileOutput discovery(config_.defaults, accounts);
  DriftCheck check(file, gateway_rule(config_));
  const ScanTally tally =
      scan_estate_once(config_, services_.account_list(config_), services_, no_progress_, 2,
                       {{&discovery}, {"the discovery file"}, &file, &check});

  discovery.finish();
  const Json document = accounts.document();
  ASSERT_EQ(document["account_info"].size(), 1u) << "only the configured account";
  ASSERT_EQ(document["account_info"][0]["regions"].size(), 1u);
  EXPECT_EQ(document["account_info"][0]["regions"][0]["region"], "us-east-1");
  EXPECT_EQ((std::vector<std::size_t>{tally.accounts, tally.regions}),
            (std::vector<std::size_t>{1, 1}));
  check.finish();
  EXPECT_FALSE(check.blocks_migration());
  EXPECT_TRUE(check.findings().empty()) << "no VPC of the configured region is taken for a new one";
  EXPECT_EQ(services_.calls.vpc_page_sizes.size(), 3u) << "each region of either part once";
  EXPECT_EQ(
      capture_.count("INFO generate_min_discovery_yaml Discovering info for account 111111111111"),
      1u);
}

TEST_F(DiscoveryPasses, ManyJobsGiveTheSameDocumentsAndMessagesInTheSameOrder) {
  config_.aws_regions = {"us-east-1", "eu-west-1", "ap-south-1"};
  config_.account_ids = {ALPHA, BETA, "333333333333", "444444444444"};
  services_.refusing_accounts = {BETA};
  services_.accounts["444444444444"]["eu-west-1"].refuse_vpc_listing = true;
  for (int vpc = 0; vpc < 70; ++vpc)
    services_.accounts["333333333333"]["ap-south-1"].vpcs.push_back(
        make_vpc("vpc-100000" + std::to_string(10 + vpc), "10.9." + std::to_string(vpc) + ".0/24"));

  std::string screen;
  log::LinePrinter printer([&](std::string_view text) { screen += text; });
  StatusLine status(printer, 200);
  const auto run = [&](std::size_t jobs) {
    capture_.clear();
    Scanned scanned = scan(status, jobs);
    EXPECT_EQ(status.text(), "scan: account 4 of 4, 9 regions done, 0 in flight, 73 VPCs found");
    return std::tuple{scanned.document, scanned.rows, capture_.lines()};
  };
  const auto [document, rows, lines] = run(1);
  ASSERT_EQ(document["account_info"].size(), 3u);
  EXPECT_EQ(document["account_info"][1]["regions"][2]["vpcs"].size(), 70u);
  EXPECT_EQ(document["account_info"][2]["regions"].size(), 2u) << "the refusing region left out";
  EXPECT_TRUE(rows.is_string()) << "the refusing region spoils the workbook";
  for (const std::size_t jobs : {2u, 8u}) {
    const auto [many_document, many_rows, many_lines] = run(jobs);
    EXPECT_EQ(many_document, document) << jobs;
    EXPECT_EQ(many_rows, rows) << jobs;
    EXPECT_EQ(many_lines, lines) << jobs;
  }
}

TEST(VpcRecordOfEc2, ReadsTheBlocksOnceAndNamesTheVpcOfAnUnreadableOne) {
  const VpcRecord record =
      vpc_record(make_vpc("vpc-00000001", "10.0.0.0/24", {{"100.64.0.0/24", "failed", "a1"}}));
  EXPECT_EQ(record.primary, ipv4::Network::parse("10.0.0.0/24"));
  ASSERT_EQ(record.blocks.size(), 2u);
  EXPECT_EQ(record.blocks[1].network.to_string(), "100.64.0.0/24");
  EXPECT_FALSE(record.blocks[1].is_associated());
  for (const auto& [primary, further] :
       {std::pair{"10.0.0.1/24", "100.64.0.0/24"}, std::pair{"10.0.0.0/24", "100.64.0.0/33"}}) {
    try {
      (void)vpc_record(make_vpc("vpc-00000002", primary, {{further, "disassociated", "a2"}}));
      ADD_FAILURE() << "no error";
    } catch (const ValueError& error) {
      const std::string message = error.what();
      EXPECT_TRUE(message.starts_with("VPC 'vpc-00000002': ")) << message;
    }
  }
}

TEST(StatusLine, TellsPassAccountsRegionsAndCountsAndFitsTheTerminal) {
  std::string screen;
  log::LinePrinter printer([&](std::string_view text) { screen += text; });
  StatusLine line(printer, 40);
  line.pass_started("scan");
  EXPECT_EQ(screen, "")
      << "nothing is drawn before the first account: a password prompt may still be shown";
  line.account_started(2, 3, "111111111111");
  line.region_started("eu-west-1");
  line.region_started("us-east-1");
  line.region_done();
  line.account_started(1, 3, "000000000000");
  line.vpc_found();
  EXPECT_EQ(line.text(), "scan: account 2 of 3, 1 region done, 1 in flight, 1 VPC found")
      << "accounts are counted by the furthest one entered";
  const std::string last_draw = screen.substr(screen.rfind("\r\x1b[K"));
  EXPECT_EQ(last_draw, "\r\x1b[K" + line.text().substr(0, 39))
      << "a wrapped line could not be erased";

  screen.clear();
  printer.print_line("generator.generate:INFO a message");
  EXPECT_EQ(screen, "\r\x1b[Kgenerator.generate:INFO a message\n" + line.text().substr(0, 39))
      << "a message is written on an erased row, with the line drawn again below it, in one piece";
  screen.clear();
  line.pass_ended();
  EXPECT_EQ(screen, "\r\x1b[K") << "the line is erased when the pass ends";
  screen.clear();
  line.vpc_found();
  printer.print_line("later");
  EXPECT_EQ(screen, "later\n") << "nothing is drawn between passes";
}

}  // namespace
}  // namespace generator::generate
