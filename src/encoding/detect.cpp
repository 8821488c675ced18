// Telling a byte buffer's encoding from its bytes, and finding declared encodings in texts.
//
// GuessEncodingScalar is the classifier written out byte by byte. GuessEncoding gives the same result
// for every buffer, sixteen bytes at a time:
// - The Shift_JIS pair test steps over a whole run of high bytes after testing its first byte, so the
//   only pairs ever tested are (first byte of a run of bytes >= 0x80, the byte after it), for runs that
//   start before the last byte. The test is the same for all such pairs in any order, so a block's
//   pairs are tested at once.
// - The UTF-8 count only matters as "no invalid byte and at least one valid sequence". A stretch in
//   which every continuation byte is one that a lead before it asks for, and every lead's continuation
//   bytes are there, is walked by the count from lead to lead without an invalid byte; blocks are
//   checked for that shape, and the byte-by-byte count takes over around any block that is not.
// With AVX2 or AVX-512 the same block tests run 64 bytes at a time first (detect_avx2.cpp,
// detect_avx512.cpp); the sixteen-byte blocks and the byte-by-byte loop finish what they leave.
#include "encoding/detect.h"

#include "base/ascii.h"
#include "encoding/cpu_level.h"
#include "encoding/simd_kernels.h"
#include "util/text_search.h"

#include <algorithm>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ocelo {
namespace {

bool InRange(std::uint8_t byte, std::uint8_t low, std::uint8_t high) { return byte >= low && byte <= high; }

bool IsContinuation(std::uint8_t byte) { return InRange(byte, 0x80, 0xBF); }

// A Shift_JIS lead and trail: a double-byte character of code page 932, or bytes shaped like one.
// A lead in E0..FC before 80..BF is not taken: that is the shape of a UTF-8 three-byte sequence.
bool IsShiftJisPair(std::uint8_t lead, std::uint8_t trail) {
  if (InRange(lead, 0x81, 0x9F)) return InRange(trail, 0x40, 0x7E) || InRange(trail, 0x80, 0xFC);
  if (InRange(lead, 0xE0, 0xFC)) return InRange(trail, 0x40, 0x7E) || InRange(trail, 0xC0, 0xFC);
  return false;
}

// How many continuation bytes a UTF-8 lead asks for in the count (five- and six-byte forms included),
// or -1 for a byte that is invalid where a character should start.
int ContinuationsNeeded(std::uint8_t lead) {
  if (lead < 0x80) return 0;
  if (lead < 0xC0) return -1;
  if (lead < 0xE0) return 1;
  if (lead < 0xF0) return 2;
  if (lead < 0xF8) return 3;
  if (lead < 0xFC) return 4;
  if (lead < 0xFE) return 5;
  return -1;
}

// ---- GuessEncoding, pass 1 ---------------------------------------------------------------------------

enum class PairScan { kShiftJis, kSevenBit, kHighBytes };

PairScan ScanShiftJisPairs(const std::uint8_t* bytes, std::size_t length, KernelLevel level) {
  bool high_seen = false;
  std::size_t i = 0;  // the lead under test; its trail is i + 1
#if defined(OCELO_X86_KERNELS)
  if (level >= KernelLevel::kAvx512
          ? detail::FindShiftJisPairAvx512(bytes, length, i, high_seen)
          : level == KernelLevel::kAvx2 && detail::FindShiftJisPairAvx2(bytes, length, i, high_seen)) {
    return PairScan::kShiftJis;
  }
#else
  (void)level;
#endif
#if defined(__SSE2__)
  // Byte tests on signed lanes: x ^ 0x80 keeps the order of the unsigned bytes.
  const __m128i flip = _mm_set1_epi8(static_cast<char>(0x80));
  auto in_range = [&](__m128i flipped, int low, int high) {
    return _mm_and_si128(_mm_cmpgt_epi8(flipped, _mm_set1_epi8(static_cast<char>(low - 1 - 128))),
                         _mm_cmplt_epi8(flipped, _mm_set1_epi8(static_cast<char>(high + 1 - 128))));
  };
  unsigned previous_high = i > 0 && bytes[i - 1] >= 0x80;  // bit 0: the byte before the block is >= 0x80
  for (; i + 17 <= length; i += 16) {
    __m128i lead = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
    unsigned high = static_cast<unsigned>(_mm_movemask_epi8(lead));
    unsigned run_starts = high & ~((high << 1) | previous_high);
    previous_high = high >> 15;
    high_seen |= high != 0;
    if (run_starts == 0) continue;
    __m128i trail = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i + 1)), flip);
    lead = _mm_xor_si128(lead, flip);
    __m128i trail_7bit = in_range(trail, 0x40, 0x7E);
    __m128i first = _mm_and_si128(in_range(lead, 0x81, 0x9F), _mm_or_si128(trail_7bit, in_range(trail, 0x80, 0xFC)));
    __m128i second = _mm_and_si128(in_range(lead, 0xE0, 0xFC), _mm_or_si128(trail_7bit, in_range(trail, 0xC0, 0xFC)));
    unsigned hits = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(first, second)));
    if (hits & run_starts) return PairScan::kShiftJis;
  }
#endif
  for (; i + 1 < length; ++i) {
    if (bytes[i] < 0x80) continue;
    high_seen = true;
    bool run_start = i == 0 || bytes[i - 1] < 0x80;
    if (run_start && IsShiftJisPair(bytes[i], bytes[i + 1])) return PairScan::kShiftJis;
  }
  return high_seen ? PairScan::kHighBytes : PairScan::kSevenBit;
}

// ---- GuessEncoding, pass 2 ---------------------------------------------------------------------------

// True when the UTF-8 count over the whole buffer meets no invalid byte and at least one valid sequence.
bool CountsAsUtf8(const std::uint8_t* bytes, std::size_t length, KernelLevel level) {
  bool valid_seen = false;
  std::size_t i = 0;  // where the count stands: a position it reaches
  while (i < length) {
#if defined(OCELO_X86_KERNELS)
    if (level >= KernelLevel::kAvx512) {
      i = detail::SkipUtf8ShapedAvx512(bytes, i, length, valid_seen);
    } else if (level == KernelLevel::kAvx2) {
      i = detail::SkipUtf8ShapedAvx2(bytes, i, length, valid_seen);
    }
#else
    (void)level;
#endif
    // Blocks from i on, while they keep the shape of complete sequences.
    std::size_t block = i;
#if defined(__SSE2__)
    bool leads_before_last = false;  // leads in the blocks before the last one that passed
    unsigned last_leads = 0;         // the leads of the last block that passed
    unsigned carry = 0;              // continuation bytes asked for by leads of earlier blocks
    for (; block + 16 <= length; block += 16) {
      __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + block));
      // Signed lanes: 80..BF < C0..DF < E0..EF < F0..F7 < F8..FB < FC..FD < FE..FF, all below 00..7F.
      auto at_least = [&](int byte) {
        return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpgt_epi8(v, _mm_set1_epi8(static_cast<char>(byte - 1)))));
      };
      // Each lead asks for the continuation bytes after it: C0 and up one, E0 and up a second, ...
      unsigned high = static_cast<unsigned>(_mm_movemask_epi8(v));
      unsigned leads = at_least(0xC0) & high;
      unsigned asks_two = at_least(0xE0) & high;
      unsigned asks_three = at_least(0xF0) & high;
      unsigned asked = carry | leads << 1 | asks_two << 2 | asks_three << 3;
      if (asks_three != 0) {
        unsigned invalid = at_least(0xFE) & high;
        if (invalid != 0) break;
        asked |= (at_least(0xF8) & high) << 4 | (at_least(0xFC) & high) << 5;
      }
      unsigned continuation = high & ~leads;
      if ((asked & 0xFFFF) != continuation) break;
      carry = asked >> 16;
      leads_before_last |= last_leads != 0;
      last_leads = leads;
    }
    // The count reaches every byte of [i, block) that is not a continuation byte; it resumes at the
    // last of them, whose sequence may reach past the blocks. The leads before it were all valid.
    std::size_t resume = block;
    while (resume > i && IsContinuation(bytes[resume - 1])) --resume;
    if (resume > i) --resume;
    if (resume > i) {
      unsigned below = (1u << (resume - (block - 16))) - 1;
      valid_seen |= leads_before_last || (last_leads & below) != 0;
    }
    i = resume;
#endif
    // The plain count, from there to past the block that broke the shape (or to the end).
    std::size_t stop = block + 16;
    while (i < length && i < stop) {
      int needed = ContinuationsNeeded(bytes[i]);
      if (needed < 0) return false;  // one invalid byte decides
      if (needed == 0) {
        ++i;
        continue;
      }
      bool complete = i + needed < length;
      for (int k = 1; complete && k <= needed; ++k) complete = IsContinuation(bytes[i + k]);
      if (complete) {
        valid_seen = true;
        i += needed + 1;
      } else {
        ++i;
      }
    }
  }
  return valid_seen;
}

// The scalar UTF-8 count over a stretch that starts where the count stands and ends at the end of the
// buffer or before a byte that is no continuation byte (so no sequence reaches past it): whether it meets
// an invalid byte, and whether it meets a complete sequence.
void CountUtf8Stretch(const std::uint8_t* bytes, std::size_t length, bool& invalid, bool& valid) {
  std::size_t i = 0;
  while (i < length) {
    const int needed = ContinuationsNeeded(bytes[i]);
    if (needed < 0) {
      invalid = true;
      return;
    }
    bool complete = i + needed < length;
    for (int k = 1; complete && k <= needed; ++k) complete = IsContinuation(bytes[i + k]);
    if (needed > 0 && complete) {
      valid = true;
      i += needed + 1;
    } else {
      ++i;
    }
  }
}

// ---- declarations ------------------------------------------------------------------------------------

constexpr std::size_t kEntriesScanned = 10;
constexpr std::size_t kValueWindow = 20;

EncodingKind KindOfValue(std::u16string_view window) {
  if (ContainsIgnoringAsciiCase(window, u"UTF-8")) return kind::Utf8;
  if (ContainsIgnoringAsciiCase(window, u"UTF-16")) return kind::Utf16Le;
  if (ContainsIgnoringAsciiCase(window, u"Shift_JIS")) return kind::ShiftJis;
  return kind::Copy;
}

// The first entry holding `tag` and, after it, `key` decides: the value is the 20 characters after the
// next "=", or the entry's first 20 characters when no "=" follows.
EncodingKind FindDeclaration(std::span<const std::u16string_view> entries, std::u16string_view tag,
                             std::u16string_view key) {
  constexpr std::size_t npos = std::u16string_view::npos;
  for (const std::u16string_view entry : entries) {
    std::size_t at_tag = FindText(entry, tag);
    if (at_tag == npos) continue;
    std::size_t at_key = FindText(entry, key, at_tag + tag.size());
    if (at_key == npos) continue;
    std::size_t at_equals = FindText(entry, u"=", at_key + key.size());
    return KindOfValue(at_equals == npos ? entry.substr(0, kValueWindow) : entry.substr(at_equals + 1, kValueWindow));
  }
  return kind::Copy;
}

EncodingKind FindVrmlHeader(std::span<const std::u16string_view> entries) {
  constexpr std::size_t npos = std::u16string_view::npos;
  for (const std::u16string_view entry : entries) {
    if (FindText(entry, u"VRML") != npos || FindText(entry, u"X3D") != npos) {
      return FindText(entry, u"utf8") != npos ? kind::Utf8 : kind::Copy;
    }
  }
  return kind::Copy;
}

}  // namespace

Detection DetectEncoding(std::span<const std::uint8_t> bytes) {
  // Past the end a byte reads as FF, and a mark counts only when all of its bytes are there.
  const std::size_t length = bytes.size();
  auto at = [&](std::size_t k) -> std::uint8_t { return k < length ? bytes[k] : 0xFF; };
  if (length >= 2 && at(0) == 0xFF && at(1) == 0xFE) {
    if (length >= 4 && at(2) == 0x00 && at(3) == 0x00) return {kind::Utf32Le, 4};
    return {kind::Utf16Le, 2};
  }
  if (length >= 4 && at(0) == 0x00 && at(1) == 0x00 && at(2) == 0xFE && at(3) == 0xFF) return {kind::Utf32Be, 4};
  if (length >= 3 && at(0) == 0xEF && at(1) == 0xBB && at(2) == 0xBF) return {kind::Utf8, 3};
  if (length >= 2 && at(0) == 0xFE && at(1) == 0xFF) return {kind::Utf16Be, 2};
  return {GuessEncoding(bytes), 0};
}

EncodingKind GuessEncoding(std::span<const std::uint8_t> bytes) {
  const KernelLevel level = ActiveKernelLevel();
  if (level == KernelLevel::kScalar) return GuessEncodingScalar(bytes);
  switch (ScanShiftJisPairs(bytes.data(), bytes.size(), level)) {
    case PairScan::kShiftJis: return kind::ShiftJis;
    case PairScan::kSevenBit: return kind::Ascii;
    case PairScan::kHighBytes: break;
  }
  return CountsAsUtf8(bytes.data(), bytes.size(), level) ? kind::Utf8 : kind::Copy;
}

EncodingKind GuessEncodingScalar(std::span<const std::uint8_t> bytes) {
  const std::size_t length = bytes.size();

  // Pass 1: Shift_JIS pairs. The last byte is only ever looked at as a trail.
  bool seven_bit = true;
  std::size_t i = 1;
  while (i < length) {
    std::uint8_t lead = bytes[i - 1];
    std::uint8_t trail = bytes[i];
    if (lead < 0x80) {
      ++i;
      continue;
    }
    seven_bit = false;
    if (IsShiftJisPair(lead, trail)) return kind::ShiftJis;
    ++i;
    if (trail >= 0x80) {
      while (i < length && bytes[i] >= 0x80) ++i;  // the rest of the run of high bytes
    }
    ++i;
  }
  if (seven_bit) return kind::Ascii;

  // Pass 2: the UTF-8 count. A lead without all its continuation bytes counts neither way.
  std::size_t valid = 0;
  std::size_t invalid = 0;
  i = 0;
  while (i < length) {
    int needed = ContinuationsNeeded(bytes[i]);
    if (needed < 0) {
      ++invalid;
      ++i;
      continue;
    }
    bool complete = true;
    for (int k = 1; k <= needed; ++k) {
      if (i + k >= length || !IsContinuation(bytes[i + k])) complete = false;
    }
    if (needed > 0 && complete) {
      ++valid;
      i += needed + 1;
    } else {
      ++i;
    }
  }
  return invalid == 0 && valid > 0 ? kind::Utf8 : kind::Copy;
}

// The pair scan needs the byte after each lead, and the UTF-8 count the bytes after each lead it
// reaches: each piece settles what the bytes before it left open. The count always reaches a byte that is
// no continuation byte (its jumps cross continuation bytes only), and a count over a stretch that ends
// before such a byte is the count of the whole buffer over that stretch.
void EncodingDetector::Add(std::span<const std::uint8_t> piece) {
  const std::uint8_t* b = piece.data();
  const std::size_t n = piece.size();
  if (n == 0) return;
  for (std::size_t k = 0; k < n && length_ + k < 4; ++k) head_[length_ + k] = b[k];

  if (!shift_jis_) {
    // The last byte of the pieces before is a lead now that its trail has come.
    const bool continues_run = length_ > 0 && last_ >= 0x80;
    if (continues_run) {
      high_seen_ = true;
      if (last_starts_run_ && IsShiftJisPair(last_, b[0])) shift_jis_ = true;
    }
    // A run of high bytes that started before this piece holds no run start.
    std::size_t k = 0;
    if (continues_run) {
      while (k < n && b[k] >= 0x80) ++k;
      if (k > 0 && n >= 2) high_seen_ = true;
    }
    if (!shift_jis_ && k < n) {
      switch (ScanShiftJisPairs(b + k, n - k, ActiveKernelLevel())) {
        case PairScan::kShiftJis: shift_jis_ = true; break;
        case PairScan::kHighBytes: high_seen_ = true; break;
        case PairScan::kSevenBit: break;
      }
    }
    last_starts_run_ = b[n - 1] >= 0x80 && (n >= 2 ? b[n - 2] < 0x80 : !continues_run);
  }
  last_ = b[n - 1];
  length_ += n;

  if (utf8_invalid_) return;
  std::size_t j = 0;
  if (pending_length_ > 0) {
    while (j < n && IsContinuation(b[j]) && pending_length_ < sizeof pending_) pending_[pending_length_++] = b[j++];
    if (j == n && pending_length_ < sizeof pending_) return;
    // Followed by a byte that is no continuation byte, or too long to hold anything but an invalid byte.
    CountPending();
    if (utf8_invalid_) return;
  }
  if (j == n) return;
  std::size_t m = n - 1;  // the last byte that is no continuation byte: the count reaches it
  while (m > j && IsContinuation(b[m])) --m;
  if (m > j) {
    if (CountsAsUtf8(b + j, m - j, ActiveKernelLevel())) {
      utf8_valid_ = true;
    } else {
      std::uint8_t any = 0;
      for (std::size_t k = j; k < m; ++k) any |= b[k];
      if (any >= 0x80) CountUtf8Stretch(b + j, m - j, utf8_invalid_, utf8_valid_);
      if (utf8_invalid_) return;
    }
  }
  pending_length_ = std::min(n - m, sizeof pending_);
  std::copy_n(b + m, pending_length_, pending_);
  if (n - m >= sizeof pending_) CountPending();
}

void EncodingDetector::CountPending() {
  CountUtf8Stretch(pending_, pending_length_, utf8_invalid_, utf8_valid_);
  pending_length_ = 0;
}

bool EncodingDetector::Decided() const {
  if (length_ < 4) return false;
  return Result().mark_length != 0 || shift_jis_;
}

Detection EncodingDetector::Result() const {
  const std::uint64_t length = length_;
  auto at = [&](std::size_t k) -> std::uint8_t { return k < length ? head_[k] : 0xFF; };
  if (length >= 2 && at(0) == 0xFF && at(1) == 0xFE) {
    if (length >= 4 && at(2) == 0x00 && at(3) == 0x00) return {kind::Utf32Le, 4};
    return {kind::Utf16Le, 2};
  }
  if (length >= 4 && at(0) == 0x00 && at(1) == 0x00 && at(2) == 0xFE && at(3) == 0xFF) return {kind::Utf32Be, 4};
  if (length >= 3 && at(0) == 0xEF && at(1) == 0xBB && at(2) == 0xBF) return {kind::Utf8, 3};
  if (length >= 2 && at(0) == 0xFE && at(1) == 0xFF) return {kind::Utf16Be, 2};
  if (shift_jis_) return {kind::ShiftJis, 0};
  if (!high_seen_) return {kind::Ascii, 0};
  EncodingDetector rest = *this;
  if (!rest.utf8_invalid_ && rest.pending_length_ > 0) rest.CountPending();
  return {rest.utf8_valid_ && !rest.utf8_invalid_ ? kind::Utf8 : kind::Copy, 0};
}

EncodingKind FindDeclaredEncoding(std::span<const std::u16string_view> texts) {
  const std::span<const std::u16string_view> entries = texts.first(std::min(texts.size(), kEntriesScanned));
  if (EncodingKind found = FindDeclaration(entries, u"xml", u"encoding")) return found;
  if (EncodingKind found = FindDeclaration(entries, u"html", u"charset")) return found;
  return FindVrmlHeader(entries);
}

EncodingKind FindDeclaredEncoding(const std::vector<std::u16string>& texts) {
  std::vector<std::u16string_view> views(texts.begin(), texts.begin() + std::min(texts.size(), kEntriesScanned));
  return FindDeclaredEncoding(std::span<const std::u16string_view>(views));
}

EncodingKind DeclaredValueKind(std::u16string_view value) { return KindOfValue(value.substr(0, kValueWindow)); }

bool HasXmlDeclaration(std::u16string_view text) { return FindText(text, u"<?xml") != std::u16string_view::npos; }

}  // namespace ocelo
