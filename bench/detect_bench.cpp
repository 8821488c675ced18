// Encoding detection of the corpus: UTF-8 (both passes over every byte), Shift_JIS (decided at the first
// pair), the scalar classifier for comparison.
#include <benchmark/benchmark.h>

#include "corpus.h"
#include "encoding/detect.h"

namespace ocelo::bench {
namespace {

void BM_DetectEncodingUtf8(benchmark::State& state) {
  const Bytes& bytes = CorpusUtf8();
  for (auto _ : state) benchmark::DoNotOptimize(DetectEncoding(bytes));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

void BM_GuessEncodingScalarUtf8(benchmark::State& state) {
  const Bytes& bytes = CorpusUtf8();
  for (auto _ : state) benchmark::DoNotOptimize(GuessEncodingScalar(bytes));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

void BM_DetectEncodingShiftJis(benchmark::State& state) {
  const Bytes& bytes = CorpusShiftJis();
  for (auto _ : state) benchmark::DoNotOptimize(DetectEncoding(bytes));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

BENCHMARK(BM_DetectEncodingUtf8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GuessEncodingScalarUtf8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DetectEncodingShiftJis)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace ocelo::bench
