// The benchmark corpus: deterministic Japanese text (kanji, kana, half-width katakana, ASCII markup,
// CR LF lines) in each encoding, generated once per process.
#pragma once

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ocelo::bench {

using Bytes = std::vector<std::uint8_t>;

/// The corpus as UTF-16 text; its Shift_JIS form is at least 64 MiB long. OCELO_BENCH_CORPUS=FILE takes
/// the Shift_JIS text of FILE instead.
const std::u16string& CorpusText();

/// The corpus in each encoding, converted by the system's iconv (never by the code under test).
const Bytes& CorpusShiftJis();
const Bytes& CorpusUtf8();
const Bytes& CorpusUtf16Le();  ///< without mark

/// Converts with the system's iconv; aborts on failure (benchmarks only).
Bytes IconvConvert(const void* data, std::size_t size, const char* from, const char* to);

/// Registers `run` once per kernel level this machine has, as "name/scalar", "name/sse2", ...; each
/// runs with the converters capped at its level.
bool RegisterAtEveryLevel(const char* name, void (*run)(benchmark::State&), benchmark::TimeUnit unit);

/// The first `bytes` of a corpus form, ending before a UTF-8 continuation byte or a low surrogate:
/// small enough to stay in the cache.
Bytes Warm(const Bytes& form, std::size_t bytes);
std::u16string Warm(const std::u16string& text, std::size_t bytes);

}  // namespace ocelo::bench
