#pragma once

// The ovra migration model: the account entries of a discovery file and the whole discovery
// configuration, checked before anything is written.
//
// Rules (the only ones; each refusal is a ValidationError whose message names the account, the
// region, the VPC and the field, such as
//   account '012345678901', region 'us-east-1', VPC 'vpc-0a1b2c3d': hvn_cidr: '10.0.0.1/27' is
//   ...):
//
// Discovery configuration (load_from_dict): a mapping with
//   config        optional  mapping: configure_gw_name (true/false), nothing else
//   account_info  required  list of account entries
// Account entry (AccountInfo), exported in this order:
//   account_id        required  text of exactly 12 digits ("012345678901"; numbers are refused
//                               because a number loses leading zeros)
//   account_name      required  text, not empty; in discovery only (see below) also null or absent
//   hpe               optional  true/false
//   managed_tgw       optional  true/false
//   filter_cidrs      optional  list of CIDR blocks
//   spoke_gw_size     optional  text or a number (a workbook cell may hold a number)
//   role_name         optional  text
//   regions           required  list of region entries
// Region entry: region (required, a region name such as us-east-1 or us-gov-west-1), then vpcs
//   (required, list of VPC entries, may be empty).
// VPC entry, exported in this order:
//   vpc_id (required, vpc- and 8 or 17 lower-case hex digits), hvn_cidr (CIDR block or ""),
//   gw_zones (list of text), spoke_gw_tags (list of {key: text, value: text}), domain (text),
//   encrypt (true/false), inspection (true/false), spoke_advertisement (text),
//   spoke_routes (list of CIDR blocks), spoke_gw_name (text), transit_gw_name (text); all optional.
// Everywhere:
//   - a CIDR block is strict: a.b.c.d/n with no host bits set and no leading zeros;
//   - an optional field may be null, which means "no value" and is kept as given;
//   - a key that is not listed above is refused (letter case matters);
//   - the export holds exactly the fields that were given, at every level, in the orders above;
//     values are kept as given.
// Discovery only (BaseModel::set_scope(Scope::discovery_only), set once by `generate` before any
// record is built): the one relaxation is that account_name may be null or absent, because the
// controller may not know an account that discovery still reports. A migration (the default, used
// by `convert`) needs the controller's name of every account.

#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <vector>

namespace ovra {

/// A discovery entry or configuration that the model refuses; the message says where and why.
class ValidationError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
  /// The kind name shown before the message on standard error.
  static constexpr const char* KIND = "ValidationError";
};

/// What the records are checked for: a complete migration, or discovery output only.
enum class Scope { migration, discovery_only };

/// The switch shared by every record of the model: it holds for every record built after it is set.
class BaseModel {
 public:
  /// The scope in force; Scope::migration until set otherwise.
  [[nodiscard]] static Scope scope() noexcept { return scope_; }
  /// Whether records are checked for discovery output only.
  [[nodiscard]] static bool discovery_only() noexcept { return scope_ == Scope::discovery_only; }
  /// Sets the scope for every record built afterwards in this process.
  static void set_scope(Scope scope) noexcept { scope_ = scope; }

 private:
  inline static Scope scope_ = Scope::migration;
};

/// One checked account entry with its regions and VPCs.
class AccountInfo : public BaseModel {
 public:
  /// Checks `entry` (a mapping of account fields) by the rules above; ValidationError otherwise.
  explicit AccountInfo(const nlohmann::ordered_json& entry);
  /// The same for the entry at `position` (from 1) of a list of accounts, which a message names
  /// ("account #3") when the entry has no usable account number.
  AccountInfo(const nlohmann::ordered_json& entry, std::size_t position);

  /// The fields that were given, at every level, in the model's field order.
  [[nodiscard]] const nlohmann::ordered_json& to_document() const noexcept { return document_; }
  /// The account number.
  [[nodiscard]] const std::string& account_id() const {
    return document_.at("account_id").get_ref<const std::string&>();
  }

 private:
  nlohmann::ordered_json document_;
};

/// A checked discovery configuration.
class DiscoveryConfig {
 public:
  /// Checks the whole configuration by the rules above; ValidationError otherwise.
  explicit DiscoveryConfig(const nlohmann::ordered_json& mapping);

  [[nodiscard]] const std::vector<AccountInfo>& accounts() const noexcept { return accounts_; }
  /// The configuration with its account entries in the model's field order.
  [[nodiscard]] const nlohmann::ordered_json& to_document() const noexcept { return document_; }

 private:
  std::vector<AccountInfo> accounts_;
  nlohmann::ordered_json document_;
};

/// Checks a complete discovery configuration (template sections plus account_info).
[[nodiscard]] DiscoveryConfig load_from_dict(const nlohmann::ordered_json& mapping);

}  // namespace ovra
