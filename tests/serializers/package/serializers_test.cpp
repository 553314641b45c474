#include "serializers/serializers.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "serializers/export/export.hpp"
#include "serializers/load/load.hpp"

namespace serializers {
namespace {

TEST(SerializersPackage, EntersEveryFormatOnceHoweverOftenStarted) {
  start_serializers();
  start_serializers();

  const auto scratch = std::filesystem::path(TEST_SCRATCH_DIR) / "SerializersPackage";
  std::filesystem::create_directories(scratch);
  const Document record = Document::parse(R"({"account_info": [{"account_id": "012345678901"}]})");

  export_to_path(record, scratch / "discovery.YAML");
  EXPECT_EQ(load_from_path(scratch / "discovery.YAML"), record);

  const Document rows = Document::parse(R"([{"account_id": "012345678901", "hpe": true}])");
  Exporters::guess(scratch / "book.xlsx")(rows, scratch / "book.xlsx");
  EXPECT_EQ(Loaders::guess(scratch / "book.xlsx")(scratch / "book.xlsx")[0]["hpe"], true);
}

}  // namespace
}  // namespace serializers
