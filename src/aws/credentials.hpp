#pragma once

// AWS credentials: the record, and the SDKs' default chain that finds the operator's own.

#include <optional>
#include <string>

#include "aws/context.hpp"

namespace aws {

/// An access key with its secret and, for temporary credentials, the session token and expiry.
struct Credentials {
  std::string access_key_id;
  std::string secret_access_key;
  std::string session_token;  // empty for long-term keys
  std::string expiration;     // ISO 8601 text as the source gave it; empty when unknown
};

/// The operator's credentials, looked for in the SDKs' default order: the environment variables;
/// the profile (AWS_PROFILE, else "default") of the shared credentials and config files, which may
/// assume a role from a source_profile or credential_source, hold keys, or name a
/// credential_process; container credentials; the EC2 instance metadata service (IMDSv2).
/// NoCredentialsError names every place looked at; ClientError/ServiceError for a source that
/// is configured but fails.
[[nodiscard]] Credentials resolve_default_credentials(const Context& context);

/// The credentials that a credential_process command of `profile` printed (a JSON object of
/// Version 1); ClientError that never quotes the output, which may hold secrets.
[[nodiscard]] Credentials read_credential_process_output(const std::string& output,
                                                         const std::string& profile);

}  // namespace aws
