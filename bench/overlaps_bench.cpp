// Time of finding every overlap among the address blocks of an estate, from 1,000 to 100,000
// blocks, in the shapes real estates take:
//   default_vpcs  every block is 172.31.0.0/16 (a default VPC in every region of every account);
//   shared_secondary  each VPC holds its own 10.x.y.0/24 and the same 100.64.0.0/16 (a common
//                     secondary block for container networks);
//   spread        blocks /16 to /24 at random places in 10.0.0.0/8, so that some overlap;
//   one_container one 10.0.0.0/8 and the rest distinct /26s inside it.
// Ten others are listed per VPC, as generate does.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "ipv4/overlaps.hpp"

namespace {

using ipv4::Network;
using ipv4::OwnedNetwork;

constexpr std::size_t LISTED = 10;

Network slash24(std::size_t index) {
  return Network(0x0A000000u + static_cast<std::uint32_t>(index % 65536) * 256u, 24);
}

std::vector<OwnedNetwork> default_vpcs(std::size_t blocks) {
  std::vector<OwnedNetwork> estate;
  for (std::size_t owner = 0; owner < blocks; ++owner)
    estate.push_back({owner, Network::parse("172.31.0.0/16")});
  return estate;
}

std::vector<OwnedNetwork> shared_secondary(std::size_t blocks) {
  std::vector<OwnedNetwork> estate;
  for (std::size_t owner = 0; owner < blocks / 2; ++owner) {
    estate.push_back({owner, slash24(owner)});
    estate.push_back({owner, Network::parse("100.64.0.0/16")});
  }
  return estate;
}

std::vector<OwnedNetwork> spread(std::size_t blocks) {
  std::mt19937 random(1);
  std::uniform_int_distribution<int> prefix(16, 24);
  std::uniform_int_distribution<std::uint32_t> offset(0, 0xFFFFFF);
  std::vector<OwnedNetwork> estate;
  for (std::size_t owner = 0; owner < blocks; ++owner) {
    const int length = prefix(random);
    const std::uint32_t mask = ~((std::uint32_t{1} << (32 - length)) - 1);
    estate.push_back({owner, Network((0x0A000000u | offset(random)) & mask, length)});
  }
  return estate;
}

std::vector<OwnedNetwork> one_container(std::size_t blocks) {
  std::vector<OwnedNetwork> estate{{0, Network::parse("10.0.0.0/8")}};
  for (std::size_t owner = 1; owner < blocks; ++owner)
    estate.push_back({owner, Network(0x0A000000u + static_cast<std::uint32_t>(owner) * 64u, 26)});
  return estate;
}

template <std::vector<OwnedNetwork> (*make)(std::size_t)>
void BM_find_overlaps(benchmark::State& state) {
  const std::vector<OwnedNetwork> estate = make(static_cast<std::size_t>(state.range(0)));
  ipv4::Overlaps found;
  for (auto _ : state) {
    found = ipv4::find_overlaps(estate, LISTED);
    benchmark::DoNotOptimize(found);
  }
  state.counters["blocks"] = static_cast<double>(estate.size());
  state.counters["vpcs_with_overlaps"] = static_cast<double>(found.owners.size());
  state.counters["pairs"] = static_cast<double>(found.pair_count);
}

void sizes(benchmark::internal::Benchmark* bench) {
  bench->Arg(1'000)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_find_overlaps<default_vpcs>)->Name("default_vpcs")->Apply(sizes);
BENCHMARK(BM_find_overlaps<shared_secondary>)->Name("shared_secondary")->Apply(sizes);
BENCHMARK(BM_find_overlaps<spread>)->Name("spread")->Apply(sizes);
BENCHMARK(BM_find_overlaps<one_container>)->Name("one_container")->Apply(sizes);

}  // namespace

BENCHMARK_MAIN();
