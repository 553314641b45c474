// Writes the address map of a synthetic estate and says how long the rendering took, how large
// the first page and the folder of pages are and how much memory it took;
// bench/address_map_scale.py then times a browser on it.
//
//   address_map_scale OUT.html [accounts regions vpcs subnets [sparse | organisation]]
//
// Shaped like the whole-run benchmark's: VPC v of a region has the primary block 10.<v>.0.0/16
// carved into /24 subnets from the start; every tenth VPC's primary block is a full /22 and its
// gateway subnet lies in a second block 100.<64+v>.0.0/24. With "sparse" every other /24 is left
// free, so no two subnets merge. With "organisation", shaped like the organisation benchmark's
// (bench/synthetic_aws.py): every region has AWS's default VPC (172.31.0.0/16, three /20 subnets)
// and `vpcs` VPCs 10.<v>.0.0/24 with `subnets` /27 subnets (at most 7).

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "generator/generate/address_map.hpp"

using generator::generate::AccountRecord;
using generator::generate::AddressMap;
using generator::generate::AddressMapSettings;
using generator::generate::RegionRecord;
using generator::generate::VpcRecord;

namespace {

VpcRecord synthetic_vpc(int account, int region, int v, int subnets, bool sparse) {
  VpcRecord vpc;
  vpc.id = "vpc-" + std::to_string(100000 + account * 10000 + region * 1000 + v);
  vpc.tags = {{"Name", "workload " + std::to_string(v) + " of region " + std::to_string(region)}};
  vpc.gateway_name = vpc.id + "-HVNGW";
  const std::string net = "10." + std::to_string(v) + ".";
  const auto network = [](const std::string& text) { return ipv4::Network::parse(text); };
  const bool full = v % 10 == 9 && subnets <= 64;
  if (full) {
    vpc.primary = network(net + "0.0/22");
    const std::string second = "100." + std::to_string(64 + v) + ".0.0/24";
    vpc.blocks = {{vpc.primary, "associated"}, {network(second), "associated"}};
    // Equal slices of the /22, each at least a /28.
    int prefix = 22;
    while ((1 << (prefix - 22)) < subnets) ++prefix;
    const int step = 1 << (32 - prefix);
    for (int s = 0; s < (1 << (prefix - 22)); ++s) {
      const int offset = s * step;
      vpc.subnets.push_back({"subnet-" + std::to_string(s),
                             network(net + std::to_string(offset / 256) + "." +
                                     std::to_string(offset % 256) + "/" + std::to_string(prefix))});
    }
    vpc.gateway_subnet.network = network("100." + std::to_string(64 + v) + ".0.0/27");
    return vpc;
  }
  vpc.primary = network(net + "0.0/16");
  vpc.blocks = {{vpc.primary, "associated"}};
  const int stride = sparse ? 2 : 1;
  for (int s = 0; s < subnets; ++s)
    vpc.subnets.push_back(
        {"subnet-" + std::to_string(s), network(net + std::to_string(s * stride) + ".0/24")});
  vpc.gateway_subnet.network = network(net + std::to_string(sparse ? 1 : subnets) + ".0/27");
  return vpc;
}

// AWS's default VPC of a region, and a VPC of the organisation benchmark's.
VpcRecord organisation_vpc(int account, int region, int v, int subnets) {
  const auto network = [](const std::string& text) { return ipv4::Network::parse(text); };
  VpcRecord vpc;
  vpc.id = "vpc-" + std::to_string(100000000000LL * 100 + account * 1700LL + region * 100 + v + 1);
  const std::string net = v < 0 ? "172.31." : "10." + std::to_string(v) + ".0.";
  vpc.is_default = v < 0;
  vpc.primary = network(v < 0 ? "172.31.0.0/16" : net + "0/24");
  vpc.blocks = {{vpc.primary, "associated"}};
  if (v < 0) {
    for (int s = 0; s < 3; ++s)
      vpc.subnets.push_back({"subnet-" + std::to_string(s), network(net + std::to_string(16 * s) + ".0/20")});
    vpc.gateway_subnet.network = network("172.31.48.0/27");
  } else {
    vpc.tags = {{"Name", "spoke " + std::to_string(v)}};
    for (int s = 0; s < subnets; ++s)
      vpc.subnets.push_back({"subnet-" + std::to_string(s), network(net + std::to_string(32 * s) + "/27")});
    vpc.gateway_subnet.network = network(net + std::to_string(32 * subnets) + "/27");
  }
  vpc.gateway_name = vpc.id + "-HVNGW";
  return vpc;
}

// The folder's files and bytes.
std::pair<std::size_t, std::uintmax_t> folder_size(const std::filesystem::path& folder) {
  std::pair<std::size_t, std::uintmax_t> size{0, 0};
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    ++size.first;
    size.second += entry.file_size();
  }
  return size;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 6 && argc != 7) {
    std::fprintf(stderr, "usage: %s OUT.html [accounts regions vpcs subnets [sparse]]\n", argv[0]);
    return 2;
  }
  const int accounts = argc > 2 ? std::stoi(argv[2]) : 20;
  const int regions = argc > 2 ? std::stoi(argv[3]) : 17;
  const int vpcs = argc > 2 ? std::stoi(argv[4]) : 10;
  const int subnets = argc > 2 ? std::stoi(argv[5]) : 50;
  const bool sparse = argc == 7 && std::string(argv[6]) == "sparse";
  const bool organisation = argc == 7 && std::string(argv[6]) == "organisation";
  if (organisation && (vpcs > 100 || subnets > 7)) {
    std::fprintf(stderr, "at most 100 VPCs per region and 7 subnets per VPC (organisation)\n");
    return 2;
  }
  // The gateway subnet takes the /24 after the last subnet, so a full /16 has no room for it.
  if (vpcs > 190 || subnets > (sparse ? 128 : 255)) {
    std::fprintf(stderr, "at most 190 VPCs per region and 255 subnets per VPC (128 if sparse)\n");
    return 2;
  }

  AddressMapSettings settings;
  settings.generated_at = "synthetic estate";
  settings.controller = "controller.example";
  settings.accounts_configured = static_cast<std::size_t>(accounts);
  AddressMap map(settings, argv[1]);
  generator::generate::EstateOverlaps overlaps({});

  const auto start = std::chrono::steady_clock::now();
  std::size_t subnet_count = 0;
  for (int a = 0; a < accounts; ++a) {
    AccountRecord account;
    account.account_id = std::to_string(100000000000LL + a);
    account.account_name = "account-" + std::to_string(a);
    account.entered = true;
    for (int r = 0; r < regions; ++r) {
      RegionRecord region;
      region.region = "region-" + std::to_string(r);
      for (int v = organisation ? -1 : 0; v < vpcs; ++v) {
        region.vpcs.push_back(organisation ? organisation_vpc(a, r, v, subnets)
                                           : synthetic_vpc(a, r, v, subnets, sparse));
        subnet_count += region.vpcs.back().subnets.size();
      }
      account.regions.push_back(std::move(region));
    }
    map.account_scanned(account);
    overlaps.account_scanned(account);
  }
  overlaps.finish();
  map.finish(overlaps);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  const auto [files, bytes] = folder_size(AddressMap::folder_of(argv[1]));
  std::printf(
      "%zu VPCs, %zu subnets: first page %ju bytes, folder %zu files of %ju bytes; built and "
      "written in %.2f s, peak memory %.1f MiB\n",
      overlaps.vpc_count(), subnet_count,
      static_cast<std::uintmax_t>(std::filesystem::file_size(argv[1])), files, bytes, seconds,
      static_cast<double>(usage.ru_maxrss) / 1024);
  return 0;
}
