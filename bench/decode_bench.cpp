// Whole-buffer reading and writing as the program does it: DecodeBytes per encoding (detection
// included), the UTF-16 kernels beside a plain copy into fresh memory, and the writers' encoding step.
#include <benchmark/benchmark.h>

#include <cstring>

#include "corpus.h"
#include "encoding/cp932.h"
#include "encoding/decode.h"
#include "encoding/utf8.h"
#include "encoding/write.h"

namespace ocelo::bench {
namespace {

void Decode(benchmark::State& state, const Bytes& bytes) {
  for (auto _ : state) benchmark::DoNotOptimize(DecodeBytes(bytes));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

void BM_DecodeBytesShiftJis(benchmark::State& state) { Decode(state, CorpusShiftJis()); }
void BM_DecodeBytesUtf8(benchmark::State& state) { Decode(state, CorpusUtf8()); }

void BM_DecodeBytesUtf16Le(benchmark::State& state) {
  // With its mark, as a file holds it.
  static const Bytes marked = [] {
    Bytes bytes{0xFF, 0xFE};
    bytes.insert(bytes.end(), CorpusUtf16Le().begin(), CorpusUtf16Le().end());
    return bytes;
  }();
  Decode(state, marked);
}

// What "memory-copy speed" means here: the same bytes copied into a fresh text of the same size.
void BM_CopyIntoFreshText(benchmark::State& state) {
  const Bytes& bytes = CorpusUtf16Le();
  for (auto _ : state) {
    std::u16string text(bytes.size() / 2, u'\0');
    std::memcpy(text.data(), bytes.data(), bytes.size());
    benchmark::DoNotOptimize(text.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

BENCHMARK(BM_DecodeBytesShiftJis)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeBytesUtf8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeBytesUtf16Le)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CopyIntoFreshText)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace ocelo::bench

namespace ocelo::bench {
namespace {

// The writers' encoding step as they run it (piece by piece, each piece handed on while it is in the
// cache), without the write: the sink only counts.
template <typename Produce>
void WriterEncoding(benchmark::State& state, Produce produce) {
  const std::u16string& text = CorpusText();
  for (auto _ : state) {
    std::size_t total = 0;
    produce(text, [&](std::span<const std::uint8_t> piece) {
      total += piece.size();
      benchmark::DoNotOptimize(piece.data());
      return true;
    });
    benchmark::DoNotOptimize(total);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size() * 2));
}

void BM_WriterEncodingShiftJis(benchmark::State& state) {
  WriterEncoding(state, [](std::u16string_view text, const ContentSink& sink) { return ProduceShiftJis(text, sink); });
}
void BM_WriterEncodingUtf8(benchmark::State& state) {
  WriterEncoding(state,
                 [](std::u16string_view text, const ContentSink& sink) { return ProduceUtf8(text, false, sink); });
}

BENCHMARK(BM_WriterEncodingShiftJis)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriterEncodingUtf8)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace ocelo::bench
