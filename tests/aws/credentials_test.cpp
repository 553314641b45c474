// The default credential chain: environment, shared files and profiles, role assumption from a
// source profile, web identity, IAM Identity Center, credential_process, container credentials and
// the instance metadata service.

#include "aws/credentials.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "aws/errors.hpp"
#include "stand_ins.hpp"

namespace aws {
namespace {

namespace fs = std::filesystem;
using testing::answer;
using testing::form_fields;
using testing::make_context;
using testing::ScriptedHttp;

class CredentialChain : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::path(TEST_SCRATCH_DIR) / "aws_credentials" /
              ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    // Nothing of the real home folder or machine may leak into a case.
    variables_ = {{"HOME", folder_.string()}, {"AWS_EC2_METADATA_DISABLED", "true"}};
  }

  fs::path write(const std::string& name, const std::string& text) {
    const fs::path path = folder_ / name;
    std::ofstream(path) << text;
    return path;
  }

  // Fails every request: cases that must not reach the network use it.
  static std::shared_ptr<ScriptedHttp> no_network() {
    return std::make_shared<ScriptedHttp>([](const http::Request& request) -> http::Response {
      ADD_FAILURE() << "unexpected request to " << request.url;
      throw http::TransportError("no network", 7, false);
    });
  }

  Credentials resolve(std::shared_ptr<http::Client> client = no_network()) {
    return resolve_default_credentials(make_context(variables_, std::move(client)));
  }

  fs::path folder_;
  std::map<std::string, std::string> variables_;
};

TEST_F(CredentialChain, EnvironmentVariablesComeFirstAndMustBeComplete) {
  fs::create_directories(folder_ / ".aws");
  write(".aws/credentials",
        "[default]\naws_access_key_id = FILEKEY\naws_secret_access_key = file-secret\n");
  variables_["AWS_ACCESS_KEY_ID"] = "ENVKEY";
  variables_["AWS_SECRET_ACCESS_KEY"] = "env-secret";
  variables_["AWS_SESSION_TOKEN"] = "env-token";
  const Credentials credentials = resolve();
  EXPECT_EQ(credentials.access_key_id, "ENVKEY");
  EXPECT_EQ(credentials.secret_access_key, "env-secret");
  EXPECT_EQ(credentials.session_token, "env-token");

  // Variables set to blanks are passed over, as the AWS tools pass them over.
  variables_["AWS_ACCESS_KEY_ID"] = " ";
  variables_["AWS_SECRET_ACCESS_KEY"] = "\t";
  EXPECT_EQ(resolve().access_key_id, "FILEKEY");

  variables_["AWS_ACCESS_KEY_ID"] = "ENVKEY";
  variables_.erase("AWS_SECRET_ACCESS_KEY");
  try {
    (void)resolve();
    FAIL() << "no error";
  } catch (const ClientError& error) {
    EXPECT_NE(std::string(error.what()).find("AWS_SECRET_ACCESS_KEY"), std::string::npos);
  }
}

TEST_F(CredentialChain, ProfilesOfBothFilesAreReadFromTheConfiguredPaths) {
  const auto credentials_file =
      write("creds.ini",
            "# comment\n[default]\naws_access_key_id = DEFKEY\naws_secret_access_key = def-secret\n"
            "[ops] # operations\nAWS_ACCESS_KEY_ID=OPSKEY\nAws_Secret_Access_Key=ops-secret\n"
            "aws_session_token = ops-token\n");
  const auto config_file =
      write("config.ini",
            "[profile cfg]\nregion = eu-west-1\ns3 =\n  max_concurrent_requests = 10\n"
            "aws_access_key_id = CFGKEY\naws_secret_access_key = cfg-secret\n");
  variables_["AWS_SHARED_CREDENTIALS_FILE"] = credentials_file.string();
  variables_["AWS_CONFIG_FILE"] = config_file.string();
  EXPECT_EQ(resolve().access_key_id, "DEFKEY");

  variables_["AWS_PROFILE"] = "ops";
  const Credentials ops = resolve();
  EXPECT_EQ(ops.access_key_id, "OPSKEY");
  EXPECT_EQ(ops.session_token, "ops-token");

  variables_["AWS_PROFILE"] = "cfg";
  EXPECT_EQ(resolve().access_key_id, "CFGKEY");

  variables_["AWS_PROFILE"] = "missing";
  try {
    (void)resolve();
    FAIL() << "no error";
  } catch (const NoCredentialsError&) {
    FAIL() << "a named profile that does not exist is a configuration error";
  } catch (const ClientError& error) {
    EXPECT_NE(std::string(error.what()).find("(missing)"), std::string::npos) << error.what();
  }
}

TEST_F(CredentialChain, CredentialProcessPrintsTheKeysAndItsFailuresNeverQuoteItsOutput) {
  const auto script = write(
      "helper.sh",
      "#!/bin/sh\nif [ \"$1\" = fail ]; then echo '{\"SecretAccessKey\":\"printed-secret\"}'; exit "
      "3; fi\n"
      "if [ \"$1\" = v2 ]; then echo "
      "'{\"Version\":2,\"AccessKeyId\":\"K\",\"SecretAccessKey\":\"printed-secret\"}'; exit 0; fi\n"
      "echo '{\"Version\": 1, \"AccessKeyId\": \"PROCKEY\", \"SecretAccessKey\": "
      "\"proc-secret\",'\n"
      "echo \" \\\"SessionToken\\\": \\\"proc-token$CALLER_SECRET\\\", "
      "\\\"Expiration\\\": \\\"2030-01-01T00:00:00Z\\\"}\"\n");
  fs::permissions(script, fs::perms::owner_all);
  write("config", "[profile sso]\ncredential_process = " + script.string() +
                      " ok\n[profile broken]\ncredential_process = " + script.string() +
                      " fail\n[profile newer]\ncredential_process = " + script.string() + " v2\n");
  variables_["AWS_CONFIG_FILE"] = (folder_ / "config").string();
  variables_["AWS_PROFILE"] = "sso";
  // The helper runs in the real process environment, less the caller's withheld secrets.
  ::setenv("CALLER_SECRET", "-leaked", 1);
  Context context = make_context(variables_, no_network());
  context.withheld_from_children = {"CALLER_SECRET"};
  const Credentials credentials = resolve_default_credentials(context);
  ::unsetenv("CALLER_SECRET");
  EXPECT_EQ(credentials.access_key_id, "PROCKEY");
  EXPECT_EQ(credentials.session_token, "proc-token");
  EXPECT_EQ(credentials.expiration, "2030-01-01T00:00:00Z");

  for (const char* profile : {"broken", "newer"}) {
    variables_["AWS_PROFILE"] = profile;
    try {
      (void)resolve();
      FAIL() << profile << ": no error";
    } catch (const ClientError& error) {
      EXPECT_EQ(std::string(error.what()).find("printed-secret"), std::string::npos)
          << error.what();
      EXPECT_NE(std::string(error.what()).find(profile), std::string::npos) << error.what();
    }
  }
}

TEST_F(CredentialChain, CredentialProcessRunsWithinItsTimeLimitAndLeavesNoWaitForItsChildren) {
  // One helper leaves a child behind that holds its output open; the other closes its output and
  // never ends, nor does the child it starts.
  const std::string keys = R"({"Version": 1, "AccessKeyId": "BGKEY", "SecretAccessKey": "s"})";
  write("config", "[profile background]\ncredential_process = sleep 2 & echo '" + keys +
                      "'\n[profile hangs]\ncredential_process = exec >&-; sleep 5 & sleep 5\n"
                      "credential_process_timeout = 1\n[profile unreadable]\n"
                      "credential_process = true\ncredential_process_timeout = 1.5\n");
  variables_["AWS_CONFIG_FILE"] = (folder_ / "config").string();
  const auto started = std::chrono::steady_clock::now();
  variables_["AWS_PROFILE"] = "background";
  EXPECT_EQ(resolve().access_key_id, "BGKEY");
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));

  const std::map<std::string, std::string> expected = {
      {"hangs",
       "did not finish within 1 s and was ended with its process group; "
       "credential_process_timeout in the profile sets a longer limit"},
      {"unreadable", "credential_process_timeout must be a whole number of seconds"}};
  for (const auto& [profile, message] : expected) {
    variables_["AWS_PROFILE"] = profile;
    const auto start = std::chrono::steady_clock::now();
    try {
      (void)resolve();
      ADD_FAILURE() << profile << ": no error";
    } catch (const ClientError& error) {
      EXPECT_NE(std::string(error.what()).find(message), std::string::npos) << error.what();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4)) << profile;
  }
}

// A device or a named pipe would feed the sign-in without end or hold it up: it is refused at
// once, a file larger than any real one after its first mebibyte.
TEST_F(CredentialChain, EveryFileTheSignInReadsIsARegularFileOfAtMostOneMebibyte) {
  const fs::path huge = write("huge", "");
  fs::resize_file(huge, (std::uintmax_t{1} << 20) + 1);
  const fs::path pipe = folder_ / "pipe";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  const std::string device = ": it is a character device, not a regular file (";
  const std::map<std::string, std::pair<std::map<std::string, std::string>, std::string>> cases = {
      {"credentials",
       {{{"AWS_SHARED_CREDENTIALS_FILE", "/dev/zero"}},
        "Cannot read /dev/zero" + device + "the shared credentials file)"}},
      {"config",
       {{{"AWS_CONFIG_FILE", pipe.string()}},
        "Cannot read " + pipe.string() +
            ": it is a named pipe, not a regular file (the shared config file)"}},
      {"web identity",
       {{{"AWS_WEB_IDENTITY_TOKEN_FILE", "/dev/zero"}, {"AWS_ROLE_ARN", "arn:aws:iam::1:role/r"}},
        "Cannot read /dev/zero" + device + "the web identity token file)"}},
      {"container",
       {{{"AWS_CONTAINER_CREDENTIALS_FULL_URI", "http://127.0.0.1/credentials"},
         {"AWS_CONTAINER_AUTHORIZATION_TOKEN_FILE", huge.string()}},
        "Cannot read " + huge.string() +
            ": it is larger than 1 MiB, the limit of AWS_CONTAINER_AUTHORIZATION_TOKEN_FILE"}}};
  for (const auto& [name, setup] : cases) {
    auto variables = variables_;
    variables.insert(setup.first.begin(), setup.first.end());
    const auto start = std::chrono::steady_clock::now();
    try {
      (void)resolve_default_credentials(make_context(variables, no_network()));
      ADD_FAILURE() << name << ": no error";
    } catch (const ClientError& error) {
      EXPECT_EQ(std::string(error.what()), setup.second) << name;
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4)) << name;
  }
  // The null device is the usual way to name no file at all: it reads as empty.
  variables_["AWS_CONFIG_FILE"] = "/dev/null";
  variables_["AWS_SHARED_CREDENTIALS_FILE"] = "/dev/null";
  try {
    (void)resolve();
    ADD_FAILURE() << "no error";
  } catch (const NoCredentialsError& error) {
    EXPECT_TRUE(std::string(error.what()).starts_with("Unable to locate credentials"))
        << error.what();
  }
}

TEST_F(CredentialChain, OwnCredentialsAreRenewedOnceShortlyBeforeTheyExpire) {
  // Each run of the helper counts itself and hands out credentials that last until the top of
  // the next hour: 01:00 from its first run, 02:00 from its second.
  const auto script = write("expiring.sh", R"sh(#!/bin/sh
n=$(cat "$0.count" 2>/dev/null || echo 0); n=$((n+1)); echo $n > "$0.count"
echo "{\"Version\": 1, \"AccessKeyId\": \"K$n\", \"SecretAccessKey\": \"s\",
 \"SessionToken\": \"t$n\", \"Expiration\": \"2030-01-01T0$n:00:00Z\"}"
)sh");
  fs::permissions(script, fs::perms::owner_all);
  write("config", "[default]\ncredential_process = " + script.string() + "\n");
  variables_["AWS_CONFIG_FILE"] = (folder_ / "config").string();
  Context context = make_context(variables_, no_network());
  auto clock = std::make_shared<std::chrono::system_clock::time_point>(
      std::chrono::sys_days(std::chrono::year(2030) / 1 / 1) + std::chrono::minutes(30));
  context.now = [clock] { return *clock; };

  OwnCredentials own;
  EXPECT_EQ(own.get(context).access_key_id, "K1");
  EXPECT_EQ(own.get(context).access_key_id, "K1") << "resolved once while they last";
  *clock += std::chrono::minutes(26);  // 00:56, four minutes before they expire
  EXPECT_EQ(own.get(context).session_token, "t2");
  EXPECT_EQ(own.get(context).access_key_id, "K2") << "renewed once, for every caller";
  std::ifstream count(script.string() + ".count");
  std::string runs;
  std::getline(count, runs);
  EXPECT_EQ(runs, "2");
}

http::Response assume_role_answer(const std::string& key) {
  return answer(200,
                "<AssumeRoleResponse><AssumeRoleResult><Credentials><AccessKeyId>" + key +
                    "</AccessKeyId><SecretAccessKey>secret-of-" + key +
                    "</SecretAccessKey><SessionToken>token-of-" + key +
                    "</SessionToken><Expiration>2030-01-01T00:00:00Z</Expiration></Credentials>"
                    "</AssumeRoleResult></AssumeRoleResponse>");
}

TEST_F(CredentialChain, ASourceProfileAssumesRolesInTurnThroughTheConfiguredStsEndpoint) {
  write("credentials",
        "[base]\naws_access_key_id = BASEKEY\naws_secret_access_key = base-secret\n");
  write(
      "config",
      "[profile middle]\nrole_arn = arn:aws:iam::111111111111:role/Middle\nsource_profile = base\n"
      "[profile top]\nrole_arn = arn:aws:iam::222222222222:role/Top\nsource_profile = middle\n"
      "role_session_name = operator\nexternal_id = ext-1\nregion = eu-central-1\n"
      "[profile loop-a]\nrole_arn = arn:aws:iam::1:role/A\nsource_profile = loop-b\n"
      "[profile loop-b]\nrole_arn = arn:aws:iam::1:role/B\nsource_profile = loop-a\n"
      "[profile keyed-a]\nrole_arn = arn:aws:iam::1:role/A\nsource_profile = keyed-b\n"
      "[profile keyed-b]\nrole_arn = arn:aws:iam::1:role/B\nsource_profile = keyed-a\n"
      "aws_access_key_id = LOOPKEY\naws_secret_access_key = loop-secret\n");
  variables_["AWS_SHARED_CREDENTIALS_FILE"] = (folder_ / "credentials").string();
  variables_["AWS_CONFIG_FILE"] = (folder_ / "config").string();
  variables_["AWS_ENDPOINT_URL_STS"] = "http://sts.local:4566";
  variables_["AWS_PROFILE"] = "top";
  auto sts = std::make_shared<ScriptedHttp>([](const http::Request& request) {
    EXPECT_EQ(request.url, "http://sts.local:4566/");
    const auto fields = form_fields(request.body);
    return assume_role_answer(fields.at("RoleArn").ends_with("Middle") ? "MIDDLEKEY" : "TOPKEY");
  });
  const Credentials credentials = resolve(sts);
  EXPECT_EQ(credentials.access_key_id, "TOPKEY");
  EXPECT_EQ(credentials.session_token, "token-of-TOPKEY");
  ASSERT_EQ(sts->requests.size(), 2u);
  // The middle role is assumed with the base keys, the top role with the middle role's keys.
  EXPECT_NE(testing::header(sts->requests[0], "Authorization").find("Credential=BASEKEY/"),
            std::string::npos);
  EXPECT_NE(testing::header(sts->requests[1], "Authorization").find("Credential=MIDDLEKEY/"),
            std::string::npos);
  EXPECT_EQ(testing::header(sts->requests[1], "X-Amz-Security-Token"), "token-of-MIDDLEKEY");
  EXPECT_NE(testing::header(sts->requests[1], "Authorization").find("/eu-central-1/sts/"),
            std::string::npos);
  const auto top = form_fields(sts->requests[1].body);
  EXPECT_EQ(top.at("RoleSessionName"), "operator");
  EXPECT_EQ(top.at("ExternalId"), "ext-1");

  // A loop is refused by its profiles before anything is sent, also through a profile with keys.
  sts->requests.clear();
  for (const auto& [profile, loop] : {std::pair{"loop-a", "loop-a -> loop-b -> loop-a"},
                                      std::pair{"keyed-a", "keyed-a -> keyed-b -> keyed-a"}}) {
    variables_["AWS_PROFILE"] = profile;
    try {
      (void)resolve(sts);
      ADD_FAILURE() << "no error for " << profile;
    } catch (const ClientError& error) {
      EXPECT_NE(std::string(error.what()).find(loop), std::string::npos) << error.what();
    }
  }
  EXPECT_TRUE(sts->requests.empty());

  // A role whose trust asks for an MFA device: the code is asked for once, for that request.
  write("config",
        "[profile guarded]\nrole_arn = arn:aws:iam::111111111111:role/Middle\nsource_profile = "
        "base\nmfa_serial = arn:aws:iam::000000000000:mfa/operator\n");
  variables_["AWS_PROFILE"] = "guarded";
  class Prompt : public MfaPrompt {
   public:
    std::vector<std::string> asked;
    std::string code(const std::string& profile, const std::string& serial) override {
      asked.push_back(profile + " " + serial);
      return "123456";
    }
  };
  auto prompt = std::make_shared<Prompt>();
  Context context = make_context(variables_, sts);
  context.mfa_prompt = prompt;
  sts->requests.clear();
  EXPECT_EQ(resolve_default_credentials(context).access_key_id, "MIDDLEKEY");
  EXPECT_EQ(prompt->asked,
            std::vector<std::string>{"guarded arn:aws:iam::000000000000:mfa/operator"});
  ASSERT_EQ(sts->requests.size(), 1u);
  const auto guarded = form_fields(sts->requests[0].body);
  EXPECT_EQ(guarded.at("SerialNumber"), "arn:aws:iam::000000000000:mfa/operator");
  EXPECT_EQ(guarded.at("TokenCode"), "123456");
  // With no one to ask, the profile is refused by name before anything is sent.
  sts->requests.clear();
  try {
    (void)resolve(sts);
    ADD_FAILURE() << "no error";
  } catch (const ClientError& error) {
    EXPECT_NE(std::string(error.what()).find("Profile 'guarded' needs an MFA code (mfa_serial)"),
              std::string::npos)
        << error.what();
  }
  EXPECT_TRUE(sts->requests.empty());
}

http::Response web_identity_answer(const std::string& key) {
  return answer(200,
                "<AssumeRoleWithWebIdentityResponse><AssumeRoleWithWebIdentityResult><Credentials>"
                "<AccessKeyId>" +
                    key + "</AccessKeyId><SecretAccessKey>secret-of-" + key +
                    "</SecretAccessKey><SessionToken>token-of-" + key +
                    "</SessionToken></Credentials></AssumeRoleWithWebIdentityResult>"
                    "</AssumeRoleWithWebIdentityResponse>");
}

TEST_F(CredentialChain, AWebIdentityTokenIsExchangedUnsignedAheadOfProfileKeysAndNeverQuoted) {
  write("credentials",
        "[default]\naws_access_key_id = FILEKEY\naws_secret_access_key = s\n"
        "[ci]\naws_access_key_id = CIKEY\naws_secret_access_key = s\n");
  write("config",
        "[profile ci]\nweb_identity_token_file = " + (folder_ / "profile-token").string() +
            "\nrole_arn = arn:aws:iam::111111111111:role/FromProfile\n");
  write("env-token", "env-token-secret\n");
  write("profile-token", "profile-token-secret");
  variables_["AWS_SHARED_CREDENTIALS_FILE"] = (folder_ / "credentials").string();
  variables_["AWS_CONFIG_FILE"] = (folder_ / "config").string();
  variables_["AWS_ENDPOINT_URL_STS"] = "http://sts.local:4566";
  variables_["AWS_WEB_IDENTITY_TOKEN_FILE"] = (folder_ / "env-token").string();
  variables_["AWS_ROLE_ARN"] = "arn:aws:iam::111111111111:role/FromEnvironment";
  variables_["AWS_ROLE_SESSION_NAME"] = "ci-job";
  auto sts = std::make_shared<ScriptedHttp>([](const http::Request& request) {
    const auto fields = form_fields(request.body);
    if (fields.at("WebIdentityToken") == "refused-token-secret")
      return answer(400,
                    "<ErrorResponse><Error><Code>InvalidIdentityToken</Code><Message>Token is "
                    "expired</Message></Error></ErrorResponse>");
    return web_identity_answer(fields.at("RoleArn").ends_with("FromProfile") ? "PROFKEY" : "WIKEY");
  });
  EXPECT_EQ(resolve(sts).access_key_id, "WIKEY");
  ASSERT_EQ(sts->requests.size(), 1u);
  EXPECT_EQ(testing::header(sts->requests[0], "Authorization"), "");
  const auto fields = form_fields(sts->requests[0].body);
  EXPECT_EQ(fields.at("Action"), "AssumeRoleWithWebIdentity");
  EXPECT_EQ(fields.at("WebIdentityToken"), "env-token-secret");
  EXPECT_EQ(fields.at("RoleSessionName"), "ci-job");

  // The profile's own keys: the variables first, then the profile's.
  for (const char* name : {"AWS_WEB_IDENTITY_TOKEN_FILE", "AWS_ROLE_ARN", "AWS_ROLE_SESSION_NAME"})
    variables_.erase(name);
  variables_["AWS_PROFILE"] = "ci";
  EXPECT_EQ(resolve(sts).access_key_id, "PROFKEY");
  EXPECT_EQ(form_fields(sts->requests[1].body).at("WebIdentityToken"), "profile-token-secret");
  EXPECT_EQ(form_fields(sts->requests[1].body).at("RoleSessionName"), "aws-session-1440938160");

  variables_["AWS_WEB_IDENTITY_TOKEN_FILE"] = write("refused", "refused-token-secret").string();
  try {
    (void)resolve(sts);
    FAIL() << "no error";
  } catch (const ServiceError& error) {
    EXPECT_EQ(error.code(), "InvalidIdentityToken");
    EXPECT_EQ(std::string(error.what()).find("token-secret"), std::string::npos) << error.what();
  }

  variables_.erase("AWS_PROFILE");
  try {
    (void)resolve(sts);
    FAIL() << "no error";
  } catch (const ClientError& error) {
    EXPECT_NE(std::string(error.what()).find("AWS_ROLE_ARN"), std::string::npos) << error.what();
  }
}

TEST_F(CredentialChain, IamIdentityCenterProfilesUseTheTokenCachedUnderTheSha1OfTheirSession) {
  write("config",
        "[sso-session abc]\nsso_start_url = https://corp.awsapps.com/start\n"
        "sso_region = eu-west-1\n"
        "[profile modern]\nsso_session = abc\nsso_account_id = 111111111111\n"
        "sso_role_name = Admin Access\n"
        "[profile contradicts]\nsso_session = abc\nsso_region = us-east-1\n"
        "sso_account_id = 111111111111\nsso_role_name = Admin\n"
        "[profile incomplete]\nsso_start_url = https://old.awsapps.com/start\nsso_region = "
        "eu-west-1\nsso_account_id = 111111111111\n"
        "[profile dangling]\nsso_session = nowhere\nsso_account_id = 1\nsso_role_name = R\n");
  variables_["AWS_CONFIG_FILE"] = (folder_ / "config").string();
  // SHA-1 of "abc", the published test vector, names the session's cache file.
  fs::create_directories(folder_ / ".aws/sso/cache");
  write(".aws/sso/cache/a9993e364706816aba3e25717850c26c9cd0d89d.json",
        R"({"accessToken":"cached-access-token","expiresAt":"2015-08-30T13:00:00Z"})");
  variables_["AWS_PROFILE"] = "modern";
  auto portal = std::make_shared<ScriptedHttp>([](const http::Request&) {
    return answer(200, R"({"roleCredentials":{"accessKeyId":"SSOKEY","secretAccessKey":"s",)"
                       R"("sessionToken":"t","expiration":1440941760000}})");
  });
  const Credentials credentials = resolve(portal);
  EXPECT_EQ(credentials.access_key_id, "SSOKEY");
  EXPECT_EQ(credentials.expiration, "2015-08-30T13:36:00Z");
  ASSERT_EQ(portal->requests.size(), 1u);
  EXPECT_EQ(portal->requests[0].url,
            "https://portal.sso.eu-west-1.amazonaws.com/federation/"
            "credentials?account_id=111111111111&role_name=Admin%20Access");
  EXPECT_EQ(testing::header(portal->requests[0], "x-amz-sso_bearer_token"), "cached-access-token");

  for (const auto& [profile, expected] : std::vector<std::pair<std::string, std::string>>{
           {"contradicts", "sets sso_region = us-east-1, but its sso_session 'abc' sets eu-west-1"},
           {"incomplete",
            "Profile 'incomplete' signs in through IAM Identity Center but has no "
            "sso_role_name"},
           {"dangling", "has no [sso-session nowhere] section"}}) {
    variables_["AWS_PROFILE"] = profile;
    try {
      (void)resolve();
      FAIL() << profile << ": no error";
    } catch (const ClientError& error) {
      EXPECT_NE(std::string(error.what()).find(expected), std::string::npos) << error.what();
    }
  }

  // Times beyond the year 2262, where the clock's nanoseconds end, are still read: a token cached
  // until 9999 is used as it is, and a far expiration in the portal's answer is kept.
  const std::string cache = ".aws/sso/cache/a9993e364706816aba3e25717850c26c9cd0d89d.json";
  write(cache, R"({"accessToken":"far-token","expiresAt":"9999-12-31T23:59:59Z"})");
  variables_["AWS_PROFILE"] = "modern";
  auto far_portal = std::make_shared<ScriptedHttp>([](const http::Request&) {
    return answer(200, R"({"roleCredentials":{"accessKeyId":"FARKEY","secretAccessKey":"s",)"
                       R"("sessionToken":"t","expiration":9223372036854775807}})");
  });
  EXPECT_EQ(resolve(far_portal).access_key_id, "FARKEY");
  EXPECT_EQ(testing::header(far_portal->requests.at(0), "x-amz-sso_bearer_token"), "far-token");

  // A renewal that claims to last for ever is refused rather than overflowing the clock.
  write(cache, R"({"accessToken":"old","expiresAt":"2015-08-30T12:00:00Z","clientId":"c",)"
               R"("clientSecret":"s","refreshToken":"r"})");
  auto oidc = std::make_shared<ScriptedHttp>([](const http::Request&) {
    return answer(200, R"({"accessToken":"new","expiresIn":9223372036854775807})");
  });
  try {
    (void)resolve(oidc);
    FAIL() << "no error";
  } catch (const ClientError& error) {
    EXPECT_NE(std::string(error.what())
                  .find("has expired and could not be renewed (an answer "
                        "without accessToken and expiresIn)"),
              std::string::npos)
        << error.what();
  }
  ASSERT_EQ(oidc->requests.size(), 1u);
  EXPECT_TRUE(oidc->requests[0].url.ends_with("/token")) << oidc->requests[0].url;
}

TEST_F(CredentialChain, IamIdentityCenterThrottlingIsWaitedOutButOtherRefusalsAreFinal) {
  write("config",
        "[sso-session abc]\nsso_start_url = https://corp.awsapps.com/start\n"
        "sso_region = eu-west-1\n"
        "[profile modern]\nsso_session = abc\nsso_account_id = 111111111111\n"
        "sso_role_name = Admin\n");
  variables_["AWS_CONFIG_FILE"] = (folder_ / "config").string();
  variables_["AWS_PROFILE"] = "modern";
  fs::create_directories(folder_ / ".aws/sso/cache");
  write(".aws/sso/cache/a9993e364706816aba3e25717850c26c9cd0d89d.json",
        R"({"accessToken":"cached-access-token","expiresAt":"2015-08-30T13:00:00Z"})");
  // The portal names its error in the x-amzn-ErrorType header, qualified as the service does.
  const auto refusal = [](long status, const std::string& type, const std::string& message) {
    http::Response response = answer(status, R"({"message":")" + message + R"("})");
    response.headers = {{"x-amzn-errortype", type + ":http://internal.amazon.com/coral/"}};
    return response;
  };
  const http::Response granted =
      answer(200, R"({"roleCredentials":{"accessKeyId":"SSOKEY","secretAccessKey":"s",)"
                  R"("sessionToken":"t","expiration":1440941760000}})");
  std::vector<http::Response> script;
  std::size_t next = 0;
  const auto portal = [&] {
    next = 0;
    return std::make_shared<ScriptedHttp>([&](const http::Request&) { return script.at(next++); });
  };

  // A throttling code in a 400 answer is transient: tried again after a pause, then granted.
  script = {refusal(400, "TooManyRequestsException", "Rate exceeded"), granted};
  auto sleeper = std::make_shared<testing::RecordingSleeper>();
  auto throttled = portal();
  EXPECT_EQ(resolve_default_credentials(make_context(variables_, throttled, sleeper)).access_key_id,
            "SSOKEY");
  EXPECT_EQ(throttled->requests.size(), 2u);
  EXPECT_EQ(sleeper->pauses,
            std::vector<std::chrono::milliseconds>{std::chrono::milliseconds(500)});

  // Any other 400 is the portal's final word, said at once.
  script = {refusal(400, "InvalidRequestException", "No such role"), granted};
  sleeper->pauses.clear();
  auto refused = portal();
  try {
    (void)resolve_default_credentials(make_context(variables_, refused, sleeper));
    FAIL() << "no error";
  } catch (const ClientError& error) {
    EXPECT_EQ(std::string(error.what()),
              "IAM Identity Center refused profile 'modern' the role Admin in account "
              "111111111111 (InvalidRequestException: No such role)");
  }
  EXPECT_EQ(refused->requests.size(), 1u);
  EXPECT_TRUE(sleeper->pauses.empty());
}

TEST_F(CredentialChain, ContainerCredentialsComeFromALoopbackEndpointWithTheTokenFromItsFile) {
  variables_["AWS_CONTAINER_CREDENTIALS_FULL_URI"] = "http://127.0.0.1:9911/creds";
  variables_["AWS_CONTAINER_AUTHORIZATION_TOKEN_FILE"] =
      write("token", "container-token\n").string();
  auto container = std::make_shared<ScriptedHttp>([](const http::Request& request) {
    if (request.url.starts_with("http://sts.local")) return assume_role_answer("TASKROLEKEY");
    return answer(
        200, R"({"AccessKeyId":"CONTKEY","SecretAccessKey":"cont-secret","Token":"cont-token",)"
             R"("Expiration":"2030-01-01T00:00:00Z"})");
  });
  const Credentials credentials = resolve(container);
  EXPECT_EQ(credentials.access_key_id, "CONTKEY");
  EXPECT_EQ(credentials.session_token, "cont-token");
  ASSERT_EQ(container->requests.size(), 1u);
  EXPECT_EQ(container->requests[0].url, "http://127.0.0.1:9911/creds");
  EXPECT_EQ(testing::header(container->requests[0], "Authorization"), "container-token");

  // A role profile whose credential_source is the container assumes its role with them.
  write("config",
        "[profile task]\nrole_arn = arn:aws:iam::111111111111:role/Task\n"
        "credential_source = EcsContainer\n"
        "[profile odd]\nrole_arn = arn:aws:iam::111111111111:role/Task\n"
        "credential_source = Laptop\n");
  variables_["AWS_CONFIG_FILE"] = (folder_ / "config").string();
  variables_["AWS_ENDPOINT_URL_STS"] = "http://sts.local:4566";
  variables_["AWS_PROFILE"] = "task";
  EXPECT_EQ(resolve(container).access_key_id, "TASKROLEKEY");
  ASSERT_EQ(container->requests.size(), 3u);
  EXPECT_NE(testing::header(container->requests[2], "Authorization").find("Credential=CONTKEY/"),
            std::string::npos);
  variables_["AWS_PROFILE"] = "odd";
  try {
    (void)resolve(container);
    FAIL() << "no error";
  } catch (const ClientError& error) {
    EXPECT_NE(std::string(error.what()).find("unknown credential_source 'Laptop'"),
              std::string::npos)
        << error.what();
  }
  variables_.erase("AWS_PROFILE");

  // An endpoint that cannot be reached is tried three times, then named.
  auto unreachable = std::make_shared<ScriptedHttp>();
  unreachable->fail_when_used_up("Could not connect to 127.0.0.1:9911");
  try {
    (void)resolve(unreachable);
    FAIL() << "no error";
  } catch (const ClientError& error) {
    EXPECT_EQ(std::string(error.what()),
              "The container credentials endpoint http://127.0.0.1:9911/creds could not be "
              "reached: Could not connect to 127.0.0.1:9911");
  }
  EXPECT_EQ(unreachable->requests.size(), 3u);

  // Plain http to anywhere but a loopback or container host would hand the token to a stranger.
  variables_["AWS_CONTAINER_CREDENTIALS_FULL_URI"] = "http://203.0.113.9/creds";
  EXPECT_THROW((void)resolve(), ClientError);
}

TEST_F(CredentialChain, InstanceMetadataIsAskedWithASessionTokenAndShortTimeOuts) {
  variables_.erase("AWS_EC2_METADATA_DISABLED");
  variables_["AWS_EC2_METADATA_SERVICE_ENDPOINT"] = "http://169.254.169.254/";
  int busy = 0;
  auto imds = std::make_shared<ScriptedHttp>([&](const http::Request& request) {
    if (busy > 0) {
      --busy;
      return answer(503, "");
    }
    if (request.method == "PUT") return answer(200, "imds-token");
    if (testing::header(request, "X-aws-ec2-metadata-token") != "imds-token")
      return answer(401, "");
    if (request.url.ends_with("/security-credentials/")) return answer(200, "instance-role\n");
    return answer(
        200,
        R"({"Code":"Success","AccessKeyId":"IMDSKEY","SecretAccessKey":"imds-secret","Token":"imds-tok"})");
  });
  const Credentials credentials = resolve(imds);
  EXPECT_EQ(credentials.access_key_id, "IMDSKEY");
  ASSERT_EQ(imds->requests.size(), 3u);
  EXPECT_EQ(imds->requests[0].url, "http://169.254.169.254/latest/api/token");
  EXPECT_EQ(testing::header(imds->requests[0], "X-aws-ec2-metadata-token-ttl-seconds"), "21600");
  EXPECT_EQ(imds->requests[2].url,
            "http://169.254.169.254/latest/meta-data/iam/security-credentials/instance-role");
  for (const auto& request : imds->requests) EXPECT_LE(request.timeout, std::chrono::seconds(1));

  // A busy service is asked again as often as the profile's metadata_service_num_attempts allows,
  // and AWS_METADATA_SERVICE_NUM_ATTEMPTS comes first.
  write("config", "[default]\nmetadata_service_num_attempts = 3\n");
  variables_["AWS_CONFIG_FILE"] = (folder_ / "config").string();
  imds->requests.clear();
  busy = 2;
  EXPECT_EQ(resolve(imds).access_key_id, "IMDSKEY");
  EXPECT_EQ(imds->requests.size(), 5u);
  variables_["AWS_METADATA_SERVICE_NUM_ATTEMPTS"] = "2";
  imds->requests.clear();
  busy = 2;
  try {
    (void)resolve(imds);
    FAIL() << "no error";
  } catch (const NoCredentialsError& error) {
    EXPECT_NE(std::string(error.what()).find("169.254.169.254 (no session token)"),
              std::string::npos)
        << error.what();
  }
  EXPECT_EQ(imds->requests.size(), 2u);

  // The time-out comes from AWS_METADATA_SERVICE_TIMEOUT, else the profile's
  // metadata_service_timeout.
  variables_.erase("AWS_METADATA_SERVICE_NUM_ATTEMPTS");
  write("config", "[default]\nmetadata_service_timeout = 2.5\n");
  imds->requests.clear();
  EXPECT_EQ(resolve(imds).access_key_id, "IMDSKEY");
  EXPECT_EQ(imds->requests.front().timeout, std::chrono::milliseconds(2500));
  variables_["AWS_METADATA_SERVICE_TIMEOUT"] = "0.5";
  imds->requests.clear();
  EXPECT_EQ(resolve(imds).access_key_id, "IMDSKEY");
  EXPECT_EQ(imds->requests.front().timeout, std::chrono::milliseconds(500));
}

TEST_F(CredentialChain, NothingAnywhereNamesEveryPlaceLookedAt) {
  try {
    (void)resolve();
    FAIL() << "no error";
  } catch (const NoCredentialsError& error) {
    const std::string message = error.what();
    for (const char* place :
         {"AWS_ACCESS_KEY_ID", "profile 'default'", ".aws/credentials", ".aws/config",
          "container credentials", "disabled by AWS_EC2_METADATA_DISABLED"}) {
      EXPECT_NE(message.find(place), std::string::npos) << place << " missing from: " << message;
    }
  }
}

TEST_F(CredentialChain, AMachineWithoutMetadataServiceGivesUpQuickly) {
  variables_.erase("AWS_EC2_METADATA_DISABLED");
  // A local port nobody listens on stands for the unreachable link-local address.
  variables_["AWS_EC2_METADATA_SERVICE_ENDPOINT"] = "http://127.0.0.1:9";
  const auto start = std::chrono::steady_clock::now();
  EXPECT_THROW((void)resolve(std::make_shared<http::CurlClient>()), NoCredentialsError);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

}  // namespace
}  // namespace aws
