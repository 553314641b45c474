#include "generator/config/config.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <fmt/format.h>
#include <functional>
#include <regex>
#include <string_view>
#include <unordered_map>
#include <variant>
#include <vector>

#include "aws/names.hpp"
#include "base/files/input_file.hpp"
#include "base/text/ascii.hpp"
#include "generator/common/errors.hpp"
#include "serializers/document.hpp"
#include "serializers/yaml/yaml.hpp"
#include "untrusted/secrets.hpp"
#include "untrusted/untrusted.hpp"

namespace generator::config {

namespace {

using serializers::Document;
using serializers::kind_name;

// Whether an empty text is a value of its own (an optional setting left blank) or a mistake.
enum class EmptyText { refused, allowed };

// Every check names the file and the key path, so that the operator can go straight to the line.
class Checker {
 public:
  explicit Checker(std::filesystem::path path) : path_(std::move(path)) {}

  // The key and the problem quote what the file holds, which may break the message's line or
  // steer the terminal: their control characters are shown escaped.
  template <class ErrorKind>
  [[noreturn]] void fail(const std::string& key, const std::string& problem) const {
    throw ErrorKind(untrusted::printable(path_.string() + ": " + key + ": " + problem));
  }

  void refuse_unknown_keys(const Document& mapping, const std::string& where,
                           std::initializer_list<std::string_view> allowed) const {
    refuse_unknown_keys(mapping, where, std::vector<std::string_view>(allowed));
  }

  void refuse_unknown_keys(const Document& mapping, const std::string& where,
                           const std::vector<std::string_view>& allowed) const {
    for (const auto& [key, value] : mapping.items()) {
      if (std::find(allowed.begin(), allowed.end(), key) == allowed.end()) {
        fail<ValueError>(where.empty() ? key : where + "." + key,
                         fmt::format("unknown key (expected one of: {})", fmt::join(allowed, ", ")));
      }
    }
  }

  const Document& require(const Document& mapping, const std::string& where,
                          const std::string& key) const {
    if (!mapping.contains(key) || mapping.at(key).is_null()) {
      fail<KeyError>(where.empty() ? key : where + "." + key, "missing required key");
    }
    return mapping.at(key);
  }

  void expect_mapping(const Document& value, const std::string& key) const {
    if (!value.is_object())
      fail<TypeError>(key, std::string("expected a mapping of keys, got ") + kind_name(value));
  }

  std::string text(const Document& value, const std::string& key,
                   EmptyText empty = EmptyText::refused) const {
    if (!value.is_string())
      fail<TypeError>(key, std::string("expected a text, got ") + kind_name(value));
    const auto result = value.get<std::string>();
    if (result.empty() && empty == EmptyText::refused) fail<ValueError>(key, "must not be empty");
    return result;
  }

  bool boolean(const Document& value, const std::string& key) const {
    if (!value.is_boolean())
      fail<TypeError>(key, std::string("expected true or false, got ") + kind_name(value));
    return value.get<bool>();
  }

  std::vector<std::string> texts(
      const Document& value, const std::string& key,
      const std::function<void(const std::string&, const std::string&)>& check = {}) const {
    if (!value.is_array())
      fail<TypeError>(key, std::string("expected a list, got ") + kind_name(value));
    std::vector<std::string> result;
    for (std::size_t i = 0; i < value.size(); ++i) {
      const std::string item_key = key + "[" + std::to_string(i) + "]";
      result.push_back(text(value[i], item_key));
      if (check) check(result.back(), item_key);
    }
    return result;
  }

 private:
  std::filesystem::path path_;
};

// An unquoted number written in hexadecimal, in base 60 or with underscores is read as a number
// too, and may well have twelve digits, but not the ones the operator wrote (0x19DEBD01C7 is
// 111111111111). Octal keeps the message of its own below.
bool is_respelled_decimal(const std::string& written) {
  const std::string_view unsigned_text =
      std::string_view(written).substr(written.starts_with('-') || written.starts_with('+'));
  const bool octal = unsigned_text.size() > 1 && unsigned_text[0] == '0' &&
                     unsigned_text[1] != 'x' && unsigned_text[1] != 'b';
  return !octal;
}

std::string account_number(const Document& value, const std::string& key, const Checker& checker,
                           const serializers::IntegerSpellings& spellings) {
  if (value.is_number_integer() || value.is_number_unsigned()) {
    // An unquoted number with a leading 0 is read as octal, and one without keeps no leading zeros:
    // only a plain 12-digit number can be the account the operator wrote.
    const std::string digits = value.dump();
    if (const auto written = spellings.find(digits);
        written != spellings.end() && is_respelled_decimal(written->second)) {
      checker.fail<ValueError>(
          key, "written as " + written->second + ", which is read as the number " + digits +
                   "; unquoted numbers in hexadecimal (0x), in base 60 (1:2:3), with underscores "
                   "or with a sign are read as numbers, so write account numbers in quotes, e.g. "
                   "\"012345678901\"");
    }
    if (aws::is_account_number(digits)) return digits;
    checker.fail<ValueError>(
        key, "read as the number " + digits +
                 ", which is not a 12-digit AWS account number; unquoted numbers with a "
                 "leading 0 are read as octal, so write account numbers in quotes, e.g. "
                 "\"012345678901\"");
  }
  if (!value.is_string())
    checker.fail<TypeError>(key,
                            std::string("expected an account number, got ") + kind_name(value));
  const auto text = value.get<std::string>();
  if (!aws::is_account_number(text))
    checker.fail<ValueError>(key, "\"" + text + "\" is not a 12-digit AWS account number");
  return text;
}

void check_region(const std::string& region, const std::string& key, const Checker& checker) {
  if (!aws::is_region_name(region)) {
    checker.fail<ValueError>(key,
                             "\"" + region + "\" is not an AWS region name such as \"us-east-1\"");
  }
}

// A list that names each item once: an item given again is most likely a slip of copy and paste,
// which would have the account or region scanned twice and every file hold it twice.
void refuse_repeated_items(const std::vector<std::string>& items, const std::string& key,
                           const std::string& item_name, const Checker& checker) {
  std::unordered_map<std::string_view, std::size_t> first_places;
  for (std::size_t place = 0; place < items.size(); ++place) {
    const auto [first, new_item] = first_places.emplace(items[place], place);
    if (new_item) continue;
    checker.fail<ValueError>(key + "[" + std::to_string(place) + "]",
                             "\"" + items[place] + "\" is listed twice (first as " + key + "[" +
                                 std::to_string(first->second) + "]); list each " + item_name +
                                 " once");
  }
}

ipv4::Network network_of(const std::string& cidr, const std::string& key, const Checker& checker) {
  try {
    return ipv4::Network::parse(cidr);
  } catch (const ipv4::InvalidNetwork& error) {
    checker.fail<ValueError>(key, error.what());
  }
}

// A list of CIDR texts; each item is checked and named by its place in the list.
std::vector<std::string> cidr_texts(const Document& value, const std::string& key,
                                    const Checker& checker) {
  return checker.texts(value, key, [&](const std::string& cidr, const std::string& item_key) {
    (void)network_of(cidr, item_key, checker);
  });
}

std::vector<ipv4::Network> networks_of(const Document& value, const std::string& key,
                                       const Checker& checker) {
  std::vector<ipv4::Network> networks;
  checker.texts(value, key, [&](const std::string& cidr, const std::string& item_key) {
    networks.push_back(network_of(cidr, item_key, checker));
  });
  return networks;
}

// The fingerprint as 64 lower-case hex digits; the colons of openssl's way of writing it may stay.
std::string certificate_fingerprint(const std::string& text, const std::string& key,
                                    const Checker& checker) {
  std::string digits;
  for (const char c : text) {
    if (c == ':') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) {
      digits.clear();
      break;
    }
    digits += base::text::lower_case(c);
  }
  if (digits.size() != 64) {
    checker.fail<ValueError>(key,
                             "\"" + text +
                                 "\" is not a SHA-256 fingerprint (64 hexadecimal digits, "
                                 "colons allowed, as openssl x509 -fingerprint -sha256 shows)");
  }
  return digits;
}

// The bundle's path, relative ones taken from the configuration file's folder; it must be a
// readable file that holds at least one PEM certificate.
std::filesystem::path certificate_bundle(const std::string& text, const std::string& key,
                                         const std::filesystem::path& config_path,
                                         const Checker& checker) {
  std::filesystem::path bundle(text);
  if (bundle.is_relative()) bundle = config_path.parent_path() / bundle;
  // A bundle of every public authority is about 200 KiB; the whole file is looked at, up to a
  // bound far above that.
  constexpr std::size_t LARGEST_BUNDLE = 16u << 20;
  std::optional<std::string> content;
  try {
    std::optional<base::files::InputFile> file = base::files::InputFile::open_if_present(bundle);
    if (!file) checker.fail<FileNotFoundError>(key, "no such file: " + bundle.string());
    content = file->read_up_to(LARGEST_BUNDLE);
  } catch (const base::files::InputFileError& error) {
    if (error.problem() == base::files::InputProblem::unreadable)
      checker.fail<OSError>(key, error.what());
    checker.fail<ValueError>(key, error.what());
  }
  if (!content)
    checker.fail<ValueError>(key,
                             bundle.string() + " is larger than 16 MiB, the limit of a CA file");
  if (content->find("-----BEGIN CERTIFICATE-----") == std::string::npos)
    checker.fail<ValueError>(key, bundle.string() + " holds no PEM certificate");
  return bundle;
}

std::chrono::milliseconds timeout_of(const Document& value, const std::string& key,
                                     const Checker& checker) {
  if (!value.is_number() || value.is_boolean())
    checker.fail<TypeError>(key,
                            std::string("expected a number of seconds, got ") + kind_name(value));
  const double seconds = value.get<double>();
  // A day is far beyond any controller that still answers; the bound keeps the arithmetic sane.
  // Below a second the transport would round the limit down to none at all.
  if (!(seconds >= 1) || seconds > 86400)
    checker.fail<ValueError>(key, "must be a number of seconds from 1 to 86400");
  return std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
}

// A text of `min` to `max` characters drawn from the letters, digits and `punctuation`: the form
// AWS gives the role session name and the external ID.
void check_aws_token(const std::string& text, const std::string& key, std::size_t min,
                     std::size_t max, std::string_view punctuation, const Checker& checker) {
  const auto allowed = [&](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' ||
           punctuation.find(c) != std::string_view::npos;
  };
  if (text.size() < min || text.size() > max || !std::all_of(text.begin(), text.end(), allowed)) {
    std::string characters;
    for (const char c : punctuation) characters += std::string(" ") + c;
    checker.fail<ValueError>(key, "must be " + std::to_string(min) + " to " + std::to_string(max) +
                                      " characters of letters, digits and _" + characters);
  }
}

// The optional `assume_role` section: how every account's role is assumed. The external ID's
// value stays out of the messages, as it is a shared secret of sorts.
AssumeRoleSettings assume_role_settings(const Document& section, const Checker& checker) {
  AssumeRoleSettings settings;
  checker.expect_mapping(section, "assume_role");
  checker.refuse_unknown_keys(section, "assume_role",
                              {"external_id", "session_name", "duration_seconds"});
  const auto member = [&](const char* key) -> const Document* {
    return section.contains(key) && !section[key].is_null() ? &section[key] : nullptr;
  };
  if (const Document* value = member("external_id")) {
    settings.external_id = checker.text(*value, "assume_role.external_id");
    check_aws_token(*settings.external_id, "assume_role.external_id", 2, 1224, "+=,.@:/-", checker);
    // Masked in every message from here on, should an answer quote the request back.
    untrusted::hold_secret(*settings.external_id);
  }
  if (const Document* value = member("session_name")) {
    settings.session_name = checker.text(*value, "assume_role.session_name");
    check_aws_token(settings.session_name, "assume_role.session_name", 2, 64, "+=,.@-", checker);
  }
  if (const Document* value = member("duration_seconds")) {
    const std::string key = "assume_role.duration_seconds";
    if (!value->is_number_integer() && !value->is_number_unsigned())
      checker.fail<TypeError>(
          key, std::string("expected a whole number of seconds, got ") + kind_name(*value));
    // A number above the largest signed one is read as unsigned: compared as such, and shown as
    // written.
    const auto within = [](auto seconds) {
      using Number = decltype(seconds);
      return seconds >= Number{MIN_ROLE_DURATION_SECONDS} &&
             seconds <= Number{MAX_ROLE_DURATION_SECONDS};
    };
    const bool in_range = value->is_number_unsigned() ? within(value->get<std::uint64_t>())
                                                      : within(value->get<std::int64_t>());
    if (!in_range)
      checker.fail<ValueError>(key, "must be " + std::to_string(MIN_ROLE_DURATION_SECONDS) +
                                        " to " + std::to_string(MAX_ROLE_DURATION_SECONDS) +
                                        " seconds, got " + value->dump());
    settings.duration_seconds = value->get<int>();
  }
  return settings;
}

// A root ("r-" and 4 to 32 letters or digits) or organizational unit ("ou-", the root's 4 to 32,
// "-", 8 to 32) id, as Organizations writes them.
void check_organization_parent(const std::string& id, const std::string& key,
                               const Checker& checker) {
  static const std::regex form("r-[0-9a-z]{4,32}|ou-[0-9a-z]{4,32}-[0-9a-z]{8,32}");
  if (id.size() > 80 || !std::regex_match(id, form))
    checker.fail<ValueError>(key, "\"" + id +
                                      "\" is not an organizational unit id such as "
                                      "\"ou-ab12-cd34ef56\" (or a root id such as \"r-ab12\")");
}

// The optional `organization` section of `account_ids: organization`.
OrganizationSettings organization_settings(const Document& section, const Checker& checker,
                                           const serializers::IntegerSpellings& spellings) {
  OrganizationSettings settings;
  checker.expect_mapping(section, "organization");
  checker.refuse_unknown_keys(section, "organization", {"ous", "exclude_account_ids", "role_arn"});
  const auto member = [&](const char* key) -> const Document* {
    return section.contains(key) && !section[key].is_null() ? &section[key] : nullptr;
  };
  if (const Document* value = member("ous")) {
    settings.ous = checker.texts(*value, "organization.ous",
                                 [&](const std::string& id, const std::string& key) {
                                   check_organization_parent(id, key, checker);
                                 });
  }
  if (const Document* value = member("exclude_account_ids")) {
    if (!value->is_array())
      checker.fail<TypeError>("organization.exclude_account_ids",
                              std::string("expected a list, got ") + kind_name(*value));
    for (std::size_t i = 0; i < value->size(); ++i) {
      settings.exclude_account_ids.push_back(account_number(
          (*value)[i], "organization.exclude_account_ids[" + std::to_string(i) + "]", checker,
          spellings));
    }
  }
  if (const Document* value = member("role_arn")) {
    static const std::regex form("arn:aws[a-z-]*:iam::[0-9]{12}:role/[\\w+=,.@/-]{1,512}");
    const std::string arn = checker.text(*value, "organization.role_arn");
    if (arn.size() > 600 || !std::regex_match(arn, form))
      checker.fail<ValueError>("organization.role_arn",
                               "\"" + arn +
                                   "\" is not the ARN of an IAM role such as "
                                   "\"arn:aws:iam::123456789012:role/OrganizationReader\"");
    settings.role_arn = arn;
  }
  return settings;
}

// The `defaults` section, key by key as the table of account defaults describes them.
Defaults defaults_of(const Document& section, const Checker& checker) {
  checker.expect_mapping(section, "defaults");
  std::vector<std::string_view> keys;
  for (const AccountDefaultEntry& entry : ACCOUNT_DEFAULT_TABLE) keys.push_back(entry.key);
  checker.refuse_unknown_keys(section, "defaults", keys);
  Defaults defaults;
  for (const AccountDefaultEntry& entry : ACCOUNT_DEFAULT_TABLE) {
    const std::string name(entry.key);
    const std::string key = "defaults." + name;
    const Document* value = nullptr;
    if (entry.kind == DefaultKind::required_text)
      value = &checker.require(section, "defaults", name);
    else if (section.contains(name) && !section[name].is_null())
      value = &section[name];
    if (value == nullptr) continue;
    defaults.mark_given(entry.which);
    switch (entry.kind) {
      case DefaultKind::required_text:
        defaults.*std::get<std::string Defaults::*>(entry.member) = checker.text(*value, key);
        break;
      case DefaultKind::flag:
        defaults.*std::get<bool Defaults::*>(entry.member) = checker.boolean(*value, key);
        break;
      case DefaultKind::boolean:
        defaults.*std::get<std::optional<bool> Defaults::*>(entry.member) =
            checker.boolean(*value, key);
        break;
      case DefaultKind::text:
        defaults.*std::get<std::optional<std::string> Defaults::*>(entry.member) =
            checker.text(*value, key, EmptyText::allowed);
        break;
      case DefaultKind::text_list:
        defaults.*std::get<std::optional<std::vector<std::string>> Defaults::*>(entry.member) =
            checker.texts(*value, key);
        break;
      case DefaultKind::cidr_list:
        defaults.*std::get<std::optional<std::vector<std::string>> Defaults::*>(entry.member) =
            cidr_texts(*value, key, checker);
        break;
    }
  }
  return defaults;
}

// The checks of a configuration read from the file at `path`.
Config config_from_document(const Document& document, const std::filesystem::path& path,
                            const serializers::IntegerSpellings& spellings) {
  const Checker checker(path);
  if (!document.is_object()) {
    throw TypeError(path.string() +
                    ": expected a mapping with the keys controller, account_ids, aws_regions and "
                    "defaults, got " +
                    kind_name(document));
  }
  checker.refuse_unknown_keys(document, "",
                              {"controller", "account_ids", "aws_regions", "defaults",
                               "reserved_cidrs", "external_cidrs", "assume_role", "organization",
                               "throttling_patience"});

  Config config;
  const Document& controller = checker.require(document, "", "controller");
  checker.expect_mapping(controller, "controller");
  checker.refuse_unknown_keys(controller, "controller",
                              {"ip", "username", "ca_file", "certificate_sha256", "timeout"});
  const Document& ip = checker.require(controller, "controller", "ip");
  // An address may be written unquoted and read as a number; any value names the host.
  config.controller.ip = ip.is_string() ? checker.text(ip, "controller.ip") : ip.dump();
  config.controller.username =
      checker.text(checker.require(controller, "controller", "username"), "controller.username");
  const auto optional_member = [&](const char* key) -> const Document* {
    return controller.contains(key) && !controller[key].is_null() ? &controller[key] : nullptr;
  };
  const Document* ca_file = optional_member("ca_file");
  const Document* certificate_sha256 = optional_member("certificate_sha256");
  if (ca_file && certificate_sha256) {
    checker.fail<ValueError>("controller.certificate_sha256",
                             "give either ca_file or certificate_sha256, not both");
  }
  if (ca_file) {
    config.controller.ca_file = certificate_bundle(checker.text(*ca_file, "controller.ca_file"),
                                                   "controller.ca_file", path, checker);
  }
  if (certificate_sha256) {
    config.controller.certificate_sha256 =
        certificate_fingerprint(checker.text(*certificate_sha256, "controller.certificate_sha256"),
                                "controller.certificate_sha256", checker);
  }
  if (const Document* timeout = optional_member("timeout"))
    config.controller.timeout = timeout_of(*timeout, "controller.timeout", checker);

  const Document& accounts = checker.require(document, "", "account_ids");
  if (accounts.is_string()) {
    const auto source = accounts.get<std::string>();
    if (source == "controller")
      config.account_source = AccountSource::controller;
    else if (source == "organization")
      config.account_source = AccountSource::organization;
    else
      checker.fail<ValueError>("account_ids",
                               "expected a list of account numbers, \"controller\" or "
                               "\"organization\", got \"" +
                                   source + "\"");
  } else {
    if (!accounts.is_array())
      checker.fail<TypeError>("account_ids",
                              std::string("expected a list, \"controller\" or \"organization\", "
                                          "got ") +
                                  kind_name(accounts));
    if (accounts.empty())
      checker.fail<ValueError>("account_ids", "must list at least one AWS account number");
    for (std::size_t i = 0; i < accounts.size(); ++i) {
      config.account_ids.push_back(
          account_number(accounts[i], "account_ids[" + std::to_string(i) + "]", checker,
                         spellings));
    }
    refuse_repeated_items(config.account_ids, "account_ids", "account", checker);
  }
  if (document.contains("organization") && !document["organization"].is_null()) {
    if (config.account_source != AccountSource::organization)
      checker.fail<ValueError>("organization", "is read only with account_ids: organization");
    config.organization = organization_settings(document["organization"], checker, spellings);
  }

  if (document.contains("aws_regions") && !document["aws_regions"].is_null()) {
    config.aws_regions = checker.texts(document["aws_regions"], "aws_regions",
                                       [&](const std::string& region, const std::string& key) {
                                         check_region(region, key, checker);
                                       });
    refuse_repeated_items(config.aws_regions, "aws_regions", "region", checker);
  }

  for (const auto& [key, networks] : {std::pair{"reserved_cidrs", &config.reserved_cidrs},
                                      std::pair{"external_cidrs", &config.external_cidrs}}) {
    if (document.contains(key) && !document[key].is_null())
      *networks = networks_of(document[key], key, checker);
  }

  config.defaults = defaults_of(checker.require(document, "", "defaults"), checker);

  if (document.contains("assume_role") && !document["assume_role"].is_null())
    config.assume_role = assume_role_settings(document["assume_role"], checker);

  if (document.contains("throttling_patience") && !document["throttling_patience"].is_null()) {
    const Document& value = document["throttling_patience"];
    if (!value.is_number() || value.is_boolean())
      checker.fail<TypeError>("throttling_patience",
                              std::string("expected a number of seconds, got ") + kind_name(value));
    const double seconds = value.get<double>();
    // An hour of throttling is an outage rather than a busy service.
    if (!(seconds >= 0) || seconds > 3600)
      checker.fail<ValueError>("throttling_patience", "must be a number of seconds from 0 to 3600");
    config.throttling_patience = std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
  }
  return config;
}

}  // namespace

Config load_config(const std::filesystem::path& path) {
  if (std::filesystem::is_directory(path)) {
    throw OSError("Cannot read configuration file " + path.string() + ": it is a directory");
  }
  return parse_config(serializers::read_yaml_file(path), path);
}

Config parse_config(std::string_view text, const std::filesystem::path& path) {
  serializers::IntegerSpellings spellings;
  const Document document = serializers::load_from_yaml_text(text, path.string(), &spellings);
  return config_from_document(document, path, spellings);
}

}  // namespace generator::config
