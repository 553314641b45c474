// How long reading a large JSON answer takes: an array of many small objects (the shape that
// once took quadratic time) and one object of many members, in both document types the program
// reads answers into.

#include <benchmark/benchmark.h>

#include <nlohmann/json.hpp>
#include <string>

#include "untrusted/untrusted.hpp"

namespace {

constexpr std::size_t ANSWER_BYTES = std::size_t{16} << 20;

// A login answer padded with small objects up to ANSWER_BYTES.
std::string array_of_small_objects() {
  std::string text = R"({"return":true,"CID":"abc","padding":[)";
  for (int i = 0; text.size() < ANSWER_BYTES - 64; ++i)
    text += R"({"n":)" + std::to_string(i) + R"(,"s":"x"},)";
  return text + "{}]}";
}

// One object of as many members as fit in ANSWER_BYTES.
std::string object_of_many_members() {
  std::string text = "{";
  for (int i = 0; text.size() < ANSWER_BYTES - 64; ++i)
    text += "\"member" + std::to_string(i) + "\":" + std::to_string(i) + ",";
  return text + "\"last\":0}";
}

template <class Json>
void read_answer(benchmark::State& state, const std::string& text) {
  for (auto _ : state) benchmark::DoNotOptimize(untrusted::parse_json<Json>(text));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void BM_ArrayOfSmallObjectsOrdered(benchmark::State& state) {
  static const std::string text = array_of_small_objects();
  read_answer<nlohmann::ordered_json>(state, text);
}
void BM_ArrayOfSmallObjects(benchmark::State& state) {
  static const std::string text = array_of_small_objects();
  read_answer<nlohmann::json>(state, text);
}
void BM_ObjectOfManyMembersOrdered(benchmark::State& state) {
  static const std::string text = object_of_many_members();
  read_answer<nlohmann::ordered_json>(state, text);
}

}  // namespace

BENCHMARK(BM_ArrayOfSmallObjectsOrdered)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ArrayOfSmallObjects)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ObjectOfManyMembersOrdered)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
