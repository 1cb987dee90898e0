// Throughput in bytes of input per second, in process: the rule chain
// (LayoutSql, the clipboard run's path) and the fused layout (the filter's),
// on real SQL and on inputs built to make the rules match as often as
// possible. Each also reports its output per input byte, so the adversarial
// cases can be compared with real SQL per output byte as well.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench/sql_input.h"
#include "layout/fused_layout.h"
#include "layout/layout_sql.h"

namespace quillmore::bench {
namespace {

void Report(benchmark::State& state, std::size_t input, std::size_t output) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(input));
  state.counters["output_per_input"] =
      static_cast<double>(output) / static_cast<double>(input);
}

template <typename Unit>
void Chain(benchmark::State& state, const std::basic_string<Unit>& input) {
  std::size_t output = 0;
  for (auto _ : state) {
    PatternEngine<Unit> engine;
    std::basic_string<Unit> out = LayoutSql<Unit>(engine, input);
    output = out.size();
    benchmark::DoNotOptimize(out.data());
  }
  Report(state, input.size() * sizeof(Unit), output * sizeof(Unit));
}

// As the filter runs it: pieces of 128 KiB into one reused output buffer.
template <typename Unit>
void Fused(benchmark::State& state, const std::basic_string<Unit>& input) {
  constexpr std::size_t kPiece = std::size_t{1} << 17;
  std::vector<Unit> out(FusedLayout<Unit>::OutputRoom(kPiece));
  std::size_t output = 0;
  for (auto _ : state) {
    FusedLayout<Unit> layout;
    output = 0;
    const std::basic_string_view<Unit> text = input;
    for (std::size_t at = 0; at < text.size(); at += kPiece) {
      output += layout.Feed(text.substr(at, kPiece), out.data());
      benchmark::DoNotOptimize(out.data());
    }
    output += layout.Finish(out.data());
  }
  Report(state, input.size() * sizeof(Unit), output * sizeof(Unit));
}

const std::string& Realistic(std::size_t size) {
  static std::string text;
  if (text.size() != size) text = RealisticSql(size);
  return text;
}

void BM_ChainRealisticSql(benchmark::State& state) {
  Chain<char>(state, Realistic(static_cast<std::size_t>(state.range(0))));
}
BENCHMARK(BM_ChainRealisticSql)
    ->Arg(1 << 20)
    ->Arg(64 << 20)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_ChainRealisticSqlUtf16(benchmark::State& state) {
  const std::string& bytes = Realistic(1 << 20);
  Chain<char16_t>(state, std::u16string(bytes.begin(), bytes.end()));
}
BENCHMARK(BM_ChainRealisticSqlUtf16)->Unit(benchmark::kMillisecond);

void BM_FusedRealisticSql(benchmark::State& state) {
  Fused<char>(state, Realistic(20 << 20));
}
BENCHMARK(BM_FusedRealisticSql)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_FusedRealisticSqlUtf16(benchmark::State& state) {
  const std::string& bytes = Realistic(20 << 20);
  Fused<char16_t>(state, std::u16string(bytes.begin(), bytes.end()));
}
BENCHMARK(BM_FusedRealisticSqlUtf16)->Unit(benchmark::kMillisecond);

void BM_ChainAdversarial(benchmark::State& state, const char* piece) {
  Chain<char>(state, Repeated(piece, 64 << 20));
}
void BM_FusedAdversarial(benchmark::State& state, const char* piece) {
  Fused<char>(state, Repeated(piece, 20 << 20));
}
#define QUILLMORE_ADVERSARIAL(name, piece)            \
  BENCHMARK_CAPTURE(BM_ChainAdversarial, name, piece) \
      ->Unit(benchmark::kMillisecond)                 \
      ->UseRealTime();                                \
  BENCHMARK_CAPTURE(BM_FusedAdversarial, name, piece) \
      ->Unit(benchmark::kMillisecond)                 \
      ->UseRealTime();
QUILLMORE_ADVERSARIAL(all_spaces, " ")
QUILLMORE_ADVERSARIAL(all_commas, ",")
QUILLMORE_ADVERSARIAL(or_repeated, " or")
QUILLMORE_ADVERSARIAL(line_breaks, "\r\n")
#undef QUILLMORE_ADVERSARIAL

}  // namespace
}  // namespace quillmore::bench

BENCHMARK_MAIN();
