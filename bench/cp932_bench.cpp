// Code page 932 kernels on the corpus at every kernel level, warm (the first MiB of input, which stays
// in the cache and whose result needs no fresh pages from the system) and whole, beside the system's
// iconv doing the same conversions. Encoding speeds count the UTF-16 input bytes.
#include <benchmark/benchmark.h>

#include "corpus.h"
#include "encoding/cp932.h"

namespace ocelo::bench {
namespace {

void Decode(benchmark::State& state, const Bytes& input) {
  for (auto _ : state) benchmark::DoNotOptimize(DecodeShiftJis(input));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.size()));
}

void Encode(benchmark::State& state, const std::u16string& input) {
  for (auto _ : state) benchmark::DoNotOptimize(EncodeShiftJis(input));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.size() * 2));
}

void BM_DecodeShiftJis(benchmark::State& state) { Decode(state, CorpusShiftJis()); }
void BM_DecodeShiftJisWarm(benchmark::State& state) {
  static const Bytes warm = Warm(CorpusShiftJis(), 1 << 20);
  Decode(state, warm);
}
void BM_EncodeShiftJis(benchmark::State& state) { Encode(state, CorpusText()); }
void BM_EncodeShiftJisWarm(benchmark::State& state) {
  static const std::u16string warm = Warm(CorpusText(), 1 << 20);
  Encode(state, warm);
}

void BM_IconvDecodeCp932(benchmark::State& state) {
  const Bytes& input = CorpusShiftJis();
  for (auto _ : state) benchmark::DoNotOptimize(IconvConvert(input.data(), input.size(), "CP932", "UTF-16LE"));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.size()));
}

void BM_IconvEncodeCp932(benchmark::State& state) {
  const Bytes& input = CorpusUtf16Le();
  for (auto _ : state) benchmark::DoNotOptimize(IconvConvert(input.data(), input.size(), "UTF-16LE", "CP932"));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.size()));
}

[[maybe_unused]] const bool decode = RegisterAtEveryLevel("BM_DecodeShiftJis", BM_DecodeShiftJis,
                                                          benchmark::kMillisecond);
[[maybe_unused]] const bool decode_warm = RegisterAtEveryLevel("BM_DecodeShiftJisWarm", BM_DecodeShiftJisWarm,
                                                               benchmark::kMicrosecond);
BENCHMARK(BM_IconvDecodeCp932)->Unit(benchmark::kMillisecond);
[[maybe_unused]] const bool encode = RegisterAtEveryLevel("BM_EncodeShiftJis", BM_EncodeShiftJis,
                                                          benchmark::kMillisecond);
[[maybe_unused]] const bool encode_warm = RegisterAtEveryLevel("BM_EncodeShiftJisWarm", BM_EncodeShiftJisWarm,
                                                               benchmark::kMicrosecond);
BENCHMARK(BM_IconvEncodeCp932)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace ocelo::bench
