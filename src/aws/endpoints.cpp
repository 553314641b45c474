#include "aws/endpoints.hpp"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <set>

#include "aws/errors.hpp"
#include "aws/partitions.hpp"
#include "base/files/input_file.hpp"
#include "base/text/ascii.hpp"
#include "untrusted/untrusted.hpp"

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

// A setting of one of `choices`: its environment variable, else the active profile's key, in any
// letter case; nothing when neither is set.
std::optional<std::string> choice_setting(const std::string& variable, const std::string& key,
                                          const std::vector<std::string>& choices,
                                          const Environment& environment,
                                          const SharedConfig& config) {
  std::string origin = variable;
  std::optional<std::string> value = environment.get(variable);
  if (!value) {
    value = config.config_value(config.profile_name, key);
    origin = "The " + key + " of profile '" + config.profile_name + "' in " +
             config.config_file.string();
  }
  if (!value) return std::nullopt;
  const std::string lowered = base::text::lower_case(*value);
  if (std::find(choices.begin(), choices.end(), lowered) != choices.end()) return lowered;
  throw ClientError(origin + " must be " + choices.front() + " or " + choices.back() + ", not '" +
                    untrusted::printable(*value) + "'");
}

bool flag_setting(const std::string& variable, const std::string& key,
                  const Environment& environment, const SharedConfig& config) {
  return choice_setting(variable, key, {"true", "false"}, environment, config) == "true";
}

// The service's key in a "[services x]" section and, in upper case, its variable's suffix.
std::string service_key(Service service) {
  std::string key = service_name(service);
  std::replace(key.begin(), key.end(), '-', '_');
  return key;
}

// The endpoint_url of the service in the "[services x]" section the active profile names.
std::optional<std::string> services_section_endpoint(Service service, const SharedConfig& config) {
  const auto section = config.config_value(config.profile_name, "services");
  if (!section) return std::nullopt;
  const auto found = config.services.find(*section);
  if (found == config.services.end()) {
    throw ClientError("Profile '" + config.profile_name + "' names services '" + *section +
                      "', but " + config.config_file.string() + " has no [services " + *section +
                      "] section");
  }
  const auto block = found->second.find(service_key(service));
  if (block == found->second.end()) return std::nullopt;
  return setting(sub_settings(block->second), "endpoint_url");
}

std::optional<std::string> configured_endpoint(Service service, const Environment& environment,
                                               const SharedConfig& config) {
  if (flag_setting("AWS_IGNORE_CONFIGURED_ENDPOINT_URLS", "ignore_configured_endpoint_urls",
                   environment, config)) {
    return std::nullopt;
  }
  if (auto url = environment.get("AWS_ENDPOINT_URL_" + upper(service_key(service)))) return url;
  if (auto url = environment.get("AWS_ENDPOINT_URL")) return url;
  if (auto url = services_section_endpoint(service, config)) return url;
  return config.config_value(config.profile_name, "endpoint_url");
}

// The first labels of a service's host names, ordinary or FIPS.
std::string host_label(Service service, bool fips) {
  switch (service) {
    case Service::sso:
      return fips ? "portal.sso-fips" : "portal.sso";
    case Service::sso_oidc:
      return fips ? "oidc-fips" : "oidc";
    default:
      return service_name(service) + (fips ? "-fips" : "");
  }
}

// The regions whose STS requests went to the global endpoint before regional ones were the
// default.
bool has_legacy_sts_endpoint(const std::string& region) {
  static const std::set<std::string> legacy{
      "ap-northeast-1", "ap-south-1", "ap-southeast-1", "ap-southeast-2", "aws-global",
      "ca-central-1",   "eu-central-1", "eu-north-1",   "eu-west-1",      "eu-west-2",
      "eu-west-3",      "sa-east-1",  "us-east-1",      "us-east-2",      "us-west-1",
      "us-west-2"};
  return legacy.contains(region);
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

std::optional<std::string> operator_region(const Context& context, const SharedConfig& config) {
  if (auto region = resolve_region(context.environment, config)) return region;
  if (!context.fallback_region.empty()) return context.fallback_region;
  return std::nullopt;
}

Transport resolve_transport(const Environment& environment, const SharedConfig& config) {
  return Transport{
      RetryPolicy::standard(environment, config.config_value(config.profile_name, "max_attempts")),
      resolve_ca_bundle(environment, config)};
}

Endpoint endpoint_by_rules(Service service, const EndpointParameters& parameters) {
  const std::string name = service_name(service);
  if (parameters.endpoint) {
    if (parameters.use_fips) {
      throw ClientError(name + " at " + *parameters.endpoint +
                        ": Invalid Configuration: FIPS and custom endpoint are not supported");
    }
    if (parameters.use_dual_stack) {
      throw ClientError(name + " at " + *parameters.endpoint +
                        ": Invalid Configuration: Dualstack and custom endpoint are not supported");
    }
    return Endpoint{without_trailing_slash(*parameters.endpoint),
                    parameters.region.value_or("us-east-1")};
  }
  if (!parameters.region) throw ClientError(name + ": Invalid Configuration: Missing Region");
  const Partition& partition = partition_of(*parameters.region);
  // Organizations is one service per partition, in the partition's global region.
  const std::string region =
      service == Service::organizations ? partition.global_region : *parameters.region;
  const auto at = [&](const std::string& host) { return Endpoint{"https://" + host, region}; };
  const bool plain = !parameters.use_fips && !parameters.use_dual_stack;
  if (service == Service::sts && plain &&
      (region == "aws-global" ||
       (parameters.use_global_endpoint && has_legacy_sts_endpoint(region)))) {
    return Endpoint{"https://sts.amazonaws.com", "us-east-1"};
  }
  const std::string refused = name + " in " + region + ": ";
  if (parameters.use_fips && parameters.use_dual_stack) {
    if (!partition.supports_fips || !partition.supports_dual_stack) {
      throw ClientError(refused +
                        "FIPS and DualStack are enabled, but this partition does not support one "
                        "or both");
    }
    return at(host_label(service, true) + "." + region + "." + partition.dual_stack_dns_suffix);
  }
  if (parameters.use_fips) {
    if (!partition.supports_fips)
      throw ClientError(refused + "FIPS is enabled but this partition does not support FIPS");
    // GovCloud's ordinary endpoints are its FIPS validated ones; it has no "-fips" hosts.
    return at(host_label(service, partition.id != "aws-us-gov") + "." + region + "." +
              partition.dns_suffix);
  }
  if (parameters.use_dual_stack) {
    if (!partition.supports_dual_stack) {
      throw ClientError(refused +
                        "DualStack is enabled but this partition does not support DualStack");
    }
    return at(host_label(service, false) + "." + region + "." + partition.dual_stack_dns_suffix);
  }
  return at(host_label(service, false) + "." + region + "." + partition.dns_suffix);
}

Endpoint resolve_endpoint(Service service, const std::optional<std::string>& region,
                          const Environment& environment, const SharedConfig& config) {
  EndpointParameters parameters;
  if (region) {
    check_region_name(*region);
    parameters.region = region;
  } else if (service == Service::sts) {
    // The old global STS endpoint hands out tokens that opt-in regions refuse; us-east-1's
    // regional endpoint does not.
    parameters.region = "us-east-1";
  } else {
    throw ClientError("No AWS region given for " + service_name(service) +
                      ": set AWS_REGION or AWS_DEFAULT_REGION, or a region in the profile");
  }
  parameters.use_fips =
      flag_setting("AWS_USE_FIPS_ENDPOINT", "use_fips_endpoint", environment, config);
  parameters.use_dual_stack =
      flag_setting("AWS_USE_DUALSTACK_ENDPOINT", "use_dualstack_endpoint", environment, config);
  parameters.use_global_endpoint =
      service == Service::sts &&
      choice_setting("AWS_STS_REGIONAL_ENDPOINTS", "sts_regional_endpoints",
                     {"regional", "legacy"}, environment, config) == "legacy";
  parameters.endpoint = configured_endpoint(service, environment, config);
  return endpoint_by_rules(service, parameters);
}

}  // namespace aws
