#pragma once

// What one scan of the estate found, as typed records: accounts, their regions, the VPCs of each
// region with their blocks, subnets, gateway subnet and gateway name. The scan engine hands these
// to the outputs (discovery file, workbook, address map, drift check) in configuration order; each
// output only turns them into its own form.

#include <algorithm>
#include <cstddef>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "ipv4/ipv4_network.hpp"

namespace generator::generate {

/// One IPv4 block of a VPC's association set, in any state.
struct BlockRecord {
  ipv4::Network network;
  std::string state;  // "associated", "disassociated", "failed", ...

  [[nodiscard]] bool is_associated() const { return state == "associated"; }
};

/// One subnet of a VPC.
struct SubnetRecord {
  std::string id;
  std::optional<ipv4::Network> network;  // absent for an IPv6-only subnet
};

/// The gateway subnet chosen for a VPC, or why there is none.
struct GatewaySubnet {
  /// Why `network` is empty.
  enum class Gap {
    /// No associated block of the VPC has room for one.
    no_room,
    /// add_vpc_cidr is set: the migration adds a block of its own, so none is chosen here.
    add_vpc_cidr,
  };
  std::optional<ipv4::Network> network;
  Gap gap = Gap::no_room;

  /// Whether none was chosen because the VPC has no room.
  [[nodiscard]] bool no_room() const { return !network && gap == Gap::no_room; }
  /// The subnet as canonical CIDR text, "" when there is none (as the files write it).
  [[nodiscard]] std::string text() const { return network ? network->to_string() : ""; }
};

/// A key and value of a resource's tags.
struct TagRecord {
  std::string key;
  std::string value;
};

/// One VPC and what the scan decided for it.
struct VpcRecord {
  std::string id;
  /// The primary block (EC2's CidrBlock).
  ipv4::Network primary{0, 0};
  /// The association set in EC2's order, the primary block included.
  std::vector<BlockRecord> blocks;
  std::vector<TagRecord> tags;
  /// The VPC's subnets in listing order; filled only for outputs that ask for them (see
  /// ScanOutput::needs_subnets), empty otherwise.
  std::vector<SubnetRecord> subnets;
  GatewaySubnet gateway_subnet;
  /// The proposed spoke gateway name.
  std::string gateway_name;
  /// Whether AWS made it as the region's default VPC (EC2's isDefault).
  bool is_default = false;

  /// The value of the "Name" tag, or nothing.
  [[nodiscard]] std::optional<std::string> name() const {
    for (const auto& tag : tags)
      if (tag.key == "Name") return tag.value;
    return std::nullopt;
  }
};

/// One region of an entered account.
struct RegionRecord {
  std::string region;
  /// The region's VPCs in listing order; empty when the scan failed.
  std::vector<VpcRecord> vpcs;
  /// Set when the region could not be scanned (its VPC or subnet listing failed): the error, which
  /// names the account and the region, for the outputs that end the run on it, and AWS's own
  /// message, for those that report it beside the region.
  std::exception_ptr failure;
  std::string failure_message;

  [[nodiscard]] bool failed() const { return failure != nullptr; }
};

/// One configured account.
struct AccountRecord {
  std::string account_id;
  /// The account's name on the controller; nothing when the controller does not list it.
  std::optional<std::string> account_name;
  /// Whether the role could be assumed; when not, `skip_reason` says why and `regions` is empty.
  bool entered = false;
  std::string skip_reason;
  /// The scanned regions in configuration order (or in DescribeRegions order).
  std::vector<RegionRecord> regions;
  /// The regions closed to the account by its organization: their VPC or subnet listing was
  /// refused by an explicit deny in a service control policy. In the same order, and never among
  /// `regions`, so that every output leaves them out without asking.
  std::vector<std::string> closed_regions;
  /// The regions listed as enabled for the account, when its plan named none of its own.
  std::vector<std::string> listed_regions;
};

/// The regions closed to the accounts of a scan, each with how many entered accounts it is closed
/// to, in the order first met: what the end of the log and the address map's summary tell.
class ClosedRegionCount {
 public:
  /// One region closed to some accounts.
  struct Entry {
    std::string region;
    std::size_t accounts = 0;
  };

  /// Counts the regions closed to `account`.
  void add(const AccountRecord& account) {
    for (const std::string& region : account.closed_regions) {
      const auto known = std::find_if(entries_.begin(), entries_.end(),
                                      [&](const Entry& entry) { return entry.region == region; });
      if (known == entries_.end())
        entries_.push_back({region, 1});
      else
        ++known->accounts;
    }
  }
  /// Every closed region so far.
  [[nodiscard]] const std::vector<Entry>& entries() const noexcept { return entries_; }

 private:
  // A partition has a few dozen regions: a list searched in order keeps the first-met order.
  std::vector<Entry> entries_;
};

/// An output of a scan. Every output has the same life: the engine calls `account_scanned` on the
/// calling thread, accounts in configuration order, after every region of the account is done;
/// once the scan is over the run calls `finish`, which writes or reports what the output made.
///
/// The const hooks let an output say what it makes of each step at the moment the step happens,
/// so that its messages stand among the scan's own. They may run on a worker thread, several at
/// once for different regions, with the messages held back and released in configuration order:
/// they must only log and must not change the output. The account they are given carries no
/// regions yet.
class ScanOutput {
 public:
  virtual ~ScanOutput() = default;
  /// Whether the VPC records handed over must carry their subnets (the address map and the drift
  /// check draw or compare them; the discovery file and workbook do not).
  [[nodiscard]] virtual bool needs_subnets() const { return false; }
  /// Whether the output is still of use when a region fails: it leaves the region out (the
  /// discovery file, the address map, the drift check). When no output of a scan is, the scan ends
  /// at the first failed region in configuration order, with the region's error.
  [[nodiscard]] virtual bool outlives_failed_regions() const { return true; }
  /// One account, with all its regions.
  virtual void account_scanned(const AccountRecord& account) = 0;
  /// The scan is over: writes the output's file or reports its findings; called once. By default
  /// nothing (an output that is read by the run, such as a tally).
  virtual void finish() {}

  /// An account's scan begins: its name is known, its role not yet assumed.
  virtual void account_started(const AccountRecord& /*account*/) const {}
  /// One VPC of a region was scanned; `region` holds the VPCs before it.
  virtual void vpc_scanned(const AccountRecord& /*account*/, const RegionRecord& /*region*/,
                           const VpcRecord& /*vpc*/) const {}
  /// Every VPC of a region was scanned without failure.
  virtual void region_scanned(const AccountRecord& /*account*/,
                              const RegionRecord& /*region*/) const {}
};

}  // namespace generator::generate
