#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "generator/common/errors.hpp"
#include "serializers/export/export.hpp"
#include "serializers/load/load.hpp"
#include "serializers/yaml/yaml.hpp"

namespace serializers {
namespace {

namespace fs = std::filesystem;

// The registries live for the whole process, so everything that needs the registration is one case.
TEST(YamlRegistration, EntersBothExtensionsOnceAndServesThemInAnyLetterCase) {
  register_yaml_serializers();
  EXPECT_EQ(Loaders::guess("conf/Template.YML"), &load_from_yaml);
  EXPECT_EQ(Loaders::guess("x.Yaml"), &load_from_yaml);
  EXPECT_EQ(Exporters::guess("out/Discovery.YML"), &export_to_yaml);
  EXPECT_EQ(Exporters::guess("out/d.yaml"), &export_to_yaml);

  const fs::path directory = fs::path(TEST_SCRATCH_DIR) / "yaml_registration";
  fs::remove_all(directory);
  fs::create_directories(directory);
  const Document data{{"name", "spoke"}, {"count", 3}};
  export_to_path(data, directory / "Discovery.YML");
  EXPECT_EQ(load_from_path((directory / "Discovery.YML").string()), data);
  std::ofstream(directory / "empty.yaml").close();
  EXPECT_TRUE(load_from_path(directory / "empty.yaml").is_null());
  std::ofstream(directory / "list.yaml") << "- a\n";
  EXPECT_THROW(load_from_path(directory / "list.yaml"), TypeError);
  EXPECT_THROW(export_to_path(data, directory / "discovery"), ValueError);
  EXPECT_FALSE(fs::exists(directory / "discovery"));

  try {
    register_yaml_serializers();
    FAIL() << "a second registration was accepted";
  } catch (const LoaderError& error) {
    EXPECT_STREQ(error.what(), "Loader for file extension yaml already exists in registry.");
  }
  EXPECT_EQ(Loaders::guess("x.yaml"), &load_from_yaml);
  fs::remove_all(directory);
}

}  // namespace
}  // namespace serializers
