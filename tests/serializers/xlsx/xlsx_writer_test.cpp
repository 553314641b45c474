#include <gtest/gtest.h>
#include <sys/resource.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "serializers/export/export.hpp"
#include "serializers/load/load.hpp"
#include "serializers/xlsx/xlsx.hpp"
#include "zip_builder.hpp"

namespace serializers {
namespace {

const std::string OPENPYXL_READER =
    std::string(TEST_SOURCE_DIR) + "/serializers/xlsx/read_with_openpyxl.py";

std::filesystem::path scratch() {
  return xlsx_test::scratch_folder(::testing::UnitTest::GetInstance()->current_test_info()->name());
}

struct CommandResult {
  int status;
  std::string output;
};

CommandResult run(const std::string& command) {
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  if (!pipe) return {-1, ""};
  std::string output;
  std::array<char, 4096> buffer{};
  while (const auto count = std::fread(buffer.data(), 1, buffer.size(), pipe.get()))
    output.append(buffer.data(), count);
  return {pclose(pipe.release()), output};
}

// What openpyxl, an independent reader, sees in the workbook.
Document read_with_openpyxl(const std::filesystem::path& path) {
  const auto result = run("/usr/bin/python3 '" + OPENPYXL_READER + "' '" + path.string() + "'");
  EXPECT_EQ(result.status, 0) << result.output;
  return Document::parse(result.output);
}

std::string read_bytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Only the named files are in the folder: no temporary file was left behind.
std::vector<std::string> files_in(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(XlsxWriter, LayoutSeenByOpenpyxl) {
  const auto path = scratch() / "layout.xlsx";
  const Document rows =
      Document::array({{{"one", "a"}, {"two", "b"}, {"three", "c"}},
                       {{"one", "d"}, {"two", "e"}, {"three", "f"}, {"four", "g"}},
                       {{"one", "h"}, {"two", "i"}, {"three", "j"}}});
  export_to_xlsx(rows, path);
  const Document seen = read_with_openpyxl(path);
  EXPECT_EQ(seen["sheets"], Document::array({"Sheet1"}));
  const auto& cells = seen["rows"];
  ASSERT_EQ(cells.size(), 4u);
  std::vector<std::string> header;
  for (const auto& cell : cells[0]) header.push_back(cell["value"]);
  EXPECT_EQ(header, (std::vector<std::string>{"one", "two", "three", "four"}));
  EXPECT_EQ(cells[2][3]["value"], "g");
  EXPECT_EQ(cells[1][3]["type"], "empty") << "a record without a key leaves that cell empty";
  // The first record's three columns have width 20 (stored with the font's padding), the fourth
  // keeps the default.
  for (const char* letter : {"A", "B", "C"}) {
    ASSERT_TRUE(seen["widths"].contains(letter)) << letter;
    EXPECT_GE(seen["widths"][letter].get<double>(), DEFAULT_COL_WIDTH);
    EXPECT_LT(seen["widths"][letter].get<double>(), DEFAULT_COL_WIDTH + 1);
  }
  EXPECT_FALSE(seen["widths"].contains("D"));
  EXPECT_EQ(seen["freeze"], "A2");
  EXPECT_EQ(seen["filter"], "A1:D4");
  EXPECT_EQ(seen["bold_header"], true);
}

TEST(XlsxWriter, CellKindsSeenByOpenpyxlAndReadBack) {
  const auto path = scratch() / "kinds.xlsx";
  const std::vector<std::pair<std::string, Document>> cells{
      {"formula", "=1+1"},
      {"hyperlink", "=HYPERLINK(\"http://example.com\",\"x\")"},
      {"at", "@SUM(A1)"},
      {"plus", "+1"},
      {"yes", true},
      {"no", false},
      {"integer", 42},
      {"float", 2.5},
      {"null", nullptr},
      {"empty", ""},
      {"list", Document::array({"10.0.0.0/8", "192.168.0.0/16"})},
      {"empty_list", Document::array()},
      {"escape_lookalike", "_x0041_x0042_ _x005F_"},
      // NUL too: a C string would end there, and the cell would hold less than the other outputs.
      {"control", std::string("a\x01\0b\tc", 6)},
      {"unicode", "Z\u00fcrich \u6771\u4eac \U0001F600"},
      {"huge", std::int64_t{1} << 60},
  };
  Document record = Document::object();
  for (const auto& [key, value] : cells) record[key] = value;
  export_to_xlsx(Document::array({record}), path);

  const Document seen = read_with_openpyxl(path);
  const auto& row = seen["rows"][1];
  const auto cell = [&](const std::string& key) {
    for (std::size_t column = 0; column < cells.size(); ++column) {
      if (cells[column].first == key) return row[column];
    }
    return Document();
  };
  for (const char* key : {"formula", "hyperlink", "at", "plus"}) {
    EXPECT_EQ(cell(key)["type"], "text") << key << " must be a text cell, never a formula";
    EXPECT_EQ(cell(key)["value"], record[key]) << key;
  }
  EXPECT_EQ(cell("yes"), (Document{{"type", "bool"}, {"value", true}}));
  EXPECT_EQ(cell("no"), (Document{{"type", "bool"}, {"value", false}}));
  EXPECT_EQ(cell("integer")["value"], 42);
  EXPECT_EQ(cell("float")["value"], 2.5);
  EXPECT_EQ(cell("null")["type"], "empty");
  EXPECT_EQ(cell("empty")["type"], "empty");
  EXPECT_EQ(cell("list")["value"], "['10.0.0.0/8', '192.168.0.0/16']");
  EXPECT_EQ(cell("empty_list")["value"], "[]");
  EXPECT_EQ(cell("unicode")["value"], record["unicode"]);
  EXPECT_EQ(cell("huge")["value"], "1152921504606846976")
      << "digits a spreadsheet number would round";

  const Document back = load_from_xlsx(path);
  ASSERT_EQ(back.size(), 1u);
  for (const char* key : {"formula", "hyperlink", "at", "escape_lookalike", "control", "unicode"}) {
    EXPECT_EQ(back[0][key], record[key]) << key;
  }
  EXPECT_EQ(back[0]["plus"], 1) << "a text that reads as a number makes a number column";
  EXPECT_EQ(back[0]["yes"], true);
  EXPECT_EQ(back[0]["no"], false);
  EXPECT_EQ(back[0]["null"], "");
  EXPECT_EQ(back[0]["empty"], "");
  EXPECT_EQ(back[0]["list"], "['10.0.0.0/8', '192.168.0.0/16']");
  EXPECT_EQ(back[0]["huge"], std::int64_t{1} << 60);
}

// Rows shaped as the discovery workbook's.
Document discovery_rows() {
  const auto row = [](const char* account_id, const char* account_name, Document hpe,
                      const char* region, const char* vpc_id, Document hvn_cidr,
                      const char* domain = "") {
    return Document{{"account_id", account_id},
                    {"account_name", account_name},
                    {"hpe", std::move(hpe)},
                    {"managed_tgw", false},
                    {"filter_cidrs", Document::array({"10.0.0.0/8"})},
                    {"spoke_gw_size", "t3.small"},
                    {"role_name", "halvane-role"},
                    {"region", region},
                    {"vpc_id", vpc_id},
                    {"vpc_cidrs", "10.0.0.0/16,100.64.0.0/16"},
                    {"hvn_cidr", std::move(hvn_cidr)},
                    {"gw_zones", nullptr},
                    {"spoke_gw_tags", ""},
                    {"domain", domain},
                    {"encrypt", true},
                    {"inspection", nullptr},
                    {"spoke_advertisement", ""},
                    {"spoke_routes", ""},
                    {"spoke_gw_name", "=cmd|' /C calc'!A0"},
                    {"transit_gw_name", "transit-1"}};
  };
  return Document::array(
      {row("012345678901", "Prod", true, "us-east-1", "vpc-1", "10.0.255.128/25"),
       row("012345678901", "Prod", true, "us-west-2", "vpc-2", ""),
       row("210987654321", "", nullptr, "eu-west-1", "vpc-3", "10.1.0.0/27",
           "_x0041_x0042_ _x005F_.example")});
}

TEST(XlsxWriter, DiscoveryRowsReadBackToTheSameRecords) {
  const auto path = scratch() / "discovery.xlsx";
  const Document rows = discovery_rows();
  export_to_xlsx(rows, path);
  const Document back = load_from_xlsx(path, {{"account_id", &to_text}});

  Document expected = rows;
  for (auto& record : expected) {
    for (auto& [key, value] : record.items()) {
      if (value.is_null())
        value = "";
      else if (value.is_array())
        value = to_text(value);
    }
  }
  EXPECT_EQ(back, expected);
}

TEST(XlsxWriter, RefusedDataLeavesTheFileUntouched) {
  const auto folder = scratch();
  const auto path = folder / "kept.xlsx";
  export_to_xlsx(discovery_rows(), path);
  const std::string before = read_bytes(path);

  EXPECT_THROW(export_to_xlsx(Document::array(), path), IndexError);
  EXPECT_THROW(export_to_xlsx(Document{{"account_id", "1"}}, path), TypeError);
  EXPECT_THROW(export_to_xlsx(nullptr, path), TypeError);
  EXPECT_THROW(export_to_xlsx(Document::array({{{"a", 1}}, "row"}), path), TypeError);
  EXPECT_THROW(export_to_xlsx(Document::array({{{"a", std::nan("")}}}), path), ValueError);

  Document bad_text = discovery_rows();
  bad_text[1]["vpc_id"] = "vpc-\xff\xfe";
  try {
    export_to_xlsx(bad_text, path);
    ADD_FAILURE() << "invalid UTF-8 was written";
  } catch (const ValueError& error) {
    EXPECT_NE(std::string(error.what()).find("row 3, column 'vpc_id' (I)"), std::string::npos)
        << error.what();
    EXPECT_NE(std::string(error.what()).find("UTF-8"), std::string::npos) << error.what();
  }
  EXPECT_THROW(export_to_xlsx(Document::array({{{"bad\xc3", 1}}}), path), ValueError);
  EXPECT_THROW(export_to_xlsx(Document::array({{{"long", std::string(32'768, 'x')}}}), path),
               ValueError);

  // Rows handed over one by one: none, a column the first row does not have, or an export dropped
  // before it is finished leave the file as it was too.
  EXPECT_THROW(open_xlsx_row_export(path)->finish(), IndexError);
  {
    const auto rows = open_xlsx_row_export(path);
    rows->append(discovery_rows()[0]);
    EXPECT_THROW(rows->append(Document{{"account_id", "1"}, {"surprise", "x"}}), ValueError);
    EXPECT_THROW(rows->append(Document::array()), TypeError);
    rows->append(discovery_rows()[1]);
  }
  EXPECT_EQ(read_bytes(path), before);
  EXPECT_EQ(files_in(folder), std::vector<std::string>{"kept.xlsx"});

  // Finished, they make the workbook that export_to_xlsx makes of the same rows.
  const auto rows = open_xlsx_row_export(folder / "streamed.xlsx");
  for (const auto& row : discovery_rows()) rows->append(row);
  rows->finish();
  export_to_xlsx(discovery_rows(), folder / "whole.xlsx");
  EXPECT_EQ(read_with_openpyxl(folder / "streamed.xlsx"), read_with_openpyxl(folder / "whole.xlsx"));
}

TEST(XlsxWriter, ReplacesAnExistingFileAndFailsOnAMissingFolder) {
  const auto folder = scratch();
  const auto path = folder / "out.xlsx";
  std::ofstream(path) << "old contents";
  export_to_xlsx(Document::array({{{"a", "new"}}}), path);
  EXPECT_EQ(load_from_xlsx(path), Document::array({{{"a", "new"}}}));
  EXPECT_EQ(files_in(folder), std::vector<std::string>{"out.xlsx"});

  EXPECT_THROW(export_to_xlsx(Document::array({{{"a", 1}}}), folder / "missing" / "out.xlsx"),
               OSError);
  EXPECT_FALSE(std::filesystem::exists(folder / "missing"));

  // A file size limit makes the writes fail part-way as a full disk does; the message names the
  // file and the system's reason, not the zip library's error code.
  rlimit original{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &original), 0);
  const auto previous_handler = ::signal(SIGXFSZ, SIG_IGN);
  rlimit small = original;
  small.rlim_cur = 2048;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  std::string message = "(no error)";
  try {
    export_to_xlsx(discovery_rows(), path);
  } catch (const OSError& error) {
    message = error.what();
  }
  ::setrlimit(RLIMIT_FSIZE, &original);
  ::signal(SIGXFSZ, previous_handler);
  EXPECT_NE(message.find("Cannot write workbook " + path.string()), std::string::npos) << message;
  EXPECT_NE(message.find(std::strerror(EFBIG)), std::string::npos) << message;
  EXPECT_EQ(load_from_xlsx(path), Document::array({{{"a", "new"}}}));
  EXPECT_EQ(files_in(folder), std::vector<std::string>{"out.xlsx"});
}

TEST(XlsxRegistration, EnteredOnceUnderXlsx) {
  register_xlsx_serializers();
  EXPECT_EQ(Loaders::guess("out/Discovery.XLSX"), static_cast<Loader>(&load_from_xlsx));
  EXPECT_EQ(Exporters::guess("discovery.xlsx"), &export_to_xlsx);
  EXPECT_THROW(register_xlsx_serializers(), LoaderError);

  const auto folder = scratch();
  export_to_xlsx(Document::array({{{"a", 1}}}), folder / "rows.xlsx");
  EXPECT_THROW(load_from_path(folder / "rows.xlsx"), TypeError)
      << "a list of rows is not a mapping";
  EXPECT_THROW(export_to_path(Document{{"a", 1}}, folder / "mapping.xlsx"), TypeError);
  EXPECT_FALSE(std::filesystem::exists(folder / "mapping.xlsx"));
}

TEST(XlsxLibreOffice, ConvertsOurWorkbookWithoutComplaint) {
  if (run("command -v soffice >/dev/null 2>&1").status != 0)
    GTEST_SKIP() << "LibreOffice (soffice) is not installed";
  const auto folder = scratch();
  const auto path = folder / "discovery.xlsx";
  export_to_xlsx(discovery_rows(), path);
  const auto result =
      run("cd '" + folder.string() + "' && timeout 300 soffice -env:UserInstallation=file://" +
          folder.string() + "/profile --headless --convert-to csv --outdir '" + folder.string() +
          "/csv' '" + path.string() + "' 2>&1");
  ASSERT_EQ(result.status, 0) << result.output;
  const std::string csv = read_bytes(folder / "csv" / "discovery.csv");
  const auto first_line_end = csv.find('\n');
  ASSERT_NE(first_line_end, std::string::npos) << result.output;
  EXPECT_EQ(csv.substr(0, first_line_end),
            "account_id,account_name,hpe,managed_tgw,filter_cidrs,spoke_gw_size,role_name,region,"
            "vpc_id,vpc_cidrs,"
            "hvn_cidr,gw_zones,spoke_gw_tags,domain,encrypt,inspection,spoke_advertisement,spoke_"
            "routes,spoke_gw_name,"
            "transit_gw_name");
  EXPECT_NE(
      csv.find(
          "012345678901,Prod,TRUE,FALSE,['10.0.0.0/8'],t3.small,halvane-role,us-east-1,vpc-1,"
          "\"10.0.0.0/16,100.64.0.0/16\",10.0.255.128/25,,,,TRUE,,,,=cmd|' /C calc'!A0,transit-1"),
      std::string::npos)
      << csv;
  EXPECT_NE(csv.find(",_x0041_x0042_ _x005F_.example,"), std::string::npos)
      << "a text that looks like an escape\n"
      << csv;
}

}  // namespace
}  // namespace serializers
