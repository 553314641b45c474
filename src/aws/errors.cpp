#include "aws/errors.hpp"

namespace aws {

ServiceError::ServiceError(std::string code, std::string message, std::string request_id,
                           std::string operation, long http_status)
    : Error("An error occurred (" + code + ") when calling the " + operation +
            " operation: " + message),
      code_(std::move(code)),
      message_(std::move(message)),
      request_id_(std::move(request_id)),
      operation_(std::move(operation)),
      http_status_(http_status) {}

}  // namespace aws
