// Test helpers for starting programs: executable scripts in the test's folder (shell scripts, or on Windows
// batch files), waiting for the file a detached script writes, and $PATH set for the life of an object.
#pragma once

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/system.h"
#include "support/sandbox.h"

namespace ocelo::test {

/// The test's fresh folder, holding scripts; one per test.
class ScriptFolder {
 public:
  ScriptFolder() : root_(TestFolder()) {}
  const std::string& Root() const { return root_; }

#ifdef _WIN32
  /// Writes a batch file (the name ends in ".cmd") with the body's lines ended by CR LF and returns its path.
  std::string Script(const std::string& name, const std::string& body) const {
    const std::string path = root_ + "/" + name;
    std::string text = "@echo off\r\n";
    for (char c : body + "\n") text += c == '\n' ? std::string("\r\n") : std::string(1, c);
    WriteText(path, text);
    return path;
  }
#else
  /// Writes an executable /bin/sh script and returns its path.
  std::string Script(const std::string& name, const std::string& body) const {
    const std::string path = root_ + "/" + name;
    WriteText(path, "#!/bin/sh\n" + body + "\n");
    ::chmod(path.c_str(), 0755);
    return path;
  }
#endif

  /// The content of a file a detached script writes (it writes a temporary file and renames it, so the
  /// file is whole once it exists); empty after a minute without it, a bound only a broken start reaches.
  /// Under Wine the command processor may hold the renamed file a moment longer, and it cannot be read
  /// meanwhile: a file that reads empty is read again.
  std::string WaitFor(const std::string& path) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
      if (Exists(path)) {
        const Bytes bytes = ReadBytes(path);
        if (!bytes.empty()) return std::string(bytes.begin(), bytes.end());
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return {};
  }

 private:
  std::string root_;
};

/// $PATH, and the separator between its folders.
#ifdef _WIN32
inline constexpr char kPathListSeparator = ';';
#else
inline constexpr char kPathListSeparator = ':';
#endif

/// $PATH as `value` for the life of the object; PathWith(folder) puts a folder first.
class ScopedPath {
 public:
  explicit ScopedPath(const std::string& value) : previous_(sys::Environment(u"PATH")) {
    sys::SetEnvironment(u"PATH", U16(value));
  }
  ~ScopedPath() { sys::SetEnvironment(u"PATH", previous_); }

 private:
  std::u16string previous_;
};

/// The folder, then $PATH.
inline std::string PathWith(const std::string& folder) {
  return folder + kPathListSeparator + U8(sys::Environment(u"PATH"));
}

}  // namespace ocelo::test
