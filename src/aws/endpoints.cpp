#include "aws/endpoints.hpp"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "aws/errors.hpp"
#include "base/files/input_file.hpp"

namespace aws {

namespace {

std::string upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

std::string without_trailing_slash(std::string url) {
  while (url.ends_with('/')) url.pop_back();
  return url;
}

bool profile_says_true(const SharedConfig& config, const std::string& key) {
  const auto value = config.config_value(config.profile_name, key);
  if (!value) return false;
  std::string lowered = *value;
  std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lowered == "true";
}

std::optional<std::string> configured_endpoint(Service service, const Environment& environment,
                                               const SharedConfig& config) {
  if (environment.is_true("AWS_IGNORE_CONFIGURED_ENDPOINT_URLS") ||
      profile_says_true(config, "ignore_configured_endpoint_urls")) {
    return std::nullopt;
  }
  std::string variable = "AWS_ENDPOINT_URL_" + upper(service_name(service));
  std::replace(variable.begin(), variable.end(), '-', '_');
  if (auto url = environment.get(variable)) return url;
  if (auto url = environment.get("AWS_ENDPOINT_URL")) return url;
  return config.config_value(config.profile_name, "endpoint_url");
}

// The host of a service's regional endpoint.
std::string regional_host(Service service, const std::string& region) {
  const std::string suffix = region + "." + dns_suffix(region);
  switch (service) {
    case Service::sso:
      return "portal.sso." + suffix;
    case Service::sso_oidc:
      return "oidc." + suffix;
    default:
      return service_name(service) + "." + suffix;
  }
}

}  // namespace

std::string service_name(Service service) {
  switch (service) {
    case Service::sts:
      return "sts";
    case Service::ec2:
      return "ec2";
    case Service::sso:
      return "sso";
    case Service::sso_oidc:
      return "sso-oidc";
    case Service::organizations:
      return "organizations";
  }
  return "sts";
}

std::string resolve_ca_bundle(const Environment& environment, const SharedConfig& config) {
  std::string origin = "AWS_CA_BUNDLE";
  std::optional<std::string> bundle = environment.get("AWS_CA_BUNDLE");
  if (!bundle) {
    bundle = config.config_value(config.profile_name, "ca_bundle");
    origin = "The ca_bundle of profile '" + config.profile_name + "'";
  }
  if (!bundle || bundle->empty()) return {};
  const std::string path = expand_home(*bundle, environment).string();
  // libcurl reads the file itself; it is opened here first, so that a named pipe or a device is
  // refused by name instead of holding up the first request.
  std::string problem = "it does not exist";
  try {
    if (base::files::InputFile::open_if_present(path)) return path;
  } catch (const base::files::InputFileError& error) {
    problem = error.reason();
  }
  throw ClientError(origin + " names " + path + ", which is not a readable file (" + problem + ")");
}

void check_region_name(const std::string& region) {
  const bool well_formed = !region.empty() && region.front() != '-' && region.back() != '-' &&
                           std::all_of(region.begin(), region.end(), [](unsigned char c) {
                             return std::islower(c) || std::isdigit(c) || c == '-';
                           });
  if (!well_formed) throw ClientError("\"" + region + "\" is not a valid AWS region name");
}

std::optional<std::string> resolve_region(const Environment& environment,
                                          const SharedConfig& config) {
  std::optional<std::string> region = environment.get("AWS_REGION");
  if (!region) region = environment.get("AWS_DEFAULT_REGION");
  if (!region) region = config.config_value(config.profile_name, "region");
  if (region) check_region_name(*region);
  return region;
}

std::string dns_suffix(const std::string& region) {
  if (region.starts_with("cn-")) return "amazonaws.com.cn";
  if (region.starts_with("us-isob-")) return "sc2s.sgov.gov";
  if (region.starts_with("us-isof-")) return "csp.hci.ic.gov";
  if (region.starts_with("us-iso-")) return "c2s.ic.gov";
  if (region.starts_with("eu-isoe-")) return "cloud.adc-e.uk";
  return "amazonaws.com";
}

Transport resolve_transport(const Environment& environment, const SharedConfig& config) {
  return Transport{
      RetryPolicy::standard(environment, config.config_value(config.profile_name, "max_attempts")),
      resolve_ca_bundle(environment, config)};
}

Endpoint resolve_endpoint(Service service, const std::optional<std::string>& region,
                          const Environment& environment, const SharedConfig& config) {
  std::string signing_region;
  if (region) {
    check_region_name(*region);
    signing_region = *region;
  } else if (service == Service::sts) {
    // The old global STS endpoint hands out tokens that opt-in regions refuse; us-east-1's
    // regional endpoint does not.
    signing_region = "us-east-1";
  } else {
    throw ClientError("No AWS region given for " + service_name(service) +
                      ": set AWS_REGION or AWS_DEFAULT_REGION, or a region in the profile");
  }
  if (auto url = configured_endpoint(service, environment, config)) {
    return Endpoint{without_trailing_slash(*url), signing_region};
  }
  return Endpoint{"https://" + regional_host(service, signing_region), signing_region};
}

}  // namespace aws
