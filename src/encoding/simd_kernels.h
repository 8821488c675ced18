// The AVX2 and AVX-512 kernels behind the fast converters, for x86-64 builds only.
//
// Each file of kernels is compiled for its instruction set, and the converters call into it only when
// ActiveKernelLevel() reaches that set. The kernels work on plain pointers and include no project or
// library header with inline functions: an inline function compiled with AVX2 in one of these files
// could otherwise be the copy the linker keeps for the whole program.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ocelo::detail {

// ---- detection (detect_avx2.cpp, detect_avx512.cpp) --------------------------------------------------

/// The Shift_JIS pair test of GuessEncoding over whole blocks from byte 0 while a byte follows the
/// block: true at the first block with a pair; else `done` is where the blocks end (a multiple of the
/// block width) and `high_seen` is set when they hold a byte >= 0x80.
bool FindShiftJisPairAvx2(const std::uint8_t* bytes, std::size_t length, std::size_t& done, bool& high_seen);
bool FindShiftJisPairAvx512(const std::uint8_t* bytes, std::size_t length, std::size_t& done, bool& high_seen);

/// The UTF-8 count's walk from `start` (a position the count reaches) over the blocks that keep the shape
/// of complete sequences: the last position in them that the count reaches (`start` when none), with
/// `valid_seen` set when a complete sequence lies before it.
std::size_t SkipUtf8ShapedAvx2(const std::uint8_t* bytes, std::size_t start, std::size_t length, bool& valid_seen);
std::size_t SkipUtf8ShapedAvx512(const std::uint8_t* bytes, std::size_t start, std::size_t length, bool& valid_seen);

// ---- UTF-8 (utf8_avx2.cpp) ---------------------------------------------------------------------------

/// The bytes EncodeUtf8 makes of `n` units.
std::size_t CountUtf8BytesAvx2(const char16_t* text, std::size_t n);

/// A stretch of UTF-8 input and the slice of UTF-16 output it decodes to.
struct Utf8Part {
  const std::uint8_t* in;
  const std::uint8_t* in_end;
  char16_t* out;
  char16_t* out_end;
};

/// Decodes well-formed 1-, 2- and 3-byte sequences in the `count` parts in turn, a step each, while every
/// part has input and room to spare for a step. Returns -1 when one has not, or the index of the part
/// whose step met anything else (a 4-byte form, a malformed byte): the caller takes that one.
int DecodeUtf8PartsAvx2(Utf8Part* parts, int count);

/// EncodeUtf8 of `n` units into `out`, which has room for their count of bytes and 32 more; returns
/// the end of the bytes written.
std::uint8_t* EncodeUtf8Avx2(const char16_t* text, std::size_t n, std::uint8_t* out);

// ---- code page 932 (cp932_avx2.cpp) -------------------------------------------------------------------

/// DecodeShiftJis's 64-byte blocks from `i` while a byte follows the block and fewer than `room` units
/// stand in `out`: writes the blocks' units at out + o and returns the new o, moving `i` and the lead
/// `carry` on. `out` has 64 units of room past `room`; `table` is the decoding table.
std::size_t DecodeShiftJisBlocksAvx2(const std::uint8_t* in, std::size_t n, std::size_t& i, std::uint64_t& carry,
                                     char16_t* out, std::size_t o, std::size_t room, const std::uint16_t* table);

/// EncodeShiftJis's blocks of 16 units from `i` while fewer than `room` bytes stand in `out`: writes their
/// bytes at out + o and returns the new o, moving `i` on. `out` has 32 bytes of room past `room`;
/// `page_of` and `pages` are the encoding tables.
std::size_t EncodeShiftJisBlocksAvx2(const char16_t* in, std::size_t n, std::size_t& i, std::uint8_t* out,
                                     std::size_t o, std::size_t room, const std::uint8_t* page_of,
                                     const std::uint16_t* pages);

}  // namespace ocelo::detail
