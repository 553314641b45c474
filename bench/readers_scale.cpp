// The two readers of the programs' own files at organisation scale, with the programs' writers:
//
//   readers_scale workbook <accounts> <out.xlsx>     the workbook generate writes for <accounts>
//                                                    accounts x 17 regions x 3 VPCs
//   readers_scale discovery <accounts> <out.yaml>    the discovery file of the same estate
//   readers_scale verify <file.yaml> <refreshed.yaml>
//                                                    the file read as `generate --verify` reads it,
//                                                    every gateway subnet then chosen anew and the
//                                                    refreshed file written from a second reading
//
// bench/readers_scale.py makes the files and times convert and the verify reader on them.

#include <cstdio>
#include <iostream>
#include <string>

#include "generator/common/workbook_layout.hpp"
#include "generator/generate/drift_check.hpp"
#include "ovra/config.hpp"
#include "serializers/export/export.hpp"
#include "serializers/serializers.hpp"
#include "serializers/xlsx/xlsx.hpp"

namespace {

using Json = nlohmann::ordered_json;

constexpr int REGIONS = 17;
constexpr int VPCS_PER_REGION = 3;
const char* const REGION_NAMES[REGIONS] = {
    "us-east-1",      "us-east-2",      "us-west-1",    "us-west-2",    "ca-central-1",
    "eu-west-1",      "eu-west-2",      "eu-west-3",    "eu-central-1", "eu-north-1",
    "ap-south-1",     "ap-southeast-1", "ap-southeast-2", "ap-northeast-1", "ap-northeast-2",
    "ap-northeast-3", "sa-east-1"};

std::string account_id(int account) {
  char text[16];
  std::snprintf(text, sizeof text, "%012d", 100000000 + account);
  return text;
}

// A unique VPC id and its /16 block for each VPC of the estate; the default VPC of each region is
// the third, 172.31.0.0/16.
std::string vpc_id(int account, int region, int vpc) {
  char text[32];
  std::snprintf(text, sizeof text, "vpc-%08x%03x%06x", account, region, vpc);
  return text;
}

std::string block(int region, int vpc) {
  if (vpc == VPCS_PER_REGION - 1) return "172.31.0.0/16";
  return "10." + std::to_string(region * VPCS_PER_REGION + vpc) + ".0.0/16";
}

std::string gateway(int region, int vpc) {
  const std::string cidr = block(region, vpc);
  return cidr.substr(0, cidr.find(".0.0/")) + ".255.224/27";
}

int make_workbook(int accounts, const std::string& path) {
  Json rows = Json::array();
  for (int account = 0; account < accounts; ++account) {
    for (int region = 0; region < REGIONS; ++region) {
      for (int vpc = 0; vpc < VPCS_PER_REGION; ++vpc) {
        Json row = Json::object();
        for (const auto& entry : generator::WORKBOOK_COLUMN_TABLE) row[std::string(entry.header)] = "";
        row["account_id"] = account_id(account);
        row["account_name"] = "bench-" + std::to_string(account);
        row["hpe"] = false;
        row["filter_cidrs"] = "['10.0.0.0/8']";
        row["role_name"] = "discovery-readonly";
        row["region"] = REGION_NAMES[region];
        row["vpc_id"] = vpc_id(account, region, vpc);
        row["vpc_cidrs"] = block(region, vpc);
        row["hvn_cidr"] = gateway(region, vpc);
        row["spoke_gw_name"] = "gw-" + std::string(REGION_NAMES[region]) + "-" + row["vpc_id"].get<std::string>();
        rows.push_back(std::move(row));
      }
    }
  }
  serializers::export_to_xlsx(rows, path);
  return 0;
}

int make_discovery(int accounts, const std::string& path) {
  const auto list = serializers::open_list_export(path, "account_info");
  for (int account = 0; account < accounts; ++account) {
    Json regions = Json::array();
    for (int region = 0; region < REGIONS; ++region) {
      Json vpcs = Json::array();
      for (int vpc = 0; vpc < VPCS_PER_REGION; ++vpc)
        vpcs.push_back({{"vpc_id", vpc_id(account, region, vpc)}, {"hvn_cidr", gateway(region, vpc)}});
      regions.push_back({{"region", REGION_NAMES[region]}, {"vpcs", std::move(vpcs)}});
    }
    list->append({{"account_id", account_id(account)},
                  {"account_name", "bench-" + std::to_string(account)},
                  {"regions", std::move(regions)}});
  }
  list->finish();
  return 0;
}

// No scan: every account of the file counts as not scanned, so every VPC is a finding and the
// refreshed file is written whole.
int verify(const std::string& path, const std::string& refreshed) {
  const generator::generate::DiscoveryFile file = generator::generate::read_discovery_file(path);
  generator::generate::DriftCheck check(file, generator::generate::GatewayRule{});
  check.finish();
  check.write_refreshed(refreshed);
  std::size_t vpcs = 0;
  for (const auto& account : file.accounts)
    for (const auto& region : account.regions) vpcs += region.vpcs.size();
  std::cout << file.accounts.size() << " accounts, " << vpcs << " VPCs read\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  ovra::BaseModel::set_scope(ovra::Scope::discovery_only);
  serializers::start_serializers();
  const std::string command = argc > 1 ? argv[1] : "";
  try {
    if (argc == 4 && command == "workbook") return make_workbook(std::stoi(argv[2]), argv[3]);
    if (argc == 4 && command == "discovery") return make_discovery(std::stoi(argv[2]), argv[3]);
    if (argc == 4 && command == "verify") return verify(argv[2], argv[3]);
  } catch (const std::exception& error) {
    std::cerr << error.what() << '\n';
    return 1;
  }
  std::cerr << "usage: readers_scale workbook|discovery <accounts> <out> | verify <file> <refreshed>\n";
  return 2;
}
