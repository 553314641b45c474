#include "aws/credentials.hpp"

#include <cctype>
#include <cstdio>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "aws/command.hpp"
#include "aws/endpoints.hpp"
#include "aws/errors.hpp"
#include "aws/shared_config.hpp"
#include "aws/sigv4.hpp"
#include "aws/sts.hpp"
#include "untrusted/untrusted.hpp"

namespace aws {

namespace {

// A credential_process prints a few hundred bytes; anything near this is not credentials.
constexpr std::size_t MAX_CREDENTIAL_PROCESS_OUTPUT = std::size_t{1} << 20;

// Every place the chain looked at, for the message when nothing was found.
using Trail = std::vector<std::string>;

std::optional<std::string> setting(const ProfileSettings& settings, const std::string& key) {
  const auto found = settings.find(key);
  if (found == settings.end() || found->second.empty()) return std::nullopt;
  return found->second;
}

std::optional<Credentials> from_environment(const Environment& environment, Trail& trail) {
  trail.push_back("the environment variables AWS_ACCESS_KEY_ID and AWS_SECRET_ACCESS_KEY");
  const auto key = environment.get("AWS_ACCESS_KEY_ID");
  const auto secret = environment.get("AWS_SECRET_ACCESS_KEY");
  if (!key && !secret) return std::nullopt;
  if (!key || !secret) {
    throw ClientError(std::string("Partial credentials in the environment: ") +
                      (key ? "AWS_SECRET_ACCESS_KEY" : "AWS_ACCESS_KEY_ID") + " is not set");
  }
  return Credentials{*key, *secret,
                     environment.get("AWS_SESSION_TOKEN")
                         .value_or(environment.get("AWS_SECURITY_TOKEN").value_or("")),
                     ""};
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
  return Credentials{*key, *secret, setting(settings, "aws_session_token").value_or(""), ""};
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

Credentials run_credential_process(const std::string& command, const std::string& profile,
                                   const Context& context) {
  const std::string source = "The credential_process of profile '" + profile + "'";
  std::fflush(nullptr);
  // The command is run by the shell as the SDKs' documentation writes it; its standard error
  // goes to ours so that sign-in helpers can talk to the operator.
  const CommandResult result =
      run_shell_command(command, context.withheld_from_children, MAX_CREDENTIAL_PROCESS_OUTPUT);
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
  return Credentials{text_member(document, "AccessKeyId", source, true),
                     text_member(document, "SecretAccessKey", source, true),
                     text_member(document, "Token", source, false),
                     text_member(document, "Expiration", source, false)};
}

std::string without_line_ends(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
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
    std::ifstream in(*token_file, std::ios::binary);
    if (!in) throw ClientError("Cannot read AWS_CONTAINER_AUTHORIZATION_TOKEN_FILE " + *token_file);
    std::ostringstream text;
    text << in.rdbuf();
    token = without_line_ends(text.str());
  } else {
    token = context.environment.get("AWS_CONTAINER_AUTHORIZATION_TOKEN");
  }
  if (token) {
    if (token->find_first_of("\r\n") != std::string::npos)
      throw ClientError("The container authorization token holds a line break");
    request.headers.emplace_back("Authorization", *token);
  }
  request.timeout = std::chrono::seconds(2);
  request.connect_timeout = std::chrono::seconds(2);
  const std::string source = "The container credentials endpoint " + url;
  constexpr int attempts = 3;
  for (int attempt = 1;; ++attempt) {
    try {
      const http::Response response = context.http->send(request);
      if (response.status == 200) return read_metadata_credentials(response.body, source);
      if (response.status < 500 || attempt >= attempts) {
        throw ClientError(source + " answered with HTTP status " + std::to_string(response.status));
      }
    } catch (const http::TransportError& error) {
      if (attempt >= attempts) throw ClientError(source + " could not be reached: " + error.what());
    }
  }
}

std::chrono::milliseconds metadata_timeout(const Environment& environment) {
  if (const auto text = environment.get("AWS_METADATA_SERVICE_TIMEOUT")) {
    try {
      const double seconds = std::stod(*text);
      if (seconds > 0 && seconds <= 60)
        return std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
    } catch (const std::exception&) {
      // An unreadable value keeps the short default.
    }
  }
  return std::chrono::seconds(1);
}

int metadata_attempts(const Environment& environment) {
  if (const auto text = environment.get("AWS_METADATA_SERVICE_NUM_ATTEMPTS")) {
    try {
      const int value = std::stoi(*text);
      if (value >= 1 && value <= 10) return value;
    } catch (const std::exception&) {
      // An unreadable value keeps the default of one attempt.
    }
  }
  return 1;
}

std::optional<Credentials> from_instance_metadata(const Context& context, Trail& trail) {
  if (context.environment.is_true("AWS_EC2_METADATA_DISABLED")) {
    trail.push_back("the EC2 instance metadata service (disabled by AWS_EC2_METADATA_DISABLED)");
    return std::nullopt;
  }
  std::string base = context.environment.get("AWS_EC2_METADATA_SERVICE_ENDPOINT")
                         .value_or("http://169.254.169.254");
  while (base.ends_with('/')) base.pop_back();
  const auto timeout = metadata_timeout(context.environment);
  const int attempts = metadata_attempts(context.environment);
  // A laptop has no metadata service: every step gives up quickly and the chain reports it.
  const auto fetch = [&](const std::string& method, const std::string& path,
                         const http::Headers& headers) -> std::optional<http::Response> {
    for (int attempt = 1; attempt <= attempts; ++attempt) {
      http::Request request;
      request.method = method;
      request.url = base + path;
      request.headers = headers;
      request.timeout = timeout;
      request.connect_timeout = timeout;
      try {
        http::Response response = context.http->send(request);
        if (response.status == 200) return response;
        if (response.status < 500) return std::nullopt;
      } catch (const http::TransportError&) {
        // Tried again while attempts remain.
      }
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

class ProfileResolver {
 public:
  ProfileResolver(const Context& context, const SharedConfig& config)
      : context_(context), config_(config) {}

  // The credentials a profile gives, in the SDKs' order within a profile; nothing when the
  // profile holds no credential settings.
  std::optional<Credentials> resolve(const std::string& name, std::set<std::string>& visited,
                                     Trail& trail) {
    const auto settings = config_.profile(name);
    if (!settings) return std::nullopt;
    if (setting(*settings, "role_arn")) return assume_role(name, *settings, visited);
    if (const auto found = config_.credentials_profiles.find(name);
        found != config_.credentials_profiles.end()) {
      if (auto keys = static_keys(found->second, name, config_.credentials_file.string()))
        return keys;
    }
    if (const auto command = setting(*settings, "credential_process"))
      return run_credential_process(*command, name, context_);
    if (const auto found = config_.config_profiles.find(name);
        found != config_.config_profiles.end()) {
      if (auto keys = static_keys(found->second, name, config_.config_file.string())) return keys;
    }
    if (setting(*settings, "sso_session") || setting(*settings, "sso_start_url")) {
      trail.push_back("profile '" + name +
                      "' names an SSO sign-in, which is only read through credential_process");
    }
    return std::nullopt;
  }

 private:
  Credentials assume_role(const std::string& name, const ProfileSettings& settings,
                          std::set<std::string>& visited) {
    if (!visited.insert(name).second) {
      throw ClientError("The profiles that assume roles form a loop through profile '" + name +
                        "'");
    }
    if (setting(settings, "mfa_serial")) {
      throw ClientError("Profile '" + name +
                        "' needs an MFA code (mfa_serial), which cannot be asked for here");
    }
    const auto source_profile = setting(settings, "source_profile");
    const auto credential_source = setting(settings, "credential_source");
    if (source_profile && credential_source) {
      throw ClientError("Profile '" + name + "' names both source_profile and credential_source");
    }
    Credentials source;
    if (source_profile) {
      source = source_credentials(*source_profile, name, visited);
    } else if (credential_source) {
      source = named_source(*credential_source, name);
    } else {
      throw ClientError("Profile '" + name +
                        "' has a role_arn but neither source_profile nor credential_source");
    }
    AssumeRoleRequest request;
    request.role_arn = *setting(settings, "role_arn");
    request.role_session_name =
        setting(settings, "role_session_name")
            .value_or("aws-session-" +
                      std::to_string(std::chrono::duration_cast<std::chrono::seconds>(
                                         context_.now().time_since_epoch())
                                         .count()));
    request.external_id = setting(settings, "external_id");
    if (const auto duration = setting(settings, "duration_seconds")) {
      try {
        request.duration_seconds = std::stoi(*duration);
      } catch (const std::exception&) {
        throw ClientError("Profile '" + name + "': duration_seconds is not a number");
      }
    }
    const StsClient sts(context_, source, resolve_region(context_.environment, config_));
    return sts.assume_role(request);
  }

  Credentials source_credentials(const std::string& source_name, const std::string& name,
                                 std::set<std::string>& visited) {
    const auto settings = config_.profile(source_name);
    if (!settings)
      throw ClientError("The source_profile '" + source_name + "' of profile '" + name +
                        "' does not exist");
    // A profile may name itself as its source when it holds the keys that assume its role.
    if (source_name == name) {
      if (auto keys = static_keys(*settings, name, "the shared files")) return *keys;
      throw ClientError("Profile '" + name + "' is its own source_profile but holds no keys");
    }
    Trail ignored;
    if (auto credentials = resolve(source_name, visited, ignored)) return *credentials;
    throw ClientError("The source_profile '" + source_name + "' of profile '" + name +
                      "' holds no credentials");
  }

  Credentials named_source(const std::string& source, const std::string& name) {
    Trail ignored;
    std::optional<Credentials> credentials;
    if (source == "Environment") {
      credentials = from_environment(context_.environment, ignored);
    } else if (source == "Ec2InstanceMetadata") {
      credentials = from_instance_metadata(context_, ignored);
    } else if (source == "EcsContainer") {
      credentials = from_container(context_, ignored);
    } else {
      throw ClientError("Profile '" + name + "' names an unknown credential_source '" + source +
                        "'");
    }
    if (!credentials)
      throw ClientError("The credential_source " + source + " of profile '" + name +
                        "' gave no credentials");
    return *credentials;
  }

  const Context& context_;
  const SharedConfig& config_;
};

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
  return Credentials{text_member(document, "AccessKeyId", source, true),
                     text_member(document, "SecretAccessKey", source, true),
                     text_member(document, "SessionToken", source, false),
                     text_member(document, "Expiration", source, false)};
}

Credentials resolve_default_credentials(const Context& context) {
  Trail trail;
  if (auto credentials = from_environment(context.environment, trail)) return *credentials;

  const SharedConfig config = load_shared_config(context.environment);
  if (config.profile_named_explicitly && !config.profile(config.profile_name)) {
    throw ClientError("The config profile (" + config.profile_name + ") could not be found in " +
                      config.config_file.string() + " or " + config.credentials_file.string());
  }
  trail.push_back("profile '" + config.profile_name + "' of the shared credentials file " +
                  config.credentials_file.string() + " and config file " +
                  config.config_file.string());
  std::set<std::string> visited;
  if (auto credentials =
          ProfileResolver(context, config).resolve(config.profile_name, visited, trail))
    return *credentials;

  if (auto credentials = from_container(context, trail)) return *credentials;
  if (auto credentials = from_instance_metadata(context, trail)) return *credentials;
  throw NoCredentialsError("Unable to locate credentials. Looked in " + joined(trail) + ".");
}

}  // namespace aws
