#pragma once

// Region and endpoint resolution as the SDKs do it.

#include <optional>
#include <string>

#include "aws/context.hpp"
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

/// The region of the operator's own requests: resolve_region, else the context's fallback region;
/// nothing when neither names one.
[[nodiscard]] std::optional<std::string> operator_region(const Context& context,
                                                         const SharedConfig& config);

/// Throws ClientError unless `region` is made of lower-case letters, digits and dashes only, so
/// that it can be placed into a host name.
void check_region_name(const std::string& region);

/// The inputs of the SDKs' endpoint rules for one service.
struct EndpointParameters {
  std::optional<std::string> region;
  bool use_fips = false;
  bool use_dual_stack = false;
  /// STS's old global endpoint for the regions that had it (sts_regional_endpoints = legacy).
  bool use_global_endpoint = false;
  /// A configured endpoint URL, which the rules take as it stands.
  std::optional<std::string> endpoint;
};

/// Where `service` is reached for `parameters`, by the SDKs' endpoint rules: the configured
/// endpoint, else the regional one of the region's partition (FIPS "ec2-fips.", dual-stack
/// "api.aws"; GovCloud's ordinary endpoints are its FIPS ones); Organizations in its partition's
/// global region; STS's global endpoint for the legacy regions when asked and for "aws-global".
/// ClientError with the rules' own words when the partition has no such endpoint ("DualStack is
/// enabled but this partition does not support DualStack"), or FIPS or dual-stack is asked beside
/// a configured endpoint.
[[nodiscard]] Endpoint endpoint_by_rules(Service service, const EndpointParameters& parameters);

/// The endpoint of `service` in `region`: the endpoint rules over the settings the AWS tools read.
/// FIPS from AWS_USE_FIPS_ENDPOINT, else the profile's use_fips_endpoint; dual-stack from
/// AWS_USE_DUALSTACK_ENDPOINT, else use_dualstack_endpoint; STS's legacy global endpoint from
/// AWS_STS_REGIONAL_ENDPOINTS, else sts_regional_endpoints ("legacy" or "regional", the default).
/// Configured endpoints come first unless AWS_IGNORE_CONFIGURED_ENDPOINT_URLS (or the profile's
/// ignore_configured_endpoint_urls) is true: the service's own variable (AWS_ENDPOINT_URL_STS,
/// _EC2, _SSO, _SSO_OIDC, _ORGANIZATIONS), then AWS_ENDPOINT_URL, then the endpoint_url of the
/// service ("sts", "ec2", "sso", "sso_oidc", "organizations") in the "[services x]" section the
/// profile's `services` names, then the profile's endpoint_url. STS without a region uses
/// us-east-1, the others without a region are a ClientError, as is a setting that is neither
/// "true" nor "false" and a `services` section that does not exist.
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
