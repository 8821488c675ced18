// ASCII letter case: lower-casing A to Z only, as the C runtime does in its default locale, for the
// names, keys and extensions the program compares without case.
#pragma once

#include <string>
#include <string_view>

namespace ocelo {

/// The letter lower-cased when it is one of A to Z; every other character unchanged.
///   A => a      a => a      Ä => Ä      Ａ (fullwidth) => Ａ
constexpr char16_t AsciiLower(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }
constexpr char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

/// The text with A to Z lower-cased.
std::u16string ToLowerAscii(std::u16string_view text);
std::string ToLowerAscii(std::string_view text);

/// True when the texts are the same but for the case of A to Z.
bool EqualsIgnoringAsciiCase(std::u16string_view a, std::u16string_view b);

/// True when `part` occurs in `text`, ignoring the case of A to Z; an empty part occurs everywhere.
bool ContainsIgnoringAsciiCase(std::u16string_view text, std::u16string_view part);

}  // namespace ocelo
