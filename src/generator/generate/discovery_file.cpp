#include "generator/generate/discovery_file.hpp"

#include <set>

#include "generator/common/errors.hpp"
#include "generator/common/serializers/load/load.hpp"
#include "ovra/config.hpp"

namespace generator::generate {

namespace {

using Json = nlohmann::ordered_json;

// A repeated entry would be checked twice and its findings could not be told apart.
void refuse_repeat(std::set<std::string>& seen, const std::string& name, const std::string& where,
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
void refuse_unquoted_account_numbers(const Json& document, const std::filesystem::path& path) {
  if (!document.is_object()) return;
  const auto accounts = document.find("account_info");
  if (accounts == document.end() || !accounts->is_array()) return;
  for (std::size_t index = 0; index < accounts->size(); ++index) {
    const Json& account = (*accounts)[index];
    if (!account.is_object()) continue;
    const auto account_id = account.find("account_id");
    if (account_id == account.end() || !account_id->is_number_integer()) continue;
    throw ovra::ValidationError(
        path.string() + ": account #" + std::to_string(index + 1) +
        ": account_id: read as the number " + account_id->dump() +
        ", not as text; unquoted numbers with a leading 0 are read as octal (and with 0x, colons "
        "or underscores as hexadecimal, base 60 or digit groups), so write account numbers in "
        "quotes, e.g. \"012345678901\"");
  }
}

}  // namespace

std::vector<std::string> FileAccount::region_names() const {
  std::vector<std::string> names;
  names.reserve(regions.size());
  for (const auto& region : regions) names.push_back(region.region);
  return names;
}

DiscoveryFile read_discovery_file(const std::filesystem::path& path) {
  return read_discovery_document(serializers::load_from_path(path), path);
}

DiscoveryFile read_discovery_document(Json document, const std::filesystem::path& path) {
  DiscoveryFile file{path, std::move(document), {}};
  refuse_unquoted_account_numbers(file.document, path);
  try {
    (void)ovra::load_from_dict(file.document);
  } catch (const ovra::ValidationError& error) {
    throw ovra::ValidationError(path.string() + ": " + error.what());
  }

  // The model has checked every member's form; what is left is to gather the names.
  std::set<std::string> account_ids;
  for (const Json& account_entry : file.document.at("account_info")) {
    FileAccount account;
    account.account_id = account_entry.at("account_id").get<std::string>();
    const std::string account_where = "account '" + account.account_id + "'";
    refuse_repeat(account_ids, account.account_id, account_where, path);
    if (const auto hpe = account_entry.find("hpe"); hpe != account_entry.end() && hpe->is_boolean())
      account.hpe = hpe->get<bool>();

    std::set<std::string> region_names;
    for (const Json& region_entry : account_entry.at("regions")) {
      FileRegion region{region_entry.at("region").get<std::string>(), {}};
      const std::string region_where = account_where + ", region '" + region.region + "'";
      refuse_repeat(region_names, region.region, region_where, path);
      std::set<std::string> vpc_ids;
      for (const Json& vpc_entry : region_entry.at("vpcs")) {
        FileVpc vpc{vpc_entry.at("vpc_id").get<std::string>(),
                    text_or_empty(vpc_entry, "hvn_cidr")};
        refuse_repeat(vpc_ids, vpc.vpc_id, region_where + ", VPC '" + vpc.vpc_id + "'", path);
        region.vpcs.push_back(std::move(vpc));
      }
      account.regions.push_back(std::move(region));
    }
    file.accounts.push_back(std::move(account));
  }
  return file;
}

}  // namespace generator::generate
