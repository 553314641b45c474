#include "aws/credentials.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>

#include "aws/command.hpp"
#include "aws/endpoints.hpp"
#include "aws/errors.hpp"
#include "aws/expiry.hpp"
#include "aws/shared_config.hpp"
#include "aws/sigv4.hpp"
#include "aws/sso.hpp"
#include "aws/sts.hpp"
#include "untrusted/secrets.hpp"
#include "untrusted/untrusted.hpp"

namespace aws {

namespace {

// A credential_process prints a few hundred bytes; anything near this is not credentials.
constexpr std::size_t MAX_CREDENTIAL_PROCESS_OUTPUT = std::size_t{1} << 20;

// The setting of a profile, beside its credential_process, that gives the command more (or less)
// time than DEFAULT_CREDENTIAL_PROCESS_TIMEOUT, in whole seconds.
constexpr const char* CREDENTIAL_PROCESS_TIMEOUT_SETTING = "credential_process_timeout";

// Every place the chain looked at, for the message when nothing was found.
using Trail = std::vector<std::string>;

std::optional<Credentials> from_environment(const Environment& environment, Trail& trail) {
  trail.push_back("the environment variables AWS_ACCESS_KEY_ID and AWS_SECRET_ACCESS_KEY");
  const auto key = environment.get("AWS_ACCESS_KEY_ID");
  const auto secret = environment.get("AWS_SECRET_ACCESS_KEY");
  if (!key && !secret) return std::nullopt;
  if (!key || !secret) {
    throw ClientError(std::string("Partial credentials in the environment: ") +
                      (key ? "AWS_SECRET_ACCESS_KEY" : "AWS_ACCESS_KEY_ID") + " is not set");
  }
  return accepted_credentials(
      Credentials{*key, *secret,
                  environment.get("AWS_SESSION_TOKEN")
                      .value_or(environment.get("AWS_SECURITY_TOKEN").value_or("")),
                  ""},
      "The environment variables AWS_ACCESS_KEY_ID and AWS_SESSION_TOKEN");
}

// Static keys of a profile, from the file section given.
std::optional<Credentials> static_keys(const ProfileSettings& settings, const std::string& profile,
                                       const std::string& file) {
  const auto key = setting(settings, "aws_access_key_id");
  const auto secret = setting(settings, "aws_secret_access_key");
  if (!key && !secret) return std::nullopt;
  if (!key || !secret) {
    throw ClientError("Partial credentials in profile '" + profile + "' of " + file + ": " +
                      (key ? "aws_secret_access_key" : "aws_access_key_id") + " is missing");
  }
  return accepted_credentials(
      Credentials{*key, *secret, setting(settings, "aws_session_token").value_or(""), ""},
      "Profile '" + profile + "' of " + file);
}

std::string text_member(const nlohmann::json& document, const char* name, const std::string& source,
                        bool required) {
  const auto found = document.find(name);
  if (found == document.end() || found->is_null()) {
    if (required) throw ClientError(source + " gave no " + name);
    return {};
  }
  if (!found->is_string()) throw ClientError(source + " gave a " + name + " that is not a text");
  return found->get<std::string>();
}

std::chrono::seconds credential_process_timeout(const ProfileSettings& settings,
                                                const std::string& profile) {
  const auto text = setting(settings, CREDENTIAL_PROCESS_TIMEOUT_SETTING);
  if (!text) return DEFAULT_CREDENTIAL_PROCESS_TIMEOUT;
  long long seconds = 0;
  const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), seconds);
  if (error != std::errc() || end != text->data() + text->size() || seconds < 1 ||
      seconds > 86'400) {
    throw ClientError("Profile '" + profile + "': " + CREDENTIAL_PROCESS_TIMEOUT_SETTING +
                      " must be a whole number of seconds from 1 to 86400, not '" +
                      untrusted::printable(*text) + "'");
  }
  return std::chrono::seconds(seconds);
}

Credentials run_credential_process(const std::string& command, const std::string& profile,
                                   std::chrono::seconds time_limit, const Context& context) {
  const std::string source = "The credential_process of profile '" + profile + "'";
  std::fflush(nullptr);
  // The command is run by the shell as the SDKs' documentation writes it; its standard error
  // goes to ours so that sign-in helpers can talk to the operator.
  const CommandResult result = run_shell_command(command, context.withheld_from_children,
                                                 MAX_CREDENTIAL_PROCESS_OUTPUT, time_limit);
  if (result.timed_out) {
    throw ClientError(source + " did not finish within " + std::to_string(time_limit.count()) +
                      " s and was ended with its process group; " +
                      CREDENTIAL_PROCESS_TIMEOUT_SETTING + " in the profile sets a longer limit");
  }
  if (result.output_cut) {
    throw ClientError(source + " printed more than " +
                      std::to_string(MAX_CREDENTIAL_PROCESS_OUTPUT >> 10) + " KiB");
  }
  if (result.exit_status != 0) {
    throw ClientError(source + " failed (exit status " + std::to_string(result.exit_status) + ")");
  }
  return read_credential_process_output(result.output, profile);
}

// A JSON answer of the container or instance metadata service.
Credentials read_metadata_credentials(const std::string& body, const std::string& source) {
  nlohmann::json document;
  try {
    document = untrusted::parse_json<nlohmann::json>(body);
  } catch (const untrusted::NestingTooDeep& error) {
    throw ClientError(source + " answered with JSON " + error.what());
  } catch (const nlohmann::json::exception&) {
    throw ClientError(source + " did not answer with a JSON object");
  }
  if (!document.is_object()) throw ClientError(source + " did not answer with a JSON object");
  if (document.contains("Code") && document["Code"].is_string() && document["Code"] != "Success") {
    throw ClientError(source + " answered with the code " +
                      untrusted::printable(document["Code"].get<std::string>()));
  }
  return accepted_credentials(Credentials{text_member(document, "AccessKeyId", source, true),
                                          text_member(document, "SecretAccessKey", source, true),
                                          text_member(document, "Token", source, false),
                                          text_member(document, "Expiration", source, false)},
                              source);
}

std::string without_line_ends(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

// A token kept in a file (`what` names the file's origin in the error), without its line ends.
std::string read_token_file(const std::string& path, const std::string& what) {
  const auto text = read_sign_in_file(path, what);
  if (!text) throw ClientError("Cannot read " + what + " " + path);
  std::string token = without_line_ends(*text);
  untrusted::hold_secret(token);
  return token;
}

bool is_allowed_container_host(const sigv4::UrlParts& url) {
  if (url.scheme == "https") return true;
  std::string host = url.authority;
  if (host.starts_with('[')) {
    host = host.substr(0, host.find(']') + 1);
  } else if (const auto colon = host.rfind(':'); colon != std::string::npos) {
    host.erase(colon);
  }
  return host == "localhost" || host.starts_with("127.") || host == "[::1]" ||
         host == "169.254.170.2" || host == "169.254.170.23" || host == "[fd00:ec2::23]";
}

std::optional<Credentials> from_container(const Context& context, Trail& trail) {
  const auto relative = context.environment.get("AWS_CONTAINER_CREDENTIALS_RELATIVE_URI");
  const auto full = context.environment.get("AWS_CONTAINER_CREDENTIALS_FULL_URI");
  if (!relative && !full) {
    trail.push_back(
        "container credentials (AWS_CONTAINER_CREDENTIALS_RELATIVE_URI and _FULL_URI are not set)");
    return std::nullopt;
  }
  std::string url;
  if (relative) {
    url = "http://169.254.170.2" + *relative;
  } else {
    url = *full;
    if (!is_allowed_container_host(sigv4::split_url(url))) {
      throw ClientError(
          "AWS_CONTAINER_CREDENTIALS_FULL_URI must use https or a loopback or container host: " +
          url);
    }
  }
  http::Request request;
  request.url = url;
  request.headers = {{"Accept", "application/json"}};
  std::optional<std::string> token;
  if (const auto token_file = context.environment.get("AWS_CONTAINER_AUTHORIZATION_TOKEN_FILE")) {
    token = read_token_file(*token_file, "AWS_CONTAINER_AUTHORIZATION_TOKEN_FILE");
  } else {
    token = context.environment.get("AWS_CONTAINER_AUTHORIZATION_TOKEN");
  }
  if (token) {
    untrusted::hold_secret(*token);
    if (!http::is_header_safe(*token))
      throw ClientError("The container authorization token holds a control character");
    request.headers.emplace_back("Authorization", *token);
  }
  request.timeout = std::chrono::seconds(2);
  request.connect_timeout = std::chrono::seconds(2);
  const std::string source = "The container credentials endpoint " + url;
  // The endpoint answers in plain status codes, with no error code to read.
  AdaptiveRate rate;
  http::Response response;
  try {
    response = send_with_retries(context, RetryPolicy::container(), rate, "container credentials",
                                 url, [&] { return request; }, {});
  } catch (const UnansweredError& error) {
    throw ClientError(source + " could not be reached: " + error.transport_failure());
  }
  if (response.status != 200) {
    throw ClientError(source + " answered with HTTP status " + std::to_string(response.status));
  }
  return read_metadata_credentials(response.body, source);
}

// AWS_METADATA_SERVICE_TIMEOUT, else the profile's metadata_service_timeout: seconds, up to a
// minute; one second when neither holds a usable value.
std::chrono::milliseconds metadata_timeout(const Environment& environment,
                                           const std::optional<std::string>& profile_timeout) {
  for (const auto& text : {environment.get("AWS_METADATA_SERVICE_TIMEOUT"), profile_timeout}) {
    if (!text) continue;
    try {
      std::size_t used = 0;
      const double seconds = std::stod(*text, &used);
      if (used == text->size() && seconds > 0 && seconds <= 60)
        return std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
    } catch (const std::exception&) {
      // An unreadable value is passed over, as the other settings of the service are.
    }
  }
  return std::chrono::seconds(1);
}

std::optional<Credentials> from_instance_metadata(const Context& context, const RetryPolicy& retry,
                                                  std::chrono::milliseconds timeout, Trail& trail) {
  if (context.environment.is_true("AWS_EC2_METADATA_DISABLED")) {
    trail.push_back("the EC2 instance metadata service (disabled by AWS_EC2_METADATA_DISABLED)");
    return std::nullopt;
  }
  std::string base = context.environment.get("AWS_EC2_METADATA_SERVICE_ENDPOINT")
                         .value_or("http://169.254.169.254");
  while (base.ends_with('/')) base.pop_back();
  AdaptiveRate rate;
  // A laptop has no metadata service: every step gives up quickly and the chain reports it.
  const auto fetch = [&](const std::string& method, const std::string& path,
                         const http::Headers& headers) -> std::optional<http::Response> {
    http::Request request;
    request.method = method;
    request.url = base + path;
    request.headers = headers;
    request.timeout = timeout;
    request.connect_timeout = timeout;
    try {
      http::Response response = send_with_retries(context, retry, rate, "instance metadata", base,
                                                  [&] { return request; }, {});
      if (response.status == 200) return response;
    } catch (const UnansweredError&) {
      // No service here; the trail says which step found nothing.
    }
    return std::nullopt;
  };
  const std::string where = "the EC2 instance metadata service at " + base;
  const auto token =
      fetch("PUT", "/latest/api/token", {{"X-aws-ec2-metadata-token-ttl-seconds", "21600"}});
  if (!token || token->body.empty()) {
    trail.push_back(where + " (no session token)");
    return std::nullopt;
  }
  untrusted::hold_secret(token->body);
  if (!http::is_header_safe(token->body))
    throw ClientError("The session token of " + where + " holds a control character");
  const http::Headers with_token{{"X-aws-ec2-metadata-token", token->body}};
  const auto roles = fetch("GET", "/latest/meta-data/iam/security-credentials/", with_token);
  std::string role;
  if (roles) role = without_line_ends(roles->body.substr(0, roles->body.find('\n')));
  if (role.empty() || role.find('/') != std::string::npos) {
    trail.push_back(where + " (no instance role)");
    return std::nullopt;
  }
  const auto answer =
      fetch("GET", "/latest/meta-data/iam/security-credentials/" + http::percent_encode(role),
            with_token);
  if (!answer) {
    trail.push_back(where + " (no credentials for the instance role)");
    return std::nullopt;
  }
  return read_metadata_credentials(answer->body, "The EC2 instance metadata service");
}

// The shared files, read when a provider first needs them, so that keys in the environment
// variables make a broken file harmless.
class ProfileFiles {
 public:
  explicit ProfileFiles(Environment environment) : environment_(std::move(environment)) {}

  const SharedConfig& config() const {
    if (!config_) {
      config_ = load_shared_config(environment_);
      if (config_->profile_named_explicitly && !config_->profile(config_->profile_name)) {
        throw ClientError("The config profile (" + config_->profile_name +
                          ") could not be found in " + config_->config_file.string() + " or " +
                          config_->credentials_file.string());
      }
    }
    return *config_;
  }

 private:
  Environment environment_;
  mutable std::optional<SharedConfig> config_;
};

using Files = std::shared_ptr<const ProfileFiles>;

// What every provider of one profile shares: the outside world, the files and the profile's name
// (the active profile when none is given).
class ProfileProvider : public CredentialProvider {
 public:
  ProfileProvider(Context context, Files files, std::optional<std::string> name)
      : context_(std::move(context)), files_(std::move(files)), name_(std::move(name)) {}

 protected:
  const SharedConfig& config() const { return files_->config(); }
  std::string name() const { return name_ ? *name_ : config().profile_name; }
  ProfileSettings settings() const { return config().profile(name()).value_or(ProfileSettings{}); }
  std::string quoted_name() const { return "profile '" + name() + "'"; }

  Context context_;
  Files files_;
  std::optional<std::string> name_;
};

std::optional<int> duration_seconds(const ProfileSettings& settings, const std::string& name) {
  const auto duration = setting(settings, "duration_seconds");
  if (!duration) return std::nullopt;
  try {
    return std::stoi(*duration);
  } catch (const std::exception&) {
    throw ClientError("Profile '" + name + "': duration_seconds is not a number");
  }
}

std::string default_session_name(const Context& context) {
  return "aws-session-" + std::to_string(std::chrono::duration_cast<std::chrono::seconds>(
                                             context.now().time_since_epoch())
                                             .count());
}

CredentialChain profile_chain(const Context& context, const Files& files,
                              const std::optional<std::string>& name, bool with_environment);

Credentials credentials_of_source(const std::string& source, const Context& context,
                                  const Files& files, const std::string& name);

// A role_arn with its source_profile or credential_source: the role is assumed with the
// credentials of the source, which may itself assume a role.
class AssumeRoleProvider : public ProfileProvider {
 public:
  using ProfileProvider::ProfileProvider;

  std::optional<Credentials> load(Trail& looked_at) const override {
    const ProfileSettings profile = settings();
    if (!applies(profile, context_.environment)) {
      looked_at.push_back("a role_arn with source_profile or credential_source in " +
                          quoted_name());
      return std::nullopt;
    }
    refuse_source_profile_loop(name());
    std::set<std::string> visited;
    return assume_role(name(), profile, visited);
  }

  // Whether the settings assume a role from another source (a role_arn beside a web identity
  // token is the web identity provider's).
  static bool applies(const ProfileSettings& profile, const Environment& environment) {
    if (!setting(profile, "role_arn") || setting(profile, "web_identity_token_file")) return false;
    return setting(profile, "source_profile") || setting(profile, "credential_source") ||
           !environment.get("AWS_WEB_IDENTITY_TOKEN_FILE");
  }

 private:
  // A chain of source_profile settings that comes back to a profile is refused before anything is
  // sent, also where a profile on the way holds keys of its own (which would end the walk below
  // early and hide the loop); a profile that names itself is its own keys' role, as in the SDKs.
  void refuse_source_profile_loop(const std::string& start) const {
    std::vector<std::string> chain{start};
    for (;;) {
      const auto profile = config().profile(chain.back());
      const auto next = profile && setting(*profile, "role_arn")
                            ? setting(*profile, "source_profile")
                            : std::nullopt;
      if (!next || *next == chain.back()) return;
      const bool seen = std::find(chain.begin(), chain.end(), *next) != chain.end();
      chain.push_back(*next);
      if (!seen) continue;
      std::string path;
      for (const auto& name : chain) path += (path.empty() ? "" : " -> ") + name;
      throw ClientError("The source_profile settings of profile '" + start +
                        "' form a loop: " + path);
    }
  }

  Credentials assume_role(const std::string& name, const ProfileSettings& profile,
                          std::set<std::string>& visited) const {
    if (!visited.insert(name).second) {
      throw ClientError("The profiles that assume roles form a loop through profile '" + name +
                        "'");
    }
    const auto mfa_serial = setting(profile, "mfa_serial");
    if (mfa_serial && !context_.mfa_prompt) {
      throw ClientError("Profile '" + name +
                        "' needs an MFA code (mfa_serial), which cannot be asked for here");
    }
    const auto source_profile = setting(profile, "source_profile");
    const auto credential_source = setting(profile, "credential_source");
    if (source_profile && credential_source) {
      throw ClientError("Profile '" + name + "' names both source_profile and credential_source");
    }
    Credentials source;
    if (source_profile) {
      source = source_credentials(*source_profile, name, visited);
    } else if (credential_source) {
      source = credentials_of_source(*credential_source, context_, files_, name);
    } else {
      throw ClientError("Profile '" + name +
                        "' has a role_arn but neither source_profile nor credential_source");
    }
    AssumeRoleRequest request;
    request.role_arn = *setting(profile, "role_arn");
    request.role_session_name =
        setting(profile, "role_session_name").value_or(default_session_name(context_));
    request.external_id = setting(profile, "external_id");
    request.duration_seconds = duration_seconds(profile, name);
    if (mfa_serial) {
      // Asked for once the source credentials are there, right before the one request it is for:
      // a code lasts only half a minute.
      request.serial_number = *mfa_serial;
      request.token_code = context_.mfa_prompt->code(name, *mfa_serial);
    }
    const StsClient sts(context_, source, operator_region(context_, config()));
    return sts.assume_role(request);
  }

  // As the SDKs do: a source profile with keys, or without a role of its own, gives what its own
  // providers find (keys, web identity, IAM Identity Center, credential_process); otherwise its
  // role is assumed in turn.
  Credentials source_credentials(const std::string& source_name, const std::string& name,
                                 std::set<std::string>& visited) const {
    const auto profile = config().profile(source_name);
    if (!profile) {
      throw ClientError("The source_profile '" + source_name + "' of profile '" + name +
                        "' does not exist");
    }
    const bool has_keys = setting(*profile, "aws_access_key_id").has_value();
    if (has_keys || !applies(*profile, Environment::fixed({}))) {
      try {
        return first_credentials(profile_chain(context_, files_, source_name, false));
      } catch (const NoCredentialsError&) {
        throw ClientError("The source_profile '" + source_name + "' of profile '" + name +
                          "' holds no credentials");
      }
    }
    return assume_role(source_name, *profile, visited);
  }
};

// A web identity token (a CI job's or a Kubernetes service account's) exchanged for the role's
// credentials through STS; each setting from its environment variable first, then the profile.
class WebIdentityProvider : public ProfileProvider {
 public:
  WebIdentityProvider(Context context, Files files, std::optional<std::string> name,
                      bool with_environment)
      : ProfileProvider(std::move(context), std::move(files), std::move(name)),
        with_environment_(with_environment) {}

  std::optional<Credentials> load(Trail& looked_at) const override {
    const ProfileSettings profile = settings();
    const auto value = [&](const char* variable, const char* key) {
      std::optional<std::string> found;
      if (with_environment_) found = context_.environment.get(variable);
      return found ? found : setting(profile, key);
    };
    const auto token_file = value("AWS_WEB_IDENTITY_TOKEN_FILE", "web_identity_token_file");
    if (!token_file) {
      looked_at.push_back(std::string("a web identity token (") +
                          (with_environment_ ? "AWS_WEB_IDENTITY_TOKEN_FILE, or " : "") +
                          "web_identity_token_file in " + quoted_name() + ")");
      return std::nullopt;
    }
    const auto role_arn = value("AWS_ROLE_ARN", "role_arn");
    if (!role_arn) {
      throw ClientError("A web identity token file is set (" + *token_file +
                        ") but no role to assume: set AWS_ROLE_ARN or role_arn in " +
                        quoted_name());
    }
    WebIdentityRequest request;
    request.role_arn = *role_arn;
    request.role_session_name = value("AWS_ROLE_SESSION_NAME", "role_session_name")
                                    .value_or(default_session_name(context_));
    request.web_identity_token = read_token(*token_file);
    request.duration_seconds = duration_seconds(profile, name());
    return assume_role_with_web_identity(context_, operator_region(context_, config()),
                                         request);
  }

 private:
  // The token is read anew for every use: the platform that issued it renews the file.
  static std::string read_token(const std::string& path) {
    std::string token = read_token_file(path, "the web identity token file");
    if (token.empty()) throw ClientError("The web identity token file " + path + " is empty");
    return token;
  }

  bool with_environment_;
};

// An IAM Identity Center sign-in: the role credentials for the cached token of `aws sso login`.
class SsoProvider : public ProfileProvider {
 public:
  using ProfileProvider::ProfileProvider;

  std::optional<Credentials> load(Trail& looked_at) const override {
    const auto sso = read_sso_profile(config(), name(), settings());
    if (!sso) {
      looked_at.push_back("an IAM Identity Center sign-in (sso_session or sso_start_url) in " +
                          quoted_name());
      return std::nullopt;
    }
    return sso_role_credentials(context_, config(), *sso);
  }
};

// Keys written into one of the two files.
class ProfileKeysProvider : public ProfileProvider {
 public:
  ProfileKeysProvider(Context context, Files files, std::optional<std::string> name,
                      bool credentials_file)
      : ProfileProvider(std::move(context), std::move(files), std::move(name)),
        credentials_file_(credentials_file) {}

  std::optional<Credentials> load(Trail& looked_at) const override {
    const SharedConfig& files = config();
    const auto& sections = credentials_file_ ? files.credentials_profiles : files.config_profiles;
    const std::string file =
        (credentials_file_ ? files.credentials_file : files.config_file).string();
    if (const auto found = sections.find(name()); found != sections.end()) {
      if (auto keys = static_keys(found->second, name(), file)) return keys;
    }
    looked_at.push_back(std::string("keys of ") + quoted_name() + " in the " +
                        (credentials_file_ ? "shared credentials file " : "config file ") + file);
    return std::nullopt;
  }

 private:
  bool credentials_file_;
};

// A command that prints the keys (credential_process).
class CredentialProcessProvider : public ProfileProvider {
 public:
  using ProfileProvider::ProfileProvider;

  std::optional<Credentials> load(Trail& looked_at) const override {
    const ProfileSettings profile = settings();
    if (const auto command = setting(profile, "credential_process")) {
      return run_credential_process(*command, name(), credential_process_timeout(profile, name()),
                                    context_);
    }
    looked_at.push_back("credential_process in " + quoted_name());
    return std::nullopt;
  }
};

class EnvironmentProvider : public CredentialProvider {
 public:
  explicit EnvironmentProvider(Environment environment) : environment_(std::move(environment)) {}
  std::optional<Credentials> load(Trail& looked_at) const override {
    return from_environment(environment_, looked_at);
  }

 private:
  Environment environment_;
};

class ContainerProvider : public CredentialProvider {
 public:
  explicit ContainerProvider(Context context) : context_(std::move(context)) {}
  std::optional<Credentials> load(Trail& looked_at) const override {
    return from_container(context_, looked_at);
  }

 private:
  Context context_;
};

class InstanceMetadataProvider : public CredentialProvider {
 public:
  InstanceMetadataProvider(Context context, Files files)
      : context_(std::move(context)), files_(std::move(files)) {}
  std::optional<Credentials> load(Trail& looked_at) const override {
    const SharedConfig& config = files_->config();
    const auto profile = config.profile(config.profile_name);
    const auto profile_setting = [&](const char* name) {
      return profile ? setting(*profile, name) : std::nullopt;
    };
    const RetryPolicy retry = RetryPolicy::instance_metadata(
        context_.environment, profile_setting("metadata_service_num_attempts"));
    return from_instance_metadata(
        context_, retry,
        metadata_timeout(context_.environment, profile_setting("metadata_service_timeout")),
        looked_at);
  }

 private:
  Context context_;
  Files files_;
};

// The providers within one profile, in the SDKs' order after the role assumption.
CredentialChain profile_chain(const Context& context, const Files& files,
                              const std::optional<std::string>& name, bool with_environment) {
  CredentialChain chain;
  chain.push_back(std::make_unique<WebIdentityProvider>(context, files, name, with_environment));
  chain.push_back(std::make_unique<SsoProvider>(context, files, name));
  chain.push_back(std::make_unique<ProfileKeysProvider>(context, files, name, true));
  chain.push_back(std::make_unique<CredentialProcessProvider>(context, files, name));
  chain.push_back(std::make_unique<ProfileKeysProvider>(context, files, name, false));
  return chain;
}

// The credential_source of a role profile: one of the chain's own providers.
Credentials credentials_of_source(const std::string& source, const Context& context,
                                  const Files& files, const std::string& name) {
  std::unique_ptr<CredentialProvider> provider;
  if (source == "Environment") {
    provider = std::make_unique<EnvironmentProvider>(context.environment);
  } else if (source == "Ec2InstanceMetadata") {
    provider = std::make_unique<InstanceMetadataProvider>(context, files);
  } else if (source == "EcsContainer") {
    provider = std::make_unique<ContainerProvider>(context);
  } else {
    throw ClientError("Profile '" + name + "' names an unknown credential_source '" + source +
                      "' (Environment, Ec2InstanceMetadata or EcsContainer)");
  }
  Trail ignored;
  if (auto credentials = provider->load(ignored)) return *credentials;
  throw ClientError("The credential_source " + source + " of profile '" + name +
                    "' gave no credentials");
}

std::string joined(const Trail& trail) {
  std::string text;
  for (std::size_t i = 0; i < trail.size(); ++i) {
    if (i > 0) text += i + 1 == trail.size() ? "; and " : "; ";
    text += trail[i];
  }
  return text;
}

}  // namespace

Credentials read_credential_process_output(const std::string& output, const std::string& profile) {
  const std::string source = "The credential_process of profile '" + profile + "'";
  nlohmann::json document;
  try {
    document = untrusted::parse_json<nlohmann::json>(output);
  } catch (const untrusted::NestingTooDeep& error) {
    throw ClientError(source + " printed JSON " + error.what());
  } catch (const nlohmann::json::exception&) {
    // The output may hold secrets: it is never quoted.
    throw ClientError(source + " did not print a JSON object");
  }
  if (!document.is_object()) throw ClientError(source + " did not print a JSON object");
  const auto version = document.find("Version");
  if (version == document.end() || !version->is_number_integer() ||
      version->get<std::int64_t>() != 1) {
    throw ClientError(source + " printed an unsupported Version (1 is expected)");
  }
  return accepted_credentials(Credentials{text_member(document, "AccessKeyId", source, true),
                                          text_member(document, "SecretAccessKey", source, true),
                                          text_member(document, "SessionToken", source, false),
                                          text_member(document, "Expiration", source, false)},
                              source);
}

Credentials accepted_credentials(Credentials credentials, const std::string& source) {
  untrusted::hold_secret(credentials.secret_access_key);
  untrusted::hold_secret(credentials.session_token);
  if (!http::is_header_safe(credentials.access_key_id))
    throw ClientError(source + " gave an access key id with a control character");
  if (!http::is_header_safe(credentials.session_token))
    throw ClientError(source + " gave a session token with a control character");
  return credentials;
}

CredentialChain default_credential_chain(const Context& context) {
  const Files files = std::make_shared<const ProfileFiles>(context.environment);
  CredentialChain chain;
  chain.push_back(std::make_unique<EnvironmentProvider>(context.environment));
  chain.push_back(std::make_unique<AssumeRoleProvider>(context, files, std::nullopt));
  for (auto& provider : profile_chain(context, files, std::nullopt, true))
    chain.push_back(std::move(provider));
  chain.push_back(std::make_unique<ContainerProvider>(context));
  chain.push_back(std::make_unique<InstanceMetadataProvider>(context, files));
  return chain;
}

Credentials first_credentials(const CredentialChain& chain) {
  Trail looked_at;
  for (const auto& provider : chain) {
    if (auto credentials = provider->load(looked_at)) return *credentials;
  }
  throw NoCredentialsError("Unable to locate credentials. Looked in " + joined(looked_at) + ".");
}

Credentials resolve_default_credentials(const Context& context) {
  return first_credentials(default_credential_chain(context));
}

Credentials OwnCredentials::get(const Context& context) {
  const std::lock_guard lock(mutex_);
  // Credentials that run out during a long run (a role chain, IAM Identity Center, a process's)
  // are resolved anew a few minutes ahead, once for every thread.
  if (resolved_ && !failure_ && due_for_renewal(credentials_, context.now())) resolved_ = false;
  if (!resolved_) {
    try {
      credentials_ = resolve_default_credentials(context);
    } catch (...) {
      failure_ = std::current_exception();
    }
    resolved_ = true;
  }
  if (failure_) std::rethrow_exception(failure_);
  return credentials_;
}

}  // namespace aws
