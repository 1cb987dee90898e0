// Throughput of LayoutSql, in bytes of input per second, on real SQL and on
// inputs built to make the rules match as often as possible.
#include <benchmark/benchmark.h>

#include "bench/sql_input.h"
#include "layout/layout_sql.h"

namespace quillmore::bench {
namespace {

void Run(benchmark::State& state, const std::string& input) {
  std::size_t output = 0;
  for (auto _ : state) {
    PatternEngine<char> engine;
    std::string out = LayoutSql<char>(engine, input);
    output = out.size();
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(input.size()));
  state.counters["output_per_input"] =
      static_cast<double>(output) / static_cast<double>(input.size());
}

void BM_RealisticSql(benchmark::State& state) {
  Run(state, RealisticSql(static_cast<std::size_t>(state.range(0))));
}
BENCHMARK(BM_RealisticSql)
    ->Arg(1 << 20)
    ->Arg(64 << 20)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_RealisticSqlUtf16(benchmark::State& state) {
  const std::string bytes =
      RealisticSql(static_cast<std::size_t>(state.range(0)));
  const std::u16string input(bytes.begin(), bytes.end());
  for (auto _ : state) {
    PatternEngine<char16_t> engine;
    std::u16string out = LayoutSql<char16_t>(engine, input);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(bytes.size()));
}
BENCHMARK(BM_RealisticSqlUtf16)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

void BM_Adversarial(benchmark::State& state, const char* piece) {
  Run(state, Repeated(piece, 64 << 20));
}
BENCHMARK_CAPTURE(BM_Adversarial, all_spaces, " ")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Adversarial, all_commas, ",")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Adversarial, or_repeated, " or")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Adversarial, line_breaks, "\r\n")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
}  // namespace quillmore::bench

BENCHMARK_MAIN();
