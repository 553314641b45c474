#pragma once

// The scan's seam: what a scan asks of the controller and of AWS, as the one interface the scan
// engine calls (tests put a stand-in there), and the live implementation that `generate` runs
// with, over account_access and the controller session.

#include <chrono>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "aws/credentials.hpp"
#include "aws/organizations.hpp"
#include "generator/config/config.hpp"
#include "generator/generate/account_access.hpp"
#include "http/http.hpp"

namespace generator::generate {

/// What a scan asks of the controller and of AWS; tests put a stand-in here.
class DiscoveryServices {
 public:
  virtual ~DiscoveryServices() = default;
  /// Logs in to the controller and gives its account list, typed as the scan takes it.
  virtual ControllerAccounts account_list(const config::Config& config) = 0;
  /// What came of assuming the role: its temporary credentials, a refusal or a failure.
  virtual RoleAssumption assume_role(const std::string& role_arn) = 0;
  /// The regions enabled for the account.
  virtual std::vector<std::string> regions(const aws::Credentials& creds) = 0;
  /// Resolves the operator's own AWS credentials ahead of the scan, so that a question they ask
  /// (an MFA code) comes before the status line does; a failure is kept for the role assumptions
  /// that need them. By default nothing.
  virtual void resolve_own_credentials() {}
  /// The time by which credentials are renewed before they expire; by default the system clock.
  virtual std::chrono::system_clock::time_point now();
  /// The accounts of the AWS organization, or of the units `settings.ous` and the units nested in
  /// them, as Organizations lists them (any status; an account may come twice), read through
  /// `settings.role_arn` when given; errors pass on. By default a ScanError: these services
  /// reach no organization.
  virtual std::vector<aws::OrganizationAccount> organization_accounts(
      const config::OrganizationSettings& settings);
  /// EC2 of one region with the account's credentials.
  virtual std::unique_ptr<Ec2Handle> ec2_handler(const std::string& region,
                                                 const aws::Credentials& creds) = 0;
  /// The services for one scanning thread, whose requests end once `cancellation` is set. By
  /// default these same services, entered by one thread at a time.
  virtual std::unique_ptr<DiscoveryServices> for_worker(
      std::shared_ptr<const http::Cancellation> cancellation);

 private:
  std::recursive_mutex serial_calls_;
};

/// How a run reaches its two peers; made once from the configuration.
struct Transports {
  http::TransportSettings controller;
  http::TransportSettings aws;
};

/// The controller's transport as the configuration asks for it, and AWS's standard one.
[[nodiscard]] Transports make_transports(const config::Config& config);

/// The real controller and AWS over `transports`, with the process's environment, every account's
/// role assumed as the configuration's `assume_role` says and throttling waited out for its
/// `throttling_patience`; one for the whole run, so that the operator's own credentials are
/// resolved once.
[[nodiscard]] std::unique_ptr<DiscoveryServices> make_live_services(const Transports& transports,
                                                                    const config::Config& config);

}  // namespace generator::generate
