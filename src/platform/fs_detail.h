// Inside the platform layer only: what the POSIX and Windows implementations of platform/fs.h share
// (fs_common.cpp) and the few questions each answers for the shared code in its own way.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string_view>

#include "platform/fs.h"

namespace ocelo::sys::detail {

/// The C runtime's mode text of OpenStream: "r", "w" or "a" first, then any of "+", "b", "t", "x"; the
/// rest of the text after a comma (Windows' "ccs=") is ignored.
struct OpenMode {
  bool valid = false;
  bool read = false;
  bool write = false;  ///< the file is written (w, a, +): exclusive lock, read-only files refused
  bool create = false;
  bool truncate = false;
  bool append = false;
  bool must_create = false;
  const char* stdio = "rb";  ///< the mode for the stream on the opened file, which never truncates or creates
};

OpenMode ParseMode(const char* text);

/// The name of a temporary file beside a target: ".<name>.ocelo-XXXXXX", the last six of these letters
/// and digits. Files of that form unchanged for a day are left from killed runs and swept away.
inline constexpr std::string_view kTempMarker = ".ocelo-";
inline constexpr std::string_view kTempSuffixChars = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
inline constexpr std::size_t kTempRandomLength = 6;
inline constexpr std::int64_t kStaleTempAge = 24 * 60 * 60;

constexpr bool IsTempSuffixChar(char32_t c) {
  return (c >= U'A' && c <= U'Z') || (c >= U'a' && c <= U'z') || (c >= U'0' && c <= U'9');
}

/// Whether a name (bytes or UTF-16 units) is one of our temporary files.
template <typename Char>
bool IsTempName(std::basic_string_view<Char> name) {
  constexpr std::size_t kTail = kTempMarker.size() + kTempRandomLength;
  if (name.size() < 2 + kTail || name[0] != Char('.')) return false;
  const std::basic_string_view<Char> tail = name.substr(name.size() - kTail);
  for (std::size_t i = 0; i < kTail; ++i) {
    const Char c = tail[i];
    if (i < kTempMarker.size() ? c != Char(kTempMarker[i]) : !IsTempSuffixChar(static_cast<char32_t>(c))) return false;
  }
  return true;
}

/// Whether a sweep of stale temporary files should look at this folder (its native bytes on POSIX, its
/// UTF-16 text on Windows): true the first time a process asks about it, and never when there is no
/// memory to note it (a sweep is a courtesy).
bool FirstSweepOf(std::string_view folder);
bool FirstSweepOf(std::u16string_view folder);

/// The id of the file a path names, read through Stat (links followed). Returns 0 or the C error number.
[[nodiscard]] int FileIdByStat(std::u16string_view path, FileId& id);

/// How many bytes lie between a stream's position and its file's end by the size the system reports, a
/// first guess for ReadWholeFile; 0 when there is no such size (a pipe, a device, a /proc file). Each
/// system answers in its own file.
std::uint64_t RemainingSizeGuess(std::FILE* stream);

}  // namespace ocelo::sys::detail
