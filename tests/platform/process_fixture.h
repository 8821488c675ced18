// Test helpers for starting programs: executable scripts in the test's folder, waiting for the file a
// detached script writes, and $PATH set for the life of an object.
#pragma once

#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "support/sandbox.h"

namespace ocelo::test {

/// The test's fresh folder, holding scripts; one per test.
class ScriptFolder {
 public:
  ScriptFolder() : root_(TestFolder()) {}
  const std::string& Root() const { return root_; }

  /// Writes an executable /bin/sh script and returns its path.
  std::string Script(const std::string& name, const std::string& body) const {
    const std::string path = root_ + "/" + name;
    WriteText(path, "#!/bin/sh\n" + body + "\n");
    ::chmod(path.c_str(), 0755);
    return path;
  }

  /// The content of a file a detached script writes (it writes a temporary file and renames it, so the
  /// file is whole once it exists); empty after a minute without it, a bound only a broken start reaches.
  std::string WaitFor(const std::string& path) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!Exists(path)) {
      if (std::chrono::steady_clock::now() > deadline) return {};
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const Bytes bytes = ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
  }

 private:
  std::string root_;
};

class ScopedPath {
 public:
  explicit ScopedPath(const std::string& value) : previous_(std::getenv("PATH") ? std::getenv("PATH") : "") {
    ::setenv("PATH", value.c_str(), 1);
  }
  ~ScopedPath() { ::setenv("PATH", previous_.c_str(), 1); }

 private:
  std::string previous_;
};

}  // namespace ocelo::test
