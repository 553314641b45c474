#pragma once

// How the output passes reach an AWS account: its name on the controller, the role to assume,
// the role assumption, its regions, and the EC2 handle of one region.

#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "aws/context.hpp"
#include "aws/credentials.hpp"
#include "aws/ec2.hpp"
#include "generator/generate/vpc_view.hpp"

namespace generator::generate {

/// The session name of every role assumption.
inline constexpr const char* ROLE_SESSION_NAME = "AssumeRoleSession1";

/// EC2 of one region with one account's credentials; tests put a stand-in here.
class Ec2Handle {
 public:
  virtual ~Ec2Handle() = default;
  /// Lists the region's VPCs, `page_size` per request, handing each page to `on_page` in order;
  /// EC2 errors (aws::ServiceError, aws::ClientError) pass to the caller.
  virtual void list_vpc_pages(
      int page_size, const std::function<void(std::vector<aws::Vpc>& page)>& on_page) const = 0;
  /// Every subnet of the VPC, listed `page_size` per request, in listing order.
  [[nodiscard]] virtual std::vector<aws::Subnet> list_subnets(const std::string& vpc_id,
                                                              int page_size) const = 0;
  /// The names of the regions enabled for the account (DescribeRegions without parameters).
  [[nodiscard]] virtual std::vector<std::string> describe_regions() const = 0;
};

/// A VPC of an EC2 listing as the gateway subnet and name rules read it; its subnets are listed
/// anew through the handle, `subnet_page_size` per request, on every call; the handle must outlive
/// the view.
class Ec2Vpc : public VpcView {
 public:
  Ec2Vpc(aws::Vpc vpc, const Ec2Handle& handle, int subnet_page_size)
      : vpc_(std::move(vpc)), handle_(handle), subnet_page_size_(subnet_page_size) {}
  [[nodiscard]] std::string id() const override { return vpc_.id; }
  [[nodiscard]] std::string cidr_block() const override { return vpc_.cidr_block; }
  [[nodiscard]] std::vector<CidrBlockAssociation> cidr_block_association_set() const override;
  [[nodiscard]] std::vector<Tag> tags() const override;
  [[nodiscard]] std::vector<std::optional<std::string>> list_subnet_cidr_blocks() const override;
  /// The VPC record as EC2 gave it.
  [[nodiscard]] const aws::Vpc& record() const noexcept { return vpc_; }

 private:
  aws::Vpc vpc_;
  const Ec2Handle& handle_;
  int subnet_page_size_;
};

/// The process's AWS context over `transport`, in which programs started for credentials
/// (credential_process) never see the controller password.
[[nodiscard]] aws::Context process_context(
    const http::TransportSettings& transport = aws::Context::transport_settings());

/// The "account_name" of the first entry of the controller's list whose "account_number" equals
/// `account_id` (a text equals only a text); null when none does. KeyError for an entry without
/// "account_number" reached before a match.
[[nodiscard]] nlohmann::ordered_json get_acct_name(const std::string& account_id,
                                                   const nlohmann::ordered_json& account_list);

/// "arn:aws:iam::<account_id>:role/<role_name>", the role name as it stands.
[[nodiscard]] std::string get_role_arn(const std::string& account_id, const std::string& role_name);

/// The temporary credentials of the role, assumed with the operator's own credentials (the SDKs'
/// default chain and region) and session name "AssumeRoleSession1"; nothing, with the error's
/// message logged, when the role could not be assumed for any reason.
[[nodiscard]] std::optional<aws::Credentials> get_temp_creds_for_account(
    const std::string& role_arn, const aws::Context& context);
/// The same in the process's own context.
[[nodiscard]] std::optional<aws::Credentials> get_temp_creds_for_account(
    const std::string& role_arn);

/// The names of the regions enabled for the account, asked of EC2 in us-east-1; errors pass on.
[[nodiscard]] std::vector<std::string> get_regions(const aws::Credentials& creds,
                                                   const aws::Context& context);
/// The same in the process's own context.
[[nodiscard]] std::vector<std::string> get_regions(const aws::Credentials& creds);

/// An EC2 handle for the region with the account's credentials; sends nothing yet.
[[nodiscard]] std::unique_ptr<Ec2Handle> get_ec2_resource_handler(const std::string& aws_region,
                                                                  const aws::Credentials& creds,
                                                                  const aws::Context& context);
/// The same in the process's own context.
[[nodiscard]] std::unique_ptr<Ec2Handle> get_ec2_resource_handler(const std::string& aws_region,
                                                                  const aws::Credentials& creds);

}  // namespace generator::generate
