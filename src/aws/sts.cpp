#include "aws/sts.hpp"

#include "aws/errors.hpp"
#include "aws/shared_config.hpp"

namespace aws {

namespace {

constexpr const char* STS_API_VERSION = "2011-06-15";

Endpoint sts_endpoint(const Context& context, const std::optional<std::string>& region) {
  return resolve_endpoint(Service::sts, region, context.environment,
                          load_shared_config(context.environment));
}

// The Credentials member of an answer's <OperationResult>.
Credentials read_credentials(const xml::Element& answer, const std::string& operation) {
  const xml::Element* result = answer.child(operation + "Result");
  const xml::Element* credentials = result != nullptr ? result->child("Credentials") : nullptr;
  if (credentials == nullptr || !credentials->child_text("AccessKeyId") ||
      !credentials->child_text("SecretAccessKey")) {
    throw ClientError("The answer of the " + operation + " operation holds no credentials");
  }
  return accepted_credentials(Credentials{credentials->child_text_or_empty("AccessKeyId"),
                                          credentials->child_text_or_empty("SecretAccessKey"),
                                          credentials->child_text_or_empty("SessionToken"),
                                          credentials->child_text_or_empty("Expiration")},
                              "The answer of the " + operation + " operation");
}

}  // namespace

StsClient::StsClient(const Context& context, Credentials credentials,
                     const std::optional<std::string>& region)
    : StsClient(context, std::move(credentials), sts_endpoint(context, region)) {}

StsClient::StsClient(const Context& context, Credentials credentials, Endpoint endpoint)
    : client_(context, std::move(endpoint), std::move(credentials), "sts", STS_API_VERSION) {}

Credentials StsClient::assume_role(const AssumeRoleRequest& request) const {
  QueryParameters parameters{{"RoleArn", request.role_arn},
                             {"RoleSessionName", request.role_session_name}};
  if (request.external_id) parameters.emplace_back("ExternalId", *request.external_id);
  if (request.duration_seconds)
    parameters.emplace_back("DurationSeconds", std::to_string(*request.duration_seconds));
  if (request.serial_number) parameters.emplace_back("SerialNumber", *request.serial_number);
  if (request.token_code) parameters.emplace_back("TokenCode", *request.token_code);
  return read_credentials(client_.call("AssumeRole", parameters), "AssumeRole");
}

Credentials assume_role_with_web_identity(const Context& context,
                                          const std::optional<std::string>& region,
                                          const WebIdentityRequest& request) {
  QueryParameters parameters{{"RoleArn", request.role_arn},
                             {"RoleSessionName", request.role_session_name},
                             {"WebIdentityToken", request.web_identity_token}};
  if (request.duration_seconds)
    parameters.emplace_back("DurationSeconds", std::to_string(*request.duration_seconds));
  const QueryClient client(context, sts_endpoint(context, region), std::nullopt, "sts",
                           STS_API_VERSION);
  return read_credentials(client.call("AssumeRoleWithWebIdentity", parameters),
                          "AssumeRoleWithWebIdentity");
}

namespace {

StsClient default_sts_client(const Context& context, const SharedConfig& config,
                             Credentials credentials) {
  return StsClient(context, std::move(credentials),
                   resolve_endpoint(Service::sts, operator_region(context, config),
                                    context.environment, config));
}

}  // namespace

StsClient make_default_sts_client(const Context& context) {
  const SharedConfig config = load_shared_config(context.environment);
  return default_sts_client(context, config, resolve_default_credentials(context));
}

StsClient make_default_sts_client(const Context& context, OwnCredentials& own) {
  const SharedConfig config = load_shared_config(context.environment);
  return default_sts_client(context, config, own.get(context));
}

}  // namespace aws
