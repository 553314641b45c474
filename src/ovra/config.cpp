#include "ovra/config.hpp"

#include <algorithm>
#include <array>
#include <fmt/format.h>
#include <ranges>
#include <span>
#include <string_view>

#include "aws/names.hpp"
#include "ipv4/ipv4_network.hpp"

namespace ovra {

namespace {

using Json = nlohmann::ordered_json;

enum class Kind {
  text,
  text_or_number,
  boolean,
  text_list,
  cidr_list,
  cidr_or_empty,
  tags,
  account_number,
  account_name,
  region_name,
  vpc_identifier,
  regions,
  vpcs,
  config_section,
  accounts,
};

enum class Need { optional, required, required_for_migration };

struct Field {
  std::string_view name;
  Kind kind;
  Need need;
};

// The field tables: membership, requirement and export order in one place.
constexpr std::array TOP_FIELDS{
    Field{"config", Kind::config_section, Need::optional},
    Field{"account_info", Kind::accounts, Need::required},
};
constexpr std::array CONFIG_FIELDS{
    Field{"configure_gw_name", Kind::boolean, Need::optional},
};
constexpr std::array ACCOUNT_FIELDS{
    Field{"account_id", Kind::account_number, Need::required},
    Field{"account_name", Kind::account_name, Need::required_for_migration},
    Field{"hpe", Kind::boolean, Need::optional},
    Field{"managed_tgw", Kind::boolean, Need::optional},
    Field{"filter_cidrs", Kind::cidr_list, Need::optional},
    Field{"spoke_gw_size", Kind::text_or_number, Need::optional},
    Field{"role_name", Kind::text, Need::optional},
    Field{"regions", Kind::regions, Need::required},
};
constexpr std::array REGION_FIELDS{
    Field{"region", Kind::region_name, Need::required},
    Field{"vpcs", Kind::vpcs, Need::required},
};
constexpr std::array VPC_FIELDS{
    Field{"vpc_id", Kind::vpc_identifier, Need::required},
    Field{"hvn_cidr", Kind::cidr_or_empty, Need::optional},
    Field{"gw_zones", Kind::text_list, Need::optional},
    Field{"spoke_gw_tags", Kind::tags, Need::optional},
    Field{"domain", Kind::text, Need::optional},
    Field{"encrypt", Kind::boolean, Need::optional},
    Field{"inspection", Kind::boolean, Need::optional},
    Field{"spoke_advertisement", Kind::text, Need::optional},
    Field{"spoke_routes", Kind::cidr_list, Need::optional},
    Field{"spoke_gw_name", Kind::text, Need::optional},
    Field{"transit_gw_name", Kind::text, Need::optional},
};
constexpr std::array TAG_FIELDS{
    Field{"key", Kind::text, Need::required},
    Field{"value", Kind::text, Need::required},
};

// Names the place of a value for messages: "account '0123...', region 'us-east-1', VPC 'vpc-...'".
struct Where {
  std::vector<std::string> steps;

  [[nodiscard]] Where with(std::string step) const {
    Where inner = *this;
    inner.steps.push_back(std::move(step));
    return inner;
  }
};

// A short description of a value that was not what the rule wanted.
std::string describe(const Json& value) {
  constexpr std::size_t SHOWN = 60;
  switch (value.type()) {
    case Json::value_t::null:
      return "null";
    case Json::value_t::boolean:
      return std::string("boolean ") + (value.get<bool>() ? "true" : "false");
    case Json::value_t::string: {
      const auto& text = value.get_ref<const std::string&>();
      if (text.size() <= SHOWN) return "text '" + text + "'";
      // Cut before a UTF-8 continuation byte would split a character in the message.
      std::size_t cut = SHOWN;
      while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
      return "text '" + text.substr(0, cut) + "...'";
    }
    case Json::value_t::array:
      return "a list";
    case Json::value_t::object:
      return "a mapping";
    default:
      return "number " + value.dump();
  }
}

[[noreturn]] void refuse(const Where& where, std::string_view field, const std::string& why) {
  std::string message = fmt::format("{}", fmt::join(where.steps, ", "));
  if (!field.empty()) message += (message.empty() ? "" : ": ") + std::string(field);
  message += (message.empty() ? "" : ": ") + why;
  throw ValidationError(message);
}

std::string label(const Json& mapping, std::string_view key, std::string_view noun,
                  std::size_t position) {
  if (mapping.is_object()) {
    const auto found = mapping.find(key);
    if (found != mapping.end() && found->is_string())
      return std::string(noun) + " '" + found->get_ref<const std::string&>() + "'";
  }
  // Without a usable name the position tells which entry it is, when there is one.
  return position == 0 ? std::string(noun) : std::string(noun) + " #" + std::to_string(position);
}

bool all_of_chars(std::string_view text, bool (*allowed)(char)) {
  return !text.empty() && std::all_of(text.begin(), text.end(), allowed);
}
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_lower_hex(char c) { return is_digit(c) || (c >= 'a' && c <= 'f'); }

bool is_vpc_identifier(std::string_view text) {
  constexpr std::string_view PREFIX = "vpc-";
  if (!text.starts_with(PREFIX)) return false;
  const std::string_view digits = text.substr(PREFIX.size());
  return (digits.size() == 8 || digits.size() == 17) && all_of_chars(digits, is_lower_hex);
}

const std::string& expect_text(const Json& value, const Where& where, std::string_view field) {
  if (!value.is_string()) refuse(where, field, "expected text, got " + describe(value));
  return value.get_ref<const std::string&>();
}

void expect_cidr(const Json& value, const Where& where, std::string_view field) {
  const std::string& text = expect_text(value, where, field);
  try {
    (void)ipv4::Network::parse(text);
  } catch (const ipv4::InvalidNetwork& error) {
    refuse(where, field, error.what());
  }
}

const Json& expect_list(const Json& value, const Where& where, std::string_view field) {
  if (!value.is_array()) refuse(where, field, "expected a list, got " + describe(value));
  return value;
}

std::string item_field(std::string_view field, std::size_t position) {
  return std::string(field) + " item " + std::to_string(position);
}

Json check_fields(const Json& mapping, std::span<const Field> fields, const Where& where,
                  std::string_view what);

// `name` is the field's full name in messages, with the list item or section it lies in.
Json check_value(const Field& field, const Json& value, const Where& where, std::string_view name) {
  switch (field.kind) {
    case Kind::text:
      expect_text(value, where, name);
      return value;
    case Kind::text_or_number:
      // A size typed into a workbook cell arrives as a number and is kept as one.
      if (!value.is_string() && !value.is_number())
        refuse(where, name, "expected text or a number, got " + describe(value));
      return value;
    case Kind::boolean:
      if (!value.is_boolean())
        refuse(where, name, "expected true or false, got " + describe(value));
      return value;
    case Kind::text_list: {
      std::size_t position = 0;
      for (const auto& item : expect_list(value, where, name))
        expect_text(item, where, item_field(name, ++position));
      return value;
    }
    case Kind::cidr_list: {
      std::size_t position = 0;
      for (const auto& item : expect_list(value, where, name))
        expect_cidr(item, where, item_field(name, ++position));
      return value;
    }
    case Kind::cidr_or_empty:
      if (!expect_text(value, where, name).empty()) expect_cidr(value, where, name);
      return value;
    case Kind::tags: {
      Json tags = Json::array();
      std::size_t position = 0;
      for (const auto& item : expect_list(value, where, name))
        tags.push_back(check_fields(item, TAG_FIELDS, where, item_field(name, ++position)));
      return tags;
    }
    case Kind::account_number: {
      const std::string& text = expect_text(value, where, name);
      if (!aws::is_account_number(text))
        refuse(where, name,
               "expected an account number of exactly 12 digits, got " + describe(value));
      return value;
    }
    case Kind::account_name:
      if (expect_text(value, where, name).empty()) refuse(where, name, "must not be empty");
      return value;
    case Kind::region_name:
      if (!aws::is_region_name(expect_text(value, where, name)))
        refuse(where, name, "expected a region name such as us-east-1, got " + describe(value));
      return value;
    case Kind::vpc_identifier:
      if (!is_vpc_identifier(expect_text(value, where, name)))
        refuse(where, name,
               "expected a VPC identifier such as vpc-0123456789abcdef0, got " + describe(value));
      return value;
    case Kind::regions: {
      Json regions = Json::array();
      std::size_t position = 0;
      for (const auto& item : expect_list(value, where, name)) {
        ++position;
        regions.push_back(check_fields(item, REGION_FIELDS,
                                       where.with(label(item, "region", "region", position)), ""));
      }
      return regions;
    }
    case Kind::vpcs: {
      Json vpcs = Json::array();
      std::size_t position = 0;
      for (const auto& item : expect_list(value, where, name)) {
        ++position;
        vpcs.push_back(
            check_fields(item, VPC_FIELDS, where.with(label(item, "vpc_id", "VPC", position)), ""));
      }
      return vpcs;
    }
    case Kind::config_section:
      return check_fields(value, CONFIG_FIELDS, where, name);
    case Kind::accounts:
      // Whole account entries are checked by AccountInfo, which keeps them in order.
      expect_list(value, where, name);
      return value;
  }
  refuse(where, name, "has no rule");
}

std::string known_names(std::span<const Field> fields) {
  return fmt::format("{}", fmt::join(fields | std::views::transform(&Field::name), ", "));
}

// Checks a mapping against a field table and returns the given fields in table order; `what`
// names the mapping itself when it is a list item or a section ("spoke_gw_tags item 2").
Json check_fields(const Json& mapping, std::span<const Field> fields, const Where& where,
                  std::string_view what) {
  if (!mapping.is_object()) refuse(where, what, "expected a mapping, got " + describe(mapping));
  const auto field_name = [&](std::string_view name) {
    return what.empty() ? std::string(name) : std::string(what) + ": " + std::string(name);
  };
  for (const auto& [key, value] : mapping.items()) {
    const bool known =
        std::any_of(fields.begin(), fields.end(), [&](const Field& f) { return f.name == key; });
    if (!known)
      refuse(where, field_name(key), "unknown field (known fields: " + known_names(fields) + ")");
  }
  const bool relaxed = BaseModel::discovery_only();
  Json checked = Json::object();
  for (const auto& field : fields) {
    const std::string key(field.name);
    const bool needed =
        field.need == Need::required || (field.need == Need::required_for_migration && !relaxed);
    const auto found = mapping.find(key);
    if (found == mapping.end()) {
      if (needed)
        refuse(where, field_name(key),
               field.need == Need::required
                   ? "missing"
                   : "missing; a migration needs it (only discovery output may omit it)");
      continue;
    }
    if (found->is_null()) {
      if (needed) refuse(where, field_name(key), "must not be null");
      checked[key] = nullptr;
      continue;
    }
    checked[key] = check_value(field, *found, where, field_name(key));
  }
  return checked;
}

}  // namespace

AccountInfo::AccountInfo(const nlohmann::ordered_json& entry) : AccountInfo(entry, 0) {}

AccountInfo::AccountInfo(const nlohmann::ordered_json& entry, std::size_t position)
    : document_(check_fields(entry, ACCOUNT_FIELDS,
                             Where{}.with(label(entry, "account_id", "account", position)), "")) {}

DiscoveryConfig::DiscoveryConfig(const nlohmann::ordered_json& mapping)
    : document_(check_fields(mapping, TOP_FIELDS, Where{}.with("discovery configuration"), "")) {
  std::size_t position = 0;
  for (const auto& entry : mapping.at("account_info"))
    accounts_.push_back(AccountInfo(entry, ++position));
  Json& account_info = document_["account_info"];
  account_info = Json::array();
  for (const auto& account : accounts_) account_info.push_back(account.to_document());
}

DiscoveryConfig load_from_dict(const nlohmann::ordered_json& mapping) {
  return DiscoveryConfig(mapping);
}

}  // namespace ovra
