#include "generator/convert/field_formatters.hpp"

#include <gtest/gtest.h>

#include "generator/common/errors.hpp"
#include "serializers/xlsx/xlsx.hpp"

namespace generator::convert {
namespace {

Value texts(std::initializer_list<const char*> items) {
  Value list = Value::array();
  for (const char* item : items) list.push_back(item);
  return list;
}

TEST(BoolFormatter, ReadsTheUsualYesNoWordsInAnyCase) {
  for (const char* word : {"true", "TRUE", "True", "yes", "Y", "on", "1", " yes "})
    EXPECT_TRUE(_bool(Value(word))) << word;
  for (const char* word : {"false", "FALSE", "no", "No", "n", "OFF", "0"})
    EXPECT_FALSE(_bool(Value(word))) << word;
  EXPECT_TRUE(_bool(Value(true)));
  EXPECT_FALSE(_bool(Value(false)));
  EXPECT_FALSE(_bool(Value(0)));
  EXPECT_TRUE(_bool(Value(1)));
  EXPECT_FALSE(_bool(Value(0.0)));
}

TEST(BoolFormatter, RefusesWordsItCannotRead) {
  for (const char* word : {"nope", "maybe", "", "tru"})
    EXPECT_THROW(_bool(Value(word)), ValueError) << word;
}

TEST(ListFormatter, SplitsOnlyAtCommaBlankAndStripsBracketsAndQuotes) {
  const auto& format = FIELD_FORMATTERS().at("gw_zones");
  EXPECT_EQ(format(Value("x, y, z")), texts({"x", "y", "z"}));
  EXPECT_EQ(format(Value("a,b")), texts({"a,b"}));
  EXPECT_EQ(format(Value("a , b")), texts({"a ", "b"}));
  EXPECT_EQ(format(Value("a,  b")), texts({"a", " b"}));
  EXPECT_EQ(format(Value("[]")), Value::array());
  EXPECT_EQ(format(Value("a, ")), texts({"a"}));
  EXPECT_EQ(format(Value("['x']")), texts({"x"}));
  EXPECT_EQ(format(Value("[\"x\"]")), texts({"\"x\""}));
  EXPECT_EQ(format(Value("['10.0.0.0/8', '192.168.0.0/16']")),
            texts({"10.0.0.0/8", "192.168.0.0/16"}));
  EXPECT_EQ(format(Value("")), Value::array());
  EXPECT_THROW(format(Value(3)), TypeError);
  EXPECT_THROW(format(Value(true)), TypeError);
}

TEST(TagFormatter, ReadsKeyValuePairs) {
  const auto tag = [](const char* key, const char* value) {
    return Value{{"key", key}, {"value", value}};
  };
  EXPECT_EQ(parse_spoke_gw_tags(Value("Name=web,env=prod")),
            (Value{tag("Name", "web"), tag("env", "prod")}));
  EXPECT_EQ(parse_spoke_gw_tags(Value("Name=web, env=prod")),
            (Value{tag("Name", "web"), tag(" env", "prod")}));
  EXPECT_EQ(parse_spoke_gw_tags(Value("a=1,,b=2,")), (Value{tag("a", "1"), tag("b", "2")}));
  EXPECT_EQ(parse_spoke_gw_tags(Value("=x")), (Value{tag("", "x")}));
  EXPECT_EQ(parse_spoke_gw_tags(Value("k=")), (Value{tag("k", "")}));
  EXPECT_EQ(parse_spoke_gw_tags(Value("")), Value::array());
  EXPECT_THROW(parse_spoke_gw_tags(Value("k")), ValueError);
  EXPECT_THROW(parse_spoke_gw_tags(Value("k=v=w")), ValueError);
  EXPECT_THROW(parse_spoke_gw_tags(Value(5)), TypeError);
}

TEST(FieldFormatters, CoverTheBooleanListAndTagColumns) {
  std::vector<std::string> columns;
  for (const auto& [column, formatter] : FIELD_FORMATTERS()) columns.push_back(column);
  EXPECT_EQ(columns,
            (std::vector<std::string>{"encrypt", "filter_cidrs", "gw_zones", "hpe", "inspection",
                                      "managed_tgw", "spoke_gw_tags", "spoke_routes"}));
  EXPECT_EQ(FIELD_FORMATTERS().at("encrypt")(Value("no")), Value(false));
}

TEST(ShownCell, DatesAndTimesAreShownAsTheSpreadsheetShowsThem) {
  EXPECT_EQ(shown_cell(serializers::make_date("2024-05-01 00:00:00")), "the date 2024-05-01");
  EXPECT_EQ(shown_cell(serializers::make_date("2024-05-01 13:45:00")),
            "the date 2024-05-01 13:45:00");
  EXPECT_EQ(shown_cell(serializers::make_date("10:10:10")), "the time 10:10:10");
  EXPECT_EQ(shown_cell(Value(3)), "the number 3");
}

}  // namespace
}  // namespace generator::convert
