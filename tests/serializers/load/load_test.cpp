#include "serializers/load/load.hpp"

#include <gtest/gtest.h>

#include <string>

#include "generator/common/errors.hpp"

namespace serializers {
namespace {

std::filesystem::path last_path;

Document mapping_loader(const std::filesystem::path& path) {
  last_path = path;
  return Document{{"read", path.string()}};
}
Document other_loader(const std::filesystem::path&) { return Document{{"other", true}}; }
Document null_loader(const std::filesystem::path&) { return nullptr; }
Document list_loader(const std::filesystem::path&) { return Document::array({1, 2}); }
Document text_loader(const std::filesystem::path&) { return "plain"; }

std::string message_of(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::exception& error) {
    return error.what();
  }
  return "(no error)";
}

TEST(LowerExtension, TakesOnlyTheLastSuffixOfTheFileNameInLowerCase) {
  EXPECT_EQ(lower_extension("data/Discovery.YAML"), ".yaml");
  EXPECT_EQ(lower_extension("a.tar.gz"), ".gz");
  EXPECT_EQ(lower_extension("archive.yaml.bak"), ".bak");
  EXPECT_EQ(lower_extension("README"), "");
  EXPECT_EQ(lower_extension(".yaml"), "");
  EXPECT_EQ(lower_extension("dir/.yaml"), "");
  EXPECT_EQ(lower_extension("name."), "");
  EXPECT_EQ(lower_extension("conf.d/settings"), "");
  EXPECT_EQ(lower_extension("x.Yaml"), ".yaml");
}

TEST(Loaders, RegistrationHandsBackTheLoaderAndLookupIgnoresLetterCase) {
  const Loader returned = register_loader({"lt1", "lt1b"})(&mapping_loader);
  EXPECT_EQ(returned, &mapping_loader);
  EXPECT_EQ(Loaders::guess("conf/Template.LT1"), &mapping_loader);
  EXPECT_EQ(Loaders::guess("x.Lt1B"), &mapping_loader);
  EXPECT_EQ(Loaders::guess("x.lt1.bak"), &_ambiguous_loader);
  EXPECT_EQ(Loaders::guess(".lt1"), &_ambiguous_loader);
}

TEST(Loaders, ASingleExtensionAndAListOfOneRegisterAlike) {
  register_loader("lt2")(&mapping_loader);
  register_loader(std::vector<std::string>{"lt3"})(&other_loader);
  EXPECT_EQ(Loaders::guess("a.lt2"), &mapping_loader);
  EXPECT_EQ(Loaders::guess("a.lt3"), &other_loader);
}

TEST(Loaders, ASecondRegistrationFailsAndKeepsWhatWasEnteredBeforeIt) {
  Loaders::register_loader("lt4")(&mapping_loader);
  const auto second = register_loader({"lt5", "lt4", "lt6"});
  EXPECT_EQ(message_of([&] { second(&other_loader); }),
            "Loader for file extension lt4 already exists in registry.");
  EXPECT_THROW(second(&other_loader), LoaderError);
  EXPECT_EQ(Loaders::guess("a.lt5"), &other_loader);
  EXPECT_EQ(Loaders::guess("a.lt4"), &mapping_loader);
  EXPECT_EQ(Loaders::guess("a.lt6"), &_ambiguous_loader);
}

TEST(Loaders, AnEmptyListEntersNothingAndUpperCaseKeysAreNeverFound) {
  EXPECT_EQ(register_loader(std::vector<std::string>{})(&other_loader), &other_loader);
  register_loader("LTJSON")(&other_loader);
  EXPECT_EQ(Loaders::guess("a.LTJSON"), &_ambiguous_loader);
  EXPECT_EQ(Loaders::guess("a.ltjson"), &_ambiguous_loader);
}

TEST(LoadFromPath, AnUnknownExtensionFailsWithValueErrorBeforeAnyFileIsOpened) {
  EXPECT_EQ(message_of([] { load_from_path("notes.txt"); }),
            "Could not determine loader from notes.txt");
  EXPECT_THROW(load_from_path("does/not/exist/README"), ValueError);
  EXPECT_EQ(message_of([] { load_from_path("dir/.yaml"); }),
            "Could not determine loader from dir/.yaml");
}

TEST(LoadFromPath, PassesThePathAndAcceptsOnlyAMappingOrNull) {
  register_loader("lt7")(&mapping_loader);
  register_loader("lt8")(&null_loader);
  register_loader("lt9")(&list_loader);
  register_loader("lt10")(&text_loader);
  EXPECT_EQ(load_from_path(std::string("in/File.LT7")), (Document{{"read", "in/File.LT7"}}));
  EXPECT_EQ(last_path, std::filesystem::path("in/File.LT7"));
  EXPECT_TRUE(load_from_path("x.lt8").is_null());
  const std::string list_error = message_of([] { load_from_path("x.lt9"); });
  EXPECT_NE(list_error.find("a mapping"), std::string::npos) << list_error;
  EXPECT_NE(list_error.find("a sequence"), std::string::npos) << list_error;
  EXPECT_THROW(load_from_path("x.lt9"), TypeError);
  EXPECT_THROW(load_from_path("x.lt10"), TypeError);
}

}  // namespace
}  // namespace serializers
