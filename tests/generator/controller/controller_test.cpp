#include "generator/controller/controller.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "generator/common/errors.hpp"
#include "generator/log/log.hpp"
#include "support/log_capture.hpp"
#include "support/scripted_http.hpp"

namespace generator::controller {
namespace {

using Json = nlohmann::ordered_json;

// The scripted peer, with the controller's JSON answers written as documents.
class ScriptedClient : public test_support::ScriptedHttp {
 public:
  void answer_json(const Json& body) { answer(200, body.dump()); }
};

class ScriptedTerminal : public Terminal {
 public:
  explicit ScriptedTerminal(std::string line) : line_(std::move(line)) {}
  std::string read_secret(const std::string& prompt) override {
    prompts.push_back(prompt);
    return line_;
  }
  std::vector<std::string> prompts;

 private:
  std::string line_;
};

std::optional<std::string> header_value(const http::Request& request, const std::string& name) {
  for (const auto& [key, value] : request.headers) {
    if (key == name) return value;
  }
  return std::nullopt;
}

const Json ACCOUNTS = Json::parse(R"([
  {"account_number": "111111111111", "account_name": "prod-network", "cloud_type": 1},
  {"account_number": "222222222222", "account_name": "dev-sandbox"}])");
const std::string PASSWORD = "s3cret-P@ss word";
const std::string TOKEN = "token-9d1e77a0";
const std::string CID = "cid-52ab90f3";

class ControllerSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    config.controller.ip = "10.1.2.3";
    config.controller.username = "admin";
    setenv("halvane_controller_password", PASSWORD.c_str(), 1);
  }
  void TearDown() override { unsetenv("halvane_controller_password"); }

  Json run() { return get_account_list(config, client, terminal); }

  void answer_login_and_list() {
    client.answer_json({{"return", true}, {"CID", CID}});
    client.answer_json({{"return", true}, {"results", {{"account_list", ACCOUNTS}}}});
  }

  [[nodiscard]] std::vector<std::string> lines_at(std::string_view level) const {
    std::vector<std::string> found;
    for (const auto& line : capture.lines()) {
      if (line.starts_with(std::string(level) + " "))
        found.push_back(line.substr(level.size() + 1));
    }
    return found;
  }
  [[nodiscard]] bool logged(std::string_view level, std::string_view text) const {
    for (const auto& line : lines_at(level)) {
      if (line.starts_with(text)) return true;
    }
    return false;
  }

  config::Config config;
  ScriptedClient client;
  ScriptedTerminal terminal{"typed"};
  test_support::LogCapture capture{log::DEBUG, "{levelname} {message}"};
};

TEST_F(ControllerSessionTest, PasswordComesFromTheEnvironmentOrElseFromThePrompt) {
  EXPECT_EQ(_get_hvn_password(config, terminal), PASSWORD);
  EXPECT_TRUE(terminal.prompts.empty());

  setenv("halvane_controller_password", "", 1);
  EXPECT_EQ(_get_hvn_password(config, terminal), "typed");
  unsetenv("halvane_controller_password");
  EXPECT_EQ(_get_hvn_password(config, terminal), "typed");
  ASSERT_EQ(terminal.prompts.size(), 2U);
  EXPECT_EQ(terminal.prompts[0], "Halvane Controller admin@10.1.2.3's password:");
}

TEST_F(ControllerSessionTest, V2TokenLogsInOverV2ButListsAccountsOverV1WithoutTheToken) {
  client.answer_json({{"return", true}, {"results", {{"api_token", TOKEN}}}});
  answer_login_and_list();

  EXPECT_EQ(run(), ACCOUNTS);

  ASSERT_EQ(client.requests.size(), 3U);
  const auto& token = client.requests[0];
  EXPECT_EQ(token.method, "GET");
  EXPECT_EQ(token.url, "https://10.1.2.3/v2/api");
  EXPECT_EQ(token.body, "action=get_api_token");
  EXPECT_FALSE(header_value(token, "X-Access-Key"));

  const auto& login = client.requests[1];
  EXPECT_EQ(login.method, "POST");
  EXPECT_EQ(login.url, "https://10.1.2.3/v2/api");
  EXPECT_EQ(header_value(login, "X-Access-Key"), TOKEN);
  EXPECT_EQ(login.body, "action=login&username=admin&password=s3cret-P%40ss+word");

  const auto& list = client.requests[2];
  EXPECT_EQ(list.method, "POST");
  EXPECT_EQ(list.url, "https://10.1.2.3/v1/api");
  EXPECT_FALSE(header_value(list, "X-Access-Key"));
  EXPECT_EQ(list.body, "action=list_accounts&CID=" + CID + "&aws_iam_role_based=True");

  for (const auto& request : client.requests) {
    EXPECT_EQ(request.timeout.count(), 0);
    EXPECT_EQ(header_value(request, "Content-Type"), "application/x-www-form-urlencoded");
  }
  EXPECT_TRUE(logged("INFO", "Use controller login V2 api"));
  EXPECT_TRUE(logged("INFO", "Logging in as admin"));
  EXPECT_TRUE(logged("INFO", "Getting list of accounts on controller."));
  EXPECT_TRUE(logged("DEBUG", "Controller API URL: 'https://10.1.2.3/v2/api'"));
  EXPECT_TRUE(lines_at("ERROR").empty());
}

TEST_F(ControllerSessionTest, AControllerWithoutV2TokenIsUsedOverV1WithoutAnError) {
  for (const Json& token_answer :
       {Json{{"return", false}}, Json{{"results", "nothing"}}, Json::array()}) {
    client = ScriptedClient();
    client.answer_json(token_answer);
    answer_login_and_list();
    EXPECT_EQ(run(), ACCOUNTS) << token_answer;
    EXPECT_EQ(client.requests[1].url, "https://10.1.2.3/v1/api");
    EXPECT_FALSE(header_value(client.requests[1], "X-Access-Key"));
  }
  EXPECT_TRUE(logged("INFO", "Use controller login V1 api"));
  EXPECT_TRUE(lines_at("ERROR").empty());
}

TEST_F(ControllerSessionTest, AFailedTokenRequestIsLoggedAndLoginFallsBackToV1) {
  const auto script_token_failure = [](ScriptedClient& scripted, int which) {
    switch (which) {
      case 0:
        scripted.fail("GET https://10.1.2.3/v2/api: Connection refused");
        break;
      case 1:
        scripted.answer(502, "<html>Bad Gateway</html>");
        break;
      case 2:
        scripted.answer_json({{"return", true}});
        break;
      case 3:
        scripted.answer_json({{"return", true}, {"results", {{"api_token", 42}}}});
        break;
      case 4:
        // Would end the header and carry the login's form body, password included, outside it.
        scripted.answer_json({{"return", true}, {"results", {{"api_token", "t\r\n\r\nGET /"}}}});
        break;
    }
  };
  for (int which = 0; which < 5; ++which) {
    client = ScriptedClient();
    capture.clear();
    script_token_failure(client, which);
    answer_login_and_list();
    EXPECT_EQ(run(), ACCOUNTS) << which;
    EXPECT_EQ(client.requests[1].url, "https://10.1.2.3/v1/api") << which;
    EXPECT_FALSE(header_value(client.requests[1], "X-Access-Key")) << which;
    // The run goes on over V1: one ERROR, the message first and its cause indented beneath it.
    EXPECT_TRUE(lines_at("WARNING").empty()) << which;
    const auto warnings = lines_at("ERROR");
    ASSERT_EQ(warnings.size(), 1U) << which;
    EXPECT_TRUE(warnings[0].starts_with("Failed to get V2 API token. Retry V1 login API.\n  The "))
        << warnings[0];
    if (which == 4) {
      EXPECT_NE(warnings[0].find("carries an \"api_token\" with a control character"),
                std::string::npos)
          << warnings[0];
    }
  }
}

TEST_F(ControllerSessionTest, ALoginAnswerWithoutSessionIdentifierIsARefusedLogin) {
  config.controller.ip = "ctl.example.net:8443";
  const Json refusals[] = {Json{{"return", false}, {"reason", "Invalid username or password."}},
                           Json::array({"CID"}), Json{{"CID", nullptr}}};
  for (const Json& refusal : refusals) {
    client = ScriptedClient();
    capture.clear();
    client.answer_json({{"return", false}});
    client.answer_json(refusal);
    try {
      run();
      ADD_FAILURE() << "login accepted: " << refusal;
    } catch (const HalvaneError& error) {
      EXPECT_STREQ(
          error.what(),
          "Failed to login to controller.\nUsername: admin\nController IP: ctl.example.net:8443");
    }
    EXPECT_EQ(client.requests.size(), 2U);
    EXPECT_EQ(client.requests[1].url, "https://ctl.example.net:8443/v1/api");
    ASSERT_EQ(lines_at("ERROR").size(), 1U);
    EXPECT_TRUE(logged("ERROR",
                       "Login failed. Please check Halvane Controller IP, username and password."));
  }
}

TEST_F(ControllerSessionTest, ANumericSessionIdentifierIsSentBackAsWritten) {
  client.answer_json({{"return", false}});
  client.answer_json({{"CID", 123456}});
  client.answer_json({{"results", {{"account_list", Json::array()}}}});
  EXPECT_EQ(run(), Json::array());
  EXPECT_EQ(client.requests[2].body, "action=list_accounts&CID=123456&aws_iam_role_based=True");
}

// Expects HalvaneError whose message contains every one of `parts`.
void expect_halvane_error(const std::function<void()>& action,
                          const std::vector<std::string>& parts) {
  try {
    action();
    ADD_FAILURE() << "no error";
  } catch (const HalvaneError& error) {
    for (const auto& part : parts)
      EXPECT_NE(std::string(error.what()).find(part), std::string::npos) << error.what();
  }
}

TEST_F(ControllerSessionTest, UnusableAnswersToLoginAndAccountListNameTheRequestAndTheMissingPart) {
  client.answer_json({{"return", false}});
  client.answer(500, "<html>Internal Server Error</html>");
  expect_halvane_error([&] { run(); },
                       {"login request (POST https://10.1.2.3/v1/api)", "not JSON", "500"});

  client = ScriptedClient();
  client.answer_json({{"return", false}});
  client.fail("POST https://10.1.2.3/v1/api: Connection reset by peer");
  expect_halvane_error([&] { run(); }, {"did not answer the login request", "Connection reset"});

  client = ScriptedClient();
  client.answer_json({{"return", false}});
  client.answer_json({{"CID", CID}});
  client.answer_json({{"return", false}, {"reason", "CID is invalid or expired."}});
  expect_halvane_error([&] { run(); }, {"list_accounts request (POST https://10.1.2.3/v1/api)",
                                        "\"results\"", "CID is invalid"});

  client = ScriptedClient();
  client.answer_json({{"return", false}});
  client.answer_json({{"CID", CID}});
  client.answer_json({{"results", {{"accounts", ACCOUNTS}}}});
  expect_halvane_error([&] { run(); }, {"list_accounts", "\"results\" -> \"account_list\""});

  client = ScriptedClient();
  client.answer_json({{"return", false}});
  client.answer_json({{"CID", CID}});
  client.answer_json({{"results", {{"account_list", "none"}}}});
  expect_halvane_error([&] { run(); }, {"list_accounts", "not a list"});

  client = ScriptedClient();
  client.answer_json({{"return", false}});
  client.answer_json({{"CID", CID}});
  client.answer(200, "{\"results\": {\"account_list\": [");
  expect_halvane_error([&] { run(); }, {"list_accounts", "not JSON"});

  // Well-formed, but with a number beyond any double: refused as unreadable, not as an error of
  // the JSON library.
  client = ScriptedClient();
  client.answer_json({{"return", false}});
  client.answer_json({{"CID", CID}});
  client.answer(200, "{\"return\":1e400, \"results\": {\"account_list\": []}}");
  expect_halvane_error([&] { run(); }, {"list_accounts", "number too large"});
}

TEST_F(ControllerSessionTest, FormValuesArriveIntact) {
  setenv("halvane_controller_password", "a&b=c+d%e f/\xC3\xA9", 1);
  config.controller.username = "ops user+1";
  client.answer_json({{"return", false}});
  client.answer_json({{"CID", "c&d=e"}});
  client.answer_json({{"results", {{"account_list", ACCOUNTS}}}});
  run();
  EXPECT_EQ(client.requests[1].body,
            "action=login&username=ops+user%2B1&password=a%26b%3Dc%2Bd%25e+f%2F%C3%A9");
  EXPECT_EQ(client.requests[2].body, "action=list_accounts&CID=c%26d%3De&aws_iam_role_based=True");
}

TEST_F(ControllerSessionTest, NoSecretReachesTheLogEvenWhenTheControllerEchoesThem) {
  client.answer_json({{"return", true}, {"results", {{"api_token", TOKEN}}}});
  client.answer_json({{"return", true},
                      {"results", "authorized " + CID + " with token " + TOKEN},
                      {"CID", CID},
                      {"password", PASSWORD}});
  client.answer_json(
      {{"return", true},
       {"CID", CID},
       {"results",
        {{"account_list", Json::array({{{"account_name", PASSWORD}}, {{"api_token", "x"}}})}}}});
  run();
  ASSERT_TRUE(logged("DEBUG", "login response: \n"));
  ASSERT_TRUE(logged("DEBUG", "list_accounts response:\n"));
  ASSERT_TRUE(logged("DEBUG", "Account List:\n"));
  for (const auto& line : capture.lines()) {
    for (const auto& secret : {PASSWORD, TOKEN, CID}) {
      EXPECT_EQ(line.find(secret), std::string::npos) << secret << " in: " << line;
    }
  }
  // The rest of an answer is still shown.
  EXPECT_TRUE(logged("DEBUG", "login response: \n{\n  \"return\": true"));

  // The same holds for the refusal path, whose error names what went wrong.
  client = ScriptedClient();
  capture.clear();
  client.answer_json({{"return", false}});
  client.answer_json({{"return", false}, {"reason", "password " + PASSWORD + " is wrong"}});
  EXPECT_THROW(run(), HalvaneError);
  for (const auto& line : capture.lines())
    EXPECT_EQ(line.find(PASSWORD), std::string::npos) << line;
}

TEST(MaskedRenderingTest, MasksSecretMembersAndKnownValuesAtAnyDepth) {
  const Json answer =
      Json::parse(R"({"cid": "abc", "list": [{"Api_Token": "t"}, "say hunter22 twice hunter22"],
                                      "short": "pw", "other": "pwd", "none": null, "CID": null})");
  const Json rendered = Json::parse(_masked_rendering(answer, {"hunter22", "pw", ""}));
  EXPECT_EQ(rendered, Json::parse(R"({"cid": "********", "list": [{"Api_Token": "********"},
                                      "say ******** twice ********"], "short": "********", "other": "pwd",
                                      "none": null, "CID": null})"));
}

}  // namespace
}  // namespace generator::controller
