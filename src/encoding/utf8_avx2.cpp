// UTF-16 to UTF-8 with AVX2: sixteen units a step whatever their mix of one-, two- and three-byte forms.
//
// Each unit's bytes are built in a 32-bit lane (lead, then continuation bytes), and a shuffle per four
// units, picked from a table by their lengths, packs the lanes' used bytes together. A step of sixteen
// units holding a surrogate goes unit by unit. Steps write past what they keep; callers leave room.
#include <immintrin.h>

#include "encoding/simd_kernels.h"

namespace ocelo::detail {
namespace {

// For four units with byte counts coded 0 (one byte), 1 (two) or 3 (three) in two bits each: the shuffle
// that keeps the first bytes of each 32-bit lane, and the bytes kept.
struct PackTables {
  std::uint8_t shuffle[256][16];
  std::uint8_t length[256];
};

constexpr PackTables MakePackTables() {
  PackTables tables{};
  for (int index = 0; index < 256; ++index) {
    int o = 0;
    for (int unit = 0; unit < 4; ++unit) {
      const int code = (index >> (2 * unit)) & 3;
      const int bytes = code == 0 ? 1 : code == 1 ? 2 : 3;
      for (int b = 0; b < bytes; ++b) tables.shuffle[index][o++] = static_cast<std::uint8_t>(4 * unit + b);
    }
    tables.length[index] = static_cast<std::uint8_t>(o);
    while (o < 16) tables.shuffle[index][o++] = 0x80;  // zero
  }
  return tables;
}

alignas(64) constexpr PackTables kPack = MakePackTables();

inline bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
inline bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// One character at `p` (p < end): a surrogate pair to four bytes, a lone surrogate to EF BF BD.
inline const char16_t* EncodeOne(const char16_t* p, const char16_t* end, std::uint8_t*& out) {
  std::uint32_t c = *p++;
  if (c < 0x80) {
    *out++ = static_cast<std::uint8_t>(c);
  } else if (c < 0x800) {
    *out++ = static_cast<std::uint8_t>(0xC0 | c >> 6);
    *out++ = static_cast<std::uint8_t>(0x80 | (c & 0x3F));
  } else if (IsHighSurrogate(static_cast<char16_t>(c)) && p < end && IsLowSurrogate(*p)) {
    c = 0x10000 + ((c - 0xD800) << 10) + (*p++ - 0xDC00u);
    *out++ = static_cast<std::uint8_t>(0xF0 | c >> 18);
    *out++ = static_cast<std::uint8_t>(0x80 | ((c >> 12) & 0x3F));
    *out++ = static_cast<std::uint8_t>(0x80 | ((c >> 6) & 0x3F));
    *out++ = static_cast<std::uint8_t>(0x80 | (c & 0x3F));
  } else {
    if (c >= 0xD800 && c <= 0xDFFF) c = 0xFFFD;
    *out++ = static_cast<std::uint8_t>(0xE0 | c >> 12);
    *out++ = static_cast<std::uint8_t>(0x80 | ((c >> 6) & 0x3F));
    *out++ = static_cast<std::uint8_t>(0x80 | (c & 0x3F));
  }
  return p;
}

inline __m256i Set16(int value) { return _mm256_set1_epi16(static_cast<short>(value)); }

}  // namespace

std::size_t CountUtf8BytesAvx2(const char16_t* p, std::size_t n) {
  const char16_t* end = p + n;
  std::size_t count = 0;
  const __m256i zero = _mm256_setzero_si256();
  while (end - p >= 17) {
    // Per lane at most 3 is added; 8192 blocks stay below 65536.
    __m256i sums = zero;
    for (int block = 0; block < 8192 && end - p >= 17; ++block, p += 16) {
      const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
      const __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 1));
      const __m256i one_byte = _mm256_cmpeq_epi16(_mm256_and_si256(v, Set16(0xFF80)), zero);   // -1 below U+0080
      const __m256i two_bytes = _mm256_cmpeq_epi16(_mm256_and_si256(v, Set16(0xF800)), zero);  // -1 below U+0800
      const __m256i pair = _mm256_and_si256(_mm256_cmpeq_epi16(_mm256_and_si256(v, Set16(0xFC00)), Set16(0xD800)),
                                            _mm256_cmpeq_epi16(_mm256_and_si256(next, Set16(0xFC00)), Set16(0xDC00)));
      const __m256i lane = _mm256_add_epi16(_mm256_add_epi16(Set16(3), _mm256_add_epi16(one_byte, two_bytes)),
                                            _mm256_add_epi16(pair, pair));
      sums = _mm256_add_epi16(sums, lane);
    }
    // Lanes hold up to 65535: widen as unsigned before adding them up.
    const __m256i wide = _mm256_add_epi32(_mm256_and_si256(sums, _mm256_set1_epi32(0xFFFF)),
                                          _mm256_srli_epi32(sums, 16));
    const __m128i half = _mm_add_epi32(_mm256_castsi256_si128(wide), _mm256_extracti128_si256(wide, 1));
    const __m128i quarter = _mm_add_epi32(half, _mm_srli_si128(half, 8));
    count += static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_add_epi32(quarter, _mm_srli_si128(quarter, 4))));
  }
  for (; p < end; ++p) {
    count += 1 + (*p >= 0x80) + (*p >= 0x800);
    if (IsHighSurrogate(*p) && p + 1 < end && IsLowSurrogate(p[1])) count -= 2;
  }
  return count;
}

std::uint8_t* EncodeUtf8Avx2(const char16_t* p, std::size_t n, std::uint8_t* out) {
  const char16_t* end = p + n;
  const __m256i zero = _mm256_setzero_si256();
  while (end - p >= 16) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    const __m256i one_byte = _mm256_cmpeq_epi16(_mm256_and_si256(v, Set16(0xFF80)), zero);
    const std::uint32_t ascii = static_cast<std::uint32_t>(_mm256_movemask_epi8(one_byte));
    if (ascii == 0xFFFFFFFF) {
      const __m128i packed = _mm_packus_epi16(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out), packed);
      p += 16;
      out += 16;
      continue;
    }
    const __m256i top = _mm256_and_si256(v, Set16(0xF800));
    if (_mm256_movemask_epi8(_mm256_cmpeq_epi16(top, Set16(0xD800))) != 0) {
      const char16_t* stop = p + 16;
      while (p < stop) p = EncodeOne(p, end, out);  // a pair may take the unit after the step
      continue;
    }
    const __m256i up_to_two = _mm256_cmpeq_epi16(top, zero);
    // Per unit: b0 the lead (or the ASCII byte), b1 and b2 the continuation bytes it needs.
    const __m256i b0 = _mm256_blendv_epi8(
        _mm256_blendv_epi8(_mm256_or_si256(_mm256_srli_epi16(v, 12), Set16(0xE0)),
                           _mm256_or_si256(_mm256_srli_epi16(v, 6), Set16(0xC0)), up_to_two),
        v, one_byte);
    const __m256i b1 = _mm256_or_si256(
        _mm256_and_si256(_mm256_blendv_epi8(_mm256_srli_epi16(v, 6), v, up_to_two), Set16(0x3F)), Set16(0x80));
    const __m256i b2 = _mm256_or_si256(_mm256_and_si256(v, Set16(0x3F)), Set16(0x80));
    const __m256i b01 = _mm256_or_si256(b0, _mm256_slli_epi16(b1, 8));
    // 32-bit lanes b0 b1 b2 00: units 0-3 and 8-11 in `low`, 4-7 and 12-15 in `high`.
    const __m256i low = _mm256_unpacklo_epi16(b01, b2);
    const __m256i high = _mm256_unpackhi_epi16(b01, b2);
    // Two bits per unit: its byte count less one, 3 standing for two.
    const std::uint32_t codes = (~ascii & 0x55555555u) |
                                (~static_cast<std::uint32_t>(_mm256_movemask_epi8(up_to_two)) & 0xAAAAAAAAu);
    const unsigned g0 = codes & 0xFF, g1 = (codes >> 8) & 0xFF, g2 = (codes >> 16) & 0xFF, g3 = codes >> 24;
    const __m256i low_shuffle = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(kPack.shuffle[g0]))),
        _mm_load_si128(reinterpret_cast<const __m128i*>(kPack.shuffle[g2])), 1);
    const __m256i high_shuffle = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(kPack.shuffle[g1]))),
        _mm_load_si128(reinterpret_cast<const __m128i*>(kPack.shuffle[g3])), 1);
    const __m256i low_packed = _mm256_shuffle_epi8(low, low_shuffle);
    const __m256i high_packed = _mm256_shuffle_epi8(high, high_shuffle);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(low_packed));
    out += kPack.length[g0];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(high_packed));
    out += kPack.length[g1];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_extracti128_si256(low_packed, 1));
    out += kPack.length[g2];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_extracti128_si256(high_packed, 1));
    out += kPack.length[g3];
    p += 16;
  }
  while (p < end) p = EncodeOne(p, end, out);
  return out;
}

}  // namespace ocelo::detail

// ---- decoding ----------------------------------------------------------------------------------------

namespace ocelo::detail {
namespace {

// ASCII bytes at p, up to 64 (writes 64 units).
inline int DecodeAsciiRun(const std::uint8_t* p, char16_t* out) {
  const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_cvtepu8_epi16(_mm256_castsi256_si128(a)));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 16), _mm256_cvtepu8_epi16(_mm256_extracti128_si256(a, 1)));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 32), _mm256_cvtepu8_epi16(_mm256_castsi256_si128(b)));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 48), _mm256_cvtepu8_epi16(_mm256_extracti128_si256(b, 1)));
  const std::uint64_t high = static_cast<std::uint32_t>(_mm256_movemask_epi8(a)) |
                             static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm256_movemask_epi8(b))) << 32;
  return high == 0 ? 64 : __builtin_ctzll(high);
}

// Well-formed 2-byte sequences at p, up to 16 (reads 32 bytes, writes 16 units).
inline int DecodeTwoByteRun(const std::uint8_t* p, char16_t* out) {
  const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));  // lanes: lead | trail << 8
  const __m256i shape = _mm256_cmpeq_epi16(_mm256_and_si256(v, Set16(0xC0E0)), Set16(0x80C0));
  const __m256i code = _mm256_or_si256(_mm256_slli_epi16(_mm256_and_si256(v, Set16(0x1F)), 6),
                                       _mm256_and_si256(_mm256_srli_epi16(v, 8), Set16(0x3F)));
  const __m256i not_overlong = _mm256_cmpgt_epi16(code, Set16(0x7F));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), code);
  const std::uint32_t ok = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_and_si256(shape, not_overlong)));
  return ok == 0xFFFFFFFF ? 16 : __builtin_ctz(~ok) / 2;
}

// Eight 3-byte sequences from 24 bytes at p into 32-bit lanes: their code points, and all-ones in `ok`
// for each lane that is a well-formed sequence (no overlong form, no surrogate). Reads 28 bytes.
inline __m256i DecodeEightThreeByte(const std::uint8_t* p, __m256i& ok) {
  const __m256i x = _mm256_inserti128_si256(
      _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))),
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 12)), 1);
  const __m256i spread = _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1,  //
                                          0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
  const __m256i lanes = _mm256_shuffle_epi8(x, spread);  // b0 | b1 << 8 | b2 << 16
  const __m256i shape = _mm256_cmpeq_epi32(_mm256_and_si256(lanes, _mm256_set1_epi32(0xC0C0F0)),
                                           _mm256_set1_epi32(0x8080E0));
  const __m256i code = _mm256_or_si256(
      _mm256_or_si256(_mm256_slli_epi32(_mm256_and_si256(lanes, _mm256_set1_epi32(0x0F)), 12),
                      _mm256_srli_epi32(_mm256_and_si256(lanes, _mm256_set1_epi32(0x3F00)), 2)),
      _mm256_and_si256(_mm256_srli_epi32(lanes, 16), _mm256_set1_epi32(0x3F)));
  const __m256i not_overlong = _mm256_cmpgt_epi32(code, _mm256_set1_epi32(0x7FF));
  const __m256i surrogate = _mm256_cmpeq_epi32(_mm256_and_si256(code, _mm256_set1_epi32(0xF800)),
                                               _mm256_set1_epi32(0xD800));
  ok = _mm256_andnot_si256(surrogate, _mm256_and_si256(shape, not_overlong));
  return code;
}

// Well-formed 3-byte sequences at p, up to 16 (reads 52 bytes, writes 16 units).
inline int DecodeThreeByteRun(const std::uint8_t* p, char16_t* out) {
  __m256i ok_low, ok_high;
  const __m256i low = DecodeEightThreeByte(p, ok_low);
  const __m256i high = DecodeEightThreeByte(p + 24, ok_high);
  // Code points below 0x10000 pack without saturating; the pack works per 128-bit half.
  const __m256i units = _mm256_permute4x64_epi64(_mm256_packus_epi32(low, high), 0xD8);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), units);
  const std::uint32_t ok = static_cast<std::uint32_t>(_mm256_movemask_ps(_mm256_castsi256_ps(ok_low))) |
                           static_cast<std::uint32_t>(_mm256_movemask_ps(_mm256_castsi256_ps(ok_high))) << 8;
  return __builtin_ctz(~ok);  // bit 16 of ~ok is set: at most 16
}

// A step needs this many bytes ahead of the input, and room for this many units at the output.
constexpr std::ptrdiff_t kDecodeAhead = 192;
constexpr std::ptrdiff_t kDecodeRoom = 96;

// An ASCII run, then a run of 2-byte and a run of 3-byte sequences where one starts. False when
// nothing moved.
inline bool DecodeStep(const std::uint8_t*& p, char16_t*& out) {
  const int ascii = DecodeAsciiRun(p, out);
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

inline bool Ready(const Utf8Part& part) {
  return part.in_end - part.in >= kDecodeAhead && part.out_end - part.out >= kDecodeRoom;
}

}  // namespace

int DecodeUtf8PartsAvx2(Utf8Part* parts, int count) {
  for (;;) {
    for (int k = 0; k < count; ++k) {
      if (!Ready(parts[k])) return -1;
    }
    for (int k = 0; k < count; ++k) {
      if (!DecodeStep(parts[k].in, parts[k].out)) return k;
    }
  }
}

}  // namespace ocelo::detail
