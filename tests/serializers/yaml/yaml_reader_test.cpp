#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <fstream>
#include <string>

#include "generator/common/errors.hpp"
#include "serializers/yaml/yaml.hpp"

namespace serializers {
namespace {

namespace fs = std::filesystem;

Document value_of(const std::string& scalar) {
  return parse_yaml("v: " + scalar + "\n", "test.yaml")["v"];
}

std::string error_of(const std::string& text) {
  try {
    parse_yaml(text, "in.yaml");
  } catch (const YAMLError& error) {
    return error.what();
  }
  return "(no error)";
}

TEST(YamlReader, PlainScalarsAreTypedByTheYaml11Rules) {
  for (const char* word : {"yes", "Yes", "YES", "true", "True", "TRUE", "on", "On", "ON"}) {
    EXPECT_EQ(value_of(word), Document(true)) << word;
  }
  for (const char* word : {"no", "No", "NO", "false", "False", "FALSE", "off", "Off", "OFF"}) {
    EXPECT_EQ(value_of(word), Document(false)) << word;
  }
  for (const char* word : {"~", "null", "Null", "NULL", ""})
    EXPECT_TRUE(value_of(word).is_null()) << word;
  const std::pair<const char*, std::int64_t> integers[] = {{"0", 0},
                                                           {"-42", -42},
                                                           {"+12", 12},
                                                           {"1_000", 1000},
                                                           {"012345670123", 01234567'0123},
                                                           {"0x1F", 31},
                                                           {"-0x1f", -31},
                                                           {"0b1010", 10},
                                                           {"0b1_0", 2},
                                                           {"190:20:30", 685230},
                                                           {"010", 8},
                                                           {"1__", 1},
                                                           {"9223372036854775807", INT64_MAX},
                                                           {"-9223372036854775808", INT64_MIN}};
  for (const auto& [text, expected] : integers) {
    const Document value = value_of(text);
    EXPECT_TRUE(value.is_number_integer()) << text;
    EXPECT_EQ(value, Document(expected)) << text;
  }
  EXPECT_EQ(value_of("18446744073709551615"), Document(UINT64_MAX));
  const std::pair<const char*, double> floats[] = {{"1.5", 1.5},
                                                   {"1.", 1.0},
                                                   {".5", 0.5},
                                                   {"-1_0.25", -10.25},
                                                   {"1.0e+3", 1000.0},
                                                   {"6.8523015e-5", 6.8523015e-5},
                                                   {"190:20:30.15", 685230.15},
                                                   {".inf", INFINITY},
                                                   {"-.Inf", -INFINITY},
                                                   {"+.INF", INFINITY}};
  for (const auto& [text, expected] : floats) {
    const Document value = value_of(text);
    EXPECT_TRUE(value.is_number_float()) << text;
    EXPECT_DOUBLE_EQ(value.get<double>(), expected) << text;
  }
  for (const char* text : {".nan", ".NaN", ".NAN"})
    EXPECT_TRUE(std::isnan(value_of(text).get<double>())) << text;
  // Forms that other YAML versions or loose readers treat as numbers or booleans stay strings here.
  for (const char* text :
       {"0o17", "08", "1e5", "-.5", "y", "n", "=", "<<", "0x", "1:60", "12:30:45x"}) {
    const Document value = value_of(text);
    EXPECT_TRUE(value.is_string()) << text << " gave " << value.dump();
    EXPECT_EQ(value, Document(text));
  }
}

TEST(YamlReader, QuotedAndBlockScalarsAreAlwaysStrings) {
  const Document document = parse_yaml(
      "a: \"yes\"\nb: '123'\nc: \"\"\nd: |\n  true\ne: >-\n  null\nf: '2024-05-01'\ng: "
      "\"\\x41\\u00e9\\U0001F600\"\n",
      "t");
  EXPECT_EQ(document, (Document{{"a", "yes"},
                                {"b", "123"},
                                {"c", ""},
                                {"d", "true\n"},
                                {"e", "null"},
                                {"f", "2024-05-01"},
                                {"g", "A\xC3\xA9\xF0\x9F\x98\x80"}}));
}

TEST(YamlReader, ExplicitTagsOfTheSafeSchemaAreApplied) {
  EXPECT_EQ(value_of("!!str yes"), Document("yes"));
  EXPECT_EQ(value_of("!!str 012"), Document("012"));
  EXPECT_EQ(value_of("! 12"), Document("12"));
  EXPECT_EQ(value_of("!!int '12'"), Document(12));
  EXPECT_EQ(value_of("!!float 1"), Document(1.0));
  EXPECT_EQ(value_of("!!bool \"on\""), Document(true));
  EXPECT_TRUE(value_of("!!null whatever").is_null());
  EXPECT_EQ(parse_yaml("!!map {a: !!seq [1]}", "t"), (Document{{"a", {1}}}));
  EXPECT_NE(error_of("v: !!int abc").find("in.yaml: line 1, column 4"), std::string::npos);
  EXPECT_NE(error_of("a: 1\nv: !custom x\n")
                .find("in.yaml: line 2, column 4: the tag !custom is not supported"),
            std::string::npos)
      << error_of("a: 1\nv: !custom x\n");
  EXPECT_NE(error_of("v: !!python/object:os.system x").find("not supported"), std::string::npos);
  EXPECT_NE(error_of("v: !!binary aGk=").find("not supported"), std::string::npos);
  EXPECT_NE(error_of("v: !!map [1]").find("not supported on a sequence"), std::string::npos);
}

TEST(YamlReader, DatesAndTimestampsKeepTheirExactText) {
  for (const char* text :
       {"2024-05-01", "2001-12-14t21:59:43.10-05:00", "2001-12-14 21:59:43.10 -5",
        "2001-12-15T02:59:43.1Z", "2002-12-14", "2001-2-3 4:05:06", "2024-02-29 10:00:00",
        // A fraction of a second longer than any integer.
        "2001-12-14t21:59:43.1011111111111111111111111111111111-05:00"}) {
    const Document value = value_of(text);
    ASSERT_TRUE(is_timestamp(value)) << text;
    EXPECT_EQ(timestamp_text(value), text);
  }
  EXPECT_TRUE(is_timestamp(value_of("!!timestamp '2024-05-01'")));
  EXPECT_EQ(value_of("2024-5-1"), Document("2024-5-1"));
  EXPECT_NE(error_of("v: 2023-02-29").find("line 1, column 4"), std::string::npos);
  EXPECT_NE(error_of("v: 2024-13-01").find("not a real date"), std::string::npos);
  EXPECT_THROW(make_timestamp("yesterday"), ValueError);
  EXPECT_THROW(timestamp_text(Document("2024-05-01")), TypeError);
}

TEST(YamlReader, AnchorsAliasesAndMergeKeysAreResolved) {
  const Document document = parse_yaml(
      "base: &base {a: 1, b: 2}\n"
      "extra: &extra {b: 20, c: 30}\n"
      "one:\n  <<: *base\n  b: 3\n"
      "both:\n  <<: [*base, *extra]\n  d: 4\n"
      "list: &list [x, y]\n"
      "copy: *list\n"
      "&key k: v\n"
      "other: {*key : w}\n"
      "quoted: {\"<<\": 1}\n",
      "t");
  EXPECT_EQ(document["one"], (Document{{"a", 1}, {"b", 3}}));
  // The first mapping of a merge list wins over later ones; the mapping's own keys win over all.
  EXPECT_EQ(document["both"]["b"], Document(2));
  EXPECT_EQ(document["both"]["c"], Document(30));
  EXPECT_EQ(document["both"]["d"], Document(4));
  EXPECT_EQ(document["copy"], (Document{"x", "y"}));
  EXPECT_EQ(document["k"], Document("v"));
  EXPECT_EQ(document["quoted"], (Document{{"<<", 1}}));
  EXPECT_EQ(document["other"], (Document{{"k", "w"}}));
}

TEST(YamlReader, BadStructureIsAnErrorWithSourceLineAndColumn) {
  EXPECT_NE(error_of("a: [1, 2\n").find("in.yaml: line 2, column 1"), std::string::npos)
      << error_of("a: [1, 2\n");
  EXPECT_NE(error_of("a: 1\n---\nb: 2\n").find("line 2, column 1: expected a single document"),
            std::string::npos);
  EXPECT_NE(error_of("a: 1\nb: 2\na: 3\n").find("line 3, column 1: duplicate key \"a\""),
            std::string::npos);
  EXPECT_NE(error_of("a: *nothing\n").find("undefined alias *nothing"), std::string::npos);
  EXPECT_NE(error_of("a: &x 1\nb: &x 2\n").find("duplicate anchor &x"), std::string::npos);
  EXPECT_NE(error_of("a: &x [*x]\n").find("contains it"), std::string::npos);
  EXPECT_NE(error_of("? [a, b]\n: 1\n").find("must be a scalar"), std::string::npos);
  EXPECT_NE(error_of("a: {<<: 1}\n").find("merge key"), std::string::npos);
  EXPECT_NE(error_of("a: 99999999999999999999\n").find("out of range"), std::string::npos);
  EXPECT_NE(error_of("a: \"\\xC3\"\xff\n").find("in.yaml"), std::string::npos);
}

TEST(YamlReader, KeysAreTheKeyScalarsTextAndOrderIsKept) {
  const Document document = parse_yaml("z: 1\n1: 2\nyes: 3\n~: 4\n'q': 5\na: 6\n", "t");
  std::vector<std::string> keys;
  for (const auto& [key, value] : document.items()) keys.push_back(key);
  EXPECT_EQ(keys, (std::vector<std::string>{"z", "1", "yes", "~", "q", "a"}));
}

TEST(YamlReader, EmptyDocumentsAreNullAndOtherTopLevelsComeBackAsTheyAre) {
  EXPECT_TRUE(parse_yaml("", "t").is_null());
  EXPECT_TRUE(parse_yaml("# only a comment\n", "t").is_null());
  EXPECT_TRUE(parse_yaml("---\n...\n", "t").is_null());
  EXPECT_EQ(parse_yaml("- a\n- 1\n", "t"), (Document{"a", 1}));
  EXPECT_EQ(parse_yaml("\xEF\xBB\xBF"
                       "a: 1\n",
                       "t"),
            (Document{{"a", 1}}));
}

TEST(YamlReader, AStreamedListHandsItsItemsOverAndHoldsOnlyTheRest) {
  std::vector<Document> items;
  const ListItemHandler keep = [&](Document item) { items.push_back(std::move(item)); };
  EXPECT_EQ(stream_yaml_list_text("a: 1\nlist:\n  - &x {n: 1}\n  - *x\nb: [2]\n", "s.yaml", "list",
                                  keep),
            (Document{{"a", 1}, {"list", Document::array()}, {"b", {2}}}))
      << "the list's place is kept";
  EXPECT_EQ(items, (std::vector<Document>{{{"n", 1}}, {{"n", 1}}}));
  items.clear();
  // A list that arrives through an alias is handed over once the document is read.
  (void)stream_yaml_list_text("base: &l [1, 2]\nlist: *l\n", "s.yaml", "list", keep);
  EXPECT_EQ(items, (std::vector<Document>{1, 2}));

  // Many items beyond the bound of what is held at once are read; one item beyond it is not.
  const std::string item = "  - \"" + std::string(1u << 20, 'x') + "\"\n";
  std::string many = "list:\n";
  for (int count = 0; count < 10; ++count) many += item;
  std::size_t handed = 0;
  (void)stream_yaml_list_text(many, "s.yaml", "list", [&](Document) { ++handed; });
  EXPECT_EQ(handed, 10u);
  EXPECT_THROW(parse_yaml(many, "s.yaml"), YAMLError) << "read whole, the same text is too much";
  EXPECT_THROW((void)stream_yaml_list_text("other:\n" + many.substr(6), "s.yaml", "list", keep),
               YAMLError);
  EXPECT_THROW((void)stream_yaml_list_text("- 1\n", "s.yaml", "list", keep), TypeError);
}

TEST(YamlReader, HostileInputEndsQuicklyWithAClearError) {
  std::string bomb =
      "a: &a [\"lol\",\"lol\",\"lol\",\"lol\",\"lol\",\"lol\",\"lol\",\"lol\",\"lol\"]\n";
  for (char name = 'b'; name <= 'j'; ++name) {
    const std::string previous(1, static_cast<char>(name - 1));
    bomb += std::string(1, name) + ": &" + name + " [";
    for (int i = 0; i < 9; ++i) bomb += (i ? ",*" : "*") + previous;
    bomb += "]\n";
  }
  const auto start = std::chrono::steady_clock::now();
  EXPECT_NE(error_of(bomb).find("aliases expand to more than"), std::string::npos)
      << error_of(bomb);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));

  const std::string deep_flow = std::string(100000, '[') + std::string(100000, ']');
  EXPECT_NE(error_of(deep_flow).find("nested deeper than 1000 levels"), std::string::npos);
  std::string deep_block;
  for (int level = 0; level < 1200; ++level)
    deep_block += std::string(static_cast<std::size_t>(level), ' ') + "k:\n";
  EXPECT_NE(error_of(deep_block).find("nested deeper than"), std::string::npos);
  std::string many_keys;
  for (int key = 0; key < 50000; ++key) many_keys += "k" + std::to_string(key) + ": 1\n";
  const auto keys_start = std::chrono::steady_clock::now();
  EXPECT_EQ(parse_yaml(many_keys, "t").size(), 50000u);
  EXPECT_LT(std::chrono::steady_clock::now() - keys_start, std::chrono::seconds(20));
  // Just inside the limit is fine.
  const std::string at_limit = std::string(1000, '[') + std::string(1000, ']');
  EXPECT_NO_THROW(parse_yaml(at_limit, "t"));
}

class YamlFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    directory_ = fs::path(TEST_SCRATCH_DIR) / "yaml_reader" /
                 ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(directory_);
    fs::create_directories(directory_);
  }
  fs::path file(const std::string& name, const std::string& text) {
    std::ofstream(directory_ / name, std::ios::binary) << text;
    return directory_ / name;
  }
  fs::path directory_;
};

TEST_F(YamlFiles, LoadFromYamlReadsAMappingOrNullAndRefusesOtherTopLevels) {
  EXPECT_EQ(load_from_yaml(file("a.yaml", "a: [1, 2]\n")), (Document{{"a", {1, 2}}}));
  EXPECT_TRUE(load_from_yaml(file("empty.yaml", "")).is_null());
  try {
    load_from_yaml(file("list.yaml", "- a\n"));
    FAIL();
  } catch (const TypeError& error) {
    EXPECT_NE(std::string(error.what()).find("a mapping"), std::string::npos);
    EXPECT_NE(std::string(error.what()).find("a sequence"), std::string::npos);
  }
  EXPECT_THROW(load_from_yaml(file("scalar.yaml", "just text\n")), TypeError);
  try {
    load_from_yaml(file("bad.yaml", "a: 1\n  b: 2\n"));
    FAIL();
  } catch (const YAMLError& error) {
    EXPECT_NE(std::string(error.what()).find((directory_ / "bad.yaml").string() + ": line 2"),
              std::string::npos)
        << error.what();
  }
}

TEST_F(YamlFiles, MissingAndUnreadableFilesAreNamed) {
  const fs::path missing = directory_ / "missing.yaml";
  try {
    load_from_yaml(missing);
    FAIL();
  } catch (const FileNotFoundError& error) {
    EXPECT_NE(std::string(error.what()).find(missing.string()), std::string::npos);
  }
  EXPECT_THROW(load_from_yaml(directory_), OSError);
}

}  // namespace
}  // namespace serializers
