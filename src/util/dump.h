// The diagnostic dump log: hourly UTF-16 files shared by the tools of the family, and the small helpers
// its lines are made of (local-time formatting, the program's own path, text to UTF-16 bytes).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ocelo {

/// Appends one message line "time<TAB>program<TAB>message CR LF" to the current hourly dump file; CR and
/// LF inside the message each become a tab. Returns true when the line was written.
bool DumpText(std::u16string_view message);

/// Appends bytes verbatim to the current dump file (after the mark FF FE and the header line when the
/// file is new or empty). Callers pass UTF-16LE text. Returns true on success.
bool AppendDump(const std::vector<std::uint8_t>& bytes);

/// The folder the dump files go to: the shared documents folder + /Temp/Temp/DbgDump/WC; empty when the
/// system has no documents folder (the append then fails).
std::u16string DumpFolder();

/// Sets the clean-up flag again, so that the next append schedules old dump files once more (tests).
void ResetDumpCleanup();

/// The local time formatted with `wcsftime`-style conversions ("%Y/%m/%d %H:%M:%S"); empty when the time
/// cannot be converted or the result is empty or longer than 255 characters.
std::u16string FormatTime(std::int64_t time, std::u16string_view format);

/// FormatTime of the program's current time (`Now`).
std::u16string FormatNow(std::u16string_view format);

/// The full path of the running program. The first call of a process also writes
/// "::get_arv() ... empty" and a line end to the standard error stream, while diagnostics are shown there.
std::u16string ModulePath();

/// Whether the diagnostic lines meant for the standard error stream (the ModulePath notice, the version
/// reader's failures) are written there: they are, unless a program turns them off for a while, as
/// ocelo-cli does without --verbose so that the stream carries its own reports only. Returns the former
/// setting.
bool ShowDiagnostics(bool shown);
bool DiagnosticsShown();

/// The text's UTF-16 little-endian bytes, two per code unit, the whole length.
std::vector<std::uint8_t> TextToBytes(std::u16string_view text);

/// The text with every CR replaced by replacement[0] and every LF by the rest of `replacement`.
///   "a\r\nb" with two tabs => "a\t\tb"
std::u16string ReplaceLineBreaks(std::u16string_view text, std::u16string_view replacement);

}  // namespace ocelo
