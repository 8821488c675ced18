// Writing text files: UTF-16 text to the bytes of one encoding, written as a file's whole new content.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace ocelo {

/// Replaces the file's content with the bytes, atomically: a reader sees the old or the new content,
/// never a mix, and a failed write leaves the old content. A busy, read-only or unreachable target is
/// retried for the open time, then fails with the dump line "Can't open wb  " + path; a write that the
/// disk refuses fails at once ("Can't write   " + path). `rewrite_count` is 0 for callers.
bool WriteFileBytes(std::u16string_view path, std::span<const std::uint8_t> bytes, int rewrite_count = 0);

/// The bytes each writer below writes for a text: its encoding step without the write.
std::vector<std::uint8_t> Utf8FileBytes(std::u16string_view text, bool mark);
std::vector<std::uint8_t> Utf16FileBytes(std::u16string_view text, bool mark);
std::vector<std::uint8_t> Utf16MarkedFileBytes(std::u16string_view text);
std::vector<std::uint8_t> ShiftJisFileBytes(std::u16string_view text);

/// UTF-8 of the text up to its first U+0000, with EF BB BF in front when `mark` is set; a lone surrogate
/// becomes EF BF BD.
bool WriteUtf8File(std::u16string_view path, std::u16string_view text, bool mark);

/// UTF-16LE of the text up to its first U+0000, with FF FE in front when `mark` is set.
bool WriteUtf16File(std::u16string_view path, std::u16string_view text, bool mark);

/// UTF-16LE of the whole text (U+0000 included) with exactly one FF FE in front: marks at the start of the
/// text are dropped first, unless the text is nothing but marks.
bool WriteUtf16MarkedFile(std::u16string_view path, std::u16string_view text);

/// Code page 932 of the text up to its first U+0000, no mark; a character it cannot represent becomes "_".
bool WriteShiftJisFile(std::u16string_view path, std::u16string_view text);

}  // namespace ocelo
