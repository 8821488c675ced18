// Code page 932 to UTF-16 with AVX2: the 64-byte blocks of DecodeShiftJis, with the table look-ups
// taken out of the bit loop.
//
// A block is classified as in cp932.cpp (lead bytes, trail bytes, which bytes are taken as trails). Each
// byte's table index is built in a 16-bit lane, the indices of the bytes that start a unit are packed
// together with a shuffle per eight bytes, picked from a table by those bytes' start bits, and the packed
// indices are looked up eight at a time, with no branch on the data.
#include <immintrin.h>

#include "encoding/simd_kernels.h"

namespace ocelo::detail {
namespace {

// For the start bits of eight 16-bit lanes: the shuffle that packs the started lanes together.
struct CompactTable {
  std::uint8_t shuffle[256][16];
};

constexpr CompactTable MakeCompactTable() {
  CompactTable table{};
  for (int bits = 0; bits < 256; ++bits) {
    int o = 0;
    for (int lane = 0; lane < 8; ++lane) {
      if (bits & (1 << lane)) {
        table.shuffle[bits][o++] = static_cast<std::uint8_t>(2 * lane);
        table.shuffle[bits][o++] = static_cast<std::uint8_t>(2 * lane + 1);
      }
    }
    while (o < 16) table.shuffle[bits][o++] = 0x80;  // zero
  }
  return table;
}

alignas(64) constexpr CompactTable kCompact = MakeCompactTable();

inline std::uint64_t Bits(__m256i low, __m256i high) {
  return static_cast<std::uint32_t>(_mm256_movemask_epi8(low)) |
         static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm256_movemask_epi8(high))) << 32;
}

// Lead bytes (0x81..0x9F, 0xE0..0xFC) as 0xFF lanes: after flipping bit 5 they are 0xA1..0xDC, that is
// -95..-36 as signed bytes.
inline __m256i LeadLanes(__m256i v) {
  const __m256i flipped = _mm256_xor_si256(v, _mm256_set1_epi8(0x20));
  return _mm256_and_si256(_mm256_cmpgt_epi8(flipped, _mm256_set1_epi8(-96)),
                          _mm256_cmpgt_epi8(_mm256_set1_epi8(-35), flipped));
}

// Trail bytes as 0xFF lanes: 0x40..0x7E (64..126) and 0x80..0xFC (-128..-4).
inline __m256i TrailLanes(__m256i v) {
  const __m256i seven_bit = _mm256_andnot_si256(_mm256_cmpeq_epi8(v, _mm256_set1_epi8(0x7F)),
                                                _mm256_cmpgt_epi8(v, _mm256_set1_epi8(0x3F)));
  return _mm256_or_si256(seven_bit, _mm256_cmpgt_epi8(_mm256_set1_epi8(-3), v));
}

// The bytes of a block that a lead byte before them takes as its trail; see cp932.cpp.
inline std::uint64_t TakenAsTrail(std::uint64_t lead, std::uint64_t& carry) {
  constexpr std::uint64_t kOddBits = 0xAAAAAAAAAAAAAAAAull;
  lead &= ~carry;
  const std::uint64_t leads_and_taken = (((lead << 1) | kOddBits) - lead) ^ kOddBits;
  const std::uint64_t taken = leads_and_taken ^ (lead | carry);
  carry = (leads_and_taken & lead) >> 63;
  return taken;
}

// The table indices of 32 bytes: the byte itself for a byte standing alone (row 0), the lead's row and
// the next byte for a lead byte. Two vectors of sixteen 16-bit indices.
inline void Indices(__m256i v, __m256i next, __m256i& first, __m256i& second) {
  const __m256i lead = LeadLanes(v);
  const __m256i row = _mm256_and_si256(
      lead, _mm256_sub_epi8(_mm256_xor_si256(v, _mm256_set1_epi8(0x20)), _mm256_set1_epi8(static_cast<char>(0xA0))));
  const __m256i column = _mm256_blendv_epi8(v, next, lead);
  first = _mm256_or_si256(_mm256_cvtepu8_epi16(_mm256_castsi256_si128(column)),
                          _mm256_slli_epi16(_mm256_cvtepu8_epi16(_mm256_castsi256_si128(row)), 8));
  second = _mm256_or_si256(_mm256_cvtepu8_epi16(_mm256_extracti128_si256(column, 1)),
                           _mm256_slli_epi16(_mm256_cvtepu8_epi16(_mm256_extracti128_si256(row, 1)), 8));
}

// Packs the indices of sixteen bytes whose lanes have their bit in `starts` to index + count; returns
// the new count. Writes sixteen lanes.
inline std::size_t Compact(__m256i indices, unsigned starts, std::uint16_t* index, std::size_t count) {
  const unsigned low = starts & 0xFF;
  const unsigned high = (starts >> 8) & 0xFF;
  const __m256i shuffle = _mm256_inserti128_si256(
      _mm256_castsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(kCompact.shuffle[low]))),
      _mm_load_si128(reinterpret_cast<const __m128i*>(kCompact.shuffle[high])), 1);
  const __m256i packed = _mm256_shuffle_epi8(indices, shuffle);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(index + count), _mm256_castsi256_si128(packed));
  count += static_cast<std::size_t>(__builtin_popcount(low));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(index + count), _mm256_extracti128_si256(packed, 1));
  return count + static_cast<std::size_t>(__builtin_popcount(high));
}

}  // namespace

std::size_t DecodeShiftJisBlocksAvx2(const std::uint8_t* in, std::size_t n, std::size_t& at, std::uint64_t& carry_in,
                                     char16_t* out, std::size_t o, std::size_t room, const std::uint16_t* table) {
  std::size_t i = at;  // in registers, not through the references
  std::uint64_t carry = carry_in;
  // Every lane holds a valid index, so looking up eight at a time past the packed count is harmless.
  alignas(32) std::uint16_t index[64 + 16] = {};
  while (n - i > 64 && o < room) {
    const std::uint8_t* block = in + i;
    const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block));
    const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block + 32));
    const std::uint64_t high_bytes = Bits(low, high);
    i += 64;
    if ((high_bytes | carry) == 0) {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + o), _mm256_cvtepu8_epi16(_mm256_castsi256_si128(low)));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + o + 16),
                          _mm256_cvtepu8_epi16(_mm256_extracti128_si256(low, 1)));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + o + 32), _mm256_cvtepu8_epi16(_mm256_castsi256_si128(high)));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + o + 48),
                          _mm256_cvtepu8_epi16(_mm256_extracti128_si256(high, 1)));
      o += 64;
      continue;
    }
    // A unit starts at every byte that is not taken as a trail; a lead byte before a byte outside the
    // trail range stands alone, and that byte (never a lead-range byte) starts a unit of its own.
    const std::uint64_t lead = Bits(LeadLanes(low), LeadLanes(high));
    const std::uint64_t trail = Bits(TrailLanes(low), TrailLanes(high));
    const std::uint64_t starts = ~(TakenAsTrail(lead, carry) & trail);
    __m256i indices[4];
    Indices(low, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block + 1)), indices[0], indices[1]);
    Indices(high, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block + 33)), indices[2], indices[3]);
    std::size_t count = 0;
    for (int k = 0; k < 4; ++k) count = Compact(indices[k], static_cast<unsigned>(starts >> (16 * k)), index, count);
    for (std::size_t k = 0; k < count; k += 8) {
      char16_t* to = out + o + k;
      const std::uint16_t* from = index + k;
      to[0] = static_cast<char16_t>(table[from[0]]);
      to[1] = static_cast<char16_t>(table[from[1]]);
      to[2] = static_cast<char16_t>(table[from[2]]);
      to[3] = static_cast<char16_t>(table[from[3]]);
      to[4] = static_cast<char16_t>(table[from[4]]);
      to[5] = static_cast<char16_t>(table[from[5]]);
      to[6] = static_cast<char16_t>(table[from[6]]);
      to[7] = static_cast<char16_t>(table[from[7]]);
    }
    o += count;
  }
  at = i;
  carry_in = carry;
  return o;
}

}  // namespace ocelo::detail

// ---- encoding ----------------------------------------------------------------------------------------

namespace ocelo::detail {
namespace {

// For eight codes with bit j set when code j has two bytes: the shuffle that puts each code's bytes
// in order (lead byte first, from the code's high half) and packs them together, and the bytes kept.
struct CodePackTables {
  std::uint8_t shuffle[256][16];
  std::uint8_t length[256];
};

constexpr CodePackTables MakeCodePackTables() {
  CodePackTables tables{};
  for (int two = 0; two < 256; ++two) {
    int o = 0;
    for (int j = 0; j < 8; ++j) {
      if (two & (1 << j)) tables.shuffle[two][o++] = static_cast<std::uint8_t>(2 * j + 1);
      tables.shuffle[two][o++] = static_cast<std::uint8_t>(2 * j);
    }
    tables.length[two] = static_cast<std::uint8_t>(o);
    while (o < 16) tables.shuffle[two][o++] = 0x80;  // zero
  }
  return tables;
}

alignas(64) constexpr CodePackTables kCodePack = MakeCodePackTables();

}  // namespace

std::size_t EncodeShiftJisBlocksAvx2(const char16_t* in, std::size_t n, std::size_t& i, std::uint8_t* out,
                                     std::size_t o, std::size_t room, const std::uint8_t* page_of,
                                     const std::uint16_t* pages) {
  alignas(32) std::uint16_t codes[16];
  while (n - i >= 16 && o < room) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i));
    const __m256i ascii = _mm256_cmpeq_epi16(_mm256_and_si256(v, _mm256_set1_epi16(static_cast<short>(0xFF80))),
                                             _mm256_setzero_si256());
    if (static_cast<std::uint32_t>(_mm256_movemask_epi8(ascii)) == 0xFFFFFFFF) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o),
                       _mm_packus_epi16(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1)));
      o += 16;
      i += 16;
      continue;
    }
    // The codes by table, then their bytes packed in order: one byte below 0x100, else lead and trail.
    for (int k = 0; k < 16; ++k) {
      const char16_t unit = in[i + k];
      codes[k] = pages[page_of[unit >> 8] * 256u + (unit & 0xFFu)];
    }
    const __m256i c = _mm256_load_si256(reinterpret_cast<const __m256i*>(codes));
    const __m256i one_lanes = _mm256_cmpeq_epi16(_mm256_and_si256(c, _mm256_set1_epi16(static_cast<short>(0xFF00))),
                                                 _mm256_setzero_si256());
    const std::uint32_t two_bits = _pext_u32(~static_cast<std::uint32_t>(_mm256_movemask_epi8(one_lanes)), 0x55555555u);
    const unsigned low = two_bits & 0xFF;
    const unsigned high = two_bits >> 8;
    const __m256i shuffle = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(kCodePack.shuffle[low]))),
        _mm_load_si128(reinterpret_cast<const __m128i*>(kCodePack.shuffle[high])), 1);
    const __m256i packed = _mm256_shuffle_epi8(c, shuffle);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o), _mm256_castsi256_si128(packed));
    o += kCodePack.length[low];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o), _mm256_extracti128_si256(packed, 1));
    o += kCodePack.length[high];
    i += 16;
  }
  return o;
}

}  // namespace ocelo::detail
