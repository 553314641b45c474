#pragma once

// The one walk over the estate that every output of `generate` shares: accounts (name, role,
// regions), the regions of each, the VPCs of each region with their gateway subnet and name. The
// walk hands typed records to its outputs in configuration order; the outputs only turn them
// into their own documents.

#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

#include "aws/ec2.hpp"
#include "generator/generate/account_access.hpp"
#include "generator/generate/discovery_services.hpp"
#include "generator/generate/gateway_subnet.hpp"
#include "generator/generate/run_steps.hpp"
#include "generator/generate/scan_plan.hpp"
#include "generator/generate/scan_records.hpp"
#include "generator/log/log.hpp"

namespace generator::generate {

/// Page size when the VPCs of a region are listed.
inline constexpr int VPC_PAGE_SIZE = 64;
/// Page size when the subnets of a region are listed (the most EC2 gives per page).
inline constexpr int SUBNET_PAGE_SIZE = 1000;

/// Told where a pass is, for a status line; every member does nothing unless overridden. Called
/// from the scanning threads, several at once.
class PassProgress {
 public:
  virtual ~PassProgress() = default;
  /// A pass begins ("scan" or "verify").
  virtual void pass_started(const std::string& /*pass*/) {}
  /// Account `number` of `count` (1-based) is being scanned.
  virtual void account_started(std::size_t /*number*/, std::size_t /*count*/,
                               const std::string& /*account_id*/) {}
  /// A region is being scanned.
  virtual void region_started(const std::string& /*region*/) {}
  /// A region's scan is over, successfully or not.
  virtual void region_done() {}
  /// One more VPC was found.
  virtual void vpc_found() {}
  /// The pass is over, successfully or not.
  virtual void pass_ended() {}
};

/// How a scan runs.
struct ScanSettings {
  /// The role assumed in every account.
  std::string role_name;
  /// The AWS partition of the accounts' roles ("aws", "aws-us-gov", "aws-cn", ...).
  std::string partition = "aws";
  /// How each VPC's gateway subnet is chosen; with add_vpc_cidr none is (and no subnet is listed
  /// unless an output wants them).
  GatewayRule gateway_rule;
  /// How many pieces of work (an account's role and regions, or one region) run at once.
  std::size_t jobs = 1;
  /// The builder whose step the scan stands for, in whose name its messages are issued.
  log::Issuer pass = DISCOVERY_FILE_STEP;
};

/// The typed record of a VPC of EC2's listing, without its subnets.
[[nodiscard]] VpcRecord vpc_record(const aws::Vpc& vpc);

/// The subnets of one region, listed once (in pages of SUBNET_PAGE_SIZE) on the first VPC that
/// needs them, and handed out by VPC.
class RegionSubnets {
 public:
  explicit RegionSubnets(const Ec2Handle& ec2) : ec2_(ec2) {}

  /// The subnets of `vpc_id` in listing order; each VPC's are handed out once. EC2 errors of the
  /// listing pass to the caller.
  [[nodiscard]] std::vector<SubnetRecord> take(const std::string& vpc_id);

 private:
  const Ec2Handle& ec2_;
  bool listed_ = false;
  std::unordered_map<std::string, std::vector<SubnetRecord>> by_vpc_;
};

/// Scans the plan and hands each account to every output, in plan order, once its regions are
/// done. A region that an explicit deny of a service control policy keeps closed goes to the
/// account's closed regions. A region whose scan meets another AWS service error is handed over
/// as failed (with a warning) while some output outlives failed regions
/// (ScanOutput::outlives_failed_regions); otherwise it ends the scan, as every other error does:
/// messages of everything before it in plan order are written, nothing after. A region or VPC
/// that AWS lists twice is scanned once.
void scan_estate(const ScanPlan& plan, const ScanSettings& settings, DiscoveryServices& services,
                 PassProgress& progress, const std::vector<ScanOutput*>& outputs);

}  // namespace generator::generate
