#include "generator/generate/scan_engine.hpp"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>
#include <thread>
#include <unordered_set>

#include "aws/errors.hpp"
#include "aws/expiry.hpp"
#include "generator/common/errors.hpp"
#include "generator/generate/gateway_name.hpp"
#include "generator/log/log.hpp"

namespace generator::generate {

namespace {

log::Logger& logger() { return log::get_logger("generator.generate"); }

std::string error_rendering(const std::exception& error) {
  if (const auto* service_error = dynamic_cast<const aws::ServiceError*>(&error)) {
    return "ClientError: " + std::string(service_error->what());
  }
  return error.what();
}

// A block or subnet of a VPC as EC2 gave it; the one place where the scan reads CIDR text.
ipv4::Network vpc_network(const std::string& vpc_id, std::string_view cidr) {
  try {
    return ipv4::Network::parse(cidr);
  } catch (const ipv4::InvalidNetwork& error) {
    throw ValueError("VPC '" + vpc_id + "': " + error.what());
  }
}

// Every account skipped is almost always one mistake (the role name, or the operator's own AWS
// identity), so it gets one line of its own after the per-account errors.
void warn_no_account_entered(std::size_t account_count, const std::string& role_name) {
  if (account_count == 0) return;
  logger().warning(
      "None of the {} configured accounts could be entered: check the role name '{}' and the AWS "
      "credentials that assume it",
      account_count, role_name);
}

// One account of a running scan: filled by the worker that enters it, read by the others only
// after `entered_done` is set under the scan's lock.
struct AccountWork {
  AccountRecord account;
  std::string role_arn;
  // Set on entry; renewed under creds_mutex by the first region that finds them about to expire.
  std::optional<aws::Credentials> creds;
  std::mutex creds_mutex;
  std::vector<std::string> regions;
  log::HeldMessages messages;
  std::exception_ptr fatal;
  bool entered_done = false;
  struct RegionWork {
    RegionRecord region;
    // Set when the account's organization keeps the region closed: it goes to the account's
    // closed regions rather than its regions.
    bool closed = false;
    log::HeldMessages messages;
    std::exception_ptr fatal;
    bool done = false;
  };
  std::deque<RegionWork> region_work;
};

// A piece of work, ordered as the plan is: an account's entry (its name, role and regions), then
// each of its regions.
struct Task {
  enum class Kind { account_entry, region_scan };
  std::size_t account;
  Kind kind;
  /// The region's place in the account's list, for a region_scan.
  std::size_t region = 0;
  friend auto operator<=>(const Task&, const Task&) = default;

  static Task entry_of(std::size_t account) { return {account, Kind::account_entry}; }
  static Task scan_of(std::size_t account, std::size_t region) {
    return {account, Kind::region_scan, region};
  }
};

// One scan: the plan, how it runs, and where its results go. Workers take the earliest pending
// piece of work in plan order; the calling thread releases each piece's messages and hands each
// account to the outputs in plan order, so the log and the outputs do not depend on the number
// of workers.
class Scan {
 public:
  Scan(const ScanPlan& plan, const ScanSettings& settings, DiscoveryServices& services,
       PassProgress& progress, const std::vector<ScanOutput*>& outputs)
      : plan_(plan),
        settings_(settings),
        services_(services),
        progress_(progress),
        outputs_(outputs),
        accounts_(plan.accounts.size()) {
    for (const ScanOutput* output : outputs_) {
      needs_subnets_ = needs_subnets_ || output->needs_subnets();
      failed_region_ends_scan_ = failed_region_ends_scan_ && !output->outlives_failed_regions();
    }
    for (std::size_t index = 0; index < accounts_.size(); ++index)
      pending_.insert(Task::entry_of(index));
  }

  ~Scan() { stop(); }
  Scan(const Scan&) = delete;
  Scan& operator=(const Scan&) = delete;

  void run() {
    const std::size_t jobs = std::max<std::size_t>(1, settings_.jobs);
    for (std::size_t worker = 0; worker < jobs; ++worker) {
      std::shared_ptr<DiscoveryServices> services = services_.for_worker(cancellation_);
      workers_.emplace_back([this, services] { work(*services); });
    }
    std::size_t entered = 0;
    for (std::size_t index = 0; index < accounts_.size(); ++index) {
      AccountWork& work = accounts_[index];
      wait_until([&] { return work.entered_done; });
      release(work.messages, work.fatal);
      if (work.account.entered) ++entered;
      // The workers of the account's later regions still read `work.account`.
      AccountRecord scanned = work.account;
      for (auto& region : work.region_work) {
        wait_until([&] { return region.done; });
        release(region.messages, region.fatal);
        if (region.closed)
          scanned.closed_regions.push_back(std::move(region.region.region));
        else
          scanned.regions.push_back(std::move(region.region));
      }
      work.region_work.clear();
      for (ScanOutput* output : outputs_) output->account_scanned(scanned);
    }
    stop();
    if (entered == 0) warn_no_account_entered(plan_.accounts.size(), settings_.role_name);
  }

 private:
  template <class Predicate>
  void wait_until(Predicate ready) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, ready);
  }

  // Writes a piece's messages; its error ends the scan, with every later piece called off.
  void release(log::HeldMessages& messages, const std::exception_ptr& fatal) {
    messages.release();
    if (fatal) {
      stop();
      std::rethrow_exception(fatal);
    }
  }

  void stop() {
    {
      const std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    cancellation_->cancel();
    changed_.notify_all();
    for (std::thread& worker : workers_)
      if (worker.joinable()) worker.join();
  }

  void work(DiscoveryServices& services) {
    for (;;) {
      Task task = Task::entry_of(0);
      {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return stopping_ || !pending_.empty(); });
        if (stopping_) return;
        task = *pending_.begin();
        pending_.erase(pending_.begin());
      }
      switch (task.kind) {
        case Task::Kind::account_entry:
          enter_account(services, task.account);
          break;
        case Task::Kind::region_scan:
          scan_region(services, task.account, task.region);
          break;
      }
    }
  }

  void enter_account(DiscoveryServices& services, std::size_t index) {
    AccountWork& work = accounts_[index];
    {
      const log::HoldMessages hold(work.messages);
      try {
        enter_account(services, index, work);
      } catch (...) {
        work.fatal = std::current_exception();
      }
    }
    const std::lock_guard lock(mutex_);
    if (!work.fatal) {
      for (std::size_t region = 0; region < work.regions.size(); ++region) {
        work.region_work.emplace_back().region.region = work.regions[region];
        pending_.insert(Task::scan_of(index, region));
      }
    }
    work.entered_done = true;
    changed_.notify_all();
  }

  void scan_region(DiscoveryServices& services, std::size_t account, std::size_t index) {
    AccountWork& work = accounts_[account];
    AccountWork::RegionWork* region = nullptr;
    {
      const std::lock_guard lock(mutex_);
      region = &work.region_work[index];
    }
    {
      const log::HoldMessages hold(region->messages);
      try {
        scan_region(services, work, *region);
      } catch (...) {
        region->fatal = std::current_exception();
      }
    }
    const std::lock_guard lock(mutex_);
    region->done = true;
    changed_.notify_all();
  }

  // The account's name, role and regions; `account.entered` tells whether the role was assumed.
  void enter_account(DiscoveryServices& services, std::size_t index, AccountWork& work) {
    const PlannedAccount& planned = plan_.accounts[index];
    AccountRecord& account = work.account;
    progress_.account_started(index + 1, plan_.accounts.size(), planned.account_id);
    logger().info({settings_.pass, "Discovering info for account {}"}, planned.account_id);
    account.account_id = planned.account_id;
    account.account_name = planned.account_name;
    for (const ScanOutput* output : outputs_) output->account_started(account);

    work.role_arn = get_role_arn(planned.account_id, settings_.role_name, settings_.partition);
    const RoleAssumption role = services.assume_role(work.role_arn);
    // Only a refusal skips the account; a failure ends the scan from here.
    work.creds = role.credentials();
    if (!work.creds) {
      logger().error({settings_.pass, "- Failed to assume role into account {} -- skipped"},
                     planned.account_id);
      account.skip_reason = role.refusal();
      return;
    }
    account.entered = true;
    if (planned.regions) {
      work.regions = *planned.regions;
    } else {
      // A region that DescribeRegions names twice is one region: scanned twice, every VPC of it
      // would overlap itself and stand twice in files that convert and --verify then refuse.
      add_new_regions(account.listed_regions, services.regions(*work.creds));
      work.regions = account.listed_regions;
    }
    add_new_regions(work.regions, planned.more_regions);
  }

  // The account's role credentials, renewed first when they are about to expire: a role session
  // lasts an hour by default, and the scan of a large estate may take longer.
  static aws::Credentials current_creds(DiscoveryServices& services, AccountWork& work) {
    const std::lock_guard lock(work.creds_mutex);
    if (aws::due_for_renewal(*work.creds, services.now())) {
      logger().debug("Renewing the role credentials of account {}", work.account.account_id);
      // Refused now: the old ones still serve for a few minutes, and the region's requests tell
      // if they do not. A failure ends the scan, as it would on entry.
      if (std::optional<aws::Credentials> renewed =
              services.assume_role(work.role_arn).credentials())
        work.creds = std::move(renewed);
    }
    return *work.creds;
  }

  void scan_region(DiscoveryServices& services, AccountWork& work,
                   AccountWork::RegionWork& region_work) {
    const AccountRecord& account = work.account;
    RegionRecord& region = region_work.region;
    progress_.region_started(region.region);
    const RegionEnd region_end(progress_);
    const std::unique_ptr<Ec2Handle> ec2 =
        services.ec2_handler(region.region, current_creds(services, work));
    RegionSubnets subnets(*ec2);
    std::unordered_set<std::string> listed_ids;
    try {
      ec2->list_vpc_pages(VPC_PAGE_SIZE, [&](std::vector<aws::Vpc>& page) {
        for (const aws::Vpc& listed : page) {
          // A VPC listed twice (the listing shifted between its pages) is one VPC: twice, it
          // would overlap itself and stand twice in files that convert and --verify refuse.
          if (!listed_ids.insert(listed.id).second) {
            logger().debug({settings_.pass, "VPC {} of region '{}' was listed twice; taken once"},
                           listed.id, region.region);
            continue;
          }
          region.vpcs.push_back(scan_vpc(listed, subnets));
          for (const ScanOutput* output : outputs_)
            output->vpc_scanned(account, region, region.vpcs.back());
          progress_.vpc_found();
        }
      });
    } catch (const aws::ServiceError& error) {
      if (error.denied_by_service_control_policy()) {
        // Organizations deny the regions they do not use to every account they govern: such a
        // region holds nothing to migrate, so it is neither an error nor a gap in any file. The
        // run names each closed region once, after the scan.
        logger().debug({settings_.pass, "Region '{}' is closed to account {}: {}"}, region.region,
                       account.account_id, error_rendering(error));
        region.vpcs.clear();
        region_work.closed = true;
        return;
      }
      // AWS's message alone does not say which of many regions refused: an output that ends the
      // run on it names the place.
      const aws::ServiceError placed(
          error.code(),
          error.message() + " (account " + account.account_id + ", region " + region.region + ")",
          error.request_id(), error.operation(), error.http_status());
      if (failed_region_ends_scan_) throw placed;
      // One refusing region (an opt-in region, a policy that denies it) must not cost the
      // operator the whole account; the region is handed over as failed and the scan goes on.
      logger().warning({settings_.pass, "Error occured while scanning VPCs in region '{}'."},
                       region.region);
      logger().debug({settings_.pass, "Error encountered during '{}' region scan:\n{}"},
                     region.region, error_rendering(error));
      region.vpcs.clear();
      region.failure = std::make_exception_ptr(placed);
      region.failure_message = error.what();
      return;
    }
    for (const ScanOutput* output : outputs_) output->region_scanned(account, region);
  }

  VpcRecord scan_vpc(const aws::Vpc& listed, RegionSubnets& subnets) const {
    const GatewayRule& rule = settings_.gateway_rule;
    VpcRecord record = vpc_record(listed);
    if (needs_subnets_ || !rule.add_vpc_cidr) record.subnets = subnets.take(record.id);
    if (rule.add_vpc_cidr)
      record.gateway_subnet.gap = GatewaySubnet::Gap::add_vpc_cidr;
    else
      record.gateway_subnet.network = compute_hvn_cidr(record, rule.hpe, rule.reserved);
    record.gateway_name = get_spoke_gw_name(record);
    if (!needs_subnets_) record.subnets.clear();
    return record;
  }

  // Tells the progress that a region is over, however it ends.
  class RegionEnd {
   public:
    explicit RegionEnd(PassProgress& progress) : progress_(progress) {}
    ~RegionEnd() { progress_.region_done(); }
    RegionEnd(const RegionEnd&) = delete;
    RegionEnd& operator=(const RegionEnd&) = delete;

   private:
    PassProgress& progress_;
  };

  const ScanPlan& plan_;
  const ScanSettings& settings_;
  DiscoveryServices& services_;
  PassProgress& progress_;
  const std::vector<ScanOutput*>& outputs_;
  bool needs_subnets_ = false;
  // No output has a use for the rest of the scan once a region failed.
  bool failed_region_ends_scan_ = true;

  std::mutex mutex_;
  std::condition_variable changed_;
  // Guarded by mutex_: what is still to do, the stop request, and the structure of accounts_.
  std::set<Task> pending_;
  bool stopping_ = false;
  std::deque<AccountWork> accounts_;
  std::shared_ptr<http::Cancellation> cancellation_ = std::make_shared<http::Cancellation>();
  std::vector<std::thread> workers_;
};

}  // namespace

void scan_estate(const ScanPlan& plan, const ScanSettings& settings, DiscoveryServices& services,
                 PassProgress& progress, const std::vector<ScanOutput*>& outputs) {
  Scan(plan, settings, services, progress, outputs).run();
}

VpcRecord vpc_record(const aws::Vpc& vpc) {
  VpcRecord record;
  record.id = vpc.id;
  record.is_default = vpc.is_default;
  record.primary = vpc_network(vpc.id, vpc.cidr_block);
  for (const auto& association : vpc.cidr_block_association_set)
    record.blocks.push_back(
        BlockRecord{vpc_network(vpc.id, association.cidr_block), association.state});
  for (const auto& tag : vpc.tags) record.tags.push_back(TagRecord{tag.key, tag.value});
  return record;
}

std::vector<SubnetRecord> RegionSubnets::take(const std::string& vpc_id) {
  if (!listed_) {
    for (aws::Subnet& subnet : ec2_.list_region_subnets(SUBNET_PAGE_SIZE)) {
      std::optional<ipv4::Network> network;
      if (subnet.cidr_block) network = vpc_network(subnet.vpc_id, *subnet.cidr_block);
      by_vpc_[subnet.vpc_id].push_back(SubnetRecord{std::move(subnet.id), network});
    }
    listed_ = true;
  }
  const auto found = by_vpc_.find(vpc_id);
  if (found == by_vpc_.end()) return {};
  std::vector<SubnetRecord> subnets = std::move(found->second);
  by_vpc_.erase(found);
  return subnets;
}

}  // namespace generator::generate
