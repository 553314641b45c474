#pragma once

// AWS Security Token Service: AssumeRole.

#include <optional>
#include <string>

#include "aws/context.hpp"
#include "aws/credentials.hpp"
#include "aws/query_client.hpp"

namespace aws {

/// The parameters of AssumeRole; the optional ones are left to the service's defaults when absent.
struct AssumeRoleRequest {
  std::string role_arn;
  std::string role_session_name;
  std::optional<std::string> external_id;
  std::optional<int> duration_seconds;
  /// The MFA device (SerialNumber) and its current code (TokenCode) the role's trust asks for.
  std::optional<std::string> serial_number{};
  std::optional<std::string> token_code{};
};

/// The parameters of AssumeRoleWithWebIdentity.
struct WebIdentityRequest {
  std::string role_arn;
  std::string role_session_name;
  std::string web_identity_token;
  std::optional<int> duration_seconds;
};

/// STS at one endpoint with one set of credentials.
class StsClient {
 public:
  /// STS at the endpoint that `region` (us-east-1's when absent) and the configured overrides give.
  StsClient(const Context& context, Credentials credentials,
            const std::optional<std::string>& region);
  /// STS at an explicit endpoint.
  StsClient(const Context& context, Credentials credentials, Endpoint endpoint);

  /// The temporary credentials of the role. ServiceError when STS refuses.
  [[nodiscard]] Credentials assume_role(const AssumeRoleRequest& request) const;

  [[nodiscard]] const Endpoint& endpoint() const noexcept { return client_.endpoint(); }

 private:
  QueryClient client_;
};

/// The temporary credentials of the role for a web identity token; the request is sent unsigned
/// (the token is the proof) to the STS endpoint of `region` (us-east-1's when absent).
/// ServiceError when STS refuses; the token appears in no message.
[[nodiscard]] Credentials assume_role_with_web_identity(const Context& context,
                                                        const std::optional<std::string>& region,
                                                        const WebIdentityRequest& request);

/// STS as an SDK client made without arguments builds it: the default credential chain, the
/// default region (none: the context's fallback region, else us-east-1) and the configured
/// endpoint settings.
[[nodiscard]] StsClient make_default_sts_client(const Context& context);
/// The same with the operator's credentials taken from `own` instead of resolved anew.
[[nodiscard]] StsClient make_default_sts_client(const Context& context, OwnCredentials& own);

}  // namespace aws
