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

http::Response service_answer(const Context& context, const RetryPolicy& retry, AdaptiveRate& rate,
                              const std::string& operation, const std::string& url,
                              const std::function<http::Request()>& build,
                              ServiceError (*read_error)(const std::string&, long,
                                                         const std::string&)) {
  const auto error_code = [&](const http::Response& answer) {
    return read_error(operation, answer.status, answer.body).code();
  };
  http::Response response =
      send_with_retries(context, retry, rate, operation, url, build, error_code);
  if (!is_success(response.status)) throw read_error(operation, response.status, response.body);
  return response;
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
  const http::Response response =
      service_answer(context_, retry_, *rate_, operation, endpoint_.url, build, read_service_error);
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
