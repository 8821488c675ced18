// Code page 932 kernels on the corpus, beside the system's iconv doing the same conversions.
#include <benchmark/benchmark.h>

#include "corpus.h"
#include "encoding/cp932.h"

namespace ocelo::bench {
namespace {

void BM_DecodeShiftJis(benchmark::State& state) {
  const Bytes& input = CorpusShiftJis();
  for (auto _ : state) benchmark::DoNotOptimize(DecodeShiftJis(input));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.size()));
}

void BM_DecodeShiftJisScalar(benchmark::State& state) {
  const Bytes& input = CorpusShiftJis();
  for (auto _ : state) benchmark::DoNotOptimize(DecodeShiftJisScalar(input));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.size()));
}

void BM_IconvDecodeCp932(benchmark::State& state) {
  const Bytes& input = CorpusShiftJis();
  for (auto _ : state) benchmark::DoNotOptimize(IconvConvert(input.data(), input.size(), "CP932", "UTF-16LE"));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.size()));
}

// Encoding speeds count the UTF-16 input bytes.
void BM_EncodeShiftJis(benchmark::State& state) {
  const std::u16string& input = CorpusText();
  for (auto _ : state) benchmark::DoNotOptimize(EncodeShiftJis(input));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.size() * 2));
}

void BM_EncodeShiftJisScalar(benchmark::State& state) {
  const std::u16string& input = CorpusText();
  for (auto _ : state) benchmark::DoNotOptimize(EncodeShiftJisScalar(input));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.size() * 2));
}

void BM_IconvEncodeCp932(benchmark::State& state) {
  const Bytes& input = CorpusUtf16Le();
  for (auto _ : state) benchmark::DoNotOptimize(IconvConvert(input.data(), input.size(), "UTF-16LE", "CP932"));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.size()));
}

// The kernels alone on the first MiB, which stays in cache and whose result needs no fresh pages from the
// system: on a machine with slow page faults the full-corpus figures are bounded by the 70 MB they write.
void BM_DecodeShiftJisInCache(benchmark::State& state) {
  const Bytes input(CorpusShiftJis().begin(), CorpusShiftJis().begin() + (1 << 20));
  for (auto _ : state) benchmark::DoNotOptimize(DecodeShiftJis(input));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.size()));
}

void BM_EncodeShiftJisInCache(benchmark::State& state) {
  const std::u16string input(CorpusText().begin(), CorpusText().begin() + (1 << 19));
  for (auto _ : state) benchmark::DoNotOptimize(EncodeShiftJis(input));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.size() * 2));
}

BENCHMARK(BM_DecodeShiftJis)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeShiftJisScalar)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IconvDecodeCp932)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeShiftJis)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeShiftJisScalar)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IconvEncodeCp932)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeShiftJisInCache);
BENCHMARK(BM_EncodeShiftJisInCache);

}  // namespace
}  // namespace ocelo::bench
