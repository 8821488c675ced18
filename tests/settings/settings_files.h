// Helpers of the settings-file tests: file contents in UTF-16, own folders for the INI folder and the
// registry, and the clock and wait policy for one scope.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/system.h"
#include "settings/ini_path.h"
#include "settings/profile_cache.h"
#include "support/sandbox.h"
#include "util/policy.h"

namespace ocelo::test {

/// FF FE and the text's units: the bytes of a settings file the store wrote.
inline Bytes MarkedUtf16(std::u16string_view text) {
  Bytes bytes{0xFF, 0xFE};
  for (char16_t c : text) {
    bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  return bytes;
}

/// A path the test wrote with '/' in the form the system gives paths: on Windows with backslashes, where a
/// settings name holding no backslash is a name in the INI folder, not a path.
inline std::string Native(std::string path) {
#ifdef _WIN32
  std::replace(path.begin(), path.end(), '/', '\\');
#endif
  return path;
}

/// The bytes of a narrow literal (UTF-8 or raw), followed by more bytes.
inline Bytes Raw(std::string_view text, const Bytes& more = {}) {
  Bytes bytes(text.begin(), text.end());
  bytes.insert(bytes.end(), more.begin(), more.end());
  return bytes;
}

/// The test's own documents and config folders (so its own INI folder and registry) for one scope; the
/// registry base name resolves afresh. On Windows the documents folder and the registry (a key of its own
/// under the sandbox's) come from the variables the Windows build reads in their place.
class OwnFolders {
 public:
  OwnFolders() : root_(TestFolder()) {
    const std::u16string registry = sys::Environment(u"OCELO_TEST_REGISTRY") + u"\\" +
                                    U16(std::filesystem::path(root_).filename().string());
    const std::pair<std::u16string_view, std::u16string> own[] = {
        {u"XDG_DATA_HOME", U16(root_ + "/data")},
        {u"XDG_CONFIG_HOME", U16(root_ + "/config")},
        {u"OCELO_TEST_DOCUMENTS", U16(root_ + "/data")},
        {u"OCELO_TEST_REGISTRY", registry},
    };
    for (const auto& [name, value] : own) {
      saved_.emplace_back(name, sys::Environment(name));
      sys::SetEnvironment(name, value);
    }
    ResetRegKeyBase();
  }
  ~OwnFolders() {
    for (const auto& [name, value] : saved_) sys::SetEnvironment(name, value);
    ResetRegKeyBase();
  }
  const std::string& Root() const { return root_; }

 private:
  std::string root_;
  std::vector<std::pair<std::u16string, std::u16string>> saved_;
};

/// An empty read cache whose flush period starts now; Pass() moves the program's clock past the period,
/// so that the next cache store flushes. The clock is put back at the end of the scope.
class FreshCache {
 public:
  FreshCache() : previous_(SetClockOffset(0)) {
    SetClockOffset(previous_);
    profile_cache::Clear();
  }
  ~FreshCache() {
    SetClockOffset(previous_);
    profile_cache::SetFlushSignal(nullptr);
    profile_cache::Clear();
  }
  void Pass(std::int64_t seconds = 11) { SetClockOffset(previous_ + (shift_ += seconds)); }

 private:
  std::int64_t previous_;
  std::int64_t shift_ = 0;
};

/// Another wait policy for busy files, for one scope.
class ScopedWaits {
 public:
  ScopedWaits(int attempts, std::chrono::milliseconds wait) {
    WaitPolicy waits = Waits();
    waits.open_attempts = attempts;
    waits.open_wait = wait;
    previous_ = SetWaits(waits);
  }
  ~ScopedWaits() { SetWaits(previous_); }

 private:
  WaitPolicy previous_;
};

}  // namespace ocelo::test
