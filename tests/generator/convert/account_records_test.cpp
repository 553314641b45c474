#include "generator/convert/account_records.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "generator/common/errors.hpp"
#include "ovra/config.hpp"
#include "serializers/xlsx/xlsx.hpp"

namespace generator::convert {
namespace {

using ::testing::HasSubstr;

// A workbook row as generate writes it (all twenty columns, account columns filled), with the
// number it is to stand at.
struct Row {
  std::size_t row_number;
  Value record;
};

Row row(std::size_t row_number, const std::string& account_id, const std::string& region,
        const std::string& vpc_id, const Value& changes = Value::object()) {
  Value record = {
      {"account_id", account_id},
      {"account_name", "Prod"},
      {"hpe", false},
      {"managed_tgw", ""},
      {"filter_cidrs", ""},
      {"spoke_gw_size", ""},
      {"role_name", "discovery"},
      {"region", region},
      {"vpc_id", vpc_id},
      {"vpc_cidrs", "10.0.0.0/16"},
      {"hvn_cidr", "10.0.255.224/27"},
      {"gw_zones", ""},
      {"spoke_gw_tags", ""},
      {"domain", ""},
      {"encrypt", ""},
      {"inspection", ""},
      {"spoke_advertisement", ""},
      {"spoke_routes", ""},
      {"spoke_gw_name", "gw-" + vpc_id},
      {"transit_gw_name", ""},
  };
  for (const auto& [column, value] : changes.items()) record[column] = value;
  return Row{row_number, record};
}

// The rows written as a workbook with the product's writer (empty rows in the gaps between their
// numbers) and read back as convert reads it.
WorkbookSheet sheet_of(const std::vector<Row>& rows) {
  const auto path = std::filesystem::path(TEST_SCRATCH_DIR) / "account_records" /
                    (std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
                     ".xlsx");
  std::filesystem::create_directories(path.parent_path());
  Value records = Value::array();
  for (const Row& entry : rows) {
    while (records.size() + 2 < entry.row_number) {
      Value empty = entry.record;
      for (auto& [column, value] : empty.items()) value = "";
      records.push_back(std::move(empty));
    }
    records.push_back(entry.record);
  }
  if (records.empty()) records.push_back(row(2, "", "", "").record);
  serializers::export_to_xlsx(records, path);
  return WorkbookSheet::read(path);
}

// The accounts convert makes of the rows, as {"account_info": [...]}.
Value accounts_of(const std::vector<Row>& rows, const Value& discovery_config = {}) {
  serializers::CollectedList accounts("account_info");
  generate_discovery_account_info(sheet_of(rows), discovery_config, accounts);
  return accounts.document();
}

const std::string ACCOUNT_A = "012345678901";
const std::string ACCOUNT_B = "123456789012";

std::vector<std::string> account_ids(const Value& result) {
  std::vector<std::string> ids;
  for (const auto& account : result.at("account_info"))
    ids.push_back(account.at("account_id").get<std::string>());
  return ids;
}

std::vector<std::string> vpc_ids(const Value& region) {
  std::vector<std::string> ids;
  for (const auto& vpc : region.at("vpcs")) ids.push_back(vpc.at("vpc_id").get<std::string>());
  return ids;
}

// The message of the error `action` throws, which must be of kind Expected.
template <class Expected, class Action>
std::string message_of(Action action) {
  try {
    action();
  } catch (const Expected& error) {
    return error.what();
  }
  ADD_FAILURE() << "no error of the expected kind";
  return "";
}

TEST(AccountRecords, RowsAreGatheredUnderTheirAccountAndRegionInOrderOfFirstAppearance) {
  const std::vector<Row> rows{
      row(2, ACCOUNT_A, "us-east-1", "vpc-0000000a"),
      row(3, ACCOUNT_B, "eu-west-1", "vpc-0000000b"),
      row(4, ACCOUNT_A, "us-west-2", "vpc-0000000c"),
      row(5, ACCOUNT_A, "us-east-1", "vpc-0000000d"),
      row(7, ACCOUNT_A, "us-east-1", "vpc-0000000e"),
  };
  const Value result = accounts_of(rows);
  ASSERT_EQ(result.size(), 1u);
  EXPECT_EQ(account_ids(result), (std::vector<std::string>{ACCOUNT_A, ACCOUNT_B}));
  const Value& regions = result["account_info"][0]["regions"];
  ASSERT_EQ(regions.size(), 2u);
  EXPECT_EQ(regions[0]["region"], "us-east-1");
  EXPECT_EQ(vpc_ids(regions[0]),
            (std::vector<std::string>{"vpc-0000000a", "vpc-0000000d", "vpc-0000000e"}));
  EXPECT_EQ(regions[1]["region"], "us-west-2");
  EXPECT_EQ(vpc_ids(regions[1]), (std::vector<std::string>{"vpc-0000000c"}));
  EXPECT_EQ(vpc_ids(result["account_info"][1]["regions"][0]),
            (std::vector<std::string>{"vpc-0000000b"}));
}

TEST(AccountRecords, AccountEntryHoldsFormattedNonEmptyFieldsInModelOrder) {
  const Value result =
      accounts_of({row(2, ACCOUNT_A, "us-east-1", "vpc-0000000a",
                                           {{"managed_tgw", "Yes"},
                                            {"filter_cidrs", "['10.0.0.0/8', '192.168.0.0/16']"},
                                            {"spoke_gw_size", "t3.small"},
                                            {"hvn_cidr", ""},
                                            {"gw_zones", "us-east-1a, us-east-1b"},
                                            {"spoke_gw_tags", "Name=web,env=prod"},
                                            {"encrypt", "NO"},
                                            {"inspection", true},
                                            {"spoke_routes", "['10.1.0.0/16']"},
                                            {"transit_gw_name", "transit-1"}})});
  const Value expected_account = {
      {"account_id", ACCOUNT_A},
      {"account_name", "Prod"},
      {"hpe", false},
      {"managed_tgw", true},
      {"filter_cidrs", {"10.0.0.0/8", "192.168.0.0/16"}},
      {"spoke_gw_size", "t3.small"},
      {"role_name", "discovery"},
      {"regions",
       {{{"region", "us-east-1"},
         {"vpcs",
          {{{"vpc_id", "vpc-0000000a"},
            {"hvn_cidr", ""},
            {"gw_zones", {"us-east-1a", "us-east-1b"}},
            {"spoke_gw_tags",
             {{{"key", "Name"}, {"value", "web"}}, {{"key", "env"}, {"value", "prod"}}}},
            {"encrypt", false},
            {"inspection", true},
            {"spoke_routes", {"10.1.0.0/16"}},
            {"spoke_gw_name", "gw-vpc-0000000a"},
            {"transit_gw_name", "transit-1"}}}}}}},
  };
  EXPECT_EQ(result["account_info"][0], expected_account)
      << "empty cells (domain, spoke_advertisement) are left out, an empty hvn_cidr stays as \"\"";
}

TEST(AccountRecords, EmptySheetGivesNoAccounts) {
  const WorkbookSheet sheet = sheet_of({row(2, "", "", "", {{"role_name", ""}, {"account_name", ""},
                                                             {"hpe", ""}, {"spoke_gw_name", ""},
                                                             {"vpc_cidrs", ""}, {"hvn_cidr", ""}})});
  EXPECT_EQ(sheet.size(), 0u) << "a row without a filled cell is no row";
  serializers::CollectedList accounts("account_info");
  generate_discovery_account_info(sheet, Value(), accounts);
  EXPECT_EQ(accounts.document(), (Value{{"account_info", Value::array()}}));
}

TEST(AccountRecords, TemplateDecidesWhetherGatewayNamesAreKept) {
  const Row named =
      row(2, ACCOUNT_A, "us-east-1", "vpc-0000000a", {{"transit_gw_name", "transit-1"}});
  const WorkbookSheet sheet = sheet_of({named});
  const auto names_kept = [&](const Value& template_mapping) {
    const Value vpc = _get_vpc_data(sheet.row(0), template_mapping);
    EXPECT_EQ(vpc.contains("spoke_gw_name"), vpc.contains("transit_gw_name"));
    return vpc.contains("spoke_gw_name");
  };
  EXPECT_TRUE(names_kept(Value()));
  EXPECT_TRUE(names_kept(Value::object()));
  EXPECT_TRUE(names_kept(Value{{"account_info", Value::array()}}));
  EXPECT_TRUE(names_kept(Value{{"config", Value::object()}}));
  EXPECT_TRUE(names_kept(Value{{"config", {{"configure_gw_name", true}}}}));
  EXPECT_FALSE(names_kept(Value{{"config", {{"configure_gw_name", false}}}}));
  EXPECT_FALSE(names_kept(Value{{"config", {{"configure_gw_name", 0}}}}));
  EXPECT_THROW(_get_vpc_data(sheet.row(0), Value{{"config", nullptr}}), TypeError);

  const Value result =
      accounts_of({named}, Value{{"config", {{"configure_gw_name", false}}}});
  EXPECT_FALSE(result["account_info"][0]["regions"][0]["vpcs"][0].contains("spoke_gw_name"));
}

TEST(AccountRecords, RowsOfOneAccountThatDisagreeNameAccountRowsAndFields) {
  const std::string message = message_of<AssertionError>([] {
    (void)accounts_of({
        row(2, ACCOUNT_A, "us-east-1", "vpc-0000000a"),
        row(3, ACCOUNT_B, "us-east-1", "vpc-0000000b"),
        row(6, ACCOUNT_A, "us-west-2", "vpc-0000000c", {{"hpe", true}, {"role_name", "other"}}),
    });
  });
  EXPECT_EQ(
      message,
      "account 012345678901: rows 2 and 6 differ in hpe (row 2: false, row 6: true), role_name "
      "(row 2: \"discovery\", row 6: \"other\"); every row of an account must repeat the same "
      "account columns");

  const std::string emptied = message_of<AssertionError>([] {
    (void)accounts_of(
        {row(2, ACCOUNT_A, "us-east-1", "vpc-0000000a", {{"hpe", ""}}),
         row(3, ACCOUNT_A, "us-east-1", "vpc-0000000b")});
  });
  EXPECT_THAT(emptied, HasSubstr("rows 2 and 3 differ in hpe (row 2: empty, row 3: false)"));
}

TEST(AccountRecords, UnreadableCellsNameRowAndColumn) {
  const auto failing = [](const Value& changes) {
    return std::vector<Row>{row(2, ACCOUNT_A, "us-east-1", "vpc-0000000a"),
                            row(9, ACCOUNT_A, "us-east-1", "vpc-0000000b", changes)};
  };
  EXPECT_THAT(message_of<ValueError>([&] {
                (void)accounts_of(failing({{"encrypt", "maybe"}}));
              }),
              HasSubstr("row 9, column encrypt: \"maybe\" is not a yes/no value"));
  EXPECT_THAT(message_of<ValueError>([&] {
                (void)accounts_of(failing({{"spoke_gw_tags", "a=1,b"}}));
              }),
              HasSubstr("row 9, column spoke_gw_tags: tag \"b\""));
  EXPECT_THAT(message_of<TypeError>([&] {
                (void)accounts_of(failing({{"gw_zones", 3}}));
              }),
              HasSubstr("row 9, column gw_zones: expected a list"));

  std::vector<Row> without_column = failing(Value::object());
  for (Row& entry : without_column) entry.record.erase("spoke_routes");
  EXPECT_THAT(message_of<KeyError>([&] { (void)accounts_of(without_column); }),
              HasSubstr("row 2, column spoke_routes: the workbook has no such column"));
}

TEST(AccountRecords, ModelRefusalsNameTheFirstRowAndColumnTheModelRefuses) {
  const auto refusal = [](const Value& changes) {
    return message_of<ovra::ValidationError>([&] {
      (void)accounts_of(
          {row(2, ACCOUNT_A, "us-east-1", "vpc-0000000a"),
           row(4, ACCOUNT_B, "us-east-1", "vpc-0000000b"),
           row(5, ACCOUNT_B, "us-east-1", "vpc-0000000c", changes)});
    });
  };
  EXPECT_THAT(refusal({{"hvn_cidr", "10.0.0.1/27"}}),
              HasSubstr("row 5, column hvn_cidr: account '123456789012', region 'us-east-1', VPC "
                        "'vpc-0000000c': hvn_cidr"));
  EXPECT_THAT(refusal({{"spoke_routes", "10.1.0.0/16, 10.2.0.0/33"}}),
              HasSubstr("row 5, column spoke_routes: "));
  EXPECT_THAT(refusal({{"vpc_id", "VPC-1"}}), HasSubstr("row 5, column vpc_id: "));
  EXPECT_THAT(refusal({{"vpc_id", ""}}), HasSubstr("row 5, column vpc_id: "))
      << "a VPC without its identifier";
  EXPECT_THAT(refusal({{"region", "US-EAST-1"}}), HasSubstr("row 5, column region: "));
  EXPECT_THAT(refusal({{"inspection", true}, {"hvn_cidr", "bad"}, {"region", "nowhere"}}),
              HasSubstr("row 5, column region: "))
      << "the first column in the model's order";

  // Account columns are the same in every row of an account, so its first row is named.
  const std::string unnamed = message_of<ovra::ValidationError>([] {
    (void)accounts_of(
        {row(2, ACCOUNT_A, "us-east-1", "vpc-0000000a"),
         row(3, ACCOUNT_B, "us-east-1", "vpc-0000000b", {{"account_name", ""}}),
         row(4, ACCOUNT_B, "us-east-1", "vpc-0000000c", {{"account_name", ""}})});
  });
  EXPECT_THAT(
      unnamed,
      HasSubstr("row 3, column account_name: account '123456789012': account_name: missing"));

  const Value sized = accounts_of(
      {row(8, ACCOUNT_A, "us-east-1", "vpc-0000000a", {{"spoke_gw_size", 3}})});
  EXPECT_EQ(sized["account_info"][0]["spoke_gw_size"], 3)
      << "a number cell is passed on as a number";

  const std::string without_account = message_of<ovra::ValidationError>(
      [] { (void)accounts_of({row(6, "", "", "")}); });
  EXPECT_THAT(without_account, HasSubstr("row 6, column account_id: "));
}

TEST(AccountRecords, AccountNumbersThatLostLeadingZerosAreRefusedNotChanged) {
  const std::string message = message_of<ValueError>([] {
    (void)accounts_of({row(2, ACCOUNT_A, "us-east-1", "vpc-0000000a"),
                                           row(3, "12345678901", "us-east-1", "vpc-0000000b")});
  });
  EXPECT_THAT(
      message,
      HasSubstr("row 3, column account_id: account number 12345678901 has 11 digits, not 12"));
  EXPECT_THAT(message, HasSubstr("(012345678901 if only zeros were lost)"));

  EXPECT_THAT(message_of<ovra::ValidationError>([] {
                (void)accounts_of(
                    {row(2, "1234567890123", "us-east-1", "vpc-0000000a")});
              }),
              HasSubstr("row 2, column account_id: "));
  EXPECT_THAT(message_of<ovra::ValidationError>([] {
                (void)accounts_of(
                    {row(2, "01234567890x", "us-east-1", "vpc-0000000a")});
              }),
              HasSubstr("row 2, column account_id: "));
}

TEST(AccountRecords, RegionsAreNotTrimmedSoABlankMakesAnotherRegion) {
  EXPECT_THAT(
      message_of<ovra::ValidationError>([] {
        (void)accounts_of({row(2, ACCOUNT_A, "us-east-1", "vpc-0000000a"),
                                               row(3, ACCOUNT_A, "us-east-1 ", "vpc-0000000b")});
      }),
      HasSubstr("row 3, column region: account '012345678901', region 'us-east-1 '"));
}

}  // namespace
}  // namespace generator::convert
