// The settings file's own text reader and writer: an INI file is read in whatever form it has (UTF-16 of
// either byte order, UTF-8, Shift_JIS) and written as UTF-16LE with a mark, under the sharing rules of
// settings files: a reader keeps writers out, a writer keeps everyone out, and only a busy file is waited for.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace ocelo {

/// True when the path names an existing file or folder (a network path: when it can be reached).
bool PathExists(std::u16string_view path);

/// Empties `text`, then fills it with the decoded content of the file. False, with an empty text, when
/// the path is empty, the file is missing or empty, cannot be opened (a busy file is waited for up to the
/// open time, any other failure ends at once) or cannot be read whole.
[[nodiscard]] bool ReadSettingsText(std::u16string_view path, std::u16string& text);

/// ReadSettingsText with the whole text (DecodeWholeSettingsBytes): what a rewrite of the file starts from,
/// so that it keeps whatever follows a zero in the file.
[[nodiscard]] bool ReadWholeSettingsText(std::u16string_view path, std::u16string& text);

/// Replaces the file's content with FF FE and the text's UTF-16LE units (the whole text). The ANSI form
/// (code page 932 without mark) is used only where that is the system's ANSI code page, which is never
/// the case here. The new content replaces the old in one step, so a reader sees the old or the new
/// file, never a mix; a failed write leaves the old content. A busy file is waited for; a missing
/// folder, a read-only file or a refused write fails at once.
[[nodiscard]] bool WriteSettingsText(std::u16string_view path, std::u16string_view text);

/// True when the file's first two bytes are FF FE or FE FF; false for a missing, empty or unreadable file.
bool HasUtf16Mark(std::u16string_view path);

/// Makes the file UTF-16LE with a mark: true when it already starts with a UTF-16 mark (of either byte
/// order; it is left alone) or has been rewritten as FF FE and its text. A missing or empty file becomes
/// just FF FE. A file that exists with content but cannot be read is left as it is (false), never emptied.
/// The whole text is kept (ReadWholeSettingsText), a U+0000 and what follows it included.
bool ConvertToUtf16File(std::u16string_view path);

/// The text of a settings file's bytes: after a UTF-16 mark the units up to the first zero unit, after a
/// UTF-8 mark UTF-8 up to the first zero byte; otherwise UTF-8 when an XML declaration among the first ten
/// CR LF lines names UTF-8, else the text the general reader makes of the bytes.
std::u16string DecodeSettingsBytes(std::span<const std::uint8_t> bytes);

/// The whole text of a settings file's bytes, in the form DecodeSettingsBytes finds, with a zero (what a
/// crash can leave) taken as an ordinary U+0000 and everything after it decoded too; DecodeSettingsBytes
/// gives this text up to its first U+0000. (UTF-32, which drops its zero units, is the same in both.)
std::u16string DecodeWholeSettingsBytes(std::span<const std::uint8_t> bytes);

}  // namespace ocelo
