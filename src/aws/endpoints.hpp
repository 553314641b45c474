#pragma once

// Region and endpoint resolution as the SDKs do it.

#include <optional>
#include <string>

#include "aws/environment.hpp"
#include "aws/retry.hpp"
#include "aws/shared_config.hpp"

namespace aws {

/// The services this layer talks to: STS, EC2, the IAM Identity Center portal and its OIDC
/// token service, and Organizations.
enum class Service { sts, ec2, sso, sso_oidc, organizations };

/// Where requests for a service go and the region their signatures name.
struct Endpoint {
  std::string url;  // scheme and authority, optionally a path; no trailing slash
  std::string signing_region;
};

/// AWS_REGION, else AWS_DEFAULT_REGION, else the region of the active profile; nothing when none
/// is set. ClientError for a value that is not a region name.
[[nodiscard]] std::optional<std::string> resolve_region(const Environment& environment,
                                                        const SharedConfig& config);

/// Throws ClientError unless `region` is made of lower-case letters, digits and dashes only, so
/// that it can be placed into a host name.
void check_region_name(const std::string& region);

/// The DNS suffix of the region's partition: amazonaws.com.cn for cn-*, the isolated partitions'
/// own suffixes, amazonaws.com otherwise.
[[nodiscard]] std::string dns_suffix(const std::string& region);

/// The endpoint of `service` in `region`. Configured endpoints come first unless
/// AWS_IGNORE_CONFIGURED_ENDPOINT_URLS (or the profile's ignore_configured_endpoint_urls) is true:
/// the service's own variable (AWS_ENDPOINT_URL_STS, _EC2, _SSO, _SSO_OIDC, _ORGANIZATIONS), then
/// AWS_ENDPOINT_URL, then the profile's endpoint_url. Otherwise the regional endpoint; STS without
/// a region uses us-east-1's, the others without a region are a ClientError.
[[nodiscard]] Endpoint resolve_endpoint(Service service, const std::optional<std::string>& region,
                                        const Environment& environment, const SharedConfig& config);

/// The service's name in signatures and messages ("sts", "ec2", "sso", "sso-oidc",
/// "organizations").
[[nodiscard]] std::string service_name(Service service);

/// The certificate authorities to trust for AWS requests: AWS_CA_BUNDLE, else the active
/// profile's ca_bundle; empty for the system's store. ClientError when the file does not exist or
/// cannot be read as a file (a named pipe, a device), found without waiting on it.
[[nodiscard]] std::string resolve_ca_bundle(const Environment& environment,
                                            const SharedConfig& config);

/// How requests to AWS travel, as the environment and the active profile set it.
struct Transport {
  RetryPolicy retry;
  /// See resolve_ca_bundle.
  std::string ca_bundle;
};

/// The retry policy (AWS_MAX_ATTEMPTS, else the profile's max_attempts) and the CA bundle.
[[nodiscard]] Transport resolve_transport(const Environment& environment,
                                          const SharedConfig& config);

}  // namespace aws
