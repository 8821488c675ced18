// GuessEncoding's two passes in 64-byte blocks with AVX2: the block tests of detect.cpp, twice as wide.
#include <immintrin.h>

#include "encoding/simd_kernels.h"

namespace ocelo::detail {
namespace {

inline std::uint64_t Bits(__m256i low, __m256i high) {
  return static_cast<std::uint32_t>(_mm256_movemask_epi8(low)) |
         static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm256_movemask_epi8(high))) << 32;
}

// Lanes of bytes in [low, high], on bytes flipped by 0x80 so that signed order is unsigned order.
inline __m256i InRange(__m256i flipped, int low, int high) {
  return _mm256_and_si256(_mm256_cmpgt_epi8(flipped, _mm256_set1_epi8(static_cast<char>(low - 1 - 128))),
                          _mm256_cmpgt_epi8(_mm256_set1_epi8(static_cast<char>(high + 1 - 128)), flipped));
}

// Lanes of the first byte of a Shift_JIS pair: a lead in 81..9F before 40..7E or 80..FC, or in E0..FC
// before 40..7E or C0..FC.
inline __m256i PairLanes(__m256i lead, __m256i trail) {
  const __m256i flip = _mm256_set1_epi8(static_cast<char>(0x80));
  lead = _mm256_xor_si256(lead, flip);
  trail = _mm256_xor_si256(trail, flip);
  const __m256i trail_7bit = InRange(trail, 0x40, 0x7E);
  const __m256i first = _mm256_and_si256(InRange(lead, 0x81, 0x9F),
                                         _mm256_or_si256(trail_7bit, InRange(trail, 0x80, 0xFC)));
  const __m256i second = _mm256_and_si256(InRange(lead, 0xE0, 0xFC),
                                          _mm256_or_si256(trail_7bit, InRange(trail, 0xC0, 0xFC)));
  return _mm256_or_si256(first, second);
}

inline bool IsContinuation(std::uint8_t byte) { return (byte & 0xC0) == 0x80; }

}  // namespace

bool FindShiftJisPairAvx2(const std::uint8_t* bytes, std::size_t length, std::size_t& done, bool& high_seen) {
  std::uint64_t previous_high = 0;  // bit 0: the byte before the block is >= 0x80
  std::uint64_t any_high = 0;
  std::size_t i = 0;
  for (; i + 65 <= length; i += 64) {
    const __m256i lead_low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + i));
    const __m256i lead_high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + i + 32));
    const std::uint64_t high = Bits(lead_low, lead_high);
    const std::uint64_t run_starts = high & ~((high << 1) | previous_high);
    previous_high = high >> 63;
    any_high |= high;
    if (run_starts == 0) continue;
    const __m256i trail_low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + i + 1));
    const __m256i trail_high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + i + 33));
    const std::uint64_t hits = Bits(PairLanes(lead_low, trail_low), PairLanes(lead_high, trail_high));
    if (hits & run_starts) return true;
  }
  done = i;
  high_seen |= any_high != 0;
  return false;
}

std::size_t SkipUtf8ShapedAvx2(const std::uint8_t* bytes, std::size_t start, std::size_t length, bool& valid_seen) {
  bool leads_before_last = false;  // leads in the blocks before the last one that passed
  std::uint64_t last_leads = 0;    // the leads of the last block that passed
  std::uint64_t carry = 0;         // continuation bytes asked for by leads of earlier blocks
  std::size_t block = start;
  for (; block + 64 <= length; block += 64) {
    const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + block));
    const __m256i high_half = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + block + 32));
    // Signed lanes: 80..BF < C0..DF < E0..EF < F0..F7 < F8..FB < FC..FD < FE..FF, all below 00..7F.
    const std::uint64_t high = Bits(low, high_half);
    auto at_least = [&](int byte) {
      const __m256i bound = _mm256_set1_epi8(static_cast<char>(byte - 1));
      return Bits(_mm256_cmpgt_epi8(low, bound), _mm256_cmpgt_epi8(high_half, bound)) & high;
    };
    // Each lead asks for the continuation bytes after it: C0 and up one, E0 and up a second, ...; what
    // the block's last leads ask for spills into the next block.
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
  // The count reaches every byte of [start, block) that is not a continuation byte; it resumes at the
  // last of them, whose sequence may reach past the blocks. The leads before it were all valid.
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
