// Code page 932 (Windows Shift_JIS) to UTF-16 and back, table-driven, with the system converter's mapping.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ocelo {

/// Every byte of the buffer to UTF-16 (a zero byte gives U+0000; callers cut the input first).
/// Decoding never stops early: a lead byte whose trail forms no character gives U+30FB, a byte that
/// stands for nothing gives its own mapping (0x80 => U+0080, 0xA0 => U+F8F0, 0xFD..0xFF => U+F8F1..U+F8F3).
std::u16string DecodeShiftJis(std::span<const std::uint8_t> bytes);
std::u16string DecodeShiftJisScalar(std::span<const std::uint8_t> bytes);
/// DecodeShiftJis into `text`, replacing its content and reusing its memory.
void DecodeShiftJisInto(std::span<const std::uint8_t> bytes, std::u16string& text);

/// Every code unit to code page 932 bytes; a character it cannot represent becomes one "_" (0x5F).
std::vector<std::uint8_t> EncodeShiftJis(std::u16string_view text);
std::vector<std::uint8_t> EncodeShiftJisScalar(std::u16string_view text);
/// EncodeShiftJis into `bytes`, replacing their content and reusing their memory.
void EncodeShiftJisInto(std::u16string_view text, std::vector<std::uint8_t>& bytes);

/// Narrow program texts (code page 932) to UTF-16 and back.
std::u16string WidenCp932(std::string_view narrow);
std::string NarrowCp932(std::u16string_view text);

}  // namespace ocelo
