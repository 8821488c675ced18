// The integer codes of the text encodings the program tells apart and writes.
#pragma once

namespace ocelo {

/// A text encoding, compared as a plain integer: a detection result equals a target kind only when the
/// numbers are equal (a file detected as Ascii never equals the target Utf8).
using EncodingKind = int;

namespace kind {
inline constexpr EncodingKind Copy = 0;  ///< target: copy unchanged; detected: nothing recognised
inline constexpr EncodingKind Utf8 = 8;
inline constexpr EncodingKind Utf16Le = 16;
inline constexpr EncodingKind Utf16Be = 17;   ///< detection result only
inline constexpr EncodingKind Utf32Le = 32;   ///< detection result only
inline constexpr EncodingKind Utf32Be = 33;   ///< detection result only
inline constexpr EncodingKind Ascii = 65;     ///< detection result only: no high byte at a lead position
inline constexpr EncodingKind ShiftJis = 74;  ///< Windows code page 932
}  // namespace kind

}  // namespace ocelo
