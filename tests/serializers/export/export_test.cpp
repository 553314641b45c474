#include "serializers/export/export.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "generator/common/errors.hpp"

namespace serializers {
namespace {

std::vector<std::pair<Document, std::filesystem::path>> calls;

void recording_exporter(const Document& data, const std::filesystem::path& path) {
  calls.emplace_back(data, path);
}
void other_exporter(const Document&, const std::filesystem::path&) {}

std::string message_of(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::exception& error) {
    return error.what();
  }
  return "(no error)";
}

TEST(Exporters, RegistrationHandsBackTheExporterAndLookupIgnoresLetterCase) {
  EXPECT_EQ(register_exporter({"et1", "et1b"})(&recording_exporter), &recording_exporter);
  EXPECT_EQ(Exporters::guess("out/Discovery.ET1"), &recording_exporter);
  EXPECT_EQ(Exporters::guess("a.eT1b"), &recording_exporter);
  EXPECT_EQ(Exporters::guess("out/discovery"), &_ambiguous_exporter);
}

TEST(Exporters, ASecondRegistrationFailsAndKeepsWhatWasEnteredBeforeIt) {
  Exporters::register_exporter("et2")(&recording_exporter);
  const auto second = register_exporter({"et3", "et2", "et4"});
  EXPECT_EQ(message_of([&] { second(&other_exporter); }),
            "Exporter for file extension et2 already exists in registry.");
  EXPECT_THROW(second(&other_exporter), ExporterError);
  EXPECT_EQ(Exporters::guess("a.et3"), &other_exporter);
  EXPECT_EQ(Exporters::guess("a.et2"), &recording_exporter);
  EXPECT_EQ(Exporters::guess("a.et4"), &_ambiguous_exporter);
  EXPECT_EQ(register_exporter(std::vector<std::string>{})(&other_exporter), &other_exporter);
}

TEST(ExportToPath, HandsTheMappingAndPathToTheExporter) {
  register_exporter("et5")(&recording_exporter);
  calls.clear();
  export_to_path(Document{{"a", 1}}, std::string("out/File.ET5"));
  export_to_path(Document::object(), "empty.et5");
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].first, (Document{{"a", 1}}));
  EXPECT_EQ(calls[0].second, std::filesystem::path("out/File.ET5"));
  EXPECT_EQ(calls[1].first, Document::object());
}

TEST(ExportToPath, RefusesAnythingButAMappingBeforeLookingAtThePath) {
  register_exporter("et6")(&recording_exporter);
  calls.clear();
  for (const Document& data : {Document::array({1}), Document(nullptr), Document("text")}) {
    const std::string error = message_of([&] { export_to_path(data, "no-extension"); });
    EXPECT_NE(error.find("data"), std::string::npos) << error;
    EXPECT_NE(error.find("mapping"), std::string::npos) << error;
    EXPECT_NE(error.find(kind_name(data)), std::string::npos) << error;
    EXPECT_THROW(export_to_path(data, "x.et6"), TypeError);
  }
  EXPECT_TRUE(calls.empty());
}

TEST(ExportToPath, AnUnknownExtensionFailsWithValueError) {
  EXPECT_EQ(message_of([] { export_to_path(Document::object(), "out/discovery"); }),
            "Could not determine exporter from out/discovery");
  EXPECT_THROW(export_to_path(Document::object(), "x.txt"), ValueError);
}

}  // namespace
}  // namespace serializers
