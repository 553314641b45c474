#pragma once

// Region and endpoint resolution as the SDKs do it.

#include <optional>
#include <string>

#include "aws/environment.hpp"
#include "aws/shared_config.hpp"

namespace aws {

/// The services this layer talks to.
enum class Service { sts, ec2 };

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
/// AWS_ENDPOINT_URL_STS / AWS_ENDPOINT_URL_EC2, then AWS_ENDPOINT_URL, then the profile's
/// endpoint_url. Otherwise the regional endpoint; STS without a region uses us-east-1's, EC2
/// without a region is a ClientError.
[[nodiscard]] Endpoint resolve_endpoint(Service service, const std::optional<std::string>& region,
                                        const Environment& environment, const SharedConfig& config);

/// The service's name in signatures and in the configuration variables ("sts", "ec2").
[[nodiscard]] std::string service_name(Service service);

}  // namespace aws
