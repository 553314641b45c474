#pragma once

// IAM Identity Center sign-ins: the token that `aws sso login` cached, its renewal through the
// SSO OIDC service, and the role credentials that the access portal hands out for it.

#include <filesystem>
#include <optional>
#include <string>

#include "aws/context.hpp"
#include "aws/credentials.hpp"
#include "aws/shared_config.hpp"

namespace aws {

/// Where an IAM Identity Center profile signs in and which role it takes.
struct SsoProfile {
  std::string profile_name;
  /// The [sso-session NAME] the profile names; absent for the older profile-level form.
  std::optional<std::string> session_name;
  std::string start_url;
  std::string region;  // sso_region: where the portal and the OIDC service are
  std::string account_id;
  std::string role_name;
};

/// The sign-in that a profile's settings describe (sso_session with its [sso-session] section,
/// or sso_start_url and sso_region in the profile); nothing when the profile names neither.
/// ClientError naming the profile and the keys for an incomplete or contradictory one.
[[nodiscard]] std::optional<SsoProfile> read_sso_profile(const SharedConfig& config,
                                                         const std::string& profile_name,
                                                         const ProfileSettings& settings);

/// The file in which `aws sso login` keeps the sign-in's token: ~/.aws/sso/cache/ and the
/// SHA-1 (lower-case hexadecimal) of the session name, or of the start URL for the older form,
/// with ".json".
[[nodiscard]] std::filesystem::path sso_token_cache_file(const Environment& environment,
                                                         const SsoProfile& profile);

/// The role credentials of the profile from the portal's GetRoleCredentials. A cached token that
/// has expired, or expires within five minutes, is first renewed through SSO OIDC CreateToken
/// when the cache holds a refresh token, and the cache file is rewritten whole. ClientError
/// naming the profile and `aws sso login --profile NAME` when no usable token is left; a
/// ClientError naming the account and role when the portal refuses them. No token appears in any
/// message.
[[nodiscard]] Credentials sso_role_credentials(const Context& context, const SharedConfig& config,
                                               const SsoProfile& profile);

}  // namespace aws
