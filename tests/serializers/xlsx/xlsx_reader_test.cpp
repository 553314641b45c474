#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "serializers/xlsx/dates.hpp"
#include "serializers/xlsx/reader.hpp"
#include "serializers/xlsx/table.hpp"
#include "serializers/xlsx/xlsx.hpp"
#include "serializers/xlsx/xml.hpp"
#include "zip_builder.hpp"

namespace serializers {
namespace {

using xlsx_test::workbook_parts;
using xlsx_test::write_zip;

const std::filesystem::path FIXTURES =
    std::filesystem::path(TEST_SOURCE_DIR) / "serializers/xlsx/fixtures";

Converters account_id_as_text() { return {{"account_id", &to_text}}; }

// The three records both fixtures hold, read with the system's conversion of account_id.
void expect_fixture_records(const Document& records) {
  ASSERT_TRUE(records.is_array());
  ASSERT_EQ(records.size(), 3u) << "the empty row between the first two records gives no record";
  const Document& first = records[0];
  const std::vector<std::string> headers{"account_id", "account_name", "hpe",     "managed_tgw",
                                         "region",     "vpc_id",       "created", "count",
                                         "ratio",      "note"};
  std::vector<std::string> keys;
  for (const auto& [key, value] : first.items()) keys.push_back(key);
  EXPECT_EQ(keys, headers);

  EXPECT_EQ(first["account_id"], "012345678901");
  EXPECT_EQ(records[1]["account_id"], "123456789012")
      << "a number cell is written without a fraction";
  EXPECT_EQ(records[2]["account_id"], "000000000042");

  EXPECT_EQ(first["account_name"], "Prod");
  EXPECT_EQ(records[2]["account_name"], "=not a formula");

  EXPECT_EQ(first["hpe"], true);
  EXPECT_EQ(records[1]["hpe"], false);
  EXPECT_EQ(first["managed_tgw"], false);
  EXPECT_EQ(records[1]["managed_tgw"], "")
      << "an empty cell in a boolean column stays the empty text";
  EXPECT_EQ(records[2]["managed_tgw"], true);

  ASSERT_TRUE(is_date(first["created"]));
  EXPECT_EQ(date_text(first["created"]), "2024-05-01 00:00:00");
  ASSERT_TRUE(is_date(records[1]["created"]));
  EXPECT_EQ(date_text(records[1]["created"]), "2024-05-01 13:45:30");
  EXPECT_EQ(records[2]["created"], "");

  EXPECT_EQ(first["count"], 3);
  EXPECT_TRUE(first["count"].is_number_integer());
  EXPECT_TRUE(first["ratio"].is_number_float());
  EXPECT_EQ(first["ratio"], 0.5);
  EXPECT_EQ(records[1]["ratio"], "");
  EXPECT_EQ(records[2]["ratio"], 1.25);

  EXPECT_EQ(first["note"], "") << "NULL is a missing-value marker";
  EXPECT_EQ(records[1]["note"], "Null") << "markers match case-sensitively";
  EXPECT_EQ(records[2]["note"], "yes");
}

TEST(XlsxFixtures, OpenpyxlWorkbookWithInlineStringsAndAbsoluteTargets) {
  expect_fixture_records(load_from_xlsx(FIXTURES / "openpyxl.xlsx", account_id_as_text()));
}

TEST(XlsxFixtures, LibreOfficeWorkbookWithSharedStringsAndRichText) {
  expect_fixture_records(load_from_xlsx(FIXTURES / "libreoffice.xlsx", account_id_as_text()));
}

TEST(XlsxFixtures, WithoutConversionAccountNumbersBecomeNumbersAndLoseTheirZeros) {
  for (const char* name : {"openpyxl.xlsx", "libreoffice.xlsx"}) {
    const Document records = load_from_xlsx(FIXTURES / name);
    ASSERT_EQ(records.size(), 3u) << name;
    EXPECT_EQ(records[0]["account_id"], 12345678901) << name;
    EXPECT_EQ(records[1]["account_id"], 123456789012) << name;
    EXPECT_EQ(records[2]["account_id"], 42) << name;
  }
}

// The rows of a sheet as a reader of its own gets them, one at a time.
struct CollectedRows : SheetRows {
  std::string name;
  std::vector<std::pair<std::uint32_t, std::vector<SheetCell>>> rows;
  void sheet(std::string_view sheet_name) override { name = sheet_name; }
  void row(std::uint32_t number, std::vector<SheetCell>& cells) override {
    rows.emplace_back(number, cells);
  }
};

TEST(XlsxFixtures, RowsAreHandedOverWithTheNumberTheSpreadsheetShows) {
  for (const char* name : {"openpyxl.xlsx", "libreoffice.xlsx"}) {
    CollectedRows collected;
    load_from_xlsx(FIXTURES / name, collected);
    std::vector<std::uint32_t> numbers;
    for (const auto& [number, cells] : collected.rows) numbers.push_back(number);
    EXPECT_EQ(numbers, (std::vector<std::uint32_t>{1, 2, 4, 5}))
        << name << ": row 3 is empty and is not handed over";
    EXPECT_EQ(collected.rows[0].second.size(), 10u) << name;
    EXPECT_EQ(collected.rows[1].second.back().value, "NULL") << name << ": cells as read";
  }
}

TEST(XlsxFixtures, FirstSheetIsFoundThroughTheWorkbookNotByName) {
  EXPECT_EQ(xlsx_detail::read_first_sheet(FIXTURES / "openpyxl.xlsx").name, "Discovery");
  EXPECT_EQ(xlsx_detail::read_first_sheet(FIXTURES / "libreoffice.xlsx").name, "Accounts");
}

class XlsxCrafted : public ::testing::Test {
 protected:
  std::filesystem::path write(const std::vector<xlsx_test::Part>& parts) {
    const auto path =
        xlsx_test::scratch_folder(::testing::UnitTest::GetInstance()->current_test_info()->name()) /
        "crafted.xlsx";
    write_zip(path, parts);
    return path;
  }
};

TEST_F(XlsxCrafted, SharedStringRunsAreJoinedAndPhoneticRunsSkipped) {
  const auto path = write(workbook_parts(
      R"(<row r="1"><c r="A1" t="s"><v>0</v></c><c r="B1" t="s"><v>1</v></c></row>)"
      R"(<row r="2"><c r="A2" t="s"><v>2</v></c><c r="B2" t="s"><v>3</v></c></row>)",
      R"(<si><t>city</t></si><si><t>escaped</t></si>)"
      R"(<si><r><rPr><b/></rPr><t>Tok</t></r><r><t xml:space="preserve">yo </t></r><rPh sb="0" eb="1"><t>トウキョウ</t></rPh><phoneticPr fontId="1"/></si>)"
      R"(<si><t>a_x000D_b_x005F_x0041_ _xD83D__xDE00_ _x00e9_</t></si>)"));
  const Document records = load_from_xlsx(path);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0]["city"], "Tokyo ");
  EXPECT_EQ(records[0]["escaped"], "a\rb_x0041_ \U0001F600 \u00e9");
}

TEST_F(XlsxCrafted, RowsFollowGapsAndAnErrorCellAloneStillMakesARow) {
  const auto path = write(
      workbook_parts(R"(<row r="1"><c r="A1" t="inlineStr"><is><t>name</t></is></c></row>)"
                     R"(<row r="3"><c r="A3" t="inlineStr"><is><t>first</t></is></c></row>)"
                     R"(<row r="9"><c r="A9" t="e"><v>#N/A</v></c></row>)"
                     R"(<row r="1000"><c r="B1000"><v>2</v></c><c r="A1000" t="inlineStr"><is><t>last</t></is></c>)"
                     R"(<c r="B1000"><v>3</v></c></row>)",
                     ""));
  CollectedRows collected;
  load_from_xlsx(path, collected);
  EXPECT_EQ(collected.name, "Data");
  ASSERT_EQ(collected.rows.size(), 4u);
  EXPECT_EQ(collected.rows[1].first, 3u);
  EXPECT_EQ(collected.rows[2].first, 9u);
  ASSERT_EQ(collected.rows[2].second.size(), 1u);
  EXPECT_TRUE(collected.rows[2].second[0].value.is_null());
  EXPECT_EQ(collected.rows[2].second[0].error, "#N/A") << "the error the cell shows is kept";
  EXPECT_EQ(collected.rows[3].first, 1000u);
  const auto& last = collected.rows[3].second;
  ASSERT_EQ(last.size(), 2u) << "in column order, a cell written twice once";
  EXPECT_EQ(last[0].value, "last");
  EXPECT_EQ(last[1].value, 3) << "a cell written twice keeps its last value";
  EXPECT_EQ(load_from_xlsx(path), (Document{{{"name", "first"}, {"Unnamed: 1", ""}},
                                           {{"name", ""}, {"Unnamed: 1", ""}},
                                           {{"name", "last"}, {"Unnamed: 1", 3.0}}}));
}

TEST_F(XlsxCrafted, EveryCellType) {
  const auto path = write(workbook_parts(
      R"(<row r="1"><c r="A1" t="inlineStr"><is><r><t>in</t></r><r><t>line</t></r></is></c>)"
      R"(<c r="B1" t="inlineStr"><is><t>formula</t></is></c><c r="C1" t="inlineStr"><is><t>error</t></is></c>)"
      R"(<c r="D1" t="inlineStr"><is><t>iso</t></is></c><c r="E1" t="inlineStr"><is><t>serial</t></is></c>)"
      R"(<c r="F1" t="inlineStr"><is><t>custom</t></is></c><c r="G1" t="inlineStr"><is><t>plain</t></is></c>)"
      R"(<c r="H1" t="inlineStr"><is><t>iso time</t></is></c><c r="I1" t="inlineStr"><is><t>clock</t></is></c></row>)"
      R"(<row r="2"><c r="A2" t="inlineStr"><is><t>x</t></is></c><c r="B2" t="str"><f>CONCAT("a","b")</f><v>ab</v></c>)"
      R"(<c r="C2" t="e"><f>1/0</f><v>#DIV/0!</v></c><c r="D2" t="d"><v>2024-02-29T08:30:00Z</v></c>)"
      R"(<c r="E2" s="1"><v>45351.25</v></c><c r="F2" s="2"><v>1</v></c><c r="G2" s="3"><v>1.5E+3</v></c>)"
      R"(<c r="H2" t="d"><v>10:10:10</v></c><c r="I2" s="4"><v>45351.4237268519</v></c></row>)",
      "",
      R"(<numFmts count="3"><numFmt numFmtId="164" formatCode="[$-409]d\-mmm\-yy;@"/>)"
      R"(<numFmt numFmtId="165" formatCode="&quot;days: &quot;0.00"/><numFmt numFmtId="166" formatCode="hh:mm:ss"/></numFmts>)"
      R"(<cellXfs count="5"><xf numFmtId="0"/><xf numFmtId="22"/><xf numFmtId="164"/><xf numFmtId="165"/><xf numFmtId="166"/></cellXfs>)"));
  const Document records = load_from_xlsx(path);
  ASSERT_EQ(records.size(), 1u);
  const Document& row = records[0];
  EXPECT_EQ(row["inline"], "x");
  EXPECT_EQ(row["formula"], "ab") << "the cached result of a formula is its value";
  EXPECT_EQ(row["error"], "") << "an error cell is a missing value";
  ASSERT_TRUE(is_date(row["iso"]));
  EXPECT_EQ(date_text(row["iso"]), "2024-02-29 08:30:00");
  ASSERT_TRUE(is_date(row["serial"]));
  EXPECT_EQ(date_text(row["serial"]), "2024-02-29 06:00:00");
  ASSERT_TRUE(is_date(row["custom"]));
  EXPECT_EQ(date_text(row["custom"]), "1900-01-01 00:00:00");
  EXPECT_EQ(row["plain"], 1500) << "a quoted word in a number format does not make it a date";
  ASSERT_TRUE(is_date(row["iso time"]));
  EXPECT_EQ(date_text(row["iso time"]), "10:10:10") << "an ISO time alone is the time it shows";
  ASSERT_TRUE(is_date(row["clock"]));
  EXPECT_EQ(date_text(row["clock"]), "10:10:10") << "a time format shows the time of day alone";
}

TEST_F(XlsxCrafted, PartNamesWithBackslashesReadAsWithSlashes) {
  auto parts = workbook_parts(
      R"(<row r="1"><c r="A1" t="s"><v>0</v></c></row><row r="2"><c r="A2"><v>7</v></c></row>)",
      "<si><t>count</t></si>");
  for (auto& part : parts)
    if (part.name.starts_with("xl/")) std::replace(part.name.begin(), part.name.end(), '/', '\\');
  EXPECT_EQ(load_from_xlsx(write(parts)), (Document{{{"count", 7}}}));
}

TEST_F(XlsxCrafted, Dates1904AndTheYear1900Leap) {
  const std::string formats = R"(<cellXfs><xf numFmtId="0"/><xf numFmtId="14"/></cellXfs>)";
  const auto path1904 = write(workbook_parts(
      R"(<row r="1"><c r="A1" t="inlineStr"><is><t>d</t></is></c></row><row r="2"><c r="A2" s="1"><v>0</v></c></row>)",
      "", formats, R"(<workbookPr date1904="1"/>)"));
  EXPECT_EQ(date_text(load_from_xlsx(path1904)[0]["d"]), "1904-01-01 00:00:00");

  using xlsx_detail::DateSystem;
  using xlsx_detail::serial_to_date_text;
  EXPECT_EQ(serial_to_date_text(59, DateSystem::FROM_1900), "1900-02-28 00:00:00");
  EXPECT_EQ(serial_to_date_text(61, DateSystem::FROM_1900), "1900-03-01 00:00:00");
  EXPECT_EQ(serial_to_date_text(45413.5732638889, DateSystem::FROM_1900), "2024-05-01 13:45:30");
  EXPECT_EQ(serial_to_date_text(0.5000115740740741, DateSystem::FROM_1900), "1899-12-30 12:00:01");
  EXPECT_EQ(serial_to_date_text(-1, DateSystem::FROM_1900), std::nullopt);
  EXPECT_EQ(serial_to_date_text(2958466, DateSystem::FROM_1900), std::nullopt);
  EXPECT_EQ(serial_to_date_text(2958465.9999, DateSystem::FROM_1900), "9999-12-31 23:59:51.36");
}

TEST_F(XlsxCrafted, CellsWithoutReferencesFollowTheirNeighbours) {
  const auto path = write(workbook_parts(
      R"(<row><c t="inlineStr"><is><t>a</t></is></c><c t="inlineStr"><is><t>b</t></is></c></row>)"
      R"(<row><c><v>1</v></c><c t="b"><v>1</v></c></row><row><c r="B3" t="b"><v>0</v></c></row>)"));
  const Document records = load_from_xlsx(path);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0], (Document{{"a", 1.0}, {"b", true}}))
      << "a missing value makes a number column float";
  EXPECT_EQ(records[1], (Document{{"a", ""}, {"b", false}}));
}

TEST_F(XlsxCrafted, HeadersMissingOrRepeatedAreNamedApart) {
  const auto path = write(workbook_parts(
      R"(<row r="1"><c r="A1" t="inlineStr"><is><t>x</t></is></c><c r="C1" t="inlineStr"><is><t>x</t></is></c>)"
      R"(<c r="D1"><v>2024</v></c></row><row r="2"><c r="B2"><v>7</v></c><c r="E2" t="inlineStr"><is><t>far</t></is></c></row>)"));
  const Document records = load_from_xlsx(path);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].dump(), R"({"x":"","Unnamed: 1":7,"x.1":"","2024":"","Unnamed: 4":"far"})");
}

TEST_F(XlsxCrafted, HeaderOnlyAndEmptySheetsGiveNoRecords) {
  EXPECT_EQ(load_from_xlsx(write(workbook_parts(
                R"(<row r="1"><c r="A1" t="inlineStr"><is><t>a</t></is></c></row>)"))),
            Document::array());
  EXPECT_EQ(load_from_xlsx(write(workbook_parts(""))), Document::array());
}

TEST_F(XlsxCrafted, BrokenCellsNameTheCell) {
  const auto expect_error = [&](const std::string& sheet_data, const std::string& shared,
                                const std::string& needle) {
    const auto path = write(workbook_parts(sheet_data, shared));
    try {
      load_from_xlsx(path);
      ADD_FAILURE() << "no error for " << sheet_data;
    } catch (const XLSXError& error) {
      EXPECT_NE(std::string(error.what()).find(needle), std::string::npos) << error.what();
      EXPECT_NE(std::string(error.what()).find(path.string()), std::string::npos) << error.what();
    }
  };
  expect_error(R"(<row r="1"><c r="B7" t="s"><v>3</v></c></row>)", "<si><t>only</t></si>",
               "cell B7 refers to shared string '3'");
  expect_error(R"(<row r="1"><c r="C2" t="b"><v>maybe</v></c></row>)", "",
               "cell C2 holds an unreadable boolean");
  expect_error(R"(<row r="1"><c r="A1"><v>12abc</v></c></row>)", "",
               "cell A1 holds an unreadable number");
  expect_error(R"(<row r="1"><c r="A1" t="q"><v>1</v></c></row>)", "", "unknown type 'q'");
  expect_error(R"(<row r="1"><c r="XFE1"><v>1</v></c></row>)", "", "invalid cell reference 'XFE1'");
  expect_error(R"(<row r="1"><c r="A0"><v>1</v></c></row>)", "", "invalid cell reference 'A0'");
  expect_error(R"(<row r="1048577"><c><v>1</v></c></row>)", "", "row number '1048577' is invalid");
}

TEST(XlsxTyping, ColumnRules) {
  using xlsx_detail::build_table;
  using xlsx_detail::RawSheet;
  RawSheet sheet{"s", {}};
  const std::vector<std::vector<Document>> columns{
      {"numbers_as_text", "7", "-2.5", "1e3"}, {"boolean_words", "TRUE", false, "false"},
      {"yes_no", "yes", "no", "yes"},          {"mixed", true, 1, "x"},
      {"all_missing", "NaN", nullptr, "#N/A"}, {"integers", 1, "+2", 3},
      {"big", "99999999999999999999", 1, 2},
  };
  for (std::uint32_t column = 0; column < columns.size(); ++column) {
    for (std::uint32_t row = 0; row < columns[column].size(); ++row) {
      sheet.cells.push_back({row + 1, column + 1, columns[column][row]});
    }
  }
  std::sort(sheet.cells.begin(), sheet.cells.end(), [](const auto& a, const auto& b) {
    return std::tie(a.row, a.column) < std::tie(b.row, b.column);
  });
  const Document records = build_table(sheet, {}, "t.xlsx");
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0]["numbers_as_text"], 7.0);
  EXPECT_TRUE(records[0]["numbers_as_text"].is_number_float());
  EXPECT_EQ(records[2]["numbers_as_text"], 1000.0);
  EXPECT_EQ(records[0]["boolean_words"], true);
  EXPECT_EQ(records[1]["boolean_words"], false);
  EXPECT_EQ(records[0]["yes_no"], "yes");
  EXPECT_EQ(records[0]["mixed"], true);
  EXPECT_EQ(records[1]["mixed"], 1);
  EXPECT_EQ(records[2]["mixed"], "x");
  for (const auto& record : records) EXPECT_EQ(record["all_missing"], "");
  EXPECT_EQ(records[1]["integers"], 2);
  EXPECT_TRUE(records[1]["integers"].is_number_integer());
  EXPECT_TRUE(records[0]["big"].is_number_float())
      << "digits beyond a 64-bit integer read as a float";
}

TEST(XlsxTyping, ConvertedColumnsKeepTheConversion) {
  xlsx_detail::RawSheet sheet{
      "s", {{1, 1, "account_id"}, {2, 1, 12345678901.0}, {3, 1, "NULL"}, {4, 1, true}}};
  const Document records = xlsx_detail::build_table(sheet, {{"account_id", &to_text}}, "t.xlsx");
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0]["account_id"], "12345678901");
  EXPECT_EQ(records[1]["account_id"], "");
  EXPECT_EQ(records[2]["account_id"], "True");
}

TEST(XlsxText, ToTextAndColumnNames) {
  EXPECT_EQ(to_text(12345678901.0), "12345678901");
  EXPECT_EQ(to_text(1e20), "100000000000000000000");
  EXPECT_EQ(to_text(0.1), "0.1");
  EXPECT_EQ(to_text(-7), "-7");
  EXPECT_EQ(to_text(Document::array({"10.0.0.0/8", "192.168.0.0/16"})),
            "['10.0.0.0/8', '192.168.0.0/16']");
  EXPECT_EQ(to_text(Document::array()), "[]");
  EXPECT_EQ(to_text(make_date("2024-05-01 00:00:00")), "2024-05-01 00:00:00");
  EXPECT_THROW(to_text(Document::binary({1, 2})), TypeError);
  EXPECT_THROW(make_date("2024-02-30 00:00:00"), ValueError);
  for (const auto& [number, name] :
       std::vector<std::pair<std::size_t, std::string>>{{1, "A"},
                                                        {26, "Z"},
                                                        {27, "AA"},
                                                        {28, "AB"},
                                                        {52, "AZ"},
                                                        {53, "BA"},
                                                        {703, "AAA"},
                                                        {16384, "XFD"}}) {
    EXPECT_EQ(column_name(number), name);
    EXPECT_EQ(xlsx_detail::parse_cell_reference(name + "9", "t.xlsx").first, number);
  }
}

TEST(XlsxPackage, TargetsResolveRelativeAndAbsolute) {
  using xlsx_detail::resolve_target;
  EXPECT_EQ(resolve_target("xl/workbook.xml", "worksheets/sheet1.xml", "t"),
            "xl/worksheets/sheet1.xml");
  EXPECT_EQ(resolve_target("xl/workbook.xml", "/xl/worksheets/sheet1.xml", "t"),
            "xl/worksheets/sheet1.xml");
  EXPECT_EQ(resolve_target("xl/workbook.xml", "./../xl/my%20sheet.xml", "t"), "xl/my sheet.xml");
  EXPECT_EQ(resolve_target("", "xl/workbook.xml", "t"), "xl/workbook.xml");
  EXPECT_THROW(resolve_target("xl/workbook.xml", "../../etc/passwd", "t"), XLSXError);
}

TEST(XlsxPackage, WhatNumberFormatsShow) {
  using xlsx_detail::NumberShown;
  using xlsx_detail::shown_by_format_code;
  EXPECT_EQ(shown_by_format_code("yyyy\\-mm\\-dd"), NumberShown::date);
  EXPECT_EQ(shown_by_format_code("[h]:mm"), NumberShown::date) << "elapsed time";
  EXPECT_EQ(shown_by_format_code("[$-F800]dddd, mmmm dd, yyyy"), NumberShown::date);
  EXPECT_EQ(shown_by_format_code("mmm"), NumberShown::date) << "m alone is the month";
  EXPECT_EQ(shown_by_format_code("[$-F400]h:mm:ss\\ AM/PM"), NumberShown::time_of_day);
  EXPECT_EQ(shown_by_format_code("mm:ss.0"), NumberShown::time_of_day);
  EXPECT_EQ(shown_by_format_code("General"), NumberShown::number);
  EXPECT_EQ(shown_by_format_code("\"TRUE\";\"TRUE\";\"FALSE\""), NumberShown::number);
  EXPECT_EQ(shown_by_format_code("[Red]#,##0.00_);\\(#,##0.00\\)"), NumberShown::number);
  EXPECT_EQ(shown_by_format_code("0.00\\m"), NumberShown::number);
  EXPECT_EQ(xlsx_detail::shown_by_format_id(21), NumberShown::time_of_day);
  EXPECT_EQ(xlsx_detail::shown_by_format_id(22), NumberShown::date);
}

}  // namespace
}  // namespace serializers
