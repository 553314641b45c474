#include "aws/errors.hpp"

#include "untrusted/untrusted.hpp"

namespace aws {

ServiceError::ServiceError(std::string code, std::string message, std::string request_id,
                           std::string operation, long http_status)
    // The code and message come from the answer: escaped, they cannot forge lines or steer a
    // terminal wherever the error is shown.
    : Error("An error occurred (" + untrusted::printable(code) + ") when calling the " + operation +
            " operation: " + untrusted::printable(message)),
      code_(std::move(code)),
      message_(std::move(message)),
      request_id_(std::move(request_id)),
      operation_(std::move(operation)),
      http_status_(http_status) {}

}  // namespace aws
