// UTF-8 to UTF-16 and back, with the system converter's handling of bad input.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ocelo {

/// Every byte of the buffer to UTF-16; each maximal ill-formed subsequence becomes one U+FFFD.
std::u16string DecodeUtf8(std::span<const std::uint8_t> bytes);
std::u16string DecodeUtf8Scalar(std::span<const std::uint8_t> bytes);
/// DecodeUtf8 into `text`, replacing its content and reusing its memory.
void DecodeUtf8Into(std::span<const std::uint8_t> bytes, std::u16string& text);

/// Every code unit to UTF-8; a lone surrogate becomes EF BF BD (U+FFFD).
std::vector<std::uint8_t> EncodeUtf8(std::u16string_view text);
std::vector<std::uint8_t> EncodeUtf8Scalar(std::u16string_view text);
/// EncodeUtf8 into `bytes`, replacing their content and reusing their memory.
void EncodeUtf8Into(std::u16string_view text, std::vector<std::uint8_t>& bytes);

}  // namespace ocelo
