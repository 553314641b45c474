#include "generator/generate/scan_engine.hpp"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>
#include <thread>

#include "aws/errors.hpp"
#include "aws/expiry.hpp"
#include "generator/common/aws_names.hpp"
#include "generator/common/errors.hpp"
#include "generator/generate/gateway_name.hpp"
#include "generator/log/log.hpp"

namespace generator::generate {

namespace {

using Json = nlohmann::ordered_json;

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

// The name the controller lists for an account: text, or nothing when it lists none.
std::optional<std::string> account_name_text(const std::string& account_id, const Json& name) {
  if (name.is_null()) return std::nullopt;
  if (!name.is_string()) {
    throw TypeError("the controller's name of account " + account_id + " is " + name.type_name() +
                    ", not text");
  }
  return name.get<std::string>();
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
    log::HeldMessages messages;
    std::exception_ptr fatal;
    bool done = false;
  };
  std::deque<RegionWork> region_work;
};

// A piece of work in plan order: an account's entry (region -1) or one of its regions.
struct Task {
  std::size_t account;
  long region;
  friend auto operator<=>(const Task&, const Task&) = default;
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
    for (std::size_t index = 0; index < accounts_.size(); ++index) pending_.insert(Task{index, -1});
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
      Task task{};
      {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return stopping_ || !pending_.empty(); });
        if (stopping_) return;
        task = *pending_.begin();
        pending_.erase(pending_.begin());
      }
      if (task.region < 0)
        enter_account(services, task.account);
      else
        scan_region(services, task.account, static_cast<std::size_t>(task.region));
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
        pending_.insert(Task{index, static_cast<long>(region)});
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
        scan_region(services, work, region->region);
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
    logger().info(settings_.pass, "Discovering info for account {}", planned.account_id);
    account.account_id = planned.account_id;
    account.account_name = account_name_text(
        planned.account_id, get_acct_name(planned.account_id, plan_.controller_accounts));
    for (const ScanOutput* output : outputs_) output->account_started(account);

    work.role_arn = get_role_arn(planned.account_id, settings_.role_name);
    RoleAssumption role = services.assume_role(work.role_arn);
    if (!role.credentials) {
      logger().error(settings_.pass, "- Failed to assume role into account {} -- skipped",
                     planned.account_id);
      account.skip_reason = std::move(role.refusal);
      return;
    }
    account.entered = true;
    work.creds = std::move(role.credentials);
    if (planned.regions) {
      work.regions = *planned.regions;
    } else {
      account.listed_regions = services.regions(*work.creds);
      work.regions = account.listed_regions;
    }
    for (const std::string& region : planned.more_regions)
      if (std::find(work.regions.begin(), work.regions.end(), region) == work.regions.end())
        work.regions.push_back(region);
  }

  // The account's role credentials, renewed first when they are about to expire: a role session
  // lasts an hour by default, and the scan of a large estate may take longer.
  static aws::Credentials current_creds(DiscoveryServices& services, AccountWork& work) {
    const std::lock_guard lock(work.creds_mutex);
    if (aws::due_for_renewal(*work.creds, services.now())) {
      logger().debug("Renewing the role credentials of account {}", work.account.account_id);
      RoleAssumption renewed = services.assume_role(work.role_arn);
      // Refused now: the old ones still serve for a few minutes, and the region's requests tell
      // if they do not.
      if (renewed.credentials) work.creds = std::move(renewed.credentials);
    }
    return *work.creds;
  }

  void scan_region(DiscoveryServices& services, AccountWork& work, RegionRecord& region) {
    const AccountRecord& account = work.account;
    progress_.region_started(region.region);
    const RegionEnd region_end(progress_);
    const std::unique_ptr<Ec2Handle> ec2 =
        services.ec2_handler(region.region, current_creds(services, work));
    RegionSubnets subnets(*ec2);
    try {
      ec2->list_vpc_pages(VPC_PAGE_SIZE, [&](std::vector<aws::Vpc>& page) {
        for (const aws::Vpc& listed : page) {
          region.vpcs.push_back(scan_vpc(listed, subnets));
          for (const ScanOutput* output : outputs_)
            output->vpc_scanned(account, region, region.vpcs.back());
          progress_.vpc_found();
        }
      });
    } catch (const aws::ServiceError& error) {
      // AWS's message alone does not say which of many regions refused: an output that ends the
      // run on it names the place.
      const aws::ServiceError placed(
          error.code(),
          error.message() + " (account " + account.account_id + ", region " + region.region + ")",
          error.request_id(), error.operation(), error.http_status());
      if (failed_region_ends_scan_) throw placed;
      // One refusing region (an opt-in region, a policy that denies it) must not cost the
      // operator the whole account; the region is handed over as failed and the scan goes on.
      logger().warning(settings_.pass, "Error occured while scanning VPCs in region '{}'.",
                       region.region);
      logger().debug(settings_.pass, "Error encountered during '{}' region scan:\n{}",
                     region.region, error_rendering(error));
      region.vpcs.clear();
      region.failure = std::make_exception_ptr(placed);
      region.failure_message = error.what();
      return;
    }
    for (const ScanOutput* output : outputs_) output->region_scanned(account, region);
  }

  VpcRecord scan_vpc(const aws::Vpc& listed, RegionSubnets& subnets) const {
    VpcRecord record = vpc_record(listed);
    if (needs_subnets_ || !settings_.add_vpc_cidr) record.subnets = subnets.take(record.id);
    if (settings_.add_vpc_cidr)
      record.gateway_subnet.gap = GatewaySubnet::Gap::add_vpc_cidr;
    else
      record.gateway_subnet.network = compute_hvn_cidr(record, settings_.hpe, settings_.reserved);
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

// Services that are not made for several threads, used by every worker one call at a time.
class SerializedServices : public DiscoveryServices {
 public:
  SerializedServices(DiscoveryServices& services, std::recursive_mutex& mutex)
      : services_(services), mutex_(mutex) {}
  Json account_list(const config::Config& config) override {
    const std::lock_guard lock(mutex_);
    return services_.account_list(config);
  }
  std::optional<aws::Credentials> temp_creds_for_account(const std::string& role_arn) override {
    const std::lock_guard lock(mutex_);
    return services_.temp_creds_for_account(role_arn);
  }
  RoleAssumption assume_role(const std::string& role_arn) override {
    const std::lock_guard lock(mutex_);
    return services_.assume_role(role_arn);
  }
  std::vector<std::string> regions(const aws::Credentials& creds) override {
    const std::lock_guard lock(mutex_);
    return services_.regions(creds);
  }
  std::vector<aws::OrganizationAccount> organization_accounts(
      const config::OrganizationSettings& settings) override {
    const std::lock_guard lock(mutex_);
    return services_.organization_accounts(settings);
  }
  std::chrono::system_clock::time_point now() override {
    const std::lock_guard lock(mutex_);
    return services_.now();
  }
  std::unique_ptr<Ec2Handle> ec2_handler(const std::string& region,
                                         const aws::Credentials& creds) override {
    const std::lock_guard lock(mutex_);
    return std::make_unique<Handle>(services_.ec2_handler(region, creds), mutex_);
  }

 private:
  class Handle : public Ec2Handle {
   public:
    Handle(std::unique_ptr<Ec2Handle> handle, std::recursive_mutex& mutex)
        : handle_(std::move(handle)), mutex_(mutex) {}
    ~Handle() override {
      const std::lock_guard lock(mutex_);
      handle_.reset();
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    void list_vpc_pages(
        int page_size,
        const std::function<void(std::vector<aws::Vpc>& page)>& on_page) const override {
      // The lock is held while the caller works on each page, which may list the subnets.
      const std::lock_guard lock(mutex_);
      handle_->list_vpc_pages(page_size, on_page);
    }
    [[nodiscard]] std::vector<aws::Subnet> list_region_subnets(int page_size) const override {
      const std::lock_guard lock(mutex_);
      return handle_->list_region_subnets(page_size);
    }
    [[nodiscard]] std::vector<std::string> describe_regions() const override {
      const std::lock_guard lock(mutex_);
      return handle_->describe_regions();
    }

   private:
    std::unique_ptr<Ec2Handle> handle_;
    std::recursive_mutex& mutex_;
  };

  DiscoveryServices& services_;
  std::recursive_mutex& mutex_;
};

}  // namespace

std::unique_ptr<DiscoveryServices> DiscoveryServices::for_worker(
    std::shared_ptr<const http::Cancellation> /*cancellation*/) {
  return std::make_unique<SerializedServices>(*this, serial_calls_);
}

RoleAssumption DiscoveryServices::assume_role(const std::string& role_arn) {
  RoleAssumption assumption{temp_creds_for_account(role_arn), {}};
  if (!assumption.credentials)
    assumption.refusal = "The role " + role_arn + " could not be assumed";
  return assumption;
}

std::chrono::system_clock::time_point DiscoveryServices::now() {
  return std::chrono::system_clock::now();
}

std::vector<aws::OrganizationAccount> DiscoveryServices::organization_accounts(
    const config::OrganizationSettings& /*settings*/) {
  throw ScanError("these services cannot read an AWS organization");
}

std::vector<std::string> controller_account_ids(const Json& controller_accounts) {
  if (!controller_accounts.is_array())
    throw TypeError("the controller's account list is not a list");
  std::vector<std::string> ids;
  std::set<std::string> seen;
  std::vector<std::string> unusable;
  for (const Json& entry : controller_accounts) {
    if (!entry.is_object() || !entry.contains("account_number"))
      throw KeyError("'account_number' (an entry of the controller's account list has none)");
    const Json& number = entry["account_number"];
    if (!number.is_string() || !is_account_number(number.get<std::string>())) {
      unusable.push_back(number.dump());
      continue;
    }
    if (seen.insert(number.get<std::string>()).second) ids.push_back(number.get<std::string>());
  }
  if (!unusable.empty()) {
    std::string listed;
    for (const std::string& number : unusable) listed += (listed.empty() ? "" : ", ") + number;
    logger().warning(
        "{} entries of the controller's account list are left out: their account_number is not "
        "a 12-digit AWS account number in quotes: {}",
        unusable.size(), listed);
  }
  return ids;
}

std::vector<std::string> organization_account_ids(
    const std::vector<aws::OrganizationAccount>& listed,
    const config::OrganizationSettings& settings) {
  const std::set<std::string> excluded(settings.exclude_account_ids.begin(),
                                       settings.exclude_account_ids.end());
  std::set<std::string> active;
  std::set<std::string> inactive;
  std::set<std::string> left_out;
  for (const aws::OrganizationAccount& account : listed) {
    if (excluded.contains(account.id))
      left_out.insert(account.id);
    else if (account.status == "ACTIVE")
      active.insert(account.id);
    else  // suspended and closing accounts refuse every role assumption
      inactive.insert(account.id);
  }
  logger().info(
      "The organization lists {} ACTIVE accounts to scan ({} not ACTIVE and {} in "
      "exclude_account_ids left out)",
      active.size(), inactive.size(), left_out.size());
  return {active.begin(), active.end()};
}

namespace {

// The accounts the configuration asks for, from where it says.
std::vector<std::string> planned_account_ids(const config::Config& config,
                                             const Json& controller_accounts,
                                             DiscoveryServices& services) {
  switch (config.account_source) {
    case config::AccountSource::listed:
      return config.account_ids;
    case config::AccountSource::controller:
      return controller_account_ids(controller_accounts);
    case config::AccountSource::organization: {
      logger().info("Listing the accounts of the AWS organization");
      std::vector<std::string> ids = organization_account_ids(
          services.organization_accounts(config.organization), config.organization);
      // Their rows will carry no account name, which convert asks for: one line names them all.
      std::string unmanaged;
      std::size_t count = 0;
      for (const std::string& id : ids) {
        if (!get_acct_name(id, controller_accounts).is_null()) continue;
        unmanaged += (unmanaged.empty() ? "" : ", ") + id;
        ++count;
      }
      if (count > 0)
        logger().warning(
            "{} accounts of the organization are not managed by the controller; they are scanned, "
            "without an account name: {}",
            count, unmanaged);
      return ids;
    }
  }
  throw ValueError("no account source numbered " +
                   std::to_string(static_cast<int>(config.account_source)));
}

}  // namespace

ScanPlan ScanPlan::from_config(const config::Config& config, Json controller_accounts,
                               DiscoveryServices& services) {
  ScanPlan plan;
  for (const std::string& account_id : planned_account_ids(config, controller_accounts, services)) {
    PlannedAccount account{account_id, std::nullopt, {}};
    if (!config.aws_regions.empty()) account.regions = config.aws_regions;
    plan.accounts.push_back(std::move(account));
  }
  plan.controller_accounts = std::move(controller_accounts);
  return plan;
}

ScanPlan ScanPlan::joined(const ScanPlan& first, const ScanPlan& second) {
  const auto add_new = [](std::vector<std::string>& to, const std::vector<std::string>& from) {
    for (const std::string& item : from)
      if (std::find(to.begin(), to.end(), item) == to.end()) to.push_back(item);
  };
  ScanPlan plan = first;
  for (const PlannedAccount& other : second.accounts) {
    const auto same = std::find_if(
        plan.accounts.begin(), plan.accounts.end(),
        [&](const PlannedAccount& account) { return account.account_id == other.account_id; });
    if (same == plan.accounts.end()) {
      plan.accounts.push_back(other);
      continue;
    }
    if (same->regions && other.regions) {
      add_new(*same->regions, *other.regions);
    } else {
      // The enabled regions come first, as in a scan of the plan without regions alone.
      add_new(same->more_regions, same->regions.value_or(std::vector<std::string>{}));
      add_new(same->more_regions, other.regions.value_or(std::vector<std::string>{}));
      same->regions.reset();
    }
    add_new(same->more_regions, other.more_regions);
  }
  return plan;
}

PlanScope::PlanScope(const ScanPlan& plan, ScanOutput& output) : output_(output) {
  for (const PlannedAccount& account : plan.accounts)
    regions_.emplace(account.account_id, account.regions);
}

bool PlanScope::covers(const AccountRecord& account, const std::string& region) const {
  const auto found = regions_.find(account.account_id);
  if (found == regions_.end()) return false;
  const std::vector<std::string>& own = found->second ? *found->second : account.listed_regions;
  return std::find(own.begin(), own.end(), region) != own.end();
}

void PlanScope::account_scanned(const AccountRecord& account) {
  if (!regions_.contains(account.account_id)) return;
  const bool all_covered =
      std::all_of(account.regions.begin(), account.regions.end(),
                  [&](const RegionRecord& region) { return covers(account, region.region); });
  if (all_covered) {
    output_.account_scanned(account);
    return;
  }
  AccountRecord own = account;
  std::erase_if(own.regions,
                [&](const RegionRecord& region) { return !covers(account, region.region); });
  output_.account_scanned(own);
}

void PlanScope::account_started(const AccountRecord& account) const {
  if (regions_.contains(account.account_id)) output_.account_started(account);
}

void PlanScope::vpc_scanned(const AccountRecord& account, const RegionRecord& region,
                            const VpcRecord& vpc) const {
  if (covers(account, region.region)) output_.vpc_scanned(account, region, vpc);
}

void PlanScope::region_scanned(const AccountRecord& account, const RegionRecord& region) const {
  if (covers(account, region.region)) output_.region_scanned(account, region);
}

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
