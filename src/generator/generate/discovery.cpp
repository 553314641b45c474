#include "generator/generate/discovery.hpp"

#include <source_location>

#include "aws/context.hpp"
#include "aws/errors.hpp"
#include "generator/common/errors.hpp"
#include "generator/controller/controller.hpp"
#include "generator/generate/gateway_name.hpp"
#include "generator/generate/gateway_subnet.hpp"
#include "generator/generate/generate.hpp"
#include "generator/log/log.hpp"
#include "ovra/config.hpp"

namespace generator::generate {

namespace {

using Json = nlohmann::ordered_json;

log::Logger& logger() { return log::get_logger("generator.generate"); }

class LiveServices : public DiscoveryServices {
 public:
  explicit LiveServices(const Transports& transports)
      : controller_transport_(transports.controller), context_(process_context(transports.aws)) {}

  Json account_list(const config::Config& config) override {
    return controller::get_account_list(config, controller_transport_);
  }
  std::optional<aws::Credentials> temp_creds_for_account(const std::string& role_arn) override {
    return get_temp_creds_for_account(role_arn, context_);
  }
  std::vector<std::string> regions(const aws::Credentials& creds) override {
    return get_regions(creds, context_);
  }
  std::unique_ptr<Ec2Handle> ec2_handler(const std::string& region,
                                         const aws::Credentials& creds) override {
    return get_ec2_resource_handler(region, creds, context_);
  }

 private:
  http::TransportSettings controller_transport_;
  aws::Context context_;
};

// Ends the status line however the pass ends.
class PassScope {
 public:
  PassScope(PassProgress& progress, const std::string& pass) : progress_(progress) {
    progress_.pass_started(pass);
  }
  ~PassScope() { progress_.pass_ended(); }
  PassScope(const PassScope&) = delete;
  PassScope& operator=(const PassScope&) = delete;

 private:
  PassProgress& progress_;
};

Hpe hpe_of(const config::Defaults& defaults) { return defaults.hpe ? Hpe::enabled : Hpe::disabled; }

template <class T>
Json value_or_null(const std::optional<T>& value) {
  return value ? Json(*value) : Json(nullptr);
}

// The value of one of MIN_ACCOUNT_INFO_FIELDS, as the configuration holds it.
Json default_member(const config::Defaults& defaults, const std::string& name) {
  if (name == "hpe") return defaults.hpe;
  if (name == "managed_tgw") return value_or_null(defaults.managed_tgw);
  if (name == "filter_cidrs") return value_or_null(defaults.filter_cidrs);
  if (name == "spoke_gw_size") return value_or_null(defaults.spoke_gw_size);
  if (name == "role_name") return defaults.role_name;
  throw KeyError("no defaults member named " + name);
}

// A text member when it holds a non-empty text, otherwise the missing value.
std::string text_or_null(const std::optional<std::string>& value) {
  return value && !value->empty() ? *value : NULL_TEXT;
}

Json bool_or_null(const std::optional<bool>& value) {
  return value ? Json(*value) : Json(NULL_TEXT);
}

Json list_or_null(const std::optional<std::vector<std::string>>& items) {
  return items ? Json(*items) : Json(NULL_TEXT);
}

// The associated blocks of the VPC, the primary one included, in association order.
std::string associated_cidrs(const aws::Vpc& vpc) {
  std::string joined;
  for (const auto& association : vpc.cidr_block_association_set) {
    if (association.state != "associated") continue;
    if (!joined.empty()) joined += ",";
    joined += association.cidr_block;
  }
  return joined;
}

std::string hvn_cidr_of(const VpcView& vpc, const config::Defaults& defaults) {
  return defaults.add_vpc_cidr ? std::string() : compute_hvn_cidr(vpc, hpe_of(defaults));
}

std::string error_rendering(const std::exception& error) {
  if (const auto* service_error = dynamic_cast<const aws::ServiceError*>(&error)) {
    return "ClientError: " + std::string(service_error->what());
  }
  return error.what();
}

// The role's credentials in the account, or nothing when the account is skipped; the skip is
// reported in the name of the calling pass.
std::optional<aws::Credentials> enter_account(
    DiscoveryServices& services, const std::string& account_id, const config::Defaults& defaults,
    std::source_location pass = std::source_location::current()) {
  auto creds = services.temp_creds_for_account(get_role_arn(account_id, defaults.role_name));
  if (!creds)
    logger().error({"- Failed to assume role into account %s -- skipped", pass}, account_id);
  return creds;
}

// The configured regions, or the account's enabled ones when none are configured.
std::vector<std::string> regions_to_scan(const config::Config& config, DiscoveryServices& services,
                                         const aws::Credentials& creds) {
  return config.aws_regions.empty() ? services.regions(creds) : config.aws_regions;
}

// Every account skipped is almost always one mistake (the role name, or the operator's own AWS
// identity), so it gets one line of its own after the per-account errors.
void warn_no_account_entered(const config::Config& config) {
  if (config.account_ids.empty()) return;
  logger().warning(
      "None of the %s configured accounts could be entered: check the role name '%s' and the AWS "
      "credentials that assume it",
      config.account_ids.size(), config.defaults.role_name);
}

}  // namespace

Transports make_transports(const config::Config& config) {
  return Transports{controller::transport_settings(config.controller),
                    aws::Context::transport_settings()};
}

std::unique_ptr<DiscoveryServices> make_live_services(const Transports& transports) {
  return std::make_unique<LiveServices>(transports);
}

Json generate_min_discovery_yaml(const config::Config& config, DiscoveryServices& services,
                                 PassProgress& progress) {
  const PassScope pass(progress, "discovery file");
  const Json account_list = services.account_list(config);
  const config::Defaults& defaults = config.defaults;
  Json accounts = Json::array();

  std::size_t account_number = 0;
  std::size_t accounts_entered = 0;
  for (const std::string& account_id : config.account_ids) {
    progress.account_started(++account_number, config.account_ids.size(), account_id);
    logger().info("Discovering info for account %s", account_id);
    Json account = Json::object();
    account["account_id"] = account_id;
    account["account_name"] = get_acct_name(account_id, account_list);
    account["regions"] = Json::array();
    for (const std::string& name : MIN_ACCOUNT_INFO_FIELDS) {
      if (defaults.is_given(name)) account[name] = default_member(defaults, name);
    }
    logger().debug("Account Info data:\n%s", log::Readable{account});

    const auto creds = enter_account(services, account_id, defaults);
    if (!creds) continue;
    ++accounts_entered;
    const std::vector<std::string> regions = regions_to_scan(config, services, *creds);

    for (const std::string& region : regions) {
      progress.region_started(region);
      Json region_data = {{"region", region}, {"vpcs", Json::array()}};
      const std::unique_ptr<Ec2Handle> ec2 = services.ec2_handler(region, *creds);
      try {
        ec2->list_vpc_pages(VPC_PAGE_SIZE, [&](std::vector<aws::Vpc>& page) {
          for (aws::Vpc& record : page) {
            const Ec2Vpc vpc(std::move(record), *ec2, SUBNET_PAGE_SIZE);
            Json vpc_data = Json::object();
            vpc_data["vpc_id"] = vpc.id();
            vpc_data["hvn_cidr"] = hvn_cidr_of(vpc, defaults);
            vpc_data["spoke_gw_name"] = get_spoke_gw_name(vpc);
            vpc_data["transit_gw_name"] = text_or_null(defaults.transit_gw_name);
            logger().debug("VPC Data:\n%s", log::Readable{vpc_data});
            region_data["vpcs"].push_back(std::move(vpc_data));
            progress.vpc_found();
          }
        });
      } catch (const aws::ServiceError& error) {
        // One refusing region (an opt-in region, a policy that denies it) must not cost the
        // operator the whole account; the region is left out and the scan goes on.
        logger().warning("Error occured while scanning VPCs in region '%s'.", region);
        logger().debug("Error encountered during '%s' region scan:\n%s", region,
                       error_rendering(error));
        continue;
      }
      logger().debug("Region Data:\n%s", log::Readable{region_data});
      account["regions"].push_back(std::move(region_data));
    }
    logger().debug("Account Data:\n%s", log::Readable{account});
    accounts.push_back(ovra::AccountInfo(account).to_document());
  }
  if (accounts_entered == 0) warn_no_account_entered(config);
  logger().debug("Accounts:\n%s", log::Readable{accounts});
  return Json{{"account_info", std::move(accounts)}};
}

Json generate_min_discovery_yaml(const config::Config& config) {
  PassProgress progress;
  return generate_min_discovery_yaml(config, *make_live_services(make_transports(config)),
                                     progress);
}

Json generate_discovery_excel_data(const config::Config& config, DiscoveryServices& services,
                                   PassProgress& progress) {
  const PassScope pass(progress, "workbook");
  Json rows = Json::array();
  const Json account_list = services.account_list(config);
  const config::Defaults& defaults = config.defaults;

  std::size_t account_number = 0;
  std::size_t accounts_entered = 0;
  for (const std::string& account_id : config.account_ids) {
    progress.account_started(++account_number, config.account_ids.size(), account_id);
    logger().info("Discovering info for account %s", account_id);
    const Json account_name = get_acct_name(account_id, account_list);
    const auto creds = enter_account(services, account_id, defaults);
    if (!creds) continue;
    ++accounts_entered;
    const std::vector<std::string> regions = regions_to_scan(config, services, *creds);

    for (const std::string& region : regions) {
      progress.region_started(region);
      const std::unique_ptr<Ec2Handle> ec2 = services.ec2_handler(region, *creds);
      ec2->list_vpc_pages(VPC_PAGE_SIZE, [&](std::vector<aws::Vpc>& page) {
        for (aws::Vpc& record : page) {
          const Ec2Vpc vpc(std::move(record), *ec2, SUBNET_PAGE_SIZE);
          const std::string hvn_cidr = hvn_cidr_of(vpc, defaults);
          Json row_data = Json::object();
          row_data["account_id"] = account_id;
          row_data["account_name"] = account_name;
          row_data["hpe"] = defaults.hpe;
          row_data["managed_tgw"] = bool_or_null(defaults.managed_tgw);
          row_data["filter_cidrs"] = list_or_null(defaults.filter_cidrs);
          row_data["spoke_gw_size"] = text_or_null(defaults.spoke_gw_size);
          row_data["role_name"] = defaults.role_name;
          row_data["region"] = region;
          row_data["vpc_id"] = vpc.id();
          row_data["vpc_cidrs"] = associated_cidrs(vpc.record());
          row_data["hvn_cidr"] = hvn_cidr;
          row_data["gw_zones"] = list_or_null(defaults.gw_zones);
          row_data["spoke_gw_tags"] = NULL_TEXT;
          row_data["domain"] = text_or_null(defaults.domain);
          row_data["encrypt"] = bool_or_null(defaults.encrypt);
          row_data["inspection"] = bool_or_null(defaults.inspection);
          row_data["spoke_advertisement"] = NULL_TEXT;
          row_data["spoke_routes"] = NULL_TEXT;
          row_data["spoke_gw_name"] = get_spoke_gw_name(vpc);
          row_data["transit_gw_name"] = text_or_null(defaults.transit_gw_name);
          logger().debug("Row Data:\n%s", log::Readable{row_data});
          rows.push_back(std::move(row_data));
          progress.vpc_found();
        }
      });
    }
  }
  if (accounts_entered == 0) warn_no_account_entered(config);
  return rows;
}

Json generate_discovery_excel_data(const config::Config& config) {
  PassProgress progress;
  return generate_discovery_excel_data(config, *make_live_services(make_transports(config)),
                                       progress);
}

}  // namespace generator::generate
