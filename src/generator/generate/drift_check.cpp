#include "generator/generate/drift_check.hpp"

#include <algorithm>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "generator/common/errors.hpp"
#include "generator/generate/counts.hpp"
#include "generator/log/log.hpp"
#include "ipv4/ipv4_network.hpp"
#include "ovra/config.hpp"

namespace generator::generate {

namespace {

using Json = nlohmann::ordered_json;
using Kind = DriftFinding::Kind;

log::Logger& logger() { return log::get_logger("generator.generate"); }

// The file's gateway subnet; the file was read through the migration model, which refuses an
// unreadable one, so this is only a last guard.
ipv4::Network file_gateway_subnet(const std::string& cidr, const std::string& place) {
  try {
    return ipv4::Network::parse(cidr);
  } catch (const ipv4::InvalidNetwork& error) {
    throw ValueError(place + ": hvn_cidr: " + error.what());
  }
}

std::size_t vpc_count(const FileAccount& account) {
  std::size_t count = 0;
  for (const auto& region : account.regions) count += region.vpcs.size();
  return count;
}

std::string place_of(const std::string& account_id, const std::string& region) {
  return "account " + account_id + ", region " + region;
}

// What becomes of a blocked gateway subnet, for the end of its finding's line.
std::string choice_phrase(const std::string& choice, const GatewayRule& rule, Hpe hpe) {
  if (!choice.empty()) return "the rule would now pick " + choice;
  if (rule.add_vpc_cidr) return "add_vpc_cidr is set, so no other subnet is chosen";
  return "no free /" + std::to_string(gateway_prefix_length(hpe)) + " is left in its blocks";
}

Hpe account_hpe(const FileAccount& account, const GatewayRule& rule) {
  if (!account.hpe) return rule.hpe;
  return hpe_of(*account.hpe);
}

}  // namespace

DriftCheck::DriftCheck(const DiscoveryFile& file, GatewayRule rule, log::Issuer reporter)
    : file_(file), accounts_(file.accounts), rule_(std::move(rule)), reporter_(reporter) {
  for (const FileAccount& account : accounts_) account_index_.emplace(account.account_id, &account);
}

void DriftCheck::report(Kind kind, bool blocks, int level, std::string message) {
  logger().log(level, {reporter_, "{}"}, message);
  findings_.push_back({kind, blocks, std::move(message)});
}

void DriftCheck::report_unscanned(const std::string& place, const std::string& why,
                                  std::size_t vpcs) {
  unchecked_vpcs_ += vpcs;
  report(Kind::not_scanned, true, log::WARNING,
         place + " could not be scanned" + (why.empty() ? "" : " (" + why + ")") + "; " +
             plural(vpcs, "VPC", "VPCs") + " of the file unchecked");
}

void DriftCheck::report_closed(const std::string& place, const FileRegion& region) {
  // Each VPC by name: the migration cannot reach it there, whatever its gateway subnet.
  unchecked_vpcs_ += region.vpcs.size();
  for (const FileVpc& vpc : region.vpcs)
    report(Kind::in_closed_region, true, log::WARNING,
           place + ", VPC " + vpc.vpc_id +
               ": the region is now closed by a service control policy; the VPC is unchecked");
}

std::string DriftCheck::rule_choice(const FileAccount& account, const VpcRecord& vpc) const {
  if (rule_.add_vpc_cidr) return "";
  const Hpe hpe = account_hpe(account, rule_);
  // The scan already chose by the configuration's size; an account of another size needs its own.
  if (hpe == rule_.hpe) return vpc.gateway_subnet.text();
  const std::optional<ipv4::Network> chosen = compute_hvn_cidr(vpc, hpe, rule_.reserved);
  return chosen ? chosen->to_string() : "";
}

void DriftCheck::account_scanned(const AccountRecord& account) {
  accounts_seen_.insert(account.account_id);
  const auto indexed = account_index_.find(account.account_id);
  const FileAccount* expected = indexed == account_index_.end() ? nullptr : indexed->second;
  if (!account.entered) {
    if (expected != nullptr)
      report_unscanned("account " + account.account_id, account.skip_reason, vpc_count(*expected));
    return;
  }

  if (expected != nullptr) {
    for (const FileRegion& region : expected->regions) {
      const auto found =
          std::find_if(account.regions.begin(), account.regions.end(),
                       [&](const RegionRecord& record) { return record.region == region.region; });
      const std::string place = place_of(account.account_id, region.region);
      const bool closed = std::find(account.closed_regions.begin(), account.closed_regions.end(),
                                    region.region) != account.closed_regions.end();
      if (closed)
        report_closed(place, region);
      else if (found == account.regions.end())
        report_unscanned(place, "not in the scan", region.vpcs.size());
      else if (found->failed())
        report_unscanned(place, found->failure_message, region.vpcs.size());
      else
        compare_region(*expected, region, *found);
    }
  }
  // Regions the file does not name (or an account it lacks) hold only new VPCs.
  for (const RegionRecord& found : account.regions) {
    if (found.failed()) continue;
    const bool named =
        expected != nullptr &&
        std::any_of(expected->regions.begin(), expected->regions.end(),
                    [&](const FileRegion& region) { return region.region == found.region; });
    if (!named) report_new_vpcs(account.account_id, found, nullptr);
  }
}

void DriftCheck::compare_region(const FileAccount& account, const FileRegion& expected,
                                const RegionRecord& found) {
  // A region may hold thousands of VPCs: look them up by id rather than walk the list each time.
  std::unordered_map<std::string_view, const VpcRecord*> scanned;
  for (const VpcRecord& vpc : found.vpcs) scanned.emplace(vpc.id, &vpc);
  for (const FileVpc& vpc : expected.vpcs) {
    const auto record = scanned.find(vpc.vpc_id);
    if (record == scanned.end()) {
      report(Kind::vpc_gone, true, log::ERROR,
             place_of(account.account_id, expected.region) + ": VPC " + vpc.vpc_id + " is gone");
    } else {
      compare_vpc(account, expected.region, vpc, *record->second);
    }
  }
  report_new_vpcs(account.account_id, found, &expected);
}

void DriftCheck::compare_vpc(const FileAccount& account, const std::string& region,
                             const FileVpc& expected, const VpcRecord& found) {
  const std::string place = place_of(account.account_id, region) + ", VPC " + found.id;
  const VpcKey key{account.account_id, region, found.id};

  if (expected.hvn_cidr.empty()) {
    const std::string choice = rule_choice(account, found);
    if (choice.empty()) {
      ++fitting_vpcs_;
      return;
    }
    replacements_[key] = choice;
    report(
        Kind::empty_with_room, false, log::WARNING,
        place + ": hvn_cidr is empty although the VPC now has room; the rule would pick " + choice);
    return;
  }

  const ipv4::Network gateway = file_gateway_subnet(expected.hvn_cidr, place);
  std::string overlapping;
  for (const SubnetRecord& subnet : found.subnets) {
    if (!subnet.network || !subnet.network->overlaps(gateway)) continue;
    overlapping += (overlapping.empty() ? "" : ", ") + subnet.id + " (" +
                   subnet.network->to_string() + ")";
  }
  std::string reserved;
  for (const ipv4::Network& range : rule_.reserved)
    if (range.overlaps(gateway)) reserved += (reserved.empty() ? "" : ", ") + range.to_string();
  std::string associated;
  bool inside = false;
  for (const BlockRecord& block : found.blocks) {
    if (!block.is_associated()) continue;
    associated += (associated.empty() ? "" : ", ") + block.network.to_string();
    inside = inside || block.network.contains(gateway);
  }
  if (overlapping.empty() && reserved.empty() && inside) {
    ++fitting_vpcs_;
    // A choice of the operator's own is kept; saying so shows that it was seen. Only the scan's
    // own choice is compared: computing another size here would warn about VPCs that are fine.
    if (!rule_.add_vpc_cidr && account_hpe(account, rule_) == rule_.hpe &&
        found.gateway_subnet.network != gateway)
      logger().info(
          {reporter_, "{}: hvn_cidr {} is still free and kept (the rule alone would pick {})"},
          place, expected.hvn_cidr, found.gateway_subnet.text());
    return;
  }

  const std::string choice = rule_choice(account, found);
  replacements_[key] = choice;
  const std::string outcome = choice_phrase(choice, rule_, account_hpe(account, rule_));
  if (!overlapping.empty()) {
    const bool several = overlapping.find(", ") != std::string::npos;
    report(Kind::overlaps_subnet, true, log::ERROR,
           place + ": hvn_cidr " + expected.hvn_cidr + " overlaps " +
               (several ? "subnets " : "subnet ") + overlapping + "; " + outcome);
  }
  if (!reserved.empty()) {
    report(Kind::overlaps_reserved, true, log::ERROR,
           place + ": hvn_cidr " + expected.hvn_cidr + " overlaps reserved_cidrs " + reserved +
               "; " + outcome);
  }
  if (!inside) {
    report(Kind::outside_blocks, true, log::WARNING,
           place + ": hvn_cidr " + expected.hvn_cidr +
               " lies outside every associated block of the VPC (" +
               (associated.empty() ? std::string("none") : associated) + "); " + outcome);
  }
}

void DriftCheck::report_new_vpcs(const std::string& account_id, const RegionRecord& found,
                                 const FileRegion* expected) {
  std::unordered_set<std::string_view> known;
  if (expected != nullptr)
    for (const FileVpc& entry : expected->vpcs) known.insert(entry.vpc_id);
  for (const VpcRecord& vpc : found.vpcs) {
    if (known.contains(vpc.id)) continue;
    const auto name = vpc.name();
    report(Kind::new_vpc, false, log::WARNING,
           place_of(account_id, found.region) + ": VPC " + vpc.id +
               (name ? " ('" + *name + "')" : std::string()) +
               " is new since discovery and not in the file");
  }
}

void DriftCheck::finish() {
  if (finished_) return;
  finished_ = true;
  for (const FileAccount& account : accounts_) {
    if (!accounts_seen_.contains(account.account_id))
      report_unscanned("account " + account.account_id, "not in the scan", vpc_count(account));
  }

  const auto count = [&](Kind kind) {
    return std::count_if(findings_.begin(), findings_.end(),
                         [&](const DriftFinding& finding) { return finding.kind == kind; });
  };
  std::size_t file_vpcs = 0;
  for (const FileAccount& account : accounts_) file_vpcs += vpc_count(account);
  const bool blocked = blocks_migration();
  const bool clean = findings_.empty();
  logger().log(
      blocked ? log::ERROR : (clean ? log::INFO : log::WARNING),
      {reporter_,
       "Checked {} of {}: {} fit, {} overlap a subnet, {}{} outside their blocks, {} gone, {} "
       "empty with room now, {} unchecked; {}; {}"},
      plural(file_vpcs, "VPC", "VPCs"), file_.path, fitting_vpcs_, count(Kind::overlaps_subnet),
      // Only a configuration with reserved ranges can meet them; others keep their line as it was.
      rule_.reserved.empty()
          ? std::string()
          : std::to_string(count(Kind::overlaps_reserved)) + " overlap a reserved range, ",
      count(Kind::outside_blocks), count(Kind::vpc_gone), count(Kind::empty_with_room),
      unchecked_vpcs_,
      plural(static_cast<std::size_t>(count(Kind::new_vpc)), "new VPC", "new VPCs"),
      blocked ? "the migration is blocked" : "nothing blocks the migration");
}

bool DriftCheck::blocks_migration() const {
  return std::any_of(findings_.begin(), findings_.end(),
                     [](const DriftFinding& finding) { return finding.blocks; });
}

Json DriftCheck::refreshed_account(Json account, const FileAccount& kept) const {
  for (std::size_t region_at = 0; region_at < kept.regions.size(); ++region_at) {
    const FileRegion& region = kept.regions[region_at];
    Json& vpcs = account.at("regions").at(region_at).at("vpcs");
    for (std::size_t vpc_at = 0; vpc_at < region.vpcs.size(); ++vpc_at) {
      const auto found =
          replacements_.find({kept.account_id, region.region, region.vpcs[vpc_at].vpc_id});
      if (found == replacements_.end()) continue;
      Json& vpc = vpcs.at(vpc_at);
      if (vpc.contains("hvn_cidr")) {
        vpc["hvn_cidr"] = found->second;
        continue;
      }
      // An entry without the key gets it where the migration model puts it: after vpc_id.
      Json rebuilt = Json::object();
      for (auto& [key, value] : vpc.items()) {
        rebuilt[key] = std::move(value);
        if (key == "vpc_id") rebuilt["hvn_cidr"] = found->second;
      }
      vpc = std::move(rebuilt);
    }
  }
  try {
    (void)ovra::AccountInfo(account);
  } catch (const ovra::ValidationError& error) {
    throw ovra::ValidationError("the refreshed discovery file of " + file_.path.string() + ": " +
                                error.what());
  }
  return account;
}

void DriftCheck::write_refreshed(const std::filesystem::path& target) const {
  const std::unique_ptr<serializers::ListExport> accounts =
      serializers::open_list_export(target, "account_info", file_.sections);
  copy_discovery_accounts(
      file_, [&](Json entry, const FileAccount& kept) { return refreshed_account(entry, kept); },
      *accounts);
  accounts->finish();
}

}  // namespace generator::generate
