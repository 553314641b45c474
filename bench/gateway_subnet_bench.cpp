// Time of one VPC's gateway subnet choice, and of the plain scan that checks every candidate
// against every subnet, for blocks from /24 to /8 and up to 20,000 existing subnets. DEBUG is
// off, as in a normal run.
//
// The existing subnets are /27s that fill the block from its start, listed in shuffled order,
// so that the chosen subnet is the one just after them: every subnet matters and nothing is
// found early.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <string>

#include "generator/generate/gateway_subnet.hpp"
#include "generator/generate/plain_scan.hpp"
#include "generator/generate/vpc_stand_in.hpp"
#include "generator/log/log.hpp"
#include "ipv4/ipv4_network.hpp"
#include "support/log_capture.hpp"

namespace {

using generator::Hpe;
using generator::generate::testing::VpcStandIn;

constexpr int GATEWAY_PREFIX = 27;

// A VPC with the primary block 10.0.0.0/<block_prefix> holding `subnets` /27 subnets (at most
// one fewer than the block has room for).
VpcStandIn make_vpc(int block_prefix, std::int64_t subnets) {
  const ipv4::Network block(0x0A000000u, block_prefix);
  VpcStandIn vpc;
  vpc.primary_block = block.to_string();
  vpc.associations.push_back({vpc.primary_block, "associated"});
  const auto count = std::min<std::uint64_t>(static_cast<std::uint64_t>(subnets),
                                             block.subnet_count(GATEWAY_PREFIX) - 1);
  for (std::uint64_t index = 0; index < count; ++index)
    vpc.subnet_blocks.push_back(block.subnet_at(GATEWAY_PREFIX, index).to_string());
  std::shuffle(vpc.subnet_blocks.begin(), vpc.subnet_blocks.end(), std::mt19937(1));
  return vpc;
}

// The level of a normal run, and a handler so that nothing reaches the terminal.
void quiet_logging() {
  auto& top = generator::log::get_logger(generator::log::TOP_LOGGER);
  top.set_level(generator::log::INFO);
  if (top.handlers().empty())
    top.add_handler(std::make_shared<generator::test_support::DroppedLines>());
}

void check_result(benchmark::State& state, const std::string& result, std::uint64_t subnets) {
  const std::string expected =
      ipv4::Network(0x0A000000u + static_cast<std::uint32_t>(subnets * 32), GATEWAY_PREFIX)
          .to_string();
  if (result != expected)
    state.SkipWithError(("chose " + result + ", expected " + expected).c_str());
}

void BM_compute_hvn_cidr(benchmark::State& state) {
  quiet_logging();
  const VpcStandIn vpc = make_vpc(static_cast<int>(state.range(0)), state.range(1));
  // The scan reads the CIDR texts once, when it makes the record; the choice works on the record.
  const generator::generate::VpcRecord record = vpc.record();
  std::string result;
  for (auto _ : state) {
    result = generator::generate::testing::text_of(
        generator::generate::compute_hvn_cidr(record, Hpe::disabled, {}));
    benchmark::DoNotOptimize(result);
  }
  check_result(state, result, vpc.subnet_blocks.size());
  state.counters["subnets"] = static_cast<double>(vpc.subnet_blocks.size());
  state.counters["candidates"] =
      static_cast<double>(std::uint64_t{1} << (GATEWAY_PREFIX - state.range(0)));
}

void BM_plain_scan(benchmark::State& state) {
  const VpcStandIn vpc = make_vpc(static_cast<int>(state.range(0)), state.range(1));
  std::string result;
  for (auto _ : state) {
    result = generator::generate::testing::plain_scan_hvn_cidr(vpc, GATEWAY_PREFIX).hvn_cidr;
    benchmark::DoNotOptimize(result);
  }
  check_result(state, result, vpc.subnet_blocks.size());
  state.counters["subnets"] = static_cast<double>(vpc.subnet_blocks.size());
  state.counters["candidates"] =
      static_cast<double>(std::uint64_t{1} << (GATEWAY_PREFIX - state.range(0)));
}

BENCHMARK(BM_compute_hvn_cidr)
    ->ArgNames({"block", "subnets"})
    ->ArgsProduct({{24, 20, 16, 12, 8}, {0, 1000, 2000, 20000}})
    ->Unit(benchmark::kMicrosecond);

// The plain scan grows as candidates x subnets.
BENCHMARK(BM_plain_scan)
    ->ArgNames({"block", "subnets"})
    ->Args({24, 1000})
    ->Args({20, 1000})
    ->Args({16, 1000})
    ->Args({16, 2000})
    ->Args({12, 2000})
    ->Unit(benchmark::kMicrosecond);
// The /8 with 20,000 subnets takes tens of seconds per VPC this way: measured once.
BENCHMARK(BM_plain_scan)
    ->ArgNames({"block", "subnets"})
    ->Args({8, 20000})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
