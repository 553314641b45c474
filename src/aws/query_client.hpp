#pragma once

// Calls of the AWS Query protocol (STS, EC2): a form-encoded POST, signed, tried again under the
// standard retry policy, with the XML answer or the service's error read from the body.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "aws/context.hpp"
#include "aws/credentials.hpp"
#include "aws/endpoints.hpp"
#include "aws/errors.hpp"
#include "aws/retry.hpp"
#include "aws/xml.hpp"

namespace aws {

/// Request parameters in the order they are sent (Action and Version are added).
using QueryParameters = std::vector<std::pair<std::string, std::string>>;

/// One service endpoint with one set of credentials, or none for the few operations that are
/// sent unsigned (AssumeRoleWithWebIdentity). Retries and the CA bundle follow AWS_MAX_ATTEMPTS /
/// max_attempts and AWS_CA_BUNDLE / ca_bundle.
class QueryClient {
 public:
  QueryClient(Context context, Endpoint endpoint, std::optional<Credentials> credentials,
              std::string signing_name, std::string api_version);

  /// Performs `operation` and returns the root of its XML answer. ServiceError when the service
  /// refused it (after the retries the policy allows); ClientError when no usable answer came.
  [[nodiscard]] xml::Element call(const std::string& operation,
                                  const QueryParameters& parameters) const;

  [[nodiscard]] const Endpoint& endpoint() const noexcept { return endpoint_; }
  [[nodiscard]] const RetryPolicy& retry_policy() const noexcept { return retry_; }

 private:
  Context context_;
  Endpoint endpoint_;
  std::optional<Credentials> credentials_;
  std::string signing_name_;
  std::string api_version_;
  RetryPolicy retry_;
  std::string ca_bundle_;
  // Shared by the copies of this client: they talk to the same account and region.
  std::shared_ptr<AdaptiveRate> rate_ = std::make_shared<AdaptiveRate>();
};

/// The ServiceError that an error answer of `operation` describes (EC2's <Response><Errors> and
/// the <ErrorResponse><Error> of the other Query services); an unreadable body gives the HTTP
/// status as the code.
[[nodiscard]] ServiceError read_service_error(const std::string& operation, long http_status,
                                              const std::string& body);

/// The answer of a service call sent through send_with_retries, whose failures `read_error` reads
/// as (operation, HTTP status, body); the ServiceError of the final answer when it is no success.
[[nodiscard]] http::Response service_answer(const Context& context, const RetryPolicy& retry,
                                            AdaptiveRate& rate, const std::string& operation,
                                            const std::string& url,
                                            const std::function<http::Request()>& build,
                                            ServiceError (*read_error)(const std::string&, long,
                                                                       const std::string&));

}  // namespace aws
