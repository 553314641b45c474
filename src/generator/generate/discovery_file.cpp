#include "generator/generate/discovery_file.hpp"

#include <set>
#include <unordered_set>

#include "generator/common/errors.hpp"
#include "ovra/config.hpp"
#include "serializers/yaml/yaml.hpp"

namespace generator::generate {

namespace {

using Json = nlohmann::ordered_json;

constexpr std::string_view ACCOUNTS_KEY = "account_info";

// A repeated entry would be checked twice and its findings could not be told apart.
template <class Names>
void refuse_repeat(Names& seen, const std::string& name, const std::string& where,
                   const std::filesystem::path& path) {
  if (!seen.insert(name).second)
    throw ValueError(path.string() + ": " + where + " appears twice in the file");
}

std::string text_or_empty(const Json& entry, const char* key) {
  const auto found = entry.find(key);
  return found != entry.end() && found->is_string() ? found->get<std::string>() : std::string();
}

// An account number written without quotes is read as a number, and seldom as the one written:
// a leading 0 makes it octal, and 0x, colons and underscores are read as hexadecimal, base 60 and
// digit groups. The model would only say that it expected text; this says how to write it.
void refuse_unquoted_account_number(const Json& account, std::size_t position,
                                    const std::filesystem::path& path) {
  if (!account.is_object()) return;
  const auto account_id = account.find("account_id");
  if (account_id == account.end() || !account_id->is_number_integer()) return;
  throw ovra::ValidationError(
      path.string() + ": account #" + std::to_string(position) +
      ": account_id: read as the number " + account_id->dump() +
      ", not as text; unquoted numbers with a leading 0 are read as octal (and with 0x, colons "
      "or underscores as hexadecimal, base 60 or digit groups), so write account numbers in "
      "quotes, e.g. \"012345678901\"");
}

// Checks one account entry of the file and keeps what the drift check needs of it.
class AccountReader {
 public:
  explicit AccountReader(DiscoveryFile& file) : file_(file) {}

  void operator()(Json entry) {
    const std::size_t position = file_.accounts.size() + 1;
    refuse_unquoted_account_number(entry, position, file_.path);
    Json checked;
    try {
      checked = ovra::AccountInfo(entry, position).to_document();
    } catch (const ovra::ValidationError& error) {
      throw ovra::ValidationError(file_.path.string() + ": " + error.what());
    }
    // The model has checked every member's form; what is left is to gather the names.
    FileAccount account;
    account.account_id = checked.at("account_id").get<std::string>();
    const std::string account_where = "account '" + account.account_id + "'";
    refuse_repeat(account_ids_, account.account_id, account_where, file_.path);
    if (const auto hpe = checked.find("hpe"); hpe != checked.end() && hpe->is_boolean())
      account.hpe = hpe->get<bool>();
    std::set<std::string> region_names;
    for (const Json& region_entry : checked.at("regions")) {
      FileRegion region{region_entry.at("region").get<std::string>(), {}};
      const std::string region_where = account_where + ", region '" + region.region + "'";
      refuse_repeat(region_names, region.region, region_where, file_.path);
      std::unordered_set<std::string> vpc_ids;
      for (const Json& vpc_entry : region_entry.at("vpcs")) {
        FileVpc vpc{vpc_entry.at("vpc_id").get<std::string>(),
                    text_or_empty(vpc_entry, "hvn_cidr")};
        refuse_repeat(vpc_ids, vpc.vpc_id, region_where + ", VPC '" + vpc.vpc_id + "'",
                      file_.path);
        region.vpcs.push_back(std::move(vpc));
      }
      account.regions.push_back(std::move(region));
    }
    file_.accounts.push_back(std::move(account));
  }

 private:
  DiscoveryFile& file_;
  std::unordered_set<std::string> account_ids_;
};

// The sections besides the accounts, checked by the model with the accounts already checked.
void check_sections(DiscoveryFile& file, Json sections) {
  try {
    (void)ovra::load_from_dict(sections);
  } catch (const ovra::ValidationError& error) {
    throw ovra::ValidationError(file.path.string() + ": " + error.what());
  }
  file.sections = std::move(sections);
}

// Whether `entry`, as read the second time, names the account, regions and VPCs of `account`.
bool names_the_same(const Json& entry, const FileAccount& account) {
  const auto text = [](const Json& mapping, const char* key) -> const std::string* {
    if (!mapping.is_object()) return nullptr;
    const auto found = mapping.find(key);
    return found != mapping.end() && found->is_string() ? &found->get_ref<const std::string&>()
                                                        : nullptr;
  };
  const std::string* account_id = text(entry, "account_id");
  if (account_id == nullptr || *account_id != account.account_id) return false;
  const auto regions = entry.find("regions");
  if (regions == entry.end() || !regions->is_array() ||
      regions->size() != account.regions.size())
    return false;
  for (std::size_t index = 0; index < account.regions.size(); ++index) {
    const Json& region = (*regions)[index];
    const FileRegion& kept = account.regions[index];
    const std::string* name = text(region, "region");
    const auto vpcs = region.find("vpcs");
    if (name == nullptr || *name != kept.region || vpcs == region.end() || !vpcs->is_array() ||
        vpcs->size() != kept.vpcs.size())
      return false;
    for (std::size_t at = 0; at < kept.vpcs.size(); ++at) {
      const std::string* vpc_id = text((*vpcs)[at], "vpc_id");
      if (vpc_id == nullptr || *vpc_id != kept.vpcs[at].vpc_id ||
          text_or_empty((*vpcs)[at], "hvn_cidr") != kept.vpcs[at].hvn_cidr)
        return false;
    }
  }
  return true;
}

}  // namespace

std::vector<std::string> FileAccount::region_names() const {
  std::vector<std::string> names;
  names.reserve(regions.size());
  for (const auto& region : regions) names.push_back(region.region);
  return names;
}

DiscoveryFile read_discovery_file(const std::filesystem::path& path) {
  DiscoveryFile file{path, {}, {}, {}, {}};
  file.source = std::make_shared<const serializers::YamlFile>(path, MAX_DISCOVERY_FILE_BYTES,
                                                              "a discovery file");
  AccountReader reader(file);
  Json sections = serializers::stream_yaml_list(
      *file.source, ACCOUNTS_KEY, [&](Json entry) { reader(std::move(entry)); });
  check_sections(file, std::move(sections));
  return file;
}

DiscoveryFile read_discovery_text(std::string_view text, const std::filesystem::path& path) {
  DiscoveryFile file{path, {}, {}, {}, std::make_shared<const std::string>(text)};
  AccountReader reader(file);
  Json sections = serializers::stream_yaml_list_text(
      *file.text, path.string(), ACCOUNTS_KEY, [&](Json entry) { reader(std::move(entry)); });
  check_sections(file, std::move(sections));
  return file;
}

void copy_discovery_accounts(const DiscoveryFile& file, const AccountEdit& edit,
                             serializers::ListExport& accounts) {
  std::size_t next = 0;
  const auto changed = [&] {
    return ValueError(file.path.string() +
                      ": the file was changed while it was checked; run the check again");
  };
  const serializers::ListItemHandler copy = [&](Json entry) {
    if (next >= file.accounts.size() || !names_the_same(entry, file.accounts[next]))
      throw changed();
    const FileAccount& account = file.accounts[next++];
    accounts.append(edit(std::move(entry), account));
  };
  if (file.source)
    (void)serializers::stream_yaml_list(*file.source, ACCOUNTS_KEY, copy);
  else
    (void)serializers::stream_yaml_list_text(*file.text, file.path.string(), ACCOUNTS_KEY, copy);
  if (next != file.accounts.size()) throw changed();
}

}  // namespace generator::generate
