// UTF-8 decoding and encoding of the corpus at every kernel level, warm (the first MiB, in the cache)
// and whole, with iconv for scale.
#include <benchmark/benchmark.h>

#include "corpus.h"
#include "encoding/utf8.h"

namespace ocelo::bench {
namespace {

void Decode(benchmark::State& state, const Bytes& bytes) {
  for (auto _ : state) benchmark::DoNotOptimize(DecodeUtf8(bytes));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

void Encode(benchmark::State& state, const std::u16string& text) {
  for (auto _ : state) benchmark::DoNotOptimize(EncodeUtf8(text));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size() * 2));
}

void BM_DecodeUtf8(benchmark::State& state) { Decode(state, CorpusUtf8()); }
void BM_DecodeUtf8Warm(benchmark::State& state) {
  static const Bytes warm = Warm(CorpusUtf8(), 1 << 20);
  Decode(state, warm);
}
void BM_EncodeUtf8(benchmark::State& state) { Encode(state, CorpusText()); }
void BM_EncodeUtf8Warm(benchmark::State& state) {
  static const std::u16string warm = Warm(CorpusText(), 1 << 20);
  Encode(state, warm);
}

void BM_DecodeUtf8Iconv(benchmark::State& state) {
  const Bytes& bytes = CorpusUtf8();
  for (auto _ : state) benchmark::DoNotOptimize(IconvConvert(bytes.data(), bytes.size(), "UTF-8", "UTF-16LE"));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

void BM_EncodeUtf8Iconv(benchmark::State& state) {
  const Bytes& bytes = CorpusUtf16Le();
  for (auto _ : state) benchmark::DoNotOptimize(IconvConvert(bytes.data(), bytes.size(), "UTF-16LE", "UTF-8"));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

// What every converter pays before its first character: a fresh output buffer of the result's size,
// zero-filled (the kernel maps and clears each page on first touch). Rated by the input it stands for.
void BM_FreshUtf16Output(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(std::u16string(CorpusText().size(), u'\0'));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * CorpusUtf8().size()));
}

void BM_FreshUtf8Output(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(Bytes(CorpusUtf8().size()));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * CorpusText().size() * 2));
}

BENCHMARK(BM_FreshUtf16Output)->Unit(benchmark::kMillisecond);
[[maybe_unused]] const bool decode = RegisterAtEveryLevel("BM_DecodeUtf8", BM_DecodeUtf8, benchmark::kMillisecond);
[[maybe_unused]] const bool decode_warm = RegisterAtEveryLevel("BM_DecodeUtf8Warm", BM_DecodeUtf8Warm,
                                                               benchmark::kMicrosecond);
BENCHMARK(BM_DecodeUtf8Iconv)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FreshUtf8Output)->Unit(benchmark::kMillisecond);
[[maybe_unused]] const bool encode = RegisterAtEveryLevel("BM_EncodeUtf8", BM_EncodeUtf8, benchmark::kMillisecond);
[[maybe_unused]] const bool encode_warm = RegisterAtEveryLevel("BM_EncodeUtf8Warm", BM_EncodeUtf8Warm,
                                                               benchmark::kMicrosecond);
BENCHMARK(BM_EncodeUtf8Iconv)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace ocelo::bench
