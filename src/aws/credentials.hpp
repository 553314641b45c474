#pragma once

// AWS credentials: the record, and the SDKs' default chain that finds the operator's own.

#include <chrono>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "aws/context.hpp"

namespace aws {

/// An access key with its secret and, for temporary credentials, the session token and expiry.
struct Credentials {
  std::string access_key_id;
  std::string secret_access_key;
  std::string session_token;  // empty for long-term keys
  std::string expiration;     // ISO 8601 text as the source gave it; empty when unknown
};

/// `credentials` that `source` gave (named in errors: "The answer of the AssumeRole operation"),
/// accepted for use: ClientError when the access key id or the session token, which travel in
/// request headers, hold a control character. The secret key and the session token are held as
/// secrets of the run from here on (untrusted::hold_secret), so that no message shows them.
[[nodiscard]] Credentials accepted_credentials(Credentials credentials, const std::string& source);

/// How long a credential_process may run before it is ended with its process group, unless its
/// profile sets credential_process_timeout (whole seconds, 1 to 86400).
inline constexpr std::chrono::seconds DEFAULT_CREDENTIAL_PROCESS_TIMEOUT{60};

/// One place where the operator's credentials may be found.
class CredentialProvider {
 public:
  virtual ~CredentialProvider() = default;
  /// The credentials found here; nothing when this place holds none, and then `looked_at` gains a
  /// line that names the place. ClientError/ServiceError when the place is configured but fails.
  [[nodiscard]] virtual std::optional<Credentials> load(
      std::vector<std::string>& looked_at) const = 0;
};

/// Providers in the order in which they are asked.
using CredentialChain = std::vector<std::unique_ptr<CredentialProvider>>;

/// The SDKs' default chain: the environment variables AWS_ACCESS_KEY_ID/AWS_SECRET_ACCESS_KEY;
/// then the profile (AWS_PROFILE, else "default") of the shared config and credentials files:
/// a role_arn with its source_profile or credential_source; a web identity token
/// (AWS_WEB_IDENTITY_TOKEN_FILE and AWS_ROLE_ARN, or the profile's web_identity_token_file and
/// role_arn); an IAM Identity Center sign-in (sso_session or sso_start_url); the keys of the
/// credentials file; credential_process; the keys of the config file; then container
/// credentials; then the EC2 instance metadata service (IMDSv2).
[[nodiscard]] CredentialChain default_credential_chain(const Context& context);

/// The first credentials that a provider of the chain gives. NoCredentialsError names every place
/// looked at; ClientError/ServiceError for a source that is configured but fails.
[[nodiscard]] Credentials first_credentials(const CredentialChain& chain);

/// The operator's credentials from the default chain.
[[nodiscard]] Credentials resolve_default_credentials(const Context& context);

/// The operator's credentials from the default chain, resolved on first use and then shared,
/// read-only, by every thread, and resolved anew (once) when they are due for renewal
/// (aws/expiry.hpp) by the context's clock; a failed resolution is kept and thrown again to
/// every caller.
class OwnCredentials {
 public:
  /// The credentials, or the error of their one resolution.
  [[nodiscard]] Credentials get(const Context& context);

 private:
  std::mutex mutex_;
  bool resolved_ = false;
  Credentials credentials_;
  std::exception_ptr failure_;
};

/// The credentials that a credential_process command of `profile` printed (a JSON object of
/// Version 1); ClientError that never quotes the output, which may hold secrets.
[[nodiscard]] Credentials read_credential_process_output(const std::string& output,
                                                         const std::string& profile);

}  // namespace aws
