#pragma once

// The AWS partitions (the commercial one, China, GovCloud, the isolated ones): which regions each
// holds, its DNS suffixes and what it offers, as the SDKs' partition table gives them.

#include <optional>
#include <string>
#include <vector>

#include "aws/environment.hpp"

namespace aws {

/// One partition of AWS.
struct Partition {
  std::string id;                     // "aws", "aws-cn", "aws-us-gov", "aws-iso", ...; ARNs name it
  std::string dns_suffix;             // "amazonaws.com"
  std::string dual_stack_dns_suffix;  // "api.aws"
  bool supports_fips = true;
  bool supports_dual_stack = true;
  /// The region of the partition's global services (Organizations, IAM): "us-east-1",
  /// "cn-northwest-1", "us-gov-west-1", ...
  std::string global_region;
};

/// The partition that holds `region`; the commercial one for a region no partition names, as in
/// the SDKs.
[[nodiscard]] const Partition& partition_of(const std::string& region);

/// The partition named in an ARN ("arn:aws-us-gov:iam::..." -> "aws-us-gov"); nothing when the text
/// is no ARN.
[[nodiscard]] std::optional<std::string> partition_of_arn(const std::string& arn);

/// The ARN of the IAM role `role_name` (as it stands) of `account_id` in the partition
/// `partition_id` ("aws-us-gov").
[[nodiscard]] std::string iam_role_arn(const std::string& partition_id,
                                       const std::string& account_id,
                                       const std::string& role_name);

/// The partition of a scan's regions: that of every region in `regions` (what the setting
/// `regions_setting` lists), else that of the operator's region (AWS_REGION, AWS_DEFAULT_REGION or
/// the active profile's), else the commercial one. ClientError naming two regions of different
/// partitions, when `regions` holds such or the operator's region lies outside theirs.
[[nodiscard]] const Partition& partition_of_scan(const std::vector<std::string>& regions,
                                                 const std::string& regions_setting,
                                                 const Environment& environment);

}  // namespace aws
