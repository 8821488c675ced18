// UTF-8 to UTF-16 and back: plain reference converters and the fast ones the program uses.
//
// The fast converters size their output with a counting pass, then convert in steps: a run of ASCII
// (SSE2, up to 32 bytes or 16 units), then a run of up to eight 2-byte and a run of up to eight 3-byte
// sequences where those start; one sequence with the reference step where no run moves (4-byte forms,
// malformed input). Japanese text is mostly ASCII markup and 3-byte runs in turn. Where a step ends
// depends on the data, so a stream of steps waits on itself; a large input is therefore cut at
// character starts into four parts whose steps are interleaved, each part writing its own slice of
// the output, placed by the counting pass. Malformed bytes upset those counts: the decoder then starts
// over in one stream. With AVX2 the parts take steps twice as wide, and the encoder takes sixteen units a
// step whatever their mix (utf8_avx2.cpp).
#include "encoding/utf8.h"

#include <algorithm>
#include <cstring>

#include "base/utf.h"
#include "encoding/cpu_level.h"
#include "encoding/simd_kernels.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ocelo {
namespace {

// Inputs of at least this many bytes or units are converted as four interleaved parts.
constexpr std::size_t kPartedMinimum = 1024;
constexpr int kParts = 4;

bool IsContinuation(std::uint8_t byte) { return (byte & 0xC0) == 0x80; }

// Decodes one character or one maximal ill-formed subsequence starting at `p` (p < end), writes one or
// two units to `out`, and returns the position after it. A subsequence that stops being a valid prefix
// of a character becomes one U+FFFD and decoding resumes at the byte that broke it.
// With `kStrict`, a malformed subsequence writes nothing and gives nullptr instead.
template <bool kStrict = false>
const std::uint8_t* DecodeOne(const std::uint8_t* p, const std::uint8_t* end, char16_t*& out) {
  const DecodedChar c = DecodeUtf8Char(p, end);
  if (kStrict && !c.valid) return nullptr;
  out += EncodeUtf16Char(c.code_point, out);
  return p + c.length;
}

// Encodes the character starting at `p` (p < end): a surrogate pair to four bytes, a lone surrogate to
// EF BF BD. Returns the position after the units used.
const char16_t* EncodeOne(const char16_t* p, const char16_t* end, std::uint8_t*& out) {
  const DecodedChar c = DecodeUtf16Char(p, end);
  out += EncodeUtf8Char(c.valid ? c.code_point : kReplacementCharacter, out);
  return p + c.length;
}

// ---- sizing ------------------------------------------------------------------------------------------

// The units that decoding produces when the bytes are well-formed: one per byte that is not a
// continuation byte, two for each 4-byte lead. Malformed input produces no more than this, except that
// every stray continuation byte adds one U+FFFD of its own.
std::size_t CountDecodedUnits(const std::uint8_t* p, const std::uint8_t* end) {
  std::size_t count = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  const __m128i one = _mm_set1_epi8(1);
  const __m128i below_c0 = _mm_set1_epi8(static_cast<char>(0xC0));
  const __m128i above_ef = _mm_set1_epi8(static_cast<char>(0xEF));
  while (end - p >= 16) {
    // Per byte 0, 1 or 2 is added; 127 blocks stay below 256 per byte lane.
    __m128i sums = zero;
    for (int block = 0; block < 127 && end - p >= 16; ++block, p += 16) {
      __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      __m128i continuation = _mm_cmplt_epi8(v, below_c0);  // 80..BF: signed below C0
      __m128i four_lead = _mm_and_si128(_mm_cmpgt_epi8(v, above_ef), _mm_cmplt_epi8(v, zero));  // F0..FF
      __m128i units = _mm_sub_epi8(_mm_add_epi8(one, continuation), four_lead);
      sums = _mm_add_epi8(sums, units);
    }
    __m128i total = _mm_sad_epu8(sums, zero);
    count += static_cast<std::size_t>(_mm_cvtsi128_si32(total)) +
             static_cast<std::size_t>(_mm_cvtsi128_si32(_mm_srli_si128(total, 8)));
  }
#endif
  for (; p < end; ++p) count += !IsContinuation(*p) + (*p >= 0xF0);
  return count;
}

// The bytes that encoding produces: 1, 2 or 3 per unit, 4 per surrogate pair (a high surrogate
// followed by a low one), 3 per lone surrogate.
std::size_t CountEncodedBytes(const char16_t* p, const char16_t* end) {
  std::size_t count = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  const __m128i three = _mm_set1_epi16(3);
  const __m128i mask_two = _mm_set1_epi16(static_cast<short>(0xFF80));
  const __m128i mask_three = _mm_set1_epi16(static_cast<short>(0xF800));
  const __m128i mask_surrogate = _mm_set1_epi16(static_cast<short>(0xFC00));
  const __m128i high_surrogate = _mm_set1_epi16(static_cast<short>(0xD800));
  const __m128i low_surrogate = _mm_set1_epi16(static_cast<short>(0xDC00));
  while (end - p >= 9) {
    // Per lane at most 3 is added; 8192 blocks stay below 65536.
    __m128i sums = zero;
    for (int block = 0; block < 8192 && end - p >= 9; ++block, p += 8) {
      __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
      __m128i one_byte = _mm_cmpeq_epi16(_mm_and_si128(v, mask_two), zero);     // -1 below U+0080
      __m128i two_bytes = _mm_cmpeq_epi16(_mm_and_si128(v, mask_three), zero);  // -1 below U+0800
      __m128i pair = _mm_and_si128(_mm_cmpeq_epi16(_mm_and_si128(v, mask_surrogate), high_surrogate),
                                   _mm_cmpeq_epi16(_mm_and_si128(next, mask_surrogate), low_surrogate));
      __m128i lane = _mm_add_epi16(_mm_add_epi16(three, _mm_add_epi16(one_byte, two_bytes)), _mm_add_epi16(pair, pair));
      sums = _mm_add_epi16(sums, lane);
    }
    // Lanes hold up to 65535: widen as unsigned before adding them up.
    __m128i total = _mm_add_epi32(_mm_and_si128(sums, _mm_set1_epi32(0xFFFF)), _mm_srli_epi32(sums, 16));
    alignas(16) std::uint32_t lanes[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), total);
    count += std::size_t{lanes[0]} + lanes[1] + lanes[2] + lanes[3];
  }
#endif
  for (; p < end; ++p) {
    count += 1 + (*p >= 0x80) + (*p >= 0x800);
    if (IsHighSurrogate(*p) && p + 1 < end && IsLowSurrogate(p[1])) count -= 2;
  }
  return count;
}

// ---- decoding runs -----------------------------------------------------------------------------------
// Each run converts what fits at `p` and returns how many characters (bytes for ASCII) it took. It may
// write units past what it takes, and reads ahead: the callers keep room and input to spare.

#if defined(__SSE2__)

// Well-formed 2-byte sequences at p, up to 8 (reads 16 bytes, writes 8 units).
inline int DecodeTwoByteRun(const std::uint8_t* p, char16_t* out) {
  __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));  // lanes: lead | trail << 8
  __m128i shape = _mm_cmpeq_epi16(_mm_and_si128(v, _mm_set1_epi16(static_cast<short>(0xC0E0))),
                                  _mm_set1_epi16(static_cast<short>(0x80C0)));
  __m128i code = _mm_or_si128(_mm_slli_epi16(_mm_and_si128(v, _mm_set1_epi16(0x1F)), 6),
                              _mm_and_si128(_mm_srli_epi16(v, 8), _mm_set1_epi16(0x3F)));
  __m128i not_overlong = _mm_cmpgt_epi16(code, _mm_set1_epi16(0x7F));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), code);
  unsigned ok = static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(shape, not_overlong)));
  return __builtin_ctz(~ok) / 2;
}

// Four 3-byte sequences from 12 bytes at p into 32-bit lanes: their code points, and all-ones in `ok`
// for each lane that is a well-formed sequence (no overlong form, no surrogate).
inline __m128i DecodeFourThreeByte(const std::uint8_t* p, __m128i& ok) {
  // Bytes 0-5 in the low half, 6-11 in the high half; then each half's two sequences to two lanes.
  __m128i x = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)),
                                 _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + 6)));
  __m128i lanes = _mm_or_si128(_mm_and_si128(x, _mm_set_epi32(0, 0xFFFFFF, 0, 0xFFFFFF)),
                               _mm_and_si128(_mm_slli_epi64(x, 8), _mm_set_epi32(0xFFFFFF, 0, 0xFFFFFF, 0)));
  __m128i shape = _mm_cmpeq_epi32(_mm_and_si128(lanes, _mm_set1_epi32(0xC0C0F0)), _mm_set1_epi32(0x8080E0));
  __m128i code = _mm_or_si128(_mm_or_si128(_mm_slli_epi32(_mm_and_si128(lanes, _mm_set1_epi32(0x0F)), 12),
                                           _mm_srli_epi32(_mm_and_si128(lanes, _mm_set1_epi32(0x3F00)), 2)),
                              _mm_and_si128(_mm_srli_epi32(lanes, 16), _mm_set1_epi32(0x3F)));
  __m128i not_overlong = _mm_cmpgt_epi32(code, _mm_set1_epi32(0x7FF));
  __m128i surrogate = _mm_cmpeq_epi32(_mm_and_si128(code, _mm_set1_epi32(0xF800)), _mm_set1_epi32(0xD800));
  ok = _mm_andnot_si128(surrogate, _mm_and_si128(shape, not_overlong));
  return code;
}

// Well-formed 3-byte sequences at p, up to 8 (reads 26 bytes, writes 8 units).
inline int DecodeThreeByteRun(const std::uint8_t* p, char16_t* out) {
  __m128i ok_low, ok_high;
  __m128i low = DecodeFourThreeByte(p, ok_low);
  __m128i high = DecodeFourThreeByte(p + 12, ok_high);
  // Pack the 32-bit code points to 16 bits; the pack saturates signed, so shift the range first.
  const __m128i bias = _mm_set1_epi32(0x8000);
  __m128i units = _mm_packs_epi32(_mm_sub_epi32(low, bias), _mm_sub_epi32(high, bias));
  units = _mm_xor_si128(units, _mm_set1_epi16(static_cast<short>(0x8000)));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), units);
  unsigned ok = static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(ok_low))) |
                static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(ok_high))) << 4;
  return __builtin_ctz(~ok);
}

// ASCII bytes at p, up to 32 (writes 32 units).
inline int DecodeAsciiRun(const std::uint8_t* p, char16_t* out) {
  const __m128i zero = _mm_setzero_si128();
  __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi8(a, zero));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8), _mm_unpackhi_epi8(a, zero));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), _mm_unpacklo_epi8(b, zero));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 24), _mm_unpackhi_epi8(b, zero));
  std::uint64_t high = static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(a))) |
                       static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(b))) << 16 |
                       std::uint64_t{1} << 32;
  return __builtin_ctzll(high);
}

#else  // portable: ASCII eight bytes at a time, everything else one sequence at a time

inline int DecodeAsciiRun(const std::uint8_t* p, char16_t* out) {
  int n = 0;
  while (n < 32) {
    std::uint64_t word;
    std::memcpy(&word, p + n, 8);
    if (word & 0x8080808080808080ull) break;
    for (int k = 0; k < 8; ++k) out[n + k] = p[n + k];
    n += 8;
  }
  while (n < 32 && p[n] < 0x80) {
    out[n] = p[n];
    ++n;
  }
  return n;
}
inline int DecodeTwoByteRun(const std::uint8_t*, char16_t*) { return 0; }
inline int DecodeThreeByteRun(const std::uint8_t*, char16_t*) { return 0; }

#endif

// A step needs this many bytes ahead of `p`, and room for this many units at `out`.
constexpr std::ptrdiff_t kDecodeAhead = 96;
constexpr std::ptrdiff_t kDecodeRoom = 48;

// An ASCII run, then a run of 2-byte and a run of 3-byte sequences where one starts. Returns false when
// nothing moved.
inline bool DecodeStep(const std::uint8_t*& p, char16_t*& out) {
  int ascii = DecodeAsciiRun(p, out);
  p += ascii;
  out += ascii;
  int two = 0;
  if ((*p & 0xE0) == 0xC0) {
    two = DecodeTwoByteRun(p, out);
    p += 2 * two;
    out += two;
  }
  int three = 0;
  if ((*p & 0xF0) == 0xE0) {
    three = DecodeThreeByteRun(p, out);
    p += 3 * three;
    out += three;
  }
  return ascii + two + three != 0;
}

// One step, or one character where the step does not move. False at malformed bytes.
inline bool DecodeWellFormed(const std::uint8_t*& p, const std::uint8_t* end, char16_t*& out) {
  if (DecodeStep(p, out)) return true;
  p = DecodeOne<true>(p, end, out);
  return p != nullptr;
}

// A stretch of input and the slice of output it decodes to.
struct DecodePart {
  const std::uint8_t* in;
  const std::uint8_t* in_end;
  char16_t* out;
  char16_t* out_end;
  bool Ready() const { return in_end - in >= kDecodeAhead && out_end - out >= kDecodeRoom; }
};

// The whole input in interleaved parts; false (with the text unfinished) at the first malformed byte,
// where the output slices no longer line up with the counts.
bool DecodeInParts(const std::uint8_t* begin, const std::uint8_t* end, std::u16string& text) {
  // Decoding can start afresh at any byte that is not a continuation byte: cut there.
  const std::uint8_t* cuts[kParts + 1] = {begin};
  std::size_t offsets[kParts + 1] = {0};
  const std::size_t length = static_cast<std::size_t>(end - begin);
  for (int k = 1; k <= kParts; ++k) {
    const std::uint8_t* cut = begin + length * static_cast<std::size_t>(k) / kParts;
    while (cut < end && IsContinuation(*cut)) ++cut;
    cuts[k] = cut;
    offsets[k] = offsets[k - 1] + CountDecodedUnits(cuts[k - 1], cut);
  }
  text.resize(offsets[kParts] + kDecodeRoom);
  DecodePart parts[kParts];
  for (int k = 0; k < kParts; ++k) {
    parts[k] = {cuts[k], cuts[k + 1], text.data() + offsets[k], text.data() + offsets[k + 1]};
  }
  auto all_ready = [&] {
    bool ready = true;
    for (const DecodePart& part : parts) ready &= part.Ready();
    return ready;
  };
#if defined(OCELO_X86_KERNELS)
  // With AVX2 wider steps run while they can; a part they stop at takes one character here.
  if (ActiveKernelLevel() >= KernelLevel::kAvx2) {
    detail::Utf8Part wide[kParts];
    for (int k = 0; k < kParts; ++k) wide[k] = {parts[k].in, parts[k].in_end, parts[k].out, parts[k].out_end};
    for (int k; (k = detail::DecodeUtf8PartsAvx2(wide, kParts)) >= 0;) {
      wide[k].in = DecodeOne<true>(wide[k].in, wide[k].in_end, wide[k].out);
      if (wide[k].in == nullptr) return false;
    }
    for (int k = 0; k < kParts; ++k) {
      parts[k].in = wide[k].in;
      parts[k].out = wide[k].out;
    }
  }
#endif
  while (all_ready()) {
    for (DecodePart& part : parts) {
      if (!DecodeWellFormed(part.in, part.in_end, part.out)) return false;
    }
  }
  for (DecodePart& part : parts) {
    while (part.Ready()) {
      if (!DecodeWellFormed(part.in, part.in_end, part.out)) return false;
    }
    // The last bytes one at a time, writing nothing past the slice.
    while (part.in < part.in_end) {
      part.in = DecodeOne<true>(part.in, part.in_end, part.out);
      if (part.in == nullptr) return false;
    }
    if (part.out != part.out_end) return false;
  }
  text.resize(offsets[kParts]);
  return true;
}

// The whole input in one stream, malformed bytes included.
void DecodeInOneStream(const std::uint8_t* p, const std::uint8_t* end, std::u16string& text) {
  // Room beyond the count of units for the stores of the runs. Every stray continuation byte spends
  // one unit of it; when it runs low the text grows.
  constexpr std::size_t kSlack = 2 * kDecodeRoom;
  text.resize(CountDecodedUnits(p, end) + kSlack);
  char16_t* out = text.data();
  std::size_t slack = kSlack;
  while (p < end) {
    if (end - p >= kDecodeAhead && DecodeStep(p, out)) continue;
    if (IsContinuation(*p) && --slack < static_cast<std::size_t>(kDecodeRoom)) {
      std::size_t used = static_cast<std::size_t>(out - text.data());
      std::size_t more = std::max(kSlack, text.size() / 4);
      text.resize(text.size() + more);
      out = text.data() + used;
      slack += more;
    }
    p = DecodeOne(p, end, out);
  }
  text.resize(static_cast<std::size_t>(out - text.data()));
}

// ---- encoding runs -----------------------------------------------------------------------------------

#if defined(__SSE2__)

// Units below U+0080 at p, up to 16 (writes 16 bytes).
inline int EncodeAsciiRun(const char16_t* p, std::uint8_t* out) {
  __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8));
  const __m128i mask = _mm_set1_epi16(static_cast<short>(0xFF80));
  const __m128i zero = _mm_setzero_si128();
  __m128i ascii = _mm_packs_epi16(_mm_cmpeq_epi16(_mm_and_si128(a, mask), zero),
                                  _mm_cmpeq_epi16(_mm_and_si128(b, mask), zero));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(a, b));
  unsigned other = ~static_cast<unsigned>(_mm_movemask_epi8(ascii));  // bit 16 and up always set
  return __builtin_ctz(other);
}

// Units U+0080..U+07FF at p, up to 8 (writes 16 bytes).
inline int EncodeTwoByteRun(const char16_t* p, std::uint8_t* out) {
  __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i zero = _mm_setzero_si128();
  __m128i below_80 = _mm_cmpeq_epi16(_mm_and_si128(v, _mm_set1_epi16(static_cast<short>(0xFF80))), zero);
  __m128i below_800 = _mm_cmpeq_epi16(_mm_and_si128(v, _mm_set1_epi16(static_cast<short>(0xF800))), zero);
  __m128i lead = _mm_or_si128(_mm_srli_epi16(v, 6), _mm_set1_epi16(0xC0));
  __m128i trail = _mm_or_si128(_mm_and_si128(v, _mm_set1_epi16(0x3F)), _mm_set1_epi16(0x80));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_or_si128(lead, _mm_slli_epi16(trail, 8)));
  unsigned ok = static_cast<unsigned>(_mm_movemask_epi8(_mm_andnot_si128(below_80, below_800)));
  return __builtin_ctz(~ok) / 2;
}

// Units U+0800..U+FFFF other than surrogates at p, up to 8 (writes 26 bytes).
inline int EncodeThreeByteRun(const char16_t* p, std::uint8_t* out) {
  __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i zero = _mm_setzero_si128();
  __m128i top = _mm_and_si128(v, _mm_set1_epi16(static_cast<short>(0xF800)));
  __m128i bad = _mm_or_si128(_mm_cmpeq_epi16(top, zero),
                             _mm_cmpeq_epi16(top, _mm_set1_epi16(static_cast<short>(0xD800))));
  // Per unit the bytes b0 b1 b2: lanes of 16 bits hold b0 | b1 << 8, and b2.
  __m128i b0 = _mm_or_si128(_mm_srli_epi16(v, 12), _mm_set1_epi16(0xE0));
  __m128i b1 = _mm_or_si128(_mm_and_si128(_mm_srli_epi16(v, 6), _mm_set1_epi16(0x3F)), _mm_set1_epi16(0x80));
  __m128i b2 = _mm_or_si128(_mm_and_si128(v, _mm_set1_epi16(0x3F)), _mm_set1_epi16(0x80));
  __m128i b01 = _mm_or_si128(b0, _mm_slli_epi16(b1, 8));
  // 32-bit lanes b0 b1 b2 00, four units per register; then each 64-bit half's two lanes to 6 bytes.
  const __m128i keep_first = _mm_set_epi32(0, 0xFFFFFF, 0, 0xFFFFFF);
  const __m128i keep_second = _mm_set_epi32(0xFFFF, static_cast<int>(0xFF000000), 0xFFFF, static_cast<int>(0xFF000000));
  __m128i first = _mm_unpacklo_epi16(b01, b2);
  __m128i second = _mm_unpackhi_epi16(b01, b2);
  first = _mm_or_si128(_mm_and_si128(first, keep_first), _mm_and_si128(_mm_srli_epi64(first, 8), keep_second));
  second = _mm_or_si128(_mm_and_si128(second, keep_first), _mm_and_si128(_mm_srli_epi64(second, 8), keep_second));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(out), first);
  _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 6), _mm_srli_si128(first, 8));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 12), second);
  _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 18), _mm_srli_si128(second, 8));
  unsigned rejected = static_cast<unsigned>(_mm_movemask_epi8(bad)) | 0x10000;
  return __builtin_ctz(rejected) / 2;
}

#else

inline int EncodeAsciiRun(const char16_t* p, std::uint8_t* out) {
  int n = 0;
  while (n < 16 && p[n] < 0x80) {
    out[n] = static_cast<std::uint8_t>(p[n]);
    ++n;
  }
  return n;
}
inline int EncodeTwoByteRun(const char16_t*, std::uint8_t*) { return 0; }
inline int EncodeThreeByteRun(const char16_t*, std::uint8_t*) { return 0; }

#endif

// A step needs this many units ahead of `p`, and room for this many bytes at `out`.
constexpr std::ptrdiff_t kEncodeAhead = 48;
constexpr std::ptrdiff_t kEncodeRoom = 64;

// An ASCII run, a run of 2-byte characters when one starts there, then a run of 3-byte characters;
// one character where none of them moves.
inline void EncodeStep(const char16_t*& p, const char16_t* end, std::uint8_t*& out) {
  int ascii = EncodeAsciiRun(p, out);
  p += ascii;
  out += ascii;
  int two = 0;
  if (*p >= 0x80 && *p < 0x800) {
    two = EncodeTwoByteRun(p, out);
    p += two;
    out += 2 * two;
  }
  int three = 0;
  if (*p >= 0x800) {
    three = EncodeThreeByteRun(p, out);
    p += three;
    out += 3 * three;
  }
  if (ascii + two + three == 0) p = EncodeOne(p, end, out);
}

#if defined(OCELO_X86_KERNELS)
void EncodeUtf8Avx2(std::u16string_view text, std::vector<std::uint8_t>& bytes) {
  bytes.resize(detail::CountUtf8BytesAvx2(text.data(), text.size()) + 32);
  const std::uint8_t* end = detail::EncodeUtf8Avx2(text.data(), text.size(), bytes.data());
  bytes.resize(static_cast<std::size_t>(end - bytes.data()));
}
#endif

struct EncodePart {
  const char16_t* in;
  const char16_t* in_end;
  std::uint8_t* out;
  std::uint8_t* out_end;
  bool Ready() const { return in_end - in >= kEncodeAhead && out_end - out >= kEncodeRoom; }
};

}  // namespace

std::u16string DecodeUtf8Scalar(std::span<const std::uint8_t> bytes) {
  std::u16string text(bytes.size(), u'\0');  // no more units than bytes
  const std::uint8_t* p = bytes.data();
  const std::uint8_t* end = p + bytes.size();
  char16_t* out = text.data();
  while (p < end) p = DecodeOne(p, end, out);
  text.resize(static_cast<std::size_t>(out - text.data()));
  return text;
}

std::u16string DecodeUtf8(std::span<const std::uint8_t> bytes) {
  std::u16string text;
  DecodeUtf8Into(bytes, text);
  return text;
}

void DecodeUtf8Into(std::span<const std::uint8_t> bytes, std::u16string& text) {
  if (ActiveKernelLevel() == KernelLevel::kScalar) {
    text = DecodeUtf8Scalar(bytes);
    return;
  }
  const std::uint8_t* begin = bytes.data();
  const std::uint8_t* end = begin + bytes.size();
  if (bytes.size() >= kPartedMinimum) {
    if (DecodeInParts(begin, end, text)) return;
  }
  DecodeInOneStream(begin, end, text);
}

std::vector<std::uint8_t> EncodeUtf8Scalar(std::u16string_view text) {
  std::vector<std::uint8_t> bytes(text.size() * 3);  // no more than three bytes per unit
  const char16_t* p = text.data();
  const char16_t* end = p + text.size();
  std::uint8_t* out = bytes.data();
  while (p < end) p = EncodeOne(p, end, out);
  bytes.resize(static_cast<std::size_t>(out - bytes.data()));
  return bytes;
}

std::vector<std::uint8_t> EncodeUtf8(std::u16string_view text) {
  std::vector<std::uint8_t> bytes;
  EncodeUtf8Into(text, bytes);
  return bytes;
}

void EncodeUtf8Into(std::u16string_view text, std::vector<std::uint8_t>& bytes) {
  const KernelLevel level = ActiveKernelLevel();
  if (level == KernelLevel::kScalar) {
    bytes = EncodeUtf8Scalar(text);
    return;
  }
#if defined(OCELO_X86_KERNELS)
  if (level >= KernelLevel::kAvx2) {
    EncodeUtf8Avx2(text, bytes);
    return;
  }
#endif
  const char16_t* begin = text.data();
  const char16_t* end = begin + text.size();
  // Parts cut where encoding can start afresh: anywhere but before a low surrogate. Counts are exact,
  // so each part's bytes end where the next part's begin.
  const int part_count = text.size() >= kPartedMinimum ? kParts : 1;
  const char16_t* cuts[kParts + 1] = {begin};
  std::size_t offsets[kParts + 1] = {0};
  for (int k = 1; k <= part_count; ++k) {
    const char16_t* cut = begin + text.size() * static_cast<std::size_t>(k) / static_cast<std::size_t>(part_count);
    while (cut < end && IsLowSurrogate(*cut)) ++cut;
    cuts[k] = cut;
    offsets[k] = offsets[k - 1] + CountEncodedBytes(cuts[k - 1], cut);
  }
  const std::size_t total = offsets[part_count];
  bytes.resize(total + kEncodeRoom);
  EncodePart parts[kParts];
  for (int k = 0; k < part_count; ++k) {
    parts[k] = {cuts[k], cuts[k + 1], bytes.data() + offsets[k], bytes.data() + offsets[k + 1]};
  }
  auto all_ready = [&] {
    bool ready = true;
    for (int k = 0; k < part_count; ++k) ready &= parts[k].Ready();
    return ready;
  };
  if (part_count == kParts) {
    while (all_ready()) {
      for (EncodePart& part : parts) EncodeStep(part.in, part.in_end, part.out);
    }
  }
  for (int k = 0; k < part_count; ++k) {
    EncodePart& part = parts[k];
    while (part.Ready()) EncodeStep(part.in, part.in_end, part.out);
    // The last units one at a time, writing nothing past the slice.
    while (part.in < part.in_end) part.in = EncodeOne(part.in, part.in_end, part.out);
  }
  bytes.resize(total);
}

}  // namespace ocelo
