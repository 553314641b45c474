#include "aws/errors.hpp"

#include <algorithm>
#include <cctype>
#include <nlohmann/json.hpp>

#include "base/text/ascii.hpp"
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

bool ServiceError::denied_by_service_control_policy() const {
  if (code_ != "UnauthorizedOperation" && code_ != "AccessDenied" &&
      code_ != "AccessDeniedException") {
    return false;
  }
  return base::text::lower_case(message_).find(
             "with an explicit deny in a service control policy") != std::string::npos;
}

JsonErrorFields read_json_error_fields(std::string_view body) {
  JsonErrorFields fields;
  nlohmann::json document;
  try {
    document = untrusted::parse_json<nlohmann::json>(std::string(body));
  } catch (const std::exception&) {
    // Not JSON (a proxy's page, an empty body) or nested too deep: it names nothing.
    return fields;
  }
  if (!document.is_object()) return fields;
  const auto text = [&](const char* name) {
    const auto found = document.find(name);
    return found != document.end() && found->is_string() ? found->get<std::string>()
                                                         : std::string();
  };
  fields.code = text("__type");
  if (fields.code.empty()) fields.code = text("error");
  fields.code = without_model_namespace(std::move(fields.code));
  fields.message = text("message");
  if (fields.message.empty()) fields.message = text("Message");
  return fields;
}

std::string without_model_namespace(std::string code) {
  if (const auto hash = code.rfind('#'); hash != std::string::npos) code.erase(0, hash + 1);
  return code;
}

}  // namespace aws
