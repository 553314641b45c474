// The shared config and credentials files as the AWS tools read them: the AWS SDKs' published
// profile parser cases, each file's text read and the two merged as the credential chain sees them.

#include "aws/shared_config.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "aws/errors.hpp"

namespace aws {
namespace {

using Sections = std::map<std::string, ProfileSettings>;

nlohmann::json published_cases() {
  std::ifstream file(std::string(TEST_SOURCE_DIR) + "/aws/data/profile-parser-tests.json");
  std::stringstream text;
  text << file.rdbuf();
  return nlohmann::json::parse(text.str())["tests"];
}

Sections expected_sections(const nlohmann::json& sections) {
  Sections expected;
  for (const auto& [name, settings] : sections.items()) {
    for (const auto& [key, value] : settings.items()) expected[name][key] = value.get<std::string>();
    expected.try_emplace(name);
  }
  return expected;
}

// Every profile of either file, with the credentials file's values over the config file's.
Sections merged_profiles(const SharedConfig& config) {
  std::set<std::string> names;
  for (const auto& [name, settings] : config.config_profiles) names.insert(name);
  for (const auto& [name, settings] : config.credentials_profiles) names.insert(name);
  Sections merged;
  for (const auto& name : names) merged[name] = *config.profile(name);
  return merged;
}

TEST(ProfileFiles, EveryPublishedParserCaseAgrees) {
  const nlohmann::json cases = published_cases();
  ASSERT_GT(cases.size(), 60U);
  for (const auto& test : cases) {
    SCOPED_TRACE(test["name"].get<std::string>());
    const auto& input = test["input"];
    const auto read = [&] {
      return shared_config_from_texts(Environment::fixed({}), "config",
                                      input.value("configFile", std::string()), "credentials",
                                      input.value("credentialsFile", std::string()));
    };
    const auto& output = test["output"];
    if (output.contains("errorContaining")) {
      try {
        (void)read();
        ADD_FAILURE() << "read without error";
      } catch (const ClientError& error) {
        EXPECT_NE(std::string(error.what()).find(output["errorContaining"].get<std::string>()),
                  std::string::npos)
            << error.what();
      }
      continue;
    }
    const SharedConfig config = read();
    EXPECT_EQ(merged_profiles(config), expected_sections(output["config"]["profiles"]));
    if (output["config"].contains("sso_sessions")) {
      EXPECT_EQ(config.sso_sessions, expected_sections(output["config"]["sso_sessions"]));
    }
  }
}

TEST(ProfileFiles, ErrorsNameTheFileAndLineAndServicesSectionsHoldSubSettings) {
  try {
    (void)parse_profile_file("[profile ok]\nregion = eu-west-1\n[profile broken\n", "/home/op/.aws/config",
                             ProfileFileKind::config);
    ADD_FAILURE() << "read without error";
  } catch (const ClientError& error) {
    EXPECT_STREQ(error.what(), "/home/op/.aws/config, line 3: Profile definition must end with ']'");
  }
  const ProfileFile file = parse_profile_file(
      "[profile ops]\nservices = local\n[services local]\nec2 =\n  endpoint_url = http://127.0.0.1:5000\n"
      "  Other = x\n",
      "config", ProfileFileKind::config);
  const ProfileSettings ec2 = sub_settings(file.services.at("local").at("ec2"));
  EXPECT_EQ(ec2, (ProfileSettings{{"endpoint_url", "http://127.0.0.1:5000"}, {"other", "x"}}));
}

}  // namespace
}  // namespace aws
