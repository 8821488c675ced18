// Paths as the program makes them, for comparing with the paths a test writes: its separators, and where
// the Rescue folder of a folder lies in the sandbox.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>

#include "base/paths.h"
#include "support/sandbox.h"

namespace ocelo::test {

/// A path the program made, with the separators the test writes ("C:\a\b" => "C:/a/b" on Windows).
inline std::string Slashed(std::u16string_view path) {
  std::string text = U8(path);
  if (kPathSeparator == u'\\') std::replace(text.begin(), text.end(), '\\', '/');
  return text;
}

/// The test program's file name, as dump lines give it.
#ifdef _WIN32
inline constexpr std::string_view kProgramName = "ocelo_tests.exe";
#else
inline constexpr std::string_view kProgramName = "ocelo_tests";
#endif

/// A path the test wrote, with the separators the program makes ("C:/a/b" => "C:\a\b" on Windows).
inline std::string Native(std::string path) {
  if (kPathSeparator == u'\\') std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

/// How often a text occurs in another (a dump line in a log, say).
inline int Occurrences(std::string_view text, std::string_view piece) {
  int count = 0;
  for (std::size_t at = text.find(piece); at != std::string_view::npos; at = text.find(piece, at + piece.size())) {
    ++count;
  }
  return count;
}

/// A folder's pieces as the Rescue folder mirrors them: every separator and colon starts a piece
///   /home/u => /home/u      C:\Users\u => /C/Users/u      C:/a//b => /C/a/b
inline std::string Mirror(std::string_view folder) {
  std::string mirror;
  bool separate = true;
  for (const char c : folder) {
    const bool separator = c == '/' || c == ':' || (c == '\\' && kPathSeparator == u'\\');
    if (!separator && separate) mirror += '/';
    if (!separator) mirror += c;
    separate = separator;
  }
  return mirror;
}

/// The sandbox's Rescue folder for the files of a folder.
inline std::string RescueOf(std::string_view folder) { return SandboxRoot() + "/tmp/Rescue" + Mirror(folder); }

}  // namespace ocelo::test
