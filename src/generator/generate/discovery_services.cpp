#include "generator/generate/discovery_services.hpp"

#include <functional>

#include "aws/context.hpp"
#include "generator/common/errors.hpp"
#include "generator/controller/controller.hpp"

namespace generator::generate {

namespace {

// Services that are not made for several threads, used by every worker one call at a time.
class SerializedServices : public DiscoveryServices {
 public:
  SerializedServices(DiscoveryServices& services, std::recursive_mutex& mutex)
      : services_(services), mutex_(mutex) {}
  ControllerAccounts account_list(const config::Config& config) override {
    const std::lock_guard lock(mutex_);
    return services_.account_list(config);
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

// The controller and AWS. Copies made for the scanning threads each have their own libcurl
// handle and share the operator's credentials, resolved once for the whole run.
class LiveServices : public DiscoveryServices {
 public:
  LiveServices(const Transports& transports, const config::Config& config)
      : controller_transport_(transports.controller),
        context_(process_context(transports.aws)),
        own_(std::make_shared<aws::OwnCredentials>()),
        role_settings_(config.assume_role) {
    if (config.throttling_patience) context_.throttling_patience = *config.throttling_patience;
    // Refused here, before any request, when the configured regions span two partitions; an
    // operator without a region of their own reaches STS and Organizations in the partition's.
    context_.fallback_region = scan_partition(config, context_.environment).global_region;
  }
  LiveServices(http::TransportSettings controller_transport, aws::Context context,
               std::shared_ptr<aws::OwnCredentials> own, config::AssumeRoleSettings role_settings)
      : controller_transport_(std::move(controller_transport)),
        context_(std::move(context)),
        own_(std::move(own)),
        role_settings_(std::move(role_settings)) {}

  ControllerAccounts account_list(const config::Config& config) override {
    return ControllerAccounts::from_answer(
        controller::get_account_list(config, controller_transport_));
  }
  RoleAssumption assume_role(const std::string& role_arn) override {
    return get_temp_creds_for_account(role_arn, role_settings_, context_, *own_);
  }
  std::vector<std::string> regions(const aws::Credentials& creds) override {
    return get_regions(creds, context_);
  }
  void resolve_own_credentials() override {
    try {
      (void)own_->get(context_);
    } catch (const std::exception&) {
      // Kept by own_: each role assumption reports it, as when it is met there first.
    }
  }
  std::chrono::system_clock::time_point now() override { return context_.now(); }
  std::vector<aws::OrganizationAccount> organization_accounts(
      const config::OrganizationSettings& settings) override {
    return list_organization_accounts(settings, role_settings_.session_name, context_, *own_);
  }
  std::unique_ptr<Ec2Handle> ec2_handler(const std::string& region,
                                         const aws::Credentials& creds) override {
    return get_ec2_resource_handler(region, creds, context_);
  }
  std::unique_ptr<DiscoveryServices> for_worker(
      std::shared_ptr<const http::Cancellation> cancellation) override {
    return std::make_unique<LiveServices>(
        controller_transport_, context_.for_worker(std::move(cancellation)), own_, role_settings_);
  }

 private:
  http::TransportSettings controller_transport_;
  aws::Context context_;
  std::shared_ptr<aws::OwnCredentials> own_;
  config::AssumeRoleSettings role_settings_;
};

}  // namespace

std::unique_ptr<DiscoveryServices> DiscoveryServices::for_worker(
    std::shared_ptr<const http::Cancellation> /*cancellation*/) {
  return std::make_unique<SerializedServices>(*this, serial_calls_);
}

std::chrono::system_clock::time_point DiscoveryServices::now() {
  return std::chrono::system_clock::now();
}

std::vector<aws::OrganizationAccount> DiscoveryServices::organization_accounts(
    const config::OrganizationSettings& /*settings*/) {
  throw ScanError("these services cannot read an AWS organization");
}

Transports make_transports(const config::Config& config) {
  return Transports{controller::transport_settings(config.controller),
                    aws::Context::transport_settings()};
}

std::unique_ptr<DiscoveryServices> make_live_services(const Transports& transports,
                                                      const config::Config& config) {
  return std::make_unique<LiveServices>(transports, config);
}

}  // namespace generator::generate
