#pragma once

// The two kinds of failure of the AWS layer: an answer of an AWS service that refused or could not
// do the request, and everything else (transport, unreadable answers, configuration, credentials).

#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

namespace aws {

/// Base of every error this layer throws on purpose.
class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// An AWS service answered the request with an error (AccessDenied, AuthFailure, Throttling, ...).
class ServiceError : public Error {
 public:
  ServiceError(std::string code, std::string message, std::string request_id, std::string operation,
               long http_status);
  [[nodiscard]] const std::string& code() const noexcept { return code_; }
  [[nodiscard]] const std::string& message() const noexcept { return message_; }
  [[nodiscard]] const std::string& request_id() const noexcept { return request_id_; }
  [[nodiscard]] const std::string& operation() const noexcept { return operation_; }
  [[nodiscard]] long http_status() const noexcept { return http_status_; }
  /// Whether the request was refused by an explicit deny in a service control policy of the
  /// account's organization (UnauthorizedOperation, AccessDenied or AccessDeniedException whose
  /// message says "with an explicit deny in a service control policy"), as regions an
  /// organization keeps closed refuse; any other refusal is not.
  [[nodiscard]] bool denied_by_service_control_policy() const;

 private:
  std::string code_;
  std::string message_;
  std::string request_id_;
  std::string operation_;
  long http_status_;
};

/// Anything but a service's refusal: no answer, an unreadable answer, bad configuration.
class ClientError : public Error {
 public:
  using Error::Error;
};

/// A request that got no usable answer: the endpoint could not be reached, or its answer was
/// refused (above the size cap); the message names the operation and the endpoint.
class UnansweredError : public ClientError {
 public:
  UnansweredError(const std::string& message, std::string transport_failure)
      : ClientError(message), transport_failure_(std::move(transport_failure)) {}
  /// The transport's own words for the last failure, for callers that word the message anew.
  [[nodiscard]] const std::string& transport_failure() const noexcept { return transport_failure_; }

 private:
  std::string transport_failure_;
};

/// No source of credentials gave any; the message names every place that was looked at.
class NoCredentialsError : public ClientError {
 public:
  using ClientError::ClientError;
};

/// The error code and message that the body of a JSON protocol answer names: the code from
/// "__type", else "error", with the model's namespace ("aws.organizations#") left off; the message
/// from "message", else "Message". Empty texts for what the body does not name, or for a body that
/// is no JSON object. As the answer gave them, not escaped.
struct JsonErrorFields {
  std::string code;
  std::string message;
};
[[nodiscard]] JsonErrorFields read_json_error_fields(std::string_view body);

/// An error code without the model's namespace that JSON protocols may put before it
/// ("aws.organizations#ParentNotFoundException" -> "ParentNotFoundException").
[[nodiscard]] std::string without_model_namespace(std::string code);

}  // namespace aws
