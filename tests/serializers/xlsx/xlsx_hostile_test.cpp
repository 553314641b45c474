#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "serializers/xlsx/xlsx.hpp"
#include "zip_builder.hpp"

namespace serializers {
namespace {

using xlsx_test::Part;
using xlsx_test::workbook_parts;
using xlsx_test::write_zip;

const std::filesystem::path FIXTURES =
    std::filesystem::path(TEST_SOURCE_DIR) / "serializers/xlsx/fixtures";

std::filesystem::path scratch() {
  return xlsx_test::scratch_folder(::testing::UnitTest::GetInstance()->current_test_info()->name());
}

std::string read_bytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_bytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// Reading `path` fails with an XLSXError whose message names the file and contains `needle`.
void expect_refused(const std::filesystem::path& path, const std::string& needle) {
  try {
    load_from_xlsx(path);
    ADD_FAILURE() << "no error for " << path;
  } catch (const XLSXError& error) {
    const std::string message = error.what();
    EXPECT_NE(message.find(path.string()), std::string::npos) << message;
    EXPECT_NE(message.find(needle), std::string::npos) << message;
  }
}

TEST(XlsxHostile, MissingFileDirectoryAndNonWorkbooks) {
  const auto folder = scratch();
  EXPECT_THROW(load_from_xlsx(folder / "absent.xlsx"), FileNotFoundError);
  EXPECT_THROW(load_from_xlsx(folder), OSError);

  write_bytes(folder / "text.xlsx", "account_id,region\n1,us-east-1\n");
  expect_refused(folder / "text.xlsx", "not a zip archive");
  write_bytes(folder / "empty.xlsx", "");
  expect_refused(folder / "empty.xlsx", "not");

  write_zip(folder / "plain.xlsx", {{"notes.txt", "hello"}});
  expect_refused(folder / "plain.xlsx", "it has no workbook part");

  const std::string rel_ns = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
  write_zip(
      folder / "document.xlsx",
      {{"_rels/.rels",
        "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
        "<Relationship Id=\"rId1\" Type=\"" +
            rel_ns +
            "/officeDocument\" Target=\"word/document.xml\"/>"
            "</Relationships>"},
       {"word/document.xml",
        "<document xmlns=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\"/>"}});
  expect_refused(folder / "document.xlsx", "its main part is not a spreadsheet");
}

TEST(XlsxHostile, PackagesThatAreNoZipArchiveOrNameAPartTwiceSayWhy) {
  const auto folder = scratch();
  // A workbook saved with a password is an encrypted package inside a compound file; so is a
  // workbook of Excel 97-2003, without the encrypted package.
  write_bytes(folder / "locked.xlsx",
              xlsx_test::compound_file({u"EncryptionInfo", u"EncryptedPackage"}));
  expect_refused(folder / "locked.xlsx", "is password-protected: save it without a password first");
  write_bytes(folder / "old.xlsx", xlsx_test::compound_file({u"Workbook"}));
  expect_refused(folder / "old.xlsx", "is not a workbook: it is an older binary file");

  // Two entries of one name (here with a control character in it): the second entry's name is
  // made the first's in the archive's bytes.
  auto parts = workbook_parts("");
  parts.push_back({"xl/dup\x01" "a.xml", "<x/>"});
  parts.push_back({"xl/dup\x01" "b.xml", "<x/>"});
  write_zip(folder / "twice.xlsx", parts);
  std::string bytes = read_bytes(folder / "twice.xlsx");
  const std::string second = "xl/dup\x01" "b.xml";
  for (std::size_t at = bytes.find(second); at != std::string::npos; at = bytes.find(second, at))
    bytes.replace(at, second.size(), "xl/dup\x01" "a.xml");
  write_bytes(folder / "twice.xlsx", bytes);
  try {
    load_from_xlsx(folder / "twice.xlsx");
    ADD_FAILURE() << "no error for a part named twice";
  } catch (const XLSXError& error) {
    EXPECT_EQ(std::string(error.what()),
              "'" + (folder / "twice.xlsx").string() +
                  "' is not a readable workbook: it holds the part 'xl/dup\\x01a.xml' twice");
  }
}

TEST(XlsxHostile, TruncatedAndCorruptArchives) {
  const auto folder = scratch();
  const std::string whole = read_bytes(FIXTURES / "libreoffice.xlsx");

  write_bytes(folder / "truncated.xlsx", whole.substr(0, whole.size() / 2));
  expect_refused(folder / "truncated.xlsx", "");

  // Damage the compressed bytes of every part but keep the archive's directory intact.
  std::string damaged = whole;
  for (std::size_t at = 200; at < damaged.size() / 2; at += 97)
    damaged[at] = static_cast<char>(damaged[at] ^ 0x5A);
  write_bytes(folder / "damaged.xlsx", damaged);
  expect_refused(folder / "damaged.xlsx", "");
}

TEST(XlsxHostile, EntityExpansionIsRefused) {
  const auto folder = scratch();
  const std::string laughs =
      "<?xml version=\"1.0\"?><!DOCTYPE worksheet [<!ENTITY a \"hahahahahahahahahaha\">"
      "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\"><!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">"
      "<!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\"><!ENTITY e \"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\">"
      "<!ENTITY f \"&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;\"><!ENTITY g "
      "\"&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;\">]>";
  auto parts = workbook_parts("", "<si><t>x</t></si>");
  parts[3].content =
      laughs +
      "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
      "<sheetData><row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>&g;</t></is></c></row>"
      "</sheetData></worksheet>";
  write_zip(folder / "laughs.xlsx", parts);
  expect_refused(folder / "laughs.xlsx", "document type declaration");

  auto external = workbook_parts("", "<si><t>&x;</t></si>");
  external[4].content =
      "<!DOCTYPE sst [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>" + external[4].content;
  write_zip(folder / "external.xlsx", external);
  expect_refused(folder / "external.xlsx", "document type declaration");
}

TEST(XlsxHostile, MalformedXmlNamesThePart) {
  const auto folder = scratch();
  auto parts = workbook_parts("<row r=\"1\"><c r=\"A1\"><v>1</v></row>");
  write_zip(folder / "malformed.xlsx", parts);
  expect_refused(folder / "malformed.xlsx", "part xl/worksheets/sheet1.xml");
  expect_refused(folder / "malformed.xlsx", "not well-formed XML");
}

TEST(XlsxHostile, OversizedPartsAreRefusedBeforeTheyAreRead) {
  const auto folder = scratch();
  // Seventeen megabytes of blanks compress to a few kilobytes: a small zip bomb.
  auto parts = workbook_parts("<row r=\"1\"><c r=\"A1\" s=\"0\"><v>1</v></c></row>", "",
                              "<cellXfs><xf numFmtId=\"0\"/></cellXfs>");
  parts.back().content.insert(parts.back().content.size() - std::string("</styleSheet>").size(),
                              17u << 20, ' ');
  write_zip(folder / "bomb.xlsx", parts);
  ASSERT_LT(std::filesystem::file_size(folder / "bomb.xlsx"), 200'000u);
  expect_refused(folder / "bomb.xlsx", "too large");
}

TEST(XlsxHostile, SparseSheetsCannotBlowUpTheTable) {
  const auto folder = scratch();
  // One header far to the right and a few hundred one-cell rows: a small file, a huge table.
  std::string rows = "<row r=\"1\"><c r=\"XFD1\"><v>1</v></c></row>";
  for (int row = 2; row <= 400; ++row) {
    rows += "<row r=\"" + std::to_string(row) + "\"><c r=\"A" + std::to_string(row) +
            "\"><v>1</v></c></row>";
  }
  write_zip(folder / "sparse.xlsx", workbook_parts(rows));
  expect_refused(folder / "sparse.xlsx", "cells");
}

TEST(XlsxHostile, RowsOutOfOrderAreRefused) {
  const auto folder = scratch();
  write_zip(folder / "backwards.xlsx",
            workbook_parts("<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>"
                           "<row r=\"3\"><c r=\"A3\"><v>1</v></c></row>"
                           "<row r=\"2\"><c r=\"A2\"><v>1</v></c></row>"));
  expect_refused(folder / "backwards.xlsx",
                 "cell A2 comes after row 3; the rows of a sheet must come in the order");
}

TEST(XlsxHostile, PartsOutsideThePackageAreRefused) {
  const auto folder = scratch();
  auto parts = workbook_parts("");
  parts[2].content =
      "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
      "<Relationship Id=\"rId1\" "
      "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet\" "
      "Target=\"../../../etc/passwd\"/></Relationships>";
  write_zip(folder / "escape.xlsx", parts);
  expect_refused(folder / "escape.xlsx", "outside the package");
}

}  // namespace
}  // namespace serializers
