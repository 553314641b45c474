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

QueryClient::QueryClient(Context context, Endpoint endpoint, Credentials credentials,
                         std::string signing_name, std::string api_version)
    : context_(std::move(context)),
      endpoint_(std::move(endpoint)),
      credentials_(std::move(credentials)),
      signing_name_(std::move(signing_name)),
      api_version_(std::move(api_version)),
      retry_(RetryPolicy::standard(context_.environment)) {}

xml::Element QueryClient::call(const std::string& operation,
                               const QueryParameters& parameters) const {
  QueryParameters fields{{"Action", operation}, {"Version", api_version_}};
  fields.insert(fields.end(), parameters.begin(), parameters.end());
  const std::string body = http::form_encode(fields);

  for (int attempt = 1;; ++attempt) {
    http::Request request;
    request.method = "POST";
    request.url = endpoint_.url + "/";
    request.headers = {{"Content-Type", "application/x-www-form-urlencoded; charset=utf-8"}};
    request.body = body;
    // Signed anew for every attempt: a signature is only valid for a few minutes.
    sigv4::sign(request, credentials_, endpoint_.signing_region, signing_name_, context_.now());

    try {
      const http::Response response = context_.http->send(request);
      if (response.status >= 200 && response.status < 300) {
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
      ServiceError error = read_service_error(operation, response.status, response.body);
      const bool retryable = is_throttling_code(error.code()) ||
                             is_transient_service_failure(error.code(), error.http_status());
      if (!retryable || attempt >= retry_.max_attempts) throw error;
    } catch (const http::TransportError& error) {
      if (error.cause() == http::TransportError::Cause::answer_too_large) {
        throw ClientError("Refused the answer of the " + operation + " operation (" +
                          endpoint_.url + "): " + error.what());
      }
      if (!is_transient_transport_failure(error.curl_code()) || attempt >= retry_.max_attempts) {
        throw ClientError("Could not reach the endpoint for the " + operation + " operation (" +
                          endpoint_.url + ") after " + std::to_string(attempt) +
                          " attempt(s): " + error.what());
      }
    }
    context_.sleeper->sleep_for(backoff_delay(retry_, attempt, context_.random()));
  }
}

}  // namespace aws
