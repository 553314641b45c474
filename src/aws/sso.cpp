#include "aws/sso.hpp"

#include <openssl/evp.h>

#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>
#include <span>
#include <string>

#include "aws/endpoints.hpp"
#include "aws/errors.hpp"
#include "aws/expiry.hpp"
#include "base/errors.hpp"
#include "base/files/atomic_file.hpp"
#include "base/hex/hex.hpp"
#include "untrusted/secrets.hpp"
#include "untrusted/untrusted.hpp"

namespace aws {

namespace {

using Json = nlohmann::json;

// A cached token this close to its end is renewed before use, as the SDKs do.
constexpr std::chrono::minutes REFRESH_WINDOW{5};

// Times of the cache and the answers are kept in whole seconds: the clock's own nanoseconds reach
// only the year 2262, and a hostile file may hold any year up to 9999.
using Seconds = std::chrono::sys_seconds;

// The longest renewed token lifetime accepted from CreateToken (real ones last hours).
constexpr std::chrono::seconds LONGEST_TOKEN_LIFETIME{std::chrono::days(366 * 100)};

Seconds whole_seconds(std::chrono::system_clock::time_point time) {
  return std::chrono::floor<std::chrono::seconds>(time);
}

std::string sha1_hex(const std::string& text) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(text.data(), text.size(), digest, &length, EVP_sha1(), nullptr) != 1) {
    throw ClientError("SHA-1 is not available for the IAM Identity Center token cache");
  }
  return base::hex::lower_hex(std::span(digest, length));
}

std::string format_utc_time(Seconds time) {
  const std::time_t seconds = time.time_since_epoch().count();
  std::tm parts{};
  ::gmtime_r(&seconds, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
}

std::string json_text(const Json& document, const char* name) {
  const auto found = document.find(name);
  if (found == document.end() || !found->is_string()) return {};
  return found->get<std::string>();
}

std::string login_hint(const std::string& profile_name) {
  return "; run `aws sso login --profile " + profile_name + "`";
}

// The cache file as a JSON object; nothing when there is no file. Its content is never quoted:
// it holds tokens.
std::optional<Json> read_token_cache(const std::filesystem::path& path,
                                     const std::string& profile_name) {
  std::optional<std::string> text;
  try {
    text = read_sign_in_file(path, "an IAM Identity Center token cache");
  } catch (const ClientError& error) {
    throw ClientError(error.what() + (" (profile '" + profile_name + "')") +
                      login_hint(profile_name));
  }
  if (!text) return std::nullopt;
  try {
    Json document = untrusted::parse_json<Json>(*text);
    if (document.is_object()) return document;
  } catch (const std::exception&) {
    // Malformed or nested too deep; reported below without the content.
  }
  throw ClientError("The IAM Identity Center token cache " + path.string() + " of profile '" +
                    profile_name + "' is not a JSON object" + login_hint(profile_name));
}

// Written all or nothing, so that a reader (another run, the AWS CLI) never sees half a token;
// the file stays readable by its owner only.
void write_token_cache(const std::filesystem::path& path, const Json& document) {
  try {
    base::files::write_text_atomically(path, document.dump(), base::files::FileAccess::owner_only);
  } catch (const base::OSError& error) {
    throw ClientError("Cannot write the renewed IAM Identity Center token to " + path.string() +
                      ": " + (error.reason().empty() ? std::string(error.what()) : error.reason()));
  }
}

// The error code and message of a REST-JSON answer: the x-amzn-ErrorType header's code, else the
// one the body names; the HTTP status when neither names one.
std::pair<std::string, std::string> read_json_error(const http::Response& response) {
  JsonErrorFields fields = read_json_error_fields(response.body);
  if (auto type = response.header("x-amzn-errortype")) {
    std::string code = without_model_namespace(type->substr(0, type->find(':')));
    if (!code.empty()) fields.code = std::move(code);
  }
  if (fields.code.empty()) fields.code = "HTTP " + std::to_string(response.status);
  // Escaped where they enter a message, as every service's error text is.
  return {untrusted::printable(fields.code), untrusted::printable(fields.message)};
}

// Sends a request of the portal or the OIDC service through the retry loop, their error codes
// read from the JSON answers; returns the final answer, whatever its status.
http::Response send_sign_in_request(const Context& context, const Transport& transport,
                                    http::Request request, const std::string& operation) {
  request.ca_file = transport.ca_bundle;
  request.timeout = std::chrono::seconds(60);
  request.connect_timeout = std::chrono::seconds(10);
  // A sign-in makes one or two requests: nothing to share a send rate with.
  AdaptiveRate rate;
  return send_with_retries(
      context, transport.retry, rate, operation, request.url, [&] { return request; },
      [](const http::Response& answer) { return read_json_error(answer).first; });
}

// Whether the cache holds what a renewal needs, with a client registration that is still valid.
bool is_renewable(const Json& cache, Seconds now) {
  if (json_text(cache, "refreshToken").empty() || json_text(cache, "clientId").empty() ||
      json_text(cache, "clientSecret").empty()) {
    return false;
  }
  const std::string registration_end = json_text(cache, "registrationExpiresAt");
  if (registration_end.empty()) return true;
  const auto end = parse_utc_time(registration_end);
  return end && *end > now;
}

// Renews the token through SSO OIDC CreateToken and writes the cache back; the error code of a
// refusal otherwise (never its description, which a server may fill with what it was sent).
std::optional<std::string> renew_token(const Context& context, const SharedConfig& config,
                                       const Transport& transport, const SsoProfile& profile,
                                       const std::filesystem::path& cache_file, Json& cache) {
  const Endpoint oidc =
      resolve_endpoint(Service::sso_oidc, profile.region, context.environment, config);
  http::Request request;
  request.method = "POST";
  request.url = oidc.url + "/token";
  request.headers = {{"Content-Type", "application/json"}};
  request.body = Json{{"clientId", json_text(cache, "clientId")},
                      {"clientSecret", json_text(cache, "clientSecret")},
                      {"grantType", "refresh_token"},
                      {"refreshToken", json_text(cache, "refreshToken")}}
                     .dump();
  const http::Response response =
      send_sign_in_request(context, transport, std::move(request), "CreateToken");
  if (response.status != 200) return read_json_error(response).first;
  Json answer;
  try {
    answer = untrusted::parse_json<Json>(response.body);
  } catch (const std::exception&) {
    return std::string("an answer that is not JSON");
  }
  if (!answer.is_object()) return std::string("an answer that is not a JSON object");
  const auto expires_in = answer.find("expiresIn");
  if (json_text(answer, "accessToken").empty() || expires_in == answer.end() ||
      !expires_in->is_number_integer() || expires_in->get<long long>() <= 0 ||
      expires_in->get<long long>() > LONGEST_TOKEN_LIFETIME.count()) {
    return std::string("an answer without accessToken and expiresIn");
  }
  untrusted::hold_secret(json_text(answer, "accessToken"));
  untrusted::hold_secret(json_text(answer, "refreshToken"));
  cache["accessToken"] = json_text(answer, "accessToken");
  cache["expiresAt"] = format_utc_time(whole_seconds(context.now()) +
                                       std::chrono::seconds(expires_in->get<long long>()));
  if (const std::string refresh = json_text(answer, "refreshToken"); !refresh.empty())
    cache["refreshToken"] = refresh;
  write_token_cache(cache_file, cache);
  return std::nullopt;
}

// The access token to present to the portal, renewed first when needed and possible.
std::string usable_access_token(const Context& context, const SharedConfig& config,
                                const Transport& transport, const SsoProfile& profile) {
  const std::filesystem::path cache_file = sso_token_cache_file(context.environment, profile);
  const std::string who = "profile '" + profile.profile_name + "'";
  std::optional<Json> cache = read_token_cache(cache_file, profile.profile_name);
  if (cache) {
    for (const char* secret : {"accessToken", "refreshToken", "clientSecret"})
      untrusted::hold_secret(json_text(*cache, secret));
  }
  if (!cache || json_text(*cache, "accessToken").empty()) {
    throw ClientError("There is no IAM Identity Center sign-in for " + who + " (no token in " +
                      cache_file.string() + ")" + login_hint(profile.profile_name));
  }
  const Seconds now = whole_seconds(context.now());
  const auto expires_at = parse_utc_time(json_text(*cache, "expiresAt"));
  const bool expired = !expires_at || *expires_at <= now;
  if (!expired && *expires_at - REFRESH_WINDOW > now) return json_text(*cache, "accessToken");

  std::string why = expired ? "has expired" : "is about to expire";
  if (is_renewable(*cache, now)) {
    const auto refusal = renew_token(context, config, transport, profile, cache_file, *cache);
    if (!refusal) return json_text(*cache, "accessToken");
    why += " and could not be renewed (" + *refusal + ")";
  }
  // A token that is still valid for a few minutes is better than none.
  if (!expired) return json_text(*cache, "accessToken");
  throw ClientError("The IAM Identity Center sign-in of " + who + " " + why +
                    login_hint(profile.profile_name));
}

Credentials read_role_credentials(const std::string& body, const std::string& source) {
  Json document;
  try {
    document = untrusted::parse_json<Json>(body);
  } catch (const std::exception&) {
    throw ClientError(source + " is not JSON");
  }
  const auto role = document.is_object() ? document.find("roleCredentials") : document.end();
  if (!document.is_object() || role == document.end() || !role->is_object() ||
      json_text(*role, "accessKeyId").empty() || json_text(*role, "secretAccessKey").empty()) {
    throw ClientError(source + " holds no roleCredentials");
  }
  std::string expiration;
  if (const auto found = role->find("expiration");
      found != role->end() && found->is_number_integer()) {
    // Milliseconds since the epoch.
    expiration = format_utc_time(Seconds(std::chrono::floor<std::chrono::seconds>(
        std::chrono::milliseconds(found->get<long long>()))));
  }
  return accepted_credentials(
      Credentials{json_text(*role, "accessKeyId"), json_text(*role, "secretAccessKey"),
                  json_text(*role, "sessionToken"), expiration},
      source);
}

}  // namespace

std::optional<SsoProfile> read_sso_profile(const SharedConfig& config,
                                           const std::string& profile_name,
                                           const ProfileSettings& settings) {
  const auto session_name = setting(settings, "sso_session");
  auto start_url = setting(settings, "sso_start_url");
  auto region = setting(settings, "sso_region");
  if (!session_name && !start_url) return std::nullopt;
  const std::string who = "Profile '" + profile_name + "'";

  if (session_name) {
    const auto session = config.sso_sessions.find(*session_name);
    if (session == config.sso_sessions.end()) {
      throw ClientError(who + " names the sso_session '" + *session_name + "', but " +
                        config.config_file.string() + " has no [sso-session " + *session_name +
                        "] section");
    }
    // The profile may repeat the session's values, but not contradict them.
    for (const char* key : {"sso_start_url", "sso_region"}) {
      const auto of_session = setting(session->second, key);
      if (!of_session) {
        throw ClientError("The [sso-session " + *session_name + "] section of " +
                          config.config_file.string() + " has no " + key);
      }
      if (const auto of_profile = setting(settings, key);
          of_profile && *of_profile != *of_session) {
        throw ClientError(who + " sets " + key + " = " + *of_profile + ", but its sso_session '" +
                          *session_name + "' sets " + *of_session);
      }
    }
    start_url = setting(session->second, "sso_start_url");
    region = setting(session->second, "sso_region");
  }

  std::string missing;
  const auto require = [&](const char* key, const std::optional<std::string>& value) {
    if (!value) missing += std::string(missing.empty() ? "" : ", ") + key;
  };
  require("sso_start_url", start_url);
  require("sso_region", region);
  require("sso_account_id", setting(settings, "sso_account_id"));
  require("sso_role_name", setting(settings, "sso_role_name"));
  if (!missing.empty()) {
    throw ClientError(who + " signs in through IAM Identity Center but has no " + missing);
  }
  check_region_name(*region);
  return SsoProfile{profile_name,
                    session_name,
                    *start_url,
                    *region,
                    *setting(settings, "sso_account_id"),
                    *setting(settings, "sso_role_name")};
}

std::filesystem::path sso_token_cache_file(const Environment& environment,
                                           const SsoProfile& profile) {
  return aws_home_file(environment,
                       std::filesystem::path("sso") / "cache" /
                           (sha1_hex(profile.session_name.value_or(profile.start_url)) + ".json"));
}

Credentials sso_role_credentials(const Context& context, const SharedConfig& config,
                                 const SsoProfile& profile) {
  const Transport transport = resolve_transport(context.environment, config);
  const std::string token = usable_access_token(context, config, transport, profile);
  if (!http::is_header_safe(token)) {
    throw ClientError("The IAM Identity Center token of profile '" + profile.profile_name +
                      "' holds a control character" + login_hint(profile.profile_name));
  }
  const Endpoint portal =
      resolve_endpoint(Service::sso, profile.region, context.environment, config);
  http::Request request;
  request.url = portal.url +
                "/federation/credentials?account_id=" + http::percent_encode(profile.account_id) +
                "&role_name=" + http::percent_encode(profile.role_name);
  request.headers = {{"x-amz-sso_bearer_token", token}, {"Accept", "application/json"}};
  const http::Response response =
      send_sign_in_request(context, transport, std::move(request), "GetRoleCredentials");
  const std::string role = "the role " + profile.role_name + " in account " + profile.account_id;
  if (response.status == 200) {
    return read_role_credentials(response.body, "The IAM Identity Center answer for " + role);
  }
  const auto [code, message] = read_json_error(response);
  const std::string detail = " (" + code + (message.empty() ? "" : ": " + message) + ")";
  if (response.status == 401 || code == "UnauthorizedException") {
    throw ClientError("The IAM Identity Center sign-in of profile '" + profile.profile_name +
                      "' is no longer accepted" + detail + login_hint(profile.profile_name));
  }
  throw ClientError("IAM Identity Center refused profile '" + profile.profile_name + "' " + role +
                    detail);
}

}  // namespace aws
