#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>

#include "generator/common/errors.hpp"
#include "serializers/yaml/yaml.hpp"

namespace serializers {
namespace {

namespace fs = std::filesystem;

TEST(YamlWriter, WritesTheReferenceMappingByteForByte) {
  Document data = Document::object();
  data["name"] = "spoke";
  data["enabled"] = true;
  data["count"] = 3;
  data["note"] = nullptr;
  data["items"] = {"subnet", "dev"};
  data["tags"] = Document::array({Document{{"key", "Name"}, {"value", "dev"}}});
  data["empty_list"] = Document::array();
  EXPECT_EQ(dump_yaml(data),
            "name: \"spoke\"\n"
            "enabled: true\n"
            "count: 3\n"
            "note: null\n"
            "items:\n"
            "  - \"subnet\"\n"
            "  - \"dev\"\n"
            "tags:\n"
            "  - key: \"Name\"\n"
            "    value: \"dev\"\n"
            "empty_list: []\n");
}

TEST(YamlWriter, NestsMappingsAndSequencesTwoColumnsDeeper) {
  const Document data = Document::parse(
      R"({"z": {"b": {"c": [1, [2, [3]], {"x": {}, "y": [{"k": []}]}]}}, "a": [[], {}], "e": {}})");
  EXPECT_EQ(dump_yaml(data),
            "z:\n"
            "  b:\n"
            "    c:\n"
            "      - 1\n"
            "      - - 2\n"
            "        - - 3\n"
            "      - x: {}\n"
            "        y:\n"
            "          - k: []\n"
            "a:\n"
            "  - []\n"
            "  - {}\n"
            "e: {}\n");
  EXPECT_EQ(dump_yaml(Document::object()), "{}\n");
}

TEST(YamlWriter, StringsAreAlwaysQuotedAndOtherScalarsBare) {
  const Document data{
      {"t", "true"},  {"n", "123"}, {"z", "null"},
      {"e", ""},      {"b", true},  {"i", 123},
      {"x", nullptr}, {"neg", -7},  {"big", std::numeric_limits<std::uint64_t>::max()}};
  EXPECT_EQ(dump_yaml(data),
            "t: \"true\"\nn: \"123\"\nz: \"null\"\ne: \"\"\nb: true\ni: 123\nx: null\nneg: -7\n"
            "big: 18446744073709551615\n");
  EXPECT_EQ(parse_yaml(dump_yaml(data), "t"), data);
}

TEST(YamlWriter, EscapesEverythingOutsidePrintableAsciiWithUpperCaseHex) {
  const std::string text =
      std::string("line\nnext\ttab \"q\" \\ ") + std::string(1, '\0') +
      "\x07\x08\x0B\x0C\r\x1B\x7F\x01 \xC3\xA9 \xC2\x85 \xC2\xA0 \xE2\x80\xA8 \xE2\x80\xA9 "
      "\xE2\x82\xAC \xEF\xBB\xBF \xF0\x9F\x98\x80";
  const std::string written = dump_yaml(Document{{"s", text}});
  EXPECT_EQ(written,
            "s: \"line\\nnext\\ttab \\\"q\\\" \\\\ \\0\\a\\b\\v\\f\\r\\e\\x7F\\x01 \\xE9 \\N \\_ "
            "\\L \\P \\u20AC "
            "\\uFEFF \\U0001F600\"\n");
  EXPECT_EQ(parse_yaml(written, "t")["s"], Document(text));
}

TEST(YamlWriter, KeysArePlainOnlyWhenTheyReadBackAsTheSameString) {
  Document data = Document::object();
  for (const char* key :
       {"plain_key", "with space", "a/b.c-d", "yes", "123", "null", "", "a: b", "- x", "<<", "=",
        "#c", "2024-05-01", "1.5", "trailing ", "line\nbreak"}) {
    data[key] = 1;
  }
  const std::string written = dump_yaml(data);
  EXPECT_NE(written.find("\nwith space: 1\n"), std::string::npos) << written;
  EXPECT_NE(written.find("\na/b.c-d: 1\n"), std::string::npos) << written;
  EXPECT_NE(written.find("\n\"yes\": 1\n"), std::string::npos) << written;
  EXPECT_NE(written.find("\n\"<<\": 1\n"), std::string::npos) << written;
  EXPECT_NE(written.find("\n\"line\\nbreak\": 1\n"), std::string::npos) << written;
  EXPECT_EQ(written.rfind("plain_key: 1\n", 0), 0u) << written;
  EXPECT_EQ(parse_yaml(written, "t"), data);
}

TEST(YamlWriter, LongKeysUseTheExplicitForm) {
  const std::string key(300, 'k');
  const Document data{{key, {{"a", 1}, {"b", {1, 2}}}}, {"short", 1}};
  const std::string written = dump_yaml(data);
  EXPECT_EQ(written, "? \"" + key + "\"\n: a: 1\n  b:\n    - 1\n    - 2\nshort: 1\n");
  EXPECT_EQ(parse_yaml(written, "t"), data);
}

TEST(YamlWriter, FloatsReadBackAsTheSameNumber) {
  for (double value :
       {0.0, -0.0, 1.0, 0.1, 1e20, 1e-5, 123456789.125, 1e300, -2.5e-300,
        std::numeric_limits<double>::max(), std::numeric_limits<double>::denorm_min()}) {
    const Document read = parse_yaml(dump_yaml(Document{{"f", value}}), "t")["f"];
    ASSERT_TRUE(read.is_number_float()) << value;
    EXPECT_EQ(read.get<double>(), value);
    EXPECT_EQ(std::signbit(read.get<double>()), std::signbit(value));
  }
  EXPECT_EQ(dump_yaml(Document{{"a", 1e20}, {"b", 3.0}}), "a: 1.0e+20\nb: 3.0\n");
  const double infinity = std::numeric_limits<double>::infinity();
  EXPECT_EQ(dump_yaml(Document{{"a", infinity}, {"b", -infinity}, {"c", std::nan("")}}),
            "a: .inf\nb: -.inf\nc: .nan\n");
}

TEST(YamlWriter, TimestampsAreWrittenBackExactlyAsRead) {
  const std::string text =
      "d: 2024-05-01\nt: 2001-12-14 21:59:43.10 -5\nu: 2001-12-14t21:59:43.10-05:00\n";
  EXPECT_EQ(dump_yaml(parse_yaml(text, "t")), text);
  EXPECT_EQ(dump_yaml(Document{{"d", make_timestamp("2024-05-01")}}), "d: 2024-05-01\n");
  EXPECT_THROW(dump_yaml(Document{{"d", Document::binary({1, 2})}}), TypeError);
}

TEST(YamlWriter, RefusesWhatCannotBeWrittenFaithfully) {
  EXPECT_THROW(dump_yaml(Document{{"s", "bad \xC3("}}), ValueError);
  EXPECT_THROW(dump_yaml(Document{{"bad \xFF", 1}}), ValueError);
  EXPECT_THROW(dump_yaml(Document{{"s", "\xED\xA0\x80"}}), ValueError);  // a UTF-16 surrogate
  Document deep = 1;
  for (std::size_t level = 0; level < MAX_NESTING_DEPTH; ++level) deep = Document::array({deep});
  EXPECT_THROW(dump_yaml(Document{{"deep", deep}}), ValueError);
  Document at_limit = 1;
  for (std::size_t level = 1; level < MAX_NESTING_DEPTH; ++level)
    at_limit = Document::array({at_limit});
  const std::string written = dump_yaml(Document{{"deep", at_limit}});
  EXPECT_EQ(parse_yaml(written, "t")["deep"], at_limit);
}

class YamlExport : public ::testing::Test {
 protected:
  void SetUp() override {
    directory_ = fs::path(TEST_SCRATCH_DIR) / "yaml_writer" /
                 ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(directory_);
    fs::create_directories(directory_);
  }
  static std::string read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  fs::path directory_;
};

TEST_F(YamlExport, WritesTheFileAndReadsItBack) {
  const fs::path target = directory_ / "out.yaml";
  const Document data{
      {"account_info", {{{"account_id", "012345678901"}, {"regions", Document::array()}}}}};
  export_to_yaml(data, target);
  EXPECT_EQ(read(target), "account_info:\n  - account_id: \"012345678901\"\n    regions: []\n");
  EXPECT_EQ(load_from_yaml(target), data);
  export_to_yaml(Document::object(), target);
  EXPECT_EQ(read(target), "{}\n");
}

TEST_F(YamlExport, RefusesANonMappingBeforeTouchingTheFile) {
  const fs::path target = directory_ / "out.yaml";
  for (const Document& data : {Document::array({1}), Document(nullptr), Document("x")}) {
    try {
      export_to_yaml(data, target);
      FAIL();
    } catch (const TypeError& error) {
      EXPECT_NE(std::string(error.what()).find("data"), std::string::npos);
    }
  }
  EXPECT_FALSE(fs::exists(target));
}

TEST_F(YamlExport, AFailureLeavesTheOldFileAsItWas) {
  const fs::path target = directory_ / "out.yaml";
  export_to_yaml(Document{{"a", 1}}, target);
  EXPECT_THROW(export_to_yaml(Document{{"a", "bad \xFF"}}, target), ValueError);
  EXPECT_EQ(read(target), "a: 1\n");
  EXPECT_THROW(export_to_yaml(Document{{"a", 2}}, directory_ / "missing" / "out.yaml"), OSError);
  EXPECT_EQ(std::distance(fs::directory_iterator(directory_), fs::directory_iterator()), 1);
}

// A list written item by item is the file the whole document would have made, appears only when
// finished, and a failure on the way is told at the end with the old file left as it was.
TEST_F(YamlExport, AListWrittenItemByItemIsTheWholeDocumentsFile) {
  const fs::path target = directory_ / "out.yaml";
  const std::vector<Document> items{
      Document{{"account_id", "012345678901"}, {"regions", Document::array({Document::object()})}},
      Document::array({1, Document::array()}), Document("text"), Document::object()};
  std::string previous;
  for (std::size_t count = 0; count <= items.size(); ++count) {
    auto list = export_list_to_yaml(target, "account_info");
    Document whole{{"account_info", Document::array()}};
    for (std::size_t i = 0; i < count; ++i) {
      list->append(items[i]);
      whole["account_info"].push_back(items[i]);
    }
    EXPECT_EQ(read(target), previous) << "the old file until finished";
    list->finish();
    previous = read(target);
    EXPECT_EQ(previous, dump_yaml(whole)) << count << " items";
  }
  // Into a mapping: the list in the key's place, or after the mapping's entries.
  for (const Document& frame :
       {Document{{"before", 1}, {"account_info", "replaced"}, {"after", {{"a", true}}}},
        Document{{"config", {{"configure_gw_name", false}}}}}) {
    for (std::size_t count : {0, 2}) {
      auto list = export_list_to_yaml(target, "account_info", frame);
      Document whole = frame;
      whole["account_info"] = Document::array();
      for (std::size_t i = 0; i < count; ++i) {
        list->append(items[i]);
        whole["account_info"].push_back(items[i]);
      }
      list->finish();
      EXPECT_EQ(read(target), dump_yaml(whole)) << frame.dump() << ", " << count << " items";
    }
  }
  const std::string finished = read(target);
  {
    auto dropped = export_list_to_yaml(target, "account_info");
    dropped->append(items[0]);
  }
  auto failing = export_list_to_yaml(target, "account_info");
  failing->append(items[0]);
  failing->append(Document("bad \xFF"));
  failing->append(items[1]);
  EXPECT_THROW(failing->finish(), ValueError);
  EXPECT_EQ(read(target), finished);
  EXPECT_EQ(std::distance(fs::directory_iterator(directory_), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace serializers
