#include "aws/partitions.hpp"

#include <algorithm>
#include <array>
#include <string_view>

#include "aws/endpoints.hpp"
#include "aws/errors.hpp"
#include "aws/shared_config.hpp"

namespace aws {

namespace {

struct PartitionEntry {
  Partition partition;
  // The leading words of its region names, each followed by a name and a number ("us-gov" in
  // "us-gov-west-1"); the commercial partition has several.
  std::vector<std::string_view> prefixes;
  std::string global_pseudo_region;
};

// In the SDKs' order: the first partition whose form a region has holds it.
const std::array<PartitionEntry, 8>& partition_table() {
  static const std::array<PartitionEntry, 8> table{{
      {{"aws", "amazonaws.com", "api.aws", true, true, "us-east-1"},
       {"us", "eu", "ap", "sa", "ca", "me", "af", "il", "mx"},
       "aws-global"},
      {{"aws-cn", "amazonaws.com.cn", "api.amazonwebservices.com.cn", true, true, "cn-northwest-1"},
       {"cn"},
       "aws-cn-global"},
      {{"aws-us-gov", "amazonaws.com", "api.aws", true, true, "us-gov-west-1"},
       {"us-gov"},
       "aws-us-gov-global"},
      {{"aws-iso", "c2s.ic.gov", "c2s.ic.gov", true, false, "us-iso-east-1"},
       {"us-iso"},
       "aws-iso-global"},
      {{"aws-iso-b", "sc2s.sgov.gov", "sc2s.sgov.gov", true, false, "us-isob-east-1"},
       {"us-isob"},
       "aws-iso-b-global"},
      {{"aws-iso-e", "cloud.adc-e.uk", "cloud.adc-e.uk", true, false, "eu-isoe-west-1"},
       {"eu-isoe"},
       "aws-iso-e-global"},
      {{"aws-iso-f", "csp.hci.ic.gov", "csp.hci.ic.gov", true, false, "us-isof-south-1"},
       {"us-isof"},
       "aws-iso-f-global"},
      {{"aws-eusc", "amazonaws.eu", "amazonaws.eu", true, false, "eusc-de-east-1"},
       {"eusc-de"},
       "aws-eusc-global"},
  }};
  return table;
}

// Whether `region` is `prefix`, a dash, a name of letters, digits and underscores, a dash and a
// number: the partitions' published pattern "^prefix-\w+-\d+$". Matched by hand: the standard
// library's regex matcher recurses once per character and overflows the stack on a long value.
bool has_form(std::string_view region, std::string_view prefix) {
  if (!region.starts_with(prefix) || region.size() <= prefix.size() || region[prefix.size()] != '-')
    return false;
  const std::string_view rest = region.substr(prefix.size() + 1);
  const std::size_t dash = rest.find('-');
  if (dash == std::string_view::npos || dash == 0 || dash + 1 == rest.size()) return false;
  const auto digit = [](char c) { return c >= '0' && c <= '9'; };
  const auto word = [&](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || digit(c) || c == '_';
  };
  const std::string_view name = rest.substr(0, dash);
  const std::string_view number = rest.substr(dash + 1);
  return std::all_of(name.begin(), name.end(), word) &&
         std::all_of(number.begin(), number.end(), digit);
}

}  // namespace

const Partition& partition_of(const std::string& region) {
  const auto& table = partition_table();
  for (const auto& entry : table) {
    if (region == entry.global_pseudo_region) return entry.partition;
  }
  for (const auto& entry : table) {
    for (const std::string_view prefix : entry.prefixes)
      if (has_form(region, prefix)) return entry.partition;
  }
  return table.front().partition;
}

std::optional<std::string> partition_of_arn(const std::string& arn) {
  if (!arn.starts_with("arn:")) return std::nullopt;
  const auto end = arn.find(':', 4);
  if (end == std::string::npos) return std::nullopt;
  return arn.substr(4, end - 4);
}

std::string iam_role_arn(const std::string& partition_id, const std::string& account_id,
                         const std::string& role_name) {
  return "arn:" + partition_id + ":iam::" + account_id + ":role/" + role_name;
}

const Partition& partition_of_scan(const std::vector<std::string>& regions,
                                   const std::string& regions_setting,
                                   const Environment& environment) {
  const std::optional<std::string> own_region =
      resolve_region(environment, load_shared_config(environment));
  if (regions.empty()) return own_region ? partition_of(*own_region) : partition_of("us-east-1");
  const Partition& partition = partition_of(regions.front());
  for (const auto& region : regions) {
    const Partition& other = partition_of(region);
    if (other.id != partition.id) {
      throw ClientError(regions_setting + " lists regions of two AWS partitions: " +
                        regions.front() + " (" + partition.id + ") and " + region + " (" +
                        other.id + "); one run scans one partition");
    }
  }
  if (own_region && partition_of(*own_region).id != partition.id) {
    throw ClientError("The operator's AWS region " + *own_region + " (" +
                      partition_of(*own_region).id + ") lies outside the partition of " +
                      regions_setting + " (" + regions.front() + ", " + partition.id +
                      "): set AWS_REGION to a region of " + partition.id);
  }
  return partition;
}

}  // namespace aws
