#include "generator/controller/controller.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <exception>
#include <optional>
#include <utility>
#include <vector>

#include "base/text/ascii.hpp"
#include "generator/common/errors.hpp"
#include "generator/log/log.hpp"
#include "untrusted/secrets.hpp"
#include "untrusted/untrusted.hpp"

namespace generator::controller {

namespace {

using Json = nlohmann::ordered_json;
using Fields = std::vector<std::pair<std::string, std::string>>;

constexpr std::string_view MASK = untrusted::SECRET_MARK;
// Member names whose values are secrets wherever they appear in an answer (compared in lower case).
constexpr std::array<std::string_view, 4> SECRET_MEMBERS = {"cid", "api_token", "password",
                                                            "x-access-key"};

log::Logger& logger() { return log::get_logger("generator.generate"); }

bool is_secret_member(std::string_view name) {
  const std::string lowered = base::text::lower_case(name);
  return std::find(SECRET_MEMBERS.begin(), SECRET_MEMBERS.end(), lowered) != SECRET_MEMBERS.end();
}

std::string mask_text(std::string text, const std::vector<std::string>& secrets) {
  return untrusted::without_secrets(std::move(text), secrets);
}

// Answers are parsed no deeper than the bound; a document built otherwise is cut there rather
// than followed without end.
Json masked(const Json& value, const std::vector<std::string>& secrets, int depth = 0) {
  if (value.is_structured() && depth >= untrusted::MAX_JSON_DEPTH) return "...";
  if (value.is_object()) {
    Json copy = Json::object();
    for (const auto& [name, member] : value.items()) {
      copy[name] = is_secret_member(name) && !member.is_null() ? Json(MASK)
                                                               : masked(member, secrets, depth + 1);
    }
    return copy;
  }
  if (value.is_array()) {
    Json copy = Json::array();
    for (const auto& item : value) copy.push_back(masked(item, secrets, depth + 1));
    return copy;
  }
  if (value.is_string()) return mask_text(value.get<std::string>(), secrets);
  return value;
}

// One of the three requests, named the way the operator reads it in an error.
struct ControllerRequest {
  std::string action;
  std::string method;
  std::string url;

  [[nodiscard]] std::string description() const {
    return "the " + action + " request (" + method + " " + url + ")";
  }
};

http::Response send_form(http::Client& client, const ControllerRequest& request,
                         const Fields& fields, http::Headers extra_headers) {
  http::Request outgoing;
  outgoing.method = request.method;
  outgoing.url = request.url;
  outgoing.headers = std::move(extra_headers);
  outgoing.headers.emplace_back("Content-Type", "application/x-www-form-urlencoded");
  outgoing.body = http::form_encode(fields);
  http::Response response = client.send(outgoing);
  // Shown whatever the check, so that an operator can pin what the controller presents.
  if (response.certificate_sha256) {
    logger().debug("Controller certificate SHA-256 fingerprint: {}", *response.certificate_sha256);
  }
  return response;
}

Json decode(const http::Response& response, const ControllerRequest& request) {
  // The parser's own message quotes the text it choked on, which may hold a secret: name the place
  // only.
  try {
    return untrusted::parse_json<Json>(response.body);
  } catch (const untrusted::NestingTooDeep& error) {
    throw HalvaneError("The Halvane Controller's answer to " + request.description() + " is " +
                       error.what() + " (HTTP status " + std::to_string(response.status) + ", " +
                       std::to_string(response.body.size()) + " bytes).");
  } catch (const Json::parse_error& error) {
    throw HalvaneError("The Halvane Controller's answer to " + request.description() +
                       " is not JSON (HTTP status " + std::to_string(response.status) + ", " +
                       std::to_string(response.body.size()) + " bytes, unreadable at byte " +
                       std::to_string(error.byte) + ").");
  } catch (const Json::out_of_range&) {
    // Well-formed JSON may still hold a number no double can carry (1e400).
    throw HalvaneError("The Halvane Controller's answer to " + request.description() +
                       " holds a number too large to read (HTTP status " +
                       std::to_string(response.status) + ", " +
                       std::to_string(response.body.size()) + " bytes).");
  }
}

// The controller explains a refusal in "reason"; its text helps the operator, with secrets masked.
std::string controller_reason(const Json& answer, const std::vector<std::string>& secrets) {
  if (!answer.is_object()) return "";
  const auto reason = answer.find("reason");
  if (reason == answer.end() || !reason->is_string()) return "";
  return " The controller says: " +
         untrusted::printable(mask_text(reason->get<std::string>(), secrets));
}

// The member at `path`, or HalvaneError naming the request and the first missing step of the path.
const Json& member_at(const Json& answer, std::initializer_list<const char*> path,
                      const ControllerRequest& request, const std::vector<std::string>& secrets) {
  const Json* current = &answer;
  std::string walked;
  for (const char* name : path) {
    walked += walked.empty() ? "" : " -> ";
    walked += std::string("\"") + name + "\"";
    if (!current->is_object() || !current->contains(name)) {
      throw HalvaneError("The Halvane Controller's answer to " + request.description() +
                         " has no member " + walked + "." + controller_reason(answer, secrets));
    }
    current = &(*current)[name];
  }
  return *current;
}

// The request's description names its method and address, so the transport's reason is added
// without them.
std::string transport_failure(const ControllerRequest& request, const http::TransportError& error) {
  switch (error.cause()) {
    case http::TransportError::Cause::certificate_refused:
      return "Refused the Halvane Controller's certificate in " + request.description() +
             ", before anything was sent: " + error.reason();
    case http::TransportError::Cause::ca_file_unreadable:
      return "Cannot check the Halvane Controller's certificate for " + request.description() +
             " with controller.ca_file: " + error.reason();
    case http::TransportError::Cause::answer_too_large:
      return "Refused the Halvane Controller's answer to " + request.description() + ": " +
             error.reason();
    case http::TransportError::Cause::timed_out:
    case http::TransportError::Cause::other:
      break;
  }
  return "The Halvane Controller did not answer " + request.description() + ": " + error.reason();
}

// Whether the controller gave no answer at all, as opposed to one that was refused.
bool unanswered(const http::TransportError& error) {
  return error.cause() == http::TransportError::Cause::timed_out ||
         error.cause() == http::TransportError::Cause::other;
}

// The paths of the two APIs on the controller's address.
constexpr std::string_view V2_API_PATH = "/v2/api";
constexpr std::string_view V1_API_PATH = "/v1/api";

http::Response send_or_fail(http::Client& client, const ControllerRequest& request,
                            const Fields& fields, http::Headers extra_headers) {
  try {
    return send_form(client, request, fields, std::move(extra_headers));
  } catch (const http::TransportError& error) {
    throw HalvaneError(transport_failure(request, error));
  }
}

// The header is taken at the caller, so that the message names the caller as its origin.
void log_answer(log::FormatString<std::string> header, const Json& answer,
                const std::vector<std::string>& secrets) {
  if (!logger().is_enabled_for(log::DEBUG)) return;
  const std::string rendering =
      masked(answer, secrets).dump(2, ' ', false, Json::error_handler_t::replace);
  logger().debug(header, rendering);
}

// What the token request came to.
struct TokenAttempt {
  /// The V2 API token; nothing when the controller offers none or the request failed.
  std::optional<std::string> api_token;
  /// Why the controller gave no answer at all, for the error of a login that gets none either.
  std::optional<std::string> unanswered_because;
};

// The V2 API token, or nothing when the controller offers none; failures are logged and fall back to
// V1, as the run goes on. Its messages are issued in the name of the caller, whose step this
// is.
TokenAttempt request_api_token(http::Client& client, const std::string& v2_url,
                               const std::vector<std::string>& secrets,
                               log::Issuer where = log::Issuer()) {
  const ControllerRequest request{"get_api_token", "GET", v2_url};
  TokenAttempt attempt;
  std::optional<std::string>& api_token = attempt.api_token;
  try {
    http::Response response;
    try {
      response = send_form(client, request, {{"action", "get_api_token"}}, {});
    } catch (const http::TransportError& error) {
      if (unanswered(error)) attempt.unanswered_because = error.reason();
      throw HalvaneError(transport_failure(request, error));
    }
    const Json answer = decode(response, request);
    const bool v2_offered =
        answer.is_object() && answer.contains("return") && answer["return"] == true;
    if (v2_offered) {
      const Json& token = member_at(answer, {"results", "api_token"}, request, secrets);
      if (!token.is_string()) {
        throw HalvaneError("The Halvane Controller's answer to " + request.description() +
                           " carries an \"api_token\" that is not a text.");
      }
      std::string taken = token.get<std::string>();
      untrusted::hold_secret(taken);
      if (!http::is_header_safe(taken)) {
        throw HalvaneError("The Halvane Controller's answer to " + request.description() +
                           " carries an \"api_token\" with a control character, which cannot "
                           "travel in the \"X-Access-Key\" header.");
      }
      api_token = std::move(taken);
      logger().info({where, "Use controller login V2 api"});
    } else {
      logger().info({where, "Use controller login V1 api"});
    }
  } catch (const std::exception& error) {
    std::vector<std::string> known = secrets;
    if (api_token) known.push_back(*api_token);
    // The run goes on over V1, so the cause is indented under the message rather than shown in
    // the "Kind: message" form of the error that ends a run.
    logger().error({where, "Failed to get V2 API token. Retry V1 login API.\n  {}"},
                   mask_text(error.what(), known));
  }
  return attempt;
}

// The session identifier as a form value; the controller sends text, a number is taken as written.
std::optional<std::string> session_identifier(const Json& login_answer) {
  if (!login_answer.is_object()) return std::nullopt;
  const auto cid = login_answer.find("CID");
  if (cid == login_answer.end()) return std::nullopt;
  if (cid->is_string()) return cid->get<std::string>();
  if (cid->is_number()) return cid->dump();
  return std::nullopt;
}

}  // namespace

std::string _masked_rendering(const nlohmann::ordered_json& answer,
                              const std::vector<std::string>& secrets) {
  return masked(answer, secrets).dump(2, ' ', false, Json::error_handler_t::replace);
}

std::string _get_hvn_password(const config::Config& config, Terminal& terminal) {
  const char* from_environment = std::getenv(std::string(PASSWORD_VARIABLE).c_str());
  if (from_environment != nullptr && *from_environment != '\0') return from_environment;
  return terminal.read_secret("Halvane Controller " + config.controller.username + "@" +
                              config.controller.ip + "'s password:");
}

std::string _get_hvn_password(const config::Config& config) {
  ControllingTerminal terminal;
  return _get_hvn_password(config, terminal);
}

nlohmann::ordered_json get_account_list(const config::Config& config, http::Client& client,
                                        Terminal& terminal) {
  const std::string& ip = config.controller.ip;
  const std::string& username = config.controller.username;
  logger().debug("Controller IP: '{}'", ip);
  logger().debug("Username: '{}'", username);

  const std::string password = _get_hvn_password(config, terminal);
  // Held for the whole run, so that no message shows them whatever echoes them later; the list
  // here also masks them in the renderings of the answers.
  untrusted::hold_secret(password);
  std::vector<std::string> secrets{password};

  const std::string v2_url = "https://" + ip + std::string(V2_API_PATH);
  const std::string v1_url = "https://" + ip + std::string(V1_API_PATH);
  logger().debug("Controller API URL: '{}'", v2_url);
  logger().info("Logging in as {}", username);

  const TokenAttempt token = request_api_token(client, v2_url, secrets);
  const std::optional<std::string>& api_token = token.api_token;
  if (api_token) {
    untrusted::hold_secret(*api_token);
    secrets.push_back(*api_token);
  }

  const ControllerRequest login{"login", "POST", api_token ? v2_url : v1_url};
  http::Headers login_headers;
  if (api_token) login_headers.emplace_back("X-Access-Key", *api_token);
  http::Response login_response;
  try {
    login_response =
        send_form(client, login,
                  {{"action", "login"}, {"username", username}, {"password", password}},
                  std::move(login_headers));
  } catch (const http::TransportError& error) {
    if (!token.unanswered_because || !unanswered(error))
      throw HalvaneError(transport_failure(login, error));
    // Neither API answered (so no token was taken, and the login went to V1): one line that
    // names the controller once and what was tried.
    throw HalvaneError("The Halvane Controller at " + ip +
                       " did not answer: tried V2 (the get_api_token request, GET " +
                       std::string(V2_API_PATH) + ": " + *token.unanswered_because +
                       "), then V1 (the login request, " + login.method + " " +
                       std::string(V1_API_PATH) + ": " + error.reason() + ")");
  }
  const Json login_answer = decode(login_response, login);
  // The identifier is known before the answer is shown, so that the rendering can mask it wherever
  // it appears.
  const std::optional<std::string> cid = session_identifier(login_answer);
  if (cid) {
    untrusted::hold_secret(*cid);
    secrets.push_back(*cid);
  }
  log_answer("login response: \n{}", login_answer, secrets);

  if (!cid) {
    const std::string trace = "HalvaneError: The Halvane Controller's answer to " +
                              login.description() + " has no usable member \"CID\"." +
                              controller_reason(login_answer, secrets);
    logger().error("Login failed. Please check Halvane Controller IP, username and password.\n{}",
                   trace);
    throw HalvaneError("Failed to login to controller.\nUsername: " + username +
                       "\nController IP: " + ip);
  }

  logger().info("Getting list of accounts on controller.");
  const ControllerRequest list_accounts{"list_accounts", "POST", v1_url};
  const Json list_answer =
      decode(send_or_fail(
                 client, list_accounts,
                 {{"action", "list_accounts"}, {"CID", *cid}, {"aws_iam_role_based", "True"}}, {}),
             list_accounts);
  log_answer("list_accounts response:\n{}", list_answer, secrets);

  const Json& account_list =
      member_at(list_answer, {"results", "account_list"}, list_accounts, secrets);
  if (!account_list.is_array()) {
    throw HalvaneError("The Halvane Controller's answer to " + list_accounts.description() +
                       " carries an \"account_list\" that is not a list.");
  }
  log_answer("Account List:\n{}", account_list, secrets);
  return account_list;
}

http::TransportSettings transport_settings(const config::ControllerSettings& settings) {
  http::TransportSettings transport;
  transport.request_timeout = settings.timeout;
  transport.connect_timeout =
      std::min<std::chrono::milliseconds>(transport.connect_timeout, settings.timeout);
  transport.stall_timeout =
      std::min<std::chrono::milliseconds>(transport.stall_timeout, settings.timeout);
  transport.max_answer_bytes = MAX_ANSWER_BYTES;
  if (!settings.certificate_sha256.empty()) {
    transport.tls_verification = http::TlsVerification::pinned;
    transport.certificate_sha256 = settings.certificate_sha256;
  } else if (!settings.ca_file.empty()) {
    transport.tls_verification = http::TlsVerification::ca_file;
    transport.ca_file = settings.ca_file;
  } else {
    // Most controllers run on a self-signed certificate that nobody has pinned yet.
    transport.tls_verification = http::TlsVerification::skip;
  }
  return transport;
}

nlohmann::ordered_json get_account_list(const config::Config& config,
                                        const http::TransportSettings& transport) {
  http::CurlClient client(transport);
  ControllingTerminal terminal;
  return get_account_list(config, client, terminal);
}

nlohmann::ordered_json get_account_list(const config::Config& config) {
  return get_account_list(config, transport_settings(config.controller));
}

}  // namespace generator::controller
