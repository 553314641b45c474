#include "aws/query_client.hpp"

#include "aws/errors.hpp"
#include "aws/sigv4.hpp"
#include "untrusted/untrusted.hpp"

namespace aws {

namespace {

std::string status_phrase(long status) {
  switch (status) {
    case 400:
      return "Bad Request";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 429:
      return "Too Many Requests";
    case 500:
      return "Internal Server Error";
    case 502:
      return "Bad Gateway";
    case 503:
      return "Service Unavailable";
    case 504:
      return "Gateway Timeout";
    default:
      return "HTTP status " + std::to_string(status);
  }
}

}  // namespace

ServiceError read_service_error(const std::string& operation, long http_status,
                                const std::string& body) {
  try {
    const xml::Element root = xml::parse(body);
    const xml::Element* error = nullptr;
    std::string request_id;
    if (const xml::Element* errors = root.child("Errors")) {
      error = errors->child("Error");
      request_id = root.child_text("RequestID").value_or(root.child_text_or_empty("RequestId"));
    } else {
      error = root.name == "Error" ? &root : root.child("Error");
      request_id = root.child_text("RequestId").value_or(root.child_text_or_empty("RequestID"));
    }
    if (error != nullptr && error->child("Code") != nullptr) {
      return ServiceError(error->child_text_or_empty("Code"), error->child_text_or_empty("Message"),
                          request_id, operation, http_status);
    }
  } catch (const ClientError&) {
    // Not an XML error document (a proxy's page, an empty body): fall back to the status.
  }
  return ServiceError(std::to_string(http_status), status_phrase(http_status), "", operation,
                      http_status);
}

QueryClient::QueryClient(Context context, Endpoint endpoint, std::optional<Credentials> credentials,
                         std::string signing_name, std::string api_version)
    : context_(std::move(context)),
      endpoint_(std::move(endpoint)),
      credentials_(std::move(credentials)),
      signing_name_(std::move(signing_name)),
      api_version_(std::move(api_version)) {
  Transport transport =
      resolve_transport(context_.environment, load_shared_config(context_.environment));
  retry_ = transport.retry;
  ca_bundle_ = std::move(transport.ca_bundle);
}

http::Response send_with_retries(const Context& context, const RetryPolicy& retry,
                                 AdaptiveRate& rate, const std::string& operation,
                                 const std::string& url,
                                 const std::function<http::Request()>& build,
                                 const ServiceErrorReader& read_error) {
  const bool patient = context.throttling_patience.count() > 0;
  std::chrono::milliseconds throttled_for{0};
  int throttled = 0;
  int failed = 0;
  std::chrono::milliseconds pause = rate.due(context.now());
  for (;;) {
    if (pause.count() > 0) context.sleeper->sleep_for(pause);
    // Built and signed anew for every attempt: a signature is only valid for a few minutes.
    const http::Request request = build();
    rate.sent(context.now());
    try {
      http::Response response = context.http->send(request);
      if (response.status >= 200 && response.status < 300) {
        rate.came_through();
        return response;
      }
      ServiceError error = read_error(operation, response.status, response.body);
      if (is_throttling_code(error.code())) {
        rate.throttled(retry.max_backoff);
        if (patient) {
          // Throttling passes by definition: it is waited out, with growing jittered pauses no
          // shorter than the client's own interval, until the patience is spent.
          pause = std::max({backoff_delay(retry, ++throttled, context.random()),
                            MIN_THROTTLING_PAUSE, rate.interval()});
          if (throttled_for + pause > context.throttling_patience) throw error;
          throttled_for += pause;
          continue;
        }
      }
      const bool retryable = is_throttling_code(error.code()) ||
                             is_transient_service_failure(error.code(), error.http_status());
      if (!retryable || ++failed >= retry.max_attempts) throw error;
    } catch (const http::TransportError& error) {
      if (error.cause() == http::TransportError::Cause::answer_too_large) {
        throw ClientError("Refused the answer of the " + operation + " operation (" + url +
                          "): " + error.what());
      }
      if (!is_transient_transport_failure(error.curl_code()) || ++failed >= retry.max_attempts) {
        throw ClientError("Could not reach the endpoint for the " + operation + " operation (" +
                          url + ") after " + std::to_string(failed + throttled) +
                          " attempt(s): " + error.what());
      }
    }
    pause = backoff_delay(retry, failed, context.random());
  }
}

xml::Element QueryClient::call(const std::string& operation,
                               const QueryParameters& parameters) const {
  QueryParameters fields{{"Action", operation}, {"Version", api_version_}};
  fields.insert(fields.end(), parameters.begin(), parameters.end());
  const std::string body = http::form_encode(fields);
  const auto build = [&] {
    http::Request request;
    request.method = "POST";
    request.url = endpoint_.url + "/";
    request.headers = {{"Content-Type", "application/x-www-form-urlencoded; charset=utf-8"}};
    request.body = body;
    request.ca_file = ca_bundle_;
    if (credentials_) {
      sigv4::sign(request, *credentials_, endpoint_.signing_region, signing_name_, context_.now());
    }
    return request;
  };
  const http::Response response = send_with_retries(context_, retry_, *rate_, operation,
                                                    endpoint_.url, build, read_service_error);
  xml::Element answer;
  try {
    answer = xml::parse(response.body);
  } catch (const ClientError& error) {
    throw ClientError("The answer of the " + operation +
                      " operation could not be read: " + error.what());
  }
  // A proxy's or captive portal's page may come with status 200 and still be well-formed
  // XML; read as an answer it would list nothing, so it is refused.
  const std::string expected = operation + "Response";
  if (answer.name != expected) {
    throw ClientError("The answer of the " + operation + " operation from " + endpoint_.url +
                      " is not a " + expected + " document: its root is <" +
                      untrusted::printable(answer.name) + "> (HTTP status " +
                      std::to_string(response.status) + ", " +
                      std::to_string(response.body.size()) + " bytes)");
  }
  return answer;
}

}  // namespace aws
