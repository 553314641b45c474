#pragma once

// The two kinds of failure of the AWS layer: an answer of an AWS service that refused or could not
// do the request, and everything else (transport, unreadable answers, configuration, credentials).

#include <stdexcept>
#include <string>

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

/// No source of credentials gave any; the message names every place that was looked at.
class NoCredentialsError : public ClientError {
 public:
  using ClientError::ClientError;
};

}  // namespace aws
