// Code page 932 converters: plain scalar versions that document the rules, and fast versions with the
// same results (SSE2 on x86-64; elsewhere the fast names fall back to the scalar code).
//
// How a byte sequence decodes, as Windows' converter does it:
// - A byte that is no lead byte (0x00..0x80, 0xA0..0xDF, 0xFD..0xFF) is one character on its own
//   (0x80 => U+0080, 0xA0 => U+F8F0, 0xFD..0xFF => U+F8F1..U+F8F3, beside the iconv mapping).
// - A lead byte (0x81..0x9F, 0xE0..0xFC) followed by a byte of the trail range (0x40..0x7E, 0x80..0xFC)
//   is one unit: its character, or U+30FB when the pair forms none. The trail is taken even when it is
//   7-bit, so "81 5C" is one character and "85 41" is one U+30FB (not U+30FB "A").
// - A lead byte followed by a byte outside the trail range (a control, "0".."?", 0x7F, 0xFD..0xFF), or
//   at the very end of the input, gives U+30FB on its own and the next byte is decoded by itself. So a
//   stray lead byte never swallows a line end, a zero byte or a digit.
// A zero byte is U+0000 like any other byte: callers cut their input at the first one.
// With AVX2 the decoder's blocks run in cp932_avx2.cpp, which looks the units up without the bit loop,
// and so do the encoder's, which pack the looked-up codes with a shuffle.
#include "encoding/cp932.h"

#include <bit>
#include <cstring>

#include "encoding/cpu_level.h"
#include "encoding/simd_kernels.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#define OCELO_CP932_SSE2 1
#endif

namespace ocelo {
namespace {

#include "encoding/cp932_tables.inc"

constexpr char16_t kNoCharacter = u'\u30FB';

// Units (or bytes) the fast kernels collect before appending them to their result.
constexpr std::size_t kChunkUnits = 4096;

constexpr bool IsLeadByte(std::uint8_t b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
constexpr bool IsTrailByte(std::uint8_t b) { return b >= 0x40 && b <= 0xFC && b != 0x7F; }

// Row of a lead byte in kDecodeTable: 0x81..0x9F => 1..31, 0xE0..0xFC => 32..60. Flipping bit 5 makes the
// two lead ranges one run, 0xA1..0xDC.
constexpr unsigned LeadRow(std::uint8_t lead) { return static_cast<std::uint8_t>((lead ^ 0x20) - 0xA0); }

// The code page 932 code of a unit: below 0x100 one byte, else lead << 8 | trail; 0x5F when unmappable.
inline std::uint16_t EncodeCode(char16_t unit) {
  return kEncodePages[kEncodePageOf[unit >> 8] * 256u + (unit & 0xFFu)];
}

// Appends the code of one unit at out + o and returns the new length. Writes two bytes even for a
// one-byte code (the second is overwritten by the next one), so out needs one byte of room past the end.
// Without branches: one- and two-byte codes alternate in Japanese text too often to predict.
inline std::size_t PutCode(std::uint8_t* out, std::size_t o, std::uint16_t code) {
  const unsigned two = code > 0xFF;
  if constexpr (std::endian::native == std::endian::little) {
    const std::uint16_t in_order = std::rotl(code, static_cast<int>(8 * two));  // lead byte first
    std::memcpy(out + o, &in_order, 2);
  } else {
    out[o] = static_cast<std::uint8_t>(two ? code >> 8 : code);
    out[o + 1] = static_cast<std::uint8_t>(code);
  }
  return o + 1 + two;
}

#ifdef OCELO_CP932_SSE2

// Bit i of each mask is about byte i of a 64-byte block.
struct BlockMasks {
  std::uint64_t high;   // 0x80..0xFF
  std::uint64_t lead;   // 0x81..0x9F, 0xE0..0xFC
  std::uint64_t trail;  // 0x40..0x7E, 0x80..0xFC
};

inline std::uint64_t Bits(__m128i a, __m128i b, __m128i c, __m128i d) {
  return static_cast<std::uint64_t>(static_cast<std::uint16_t>(_mm_movemask_epi8(a))) |
         static_cast<std::uint64_t>(static_cast<std::uint16_t>(_mm_movemask_epi8(b))) << 16 |
         static_cast<std::uint64_t>(static_cast<std::uint16_t>(_mm_movemask_epi8(c))) << 32 |
         static_cast<std::uint64_t>(static_cast<std::uint16_t>(_mm_movemask_epi8(d))) << 48;
}

// Lead bytes as 0xFF lanes: after flipping bit 5 they are 0xA1..0xDC, that is -95..-36 as signed bytes.
inline __m128i LeadLanes(__m128i v) {
  const __m128i flipped = _mm_xor_si128(v, _mm_set1_epi8(0x20));
  return _mm_and_si128(_mm_cmpgt_epi8(flipped, _mm_set1_epi8(-96)), _mm_cmpgt_epi8(_mm_set1_epi8(-35), flipped));
}

// Trail bytes as 0xFF lanes: 0x40..0x7E (64..126) and 0x80..0xFC (-128..-4).
inline __m128i TrailLanes(__m128i v) {
  const __m128i seven_bit = _mm_andnot_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(0x7F)),
                                             _mm_cmpgt_epi8(v, _mm_set1_epi8(0x3F)));
  return _mm_or_si128(seven_bit, _mm_cmpgt_epi8(_mm_set1_epi8(-3), v));
}

inline BlockMasks Classify(const __m128i v[4]) {
  return {Bits(v[0], v[1], v[2], v[3]), Bits(LeadLanes(v[0]), LeadLanes(v[1]), LeadLanes(v[2]), LeadLanes(v[3])),
          Bits(TrailLanes(v[0]), TrailLanes(v[1]), TrailLanes(v[2]), TrailLanes(v[3]))};
}

// The bytes of a block that a lead byte before them takes as its trail, when each lead byte takes the
// byte after it (whether or not that is a valid trail). Within a run of lead-range bytes the bytes
// alternate lead, trail, ...; a run starts at a unit boundary because the byte before it is no lead-range
// byte, or is a trail. This is the odd-run trick known from finding escaped characters after runs of
// backslashes: subtracting the run bits from their shifted copy, with the odd bits set, marks the
// alternating positions of each run from its start. `carry` is 1 when byte 0 follows a lead byte at
// the end of the previous block, and becomes that for the next block.
inline std::uint64_t TakenAsTrail(std::uint64_t lead, std::uint64_t& carry) {
  constexpr std::uint64_t kOddBits = 0xAAAAAAAAAAAAAAAAull;
  lead &= ~carry;
  const std::uint64_t leads_and_taken = (((lead << 1) | kOddBits) - lead) ^ kOddBits;
  const std::uint64_t taken = leads_and_taken ^ (lead | carry);
  carry = (leads_and_taken & lead) >> 63;
  return taken;
}

// The kDecodeTable index for a unit starting at each byte of a block: row 0 at the byte for a byte
// standing alone, the lead's row at the next byte for a lead byte. Reads one byte past the block.
inline void DecodeIndices(const std::uint8_t* block, const __m128i v[4], std::uint16_t index[64]) {
  for (int k = 0; k < 4; ++k) {
    const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * k + 1));
    const __m128i lead = LeadLanes(v[k]);
    const __m128i row = _mm_and_si128(
        lead, _mm_sub_epi8(_mm_xor_si128(v[k], _mm_set1_epi8(0x20)), _mm_set1_epi8(static_cast<char>(0xA0))));
    const __m128i column = _mm_or_si128(_mm_and_si128(lead, next), _mm_andnot_si128(lead, v[k]));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(index + 16 * k), _mm_unpacklo_epi8(column, row));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(index + 16 * k + 8), _mm_unpackhi_epi8(column, row));
  }
}

inline void WidenAscii(const __m128i v[4], char16_t* out) {
  const __m128i zero = _mm_setzero_si128();
  for (int k = 0; k < 4; ++k) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16 * k), _mm_unpacklo_epi8(v[k], zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16 * k + 8), _mm_unpackhi_epi8(v[k], zero));
  }
}

// Decodes from `i` to the end in the plain way; `out` has room for one unit per byte.
std::size_t DecodeTail(const std::uint8_t* in, std::size_t n, std::size_t i, char16_t* out, std::size_t o) {
  while (i < n) {
    const std::uint8_t b = in[i];
    if (IsLeadByte(b) && i + 1 < n && IsTrailByte(in[i + 1])) {
      out[o++] = kDecodeTable[LeadRow(b) * 256u + in[i + 1]];
      i += 2;
    } else {
      out[o++] = kDecodeTable[b];  // row 0: a lead byte alone is U+30FB
      i += 1;
    }
  }
  return o;
}

#endif  // OCELO_CP932_SSE2

}  // namespace

std::u16string DecodeShiftJisScalar(std::span<const std::uint8_t> bytes) {
  std::u16string text;
  text.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    const std::uint8_t b = bytes[i];
    if (IsLeadByte(b) && i + 1 < bytes.size() && IsTrailByte(bytes[i + 1])) {
      text += static_cast<char16_t>(kDecodeTable[LeadRow(b) * 256u + bytes[i + 1]]);
      i += 2;
    } else if (IsLeadByte(b)) {
      text += kNoCharacter;
      i += 1;
    } else {
      text += static_cast<char16_t>(kDecodeTable[b]);
      i += 1;
    }
  }
  return text;
}

std::u16string DecodeShiftJis(std::span<const std::uint8_t> bytes) {
  std::u16string text;
  DecodeShiftJisInto(bytes, text);
  return text;
}

void DecodeShiftJisInto(std::span<const std::uint8_t> bytes, std::u16string& text) {
  const KernelLevel level = ActiveKernelLevel();
  if (level == KernelLevel::kScalar) {
    text = DecodeShiftJisScalar(bytes);
    return;
  }
#ifdef OCELO_CP932_SSE2
  const std::uint8_t* in = bytes.data();
  const std::size_t n = bytes.size();
  // The result is reserved for one unit per byte, never more, and filled from a small buffer: memory
  // that is not written is not touched, and nothing is written twice.
  text.clear();
  text.reserve(n);
  char16_t chunk[kChunkUnits + 64];
  std::size_t o = 0;
  std::size_t i = 0;
  std::uint64_t carry = 0;
  alignas(16) std::uint16_t index[64];
#if defined(OCELO_X86_KERNELS)
  // The same blocks with AVX2, a chunk at a time; then the loop below finds none left.
  while (level >= KernelLevel::kAvx2 && n - i > 64) {
    o = detail::DecodeShiftJisBlocksAvx2(in, n, i, carry, chunk, o, kChunkUnits, kDecodeTable);
    if (o >= kChunkUnits) {
      text.append(chunk, o);
      o = 0;
    }
  }
#endif
  // Blocks of 64 bytes while a byte follows the block (a lead byte at its end looks at it).
  while (n - i > 64) {
    const std::uint8_t* block = in + i;
    __m128i v[4];
    for (int k = 0; k < 4; ++k) v[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * k));
    const BlockMasks masks = Classify(v);
    if ((masks.high | carry) == 0) {
      WidenAscii(v, chunk + o);
      o += 64;
    } else {
      // A unit starts at every byte that is not taken as a trail; a lead byte before a byte outside the
      // trail range stands alone, and that byte (never a lead-range byte) starts a unit of its own.
      std::uint64_t starts = ~(TakenAsTrail(masks.lead, carry) & masks.trail);
      DecodeIndices(block, v, index);
      for (; starts != 0; starts &= starts - 1) {
        chunk[o++] = kDecodeTable[index[__builtin_ctzll(starts)]];
      }
    }
    i += 64;
    if (o >= kChunkUnits) {
      text.append(chunk, o);
      o = 0;
    }
  }
  // The last block's lead byte has already been written with this byte as its trail.
  if (carry != 0 && IsTrailByte(in[i])) ++i;
  o = DecodeTail(in, n, i, chunk, o);  // at most 64 more units
  text.append(chunk, o);
#else
  text = DecodeShiftJisScalar(bytes);
#endif
}

std::vector<std::uint8_t> EncodeShiftJisScalar(std::u16string_view text) {
  std::vector<std::uint8_t> bytes;
  bytes.reserve(text.size() * 2);
  for (char16_t unit : text) {
    const std::uint16_t code = EncodeCode(unit);
    if (code > 0xFF) bytes.push_back(static_cast<std::uint8_t>(code >> 8));
    bytes.push_back(static_cast<std::uint8_t>(code));
  }
  return bytes;
}

std::vector<std::uint8_t> EncodeShiftJis(std::u16string_view text) {
  std::vector<std::uint8_t> bytes;
  EncodeShiftJisInto(text, bytes);
  return bytes;
}

void EncodeShiftJisInto(std::u16string_view text, std::vector<std::uint8_t>& bytes) {
  const KernelLevel level = ActiveKernelLevel();
  if (level == KernelLevel::kScalar) {
    bytes = EncodeShiftJisScalar(text);
    return;
  }
  const char16_t* in = text.data();
  const std::size_t n = text.size();
  // Reserved for two bytes a unit and filled from a small buffer, as in decoding.
  bytes.clear();
  bytes.reserve(n * 2);
  std::uint8_t chunk[kChunkUnits + 64];  // a step writes at most 32 bytes and PutCode's spare byte
  std::size_t o = 0;
  std::size_t i = 0;
#if defined(OCELO_X86_KERNELS)
  // With AVX2 the codes of a block are packed by a shuffle, a chunk at a time.
  while (level >= KernelLevel::kAvx2 && n - i >= 16) {
    o = detail::EncodeShiftJisBlocksAvx2(in, n, i, chunk, o, kChunkUnits, kEncodePageOf, kEncodePages);
    if (o >= kChunkUnits) {
      bytes.insert(bytes.end(), chunk, chunk + o);
      o = 0;
    }
  }
#endif
#ifdef OCELO_CP932_SSE2
  const __m128i non_ascii = _mm_set1_epi16(static_cast<short>(0xFF80));
  while (n - i >= 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i + 8));
    const __m128i high = _mm_and_si128(_mm_or_si128(a, b), non_ascii);
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(high, _mm_setzero_si128())) == 0xFFFF) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(chunk + o), _mm_packus_epi16(a, b));
      o += 16;
    } else {
      for (int k = 0; k < 16; ++k) o = PutCode(chunk, o, EncodeCode(in[i + k]));
    }
    i += 16;
    if (o >= kChunkUnits) {
      bytes.insert(bytes.end(), chunk, chunk + o);
      o = 0;
    }
  }
#endif
  for (; i < n; ++i) {
    o = PutCode(chunk, o, EncodeCode(in[i]));
    if (o >= kChunkUnits) {
      bytes.insert(bytes.end(), chunk, chunk + o);
      o = 0;
    }
  }
  bytes.insert(bytes.end(), chunk, chunk + o);
}

std::u16string WidenCp932(std::string_view narrow) {
  return DecodeShiftJis({reinterpret_cast<const std::uint8_t*>(narrow.data()), narrow.size()});
}

std::string NarrowCp932(std::u16string_view text) {
  const std::vector<std::uint8_t> bytes = EncodeShiftJis(text);
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace ocelo
