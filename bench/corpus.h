// The benchmark corpus: deterministic Japanese text (kanji, kana, half-width katakana, ASCII markup,
// CR LF lines) in each encoding, generated once per process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ocelo::bench {

using Bytes = std::vector<std::uint8_t>;

/// The corpus as UTF-16 text; its Shift_JIS form is at least `min_sjis_bytes` long (default 64 MiB).
const std::u16string& CorpusText();

/// The corpus in each encoding, converted by the system's iconv (never by the code under test).
const Bytes& CorpusShiftJis();
const Bytes& CorpusUtf8();
const Bytes& CorpusUtf16Le();  ///< without mark

/// Converts with the system's iconv; aborts on failure (benchmarks only).
Bytes IconvConvert(const void* data, std::size_t size, const char* from, const char* to);

}  // namespace ocelo::bench
