// One character at a time in UTF-8 and UTF-16: the rules of both forms in one place, for every converter
// of the program (the fast kernels' slow steps, the terminal texts, the escapes of file names).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace ocelo {

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

constexpr bool IsSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }
constexpr bool IsHighSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
constexpr bool IsLowSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

/// One character read from UTF-8 or UTF-16, and how many bytes or units it took (1 or more).
/// When `valid` is false the units are ill-formed and `code_point` is U+FFFD (UTF-8) or the lone
/// surrogate (UTF-16).
struct DecodedChar {
  char32_t code_point;
  std::size_t length;
  bool valid;
};

/// The UTF-8 character at `p` (p < end). Ill-formed bytes (overlong forms, encoded surrogates, values
/// above U+10FFFF, a stray continuation byte, a sequence cut short) take the maximal subpart: the bytes
/// that still began a valid sequence, at least one; the byte that broke it is not taken.
///   41 => U+0041, 1      E3 81 82 => U+3042, 3      C0 80 => invalid, 1      E3 81 41 => invalid, 2
template <typename Byte>
constexpr DecodedChar DecodeUtf8Char(const Byte* p, const Byte* end) {
  static_assert(sizeof(Byte) == 1);
  const std::uint8_t lead = static_cast<std::uint8_t>(*p);
  if (lead < 0x80) return {lead, 1, true};
  std::size_t length;
  char32_t code;
  std::uint8_t low = 0x80, high = 0xBF;  // the range of the first continuation byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;   // no overlong 3-byte forms
    if (lead == 0xED) high = 0x9F;  // no encoded surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code = lead & 0x07;
    if (lead == 0xF0) low = 0x90;   // no overlong 4-byte forms
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return {kReplacementCharacter, 1, false};  // a stray continuation byte, C0, C1 or F5..FF
  }
  for (std::size_t k = 1; k < length; ++k) {
    if (p + k == end) return {kReplacementCharacter, k, false};
    const std::uint8_t byte = static_cast<std::uint8_t>(p[k]);
    if (byte < low || byte > high) return {kReplacementCharacter, k, false};
    code = (code << 6) | (byte & 0x3F);
    low = 0x80;
    high = 0xBF;
  }
  return {code, length, true};
}

/// The UTF-16 character at `p` (p < end): a surrogate pair, or one unit; a lone surrogate is not valid.
///   0041 => U+0041, 1      D83D DE00 => U+1F600, 2      D83D 0041 => invalid D83D, 1
constexpr DecodedChar DecodeUtf16Char(const char16_t* p, const char16_t* end) {
  const char32_t unit = *p;
  if (!IsSurrogate(unit)) return {unit, 1, true};
  if (IsHighSurrogate(unit) && p + 1 != end && IsLowSurrogate(p[1])) {
    return {0x10000 + ((unit - 0xD800) << 10) + (p[1] - 0xDC00), 2, true};
  }
  return {unit, 1, false};
}

/// Writes a scalar value (no surrogate) as 1 to 4 UTF-8 bytes at `out`; returns how many.
template <typename Byte>
constexpr std::size_t EncodeUtf8Char(char32_t code_point, Byte* out) {
  static_assert(sizeof(Byte) == 1);
  if (code_point < 0x80) {
    out[0] = static_cast<Byte>(code_point);
    return 1;
  }
  if (code_point < 0x800) {
    out[0] = static_cast<Byte>(0xC0 | (code_point >> 6));
    out[1] = static_cast<Byte>(0x80 | (code_point & 0x3F));
    return 2;
  }
  if (code_point < 0x10000) {
    out[0] = static_cast<Byte>(0xE0 | (code_point >> 12));
    out[1] = static_cast<Byte>(0x80 | ((code_point >> 6) & 0x3F));
    out[2] = static_cast<Byte>(0x80 | (code_point & 0x3F));
    return 3;
  }
  out[0] = static_cast<Byte>(0xF0 | (code_point >> 18));
  out[1] = static_cast<Byte>(0x80 | ((code_point >> 12) & 0x3F));
  out[2] = static_cast<Byte>(0x80 | ((code_point >> 6) & 0x3F));
  out[3] = static_cast<Byte>(0x80 | (code_point & 0x3F));
  return 4;
}

/// Writes a code point as one UTF-16 unit, or as a surrogate pair above U+FFFF; returns how many.
constexpr std::size_t EncodeUtf16Char(char32_t code_point, char16_t* out) {
  if (code_point < 0x10000) {
    out[0] = static_cast<char16_t>(code_point);
    return 1;
  }
  code_point -= 0x10000;
  out[0] = static_cast<char16_t>(0xD800 + (code_point >> 10));
  out[1] = static_cast<char16_t>(0xDC00 + (code_point & 0x3FF));
  return 2;
}

/// EncodeUtf8Char and EncodeUtf16Char at the end of a string.
inline void AppendUtf8(std::string& out, char32_t code_point) {
  char bytes[4];
  out.append(bytes, EncodeUtf8Char(code_point, bytes));
}
inline void AppendUtf16(std::u16string& out, char32_t code_point) {
  char16_t units[2];
  out.append(units, EncodeUtf16Char(code_point, units));
}

}  // namespace ocelo
