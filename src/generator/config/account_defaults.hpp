#pragma once

// The account defaults of the configuration file (its `defaults` section) in one table: each
// key, how the file gives it, the member that holds it, whether the discovery file copies it,
// the workbook column that shows it and where the migration model takes it. The configuration's
// reader, the discovery file's entries and the workbook's cells all take the defaults from here.

#include <array>
#include <bitset>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "generator/common/workbook_layout.hpp"

namespace generator::config {

/// The keys of `defaults`, in the table's order (the order the configuration file lists them).
enum class AccountDefault {
  role_name,
  add_vpc_cidr,
  hpe,
  managed_tgw,
  filter_cidrs,
  spoke_gw_size,
  transit_gw_name,
  gw_zones,
  domain,
  encrypt,
  inspection,
};

/// How many keys `defaults` has.
inline constexpr std::size_t ACCOUNT_DEFAULT_COUNT = 11;

/// Values copied into every account of the outputs, and the role to assume.
struct Defaults {
  std::string role_name;
  bool add_vpc_cidr = false;
  bool hpe = false;
  std::optional<bool> managed_tgw;
  std::optional<std::vector<std::string>> filter_cidrs;
  std::optional<std::string> spoke_gw_size;
  std::optional<std::string> transit_gw_name;
  std::optional<std::vector<std::string>> gw_zones;
  std::optional<std::string> domain;
  std::optional<bool> encrypt;
  std::optional<bool> inspection;
  /// The keys written in the file (as opposed to taking the loader's default), by AccountDefault.
  std::bitset<ACCOUNT_DEFAULT_COUNT> given;

  /// Whether `key` was written in the file.
  [[nodiscard]] bool is_given(AccountDefault key) const {
    return given.test(static_cast<std::size_t>(key));
  }
  /// Notes that `key` was written in the file.
  void mark_given(AccountDefault key) { given.set(static_cast<std::size_t>(key)); }
};

/// How the file gives a default's value.
enum class DefaultKind {
  /// A text that must not be empty; the key must be there.
  required_text,
  /// true or false; false unless given.
  flag,
  /// true or false, or nothing.
  boolean,
  /// A text, which may be empty, or nothing.
  text,
  /// A list of texts, or nothing.
  text_list,
  /// A list of CIDR blocks, each checked, or nothing.
  cidr_list,
};

/// Where the migration model takes a default from the discovery file.
enum class ModelField {
  /// Nowhere: the default only steers the scan.
  none,
  /// A field of each account entry.
  account,
  /// A field of each VPC entry.
  vpc,
};

/// The member of Defaults that holds a default's value; its type follows the kind.
using DefaultMember =
    std::variant<std::string Defaults::*, bool Defaults::*, std::optional<bool> Defaults::*,
                 std::optional<std::string> Defaults::*,
                 std::optional<std::vector<std::string>> Defaults::*>;

/// One key of `defaults`.
struct AccountDefaultEntry {
  AccountDefault which;
  /// The key, as the configuration file, the discovery file and the migration model name it.
  std::string_view key;
  DefaultKind kind;
  DefaultMember member;
  /// Whether the discovery file copies it: an account field when the file gives it, a VPC field
  /// into every VPC entry (the empty text when the file does not give it).
  bool in_discovery_file;
  /// The workbook column that shows it, if any.
  std::optional<WorkbookColumn> column;
  ModelField model_field;
};

/// Every key of `defaults`, in the enum's order.
inline constexpr std::array<AccountDefaultEntry, ACCOUNT_DEFAULT_COUNT> ACCOUNT_DEFAULT_TABLE{{
    {AccountDefault::role_name, "role_name", DefaultKind::required_text, &Defaults::role_name, true,
     WorkbookColumn::role_name, ModelField::account},
    {AccountDefault::add_vpc_cidr, "add_vpc_cidr", DefaultKind::flag, &Defaults::add_vpc_cidr,
     false, std::nullopt, ModelField::none},
    {AccountDefault::hpe, "hpe", DefaultKind::flag, &Defaults::hpe, true, WorkbookColumn::hpe,
     ModelField::account},
    {AccountDefault::managed_tgw, "managed_tgw", DefaultKind::boolean, &Defaults::managed_tgw, true,
     WorkbookColumn::managed_tgw, ModelField::account},
    {AccountDefault::filter_cidrs, "filter_cidrs", DefaultKind::cidr_list, &Defaults::filter_cidrs,
     true, WorkbookColumn::filter_cidrs, ModelField::account},
    {AccountDefault::spoke_gw_size, "spoke_gw_size", DefaultKind::text, &Defaults::spoke_gw_size,
     true, WorkbookColumn::spoke_gw_size, ModelField::account},
    {AccountDefault::transit_gw_name, "transit_gw_name", DefaultKind::text,
     &Defaults::transit_gw_name, true, WorkbookColumn::transit_gw_name, ModelField::vpc},
    {AccountDefault::gw_zones, "gw_zones", DefaultKind::text_list, &Defaults::gw_zones, false,
     WorkbookColumn::gw_zones, ModelField::vpc},
    {AccountDefault::domain, "domain", DefaultKind::text, &Defaults::domain, false,
     WorkbookColumn::domain, ModelField::vpc},
    {AccountDefault::encrypt, "encrypt", DefaultKind::boolean, &Defaults::encrypt, false,
     WorkbookColumn::encrypt, ModelField::vpc},
    {AccountDefault::inspection, "inspection", DefaultKind::boolean, &Defaults::inspection, false,
     WorkbookColumn::inspection, ModelField::vpc},
}};

/// The alternative of DefaultMember that holds a value of `kind`.
constexpr std::size_t member_alternative(DefaultKind kind) {
  switch (kind) {
    case DefaultKind::required_text:
      return 0;
    case DefaultKind::flag:
      return 1;
    case DefaultKind::boolean:
      return 2;
    case DefaultKind::text:
      return 3;
    case DefaultKind::text_list:
    case DefaultKind::cidr_list:
      return 4;
  }
  return std::variant_size_v<DefaultMember>;
}

namespace detail {
constexpr bool account_defaults_follow_their_enum() {
  for (std::size_t index = 0; index < ACCOUNT_DEFAULT_TABLE.size(); ++index) {
    const AccountDefaultEntry& entry = ACCOUNT_DEFAULT_TABLE[index];
    if (static_cast<std::size_t>(entry.which) != index) return false;
    if (entry.member.index() != member_alternative(entry.kind)) return false;
    // A column shows the default of its own name, and the discovery file copies only what the
    // model takes.
    if (entry.column && table_entry(*entry.column).header != entry.key) return false;
    if (entry.in_discovery_file && entry.model_field == ModelField::none) return false;
  }
  return static_cast<std::size_t>(AccountDefault::inspection) + 1 == ACCOUNT_DEFAULT_TABLE.size();
}
}  // namespace detail
static_assert(detail::account_defaults_follow_their_enum(),
              "ACCOUNT_DEFAULT_TABLE holds every AccountDefault once, in the enum's order, each "
              "member of its kind and each column of its key");

/// The default that `column` shows, or none for a column of the scan or of the operator.
constexpr const AccountDefaultEntry* default_shown_in(WorkbookColumn column) {
  for (const AccountDefaultEntry& entry : ACCOUNT_DEFAULT_TABLE)
    if (entry.column == column) return &entry;
  return nullptr;
}

}  // namespace generator::config
