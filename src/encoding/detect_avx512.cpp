// GuessEncoding's two passes in 64-byte blocks with AVX-512: each byte test is one compare into a mask.
#include <immintrin.h>

#include "encoding/simd_kernels.h"

namespace ocelo::detail {
namespace {

// Bytes in [low, high], unsigned.
inline std::uint64_t InRange(__m512i v, int low, int high) {
  return _mm512_cmple_epu8_mask(_mm512_sub_epi8(v, _mm512_set1_epi8(static_cast<char>(low))),
                                _mm512_set1_epi8(static_cast<char>(high - low)));
}

inline bool IsContinuation(std::uint8_t byte) { return (byte & 0xC0) == 0x80; }

}  // namespace

bool FindShiftJisPairAvx512(const std::uint8_t* bytes, std::size_t length, std::size_t& done, bool& high_seen) {
  std::uint64_t previous_high = 0;  // bit 0: the byte before the block is >= 0x80
  std::uint64_t any_high = 0;
  std::size_t i = 0;
  for (; i + 65 <= length; i += 64) {
    const __m512i lead = _mm512_loadu_si512(bytes + i);
    const std::uint64_t high = _mm512_movepi8_mask(lead);
    const std::uint64_t run_starts = high & ~((high << 1) | previous_high);
    previous_high = high >> 63;
    any_high |= high;
    if (run_starts == 0) continue;
    // Pairs: a lead in 81..9F before 40..7E or 80..FC, or in E0..FC before 40..7E or C0..FC.
    const __m512i trail = _mm512_loadu_si512(bytes + i + 1);
    const std::uint64_t trail_7bit = InRange(trail, 0x40, 0x7E);
    const std::uint64_t hits = (InRange(lead, 0x81, 0x9F) & (trail_7bit | InRange(trail, 0x80, 0xFC))) |
                               (InRange(lead, 0xE0, 0xFC) & (trail_7bit | InRange(trail, 0xC0, 0xFC)));
    if (hits & run_starts) return true;
  }
  done = i;
  high_seen |= any_high != 0;
  return false;
}

std::size_t SkipUtf8ShapedAvx512(const std::uint8_t* bytes, std::size_t start, std::size_t length, bool& valid_seen) {
  bool leads_before_last = false;  // leads in the blocks before the last one that passed
  std::uint64_t last_leads = 0;    // the leads of the last block that passed
  std::uint64_t carry = 0;         // continuation bytes asked for by leads of earlier blocks
  std::size_t block = start;
  for (; block + 64 <= length; block += 64) {
    const __m512i v = _mm512_loadu_si512(bytes + block);
    auto at_least = [&](int byte) -> std::uint64_t {
      return _mm512_cmpge_epu8_mask(v, _mm512_set1_epi8(static_cast<char>(byte)));
    };
    // Each lead asks for the continuation bytes after it: C0 and up one, E0 and up a second, ...; what
    // the block's last leads ask for spills into the next block.
    const std::uint64_t high = _mm512_movepi8_mask(v);
    const std::uint64_t leads = at_least(0xC0);
    const std::uint64_t asks_two = at_least(0xE0);
    const std::uint64_t asks_three = at_least(0xF0);
    std::uint64_t asked = carry | leads << 1 | asks_two << 2 | asks_three << 3;
    std::uint64_t spill = leads >> 63 | asks_two >> 62 | asks_three >> 61;
    if (asks_three != 0) {
      if (at_least(0xFE) != 0) break;
      const std::uint64_t asks_four = at_least(0xF8);
      const std::uint64_t asks_five = at_least(0xFC);
      asked |= asks_four << 4 | asks_five << 5;
      spill |= asks_four >> 60 | asks_five >> 59;
    }
    if (asked != (high & ~leads)) break;
    carry = spill;
    leads_before_last |= last_leads != 0;
    last_leads = leads;
  }
  // As in the AVX2 walk: resume at the last byte of the blocks that is not a continuation byte.
  std::size_t resume = block;
  while (resume > start && IsContinuation(bytes[resume - 1])) --resume;
  if (resume > start) --resume;
  if (resume > start) {
    const std::uint64_t below = (std::uint64_t{1} << (resume - (block - 64))) - 1;
    valid_seen |= leads_before_last || (last_leads & below) != 0;
  }
  return resume;
}

}  // namespace ocelo::detail
