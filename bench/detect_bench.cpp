// Encoding detection of the corpus at every kernel level: UTF-8 (both passes over every byte), warm and
// whole, and Shift_JIS (decided at the first pair).
#include <benchmark/benchmark.h>

#include "corpus.h"
#include "encoding/detect.h"

namespace ocelo::bench {
namespace {

void Detect(benchmark::State& state, const Bytes& bytes) {
  for (auto _ : state) benchmark::DoNotOptimize(DetectEncoding(bytes));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

void BM_DetectEncodingUtf8(benchmark::State& state) { Detect(state, CorpusUtf8()); }
void BM_DetectEncodingUtf8Warm(benchmark::State& state) {
  static const Bytes warm = Warm(CorpusUtf8(), 1 << 20);
  Detect(state, warm);
}
void BM_DetectEncodingShiftJis(benchmark::State& state) { Detect(state, CorpusShiftJis()); }

[[maybe_unused]] const bool utf8 = RegisterAtEveryLevel("BM_DetectEncodingUtf8", BM_DetectEncodingUtf8,
                                                        benchmark::kMillisecond);
[[maybe_unused]] const bool utf8_warm = RegisterAtEveryLevel("BM_DetectEncodingUtf8Warm", BM_DetectEncodingUtf8Warm,
                                                             benchmark::kMicrosecond);
BENCHMARK(BM_DetectEncodingShiftJis)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace ocelo::bench
