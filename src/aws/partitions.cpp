#include "aws/partitions.hpp"

#include <array>
#include <regex>

#include "aws/endpoints.hpp"
#include "aws/errors.hpp"
#include "aws/shared_config.hpp"

namespace aws {

namespace {

struct PartitionEntry {
  Partition partition;
  // The form of its region names, and the names of its pseudo-regions.
  std::regex regions;
  std::string global_pseudo_region;
};

// In the SDKs' order: the first partition whose form a region has holds it.
const std::array<PartitionEntry, 8>& partition_table() {
  static const std::array<PartitionEntry, 8> table{{
      {{"aws", "amazonaws.com", "api.aws", true, true, "us-east-1"},
       std::regex("^(us|eu|ap|sa|ca|me|af|il|mx)-\\w+-\\d+$"),
       "aws-global"},
      {{"aws-cn", "amazonaws.com.cn", "api.amazonwebservices.com.cn", true, true, "cn-northwest-1"},
       std::regex("^cn-\\w+-\\d+$"),
       "aws-cn-global"},
      {{"aws-us-gov", "amazonaws.com", "api.aws", true, true, "us-gov-west-1"},
       std::regex("^us-gov-\\w+-\\d+$"),
       "aws-us-gov-global"},
      {{"aws-iso", "c2s.ic.gov", "c2s.ic.gov", true, false, "us-iso-east-1"},
       std::regex("^us-iso-\\w+-\\d+$"),
       "aws-iso-global"},
      {{"aws-iso-b", "sc2s.sgov.gov", "sc2s.sgov.gov", true, false, "us-isob-east-1"},
       std::regex("^us-isob-\\w+-\\d+$"),
       "aws-iso-b-global"},
      {{"aws-iso-e", "cloud.adc-e.uk", "cloud.adc-e.uk", true, false, "eu-isoe-west-1"},
       std::regex("^eu-isoe-\\w+-\\d+$"),
       "aws-iso-e-global"},
      {{"aws-iso-f", "csp.hci.ic.gov", "csp.hci.ic.gov", true, false, "us-isof-south-1"},
       std::regex("^us-isof-\\w+-\\d+$"),
       "aws-iso-f-global"},
      {{"aws-eusc", "amazonaws.eu", "amazonaws.eu", true, false, "eusc-de-east-1"},
       std::regex("^eusc-(de)-\\w+-\\d+$"),
       "aws-eusc-global"},
  }};
  return table;
}

}  // namespace

const Partition& partition_of(const std::string& region) {
  const auto& table = partition_table();
  for (const auto& entry : table) {
    if (region == entry.global_pseudo_region) return entry.partition;
  }
  for (const auto& entry : table) {
    if (std::regex_match(region, entry.regions)) return entry.partition;
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

std::string region_in_partition(const Partition& partition,
                                const std::optional<std::string>& region) {
  if (region && partition_of(*region).id == partition.id) return *region;
  return partition.global_region;
}

}  // namespace aws
