// The test sandbox: every test process runs with its own HOME, TMPDIR and XDG folders, short waits,
// and helpers to make and read files there.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "util/policy.h"

namespace ocelo::test {

using Bytes = std::vector<std::uint8_t>;

/// The sandbox root of this test process (HOME points here); created before the first test runs.
const std::string& SandboxRoot();

/// Removes the sandbox (at the end of the test process), unless OCELO_KEEP_SANDBOX is set.
void RemoveSandbox();

/// A fresh, empty folder for the running test (UTF-8 path, no trailing slash).
std::string TestFolder();

/// The same folder as a program path, with a trailing separator.
std::u16string TestFolderU16();

/// A UTF-8 path as a program path and back.
std::u16string U16(std::string_view utf8);
std::string U8(std::u16string_view text);

/// A path with its separators as '/': the Windows build joins paths with '\\', the tests write theirs with '/'.
/// POSIX paths are left as they are (a backslash is a character of a name there).
std::string Slashes(std::string path);

/// Plain file helpers that bypass the code under test.
void WriteBytes(const std::string& path, const Bytes& bytes);
void WriteText(const std::string& path, std::string_view bytes);
Bytes ReadBytes(const std::string& path);
bool Exists(const std::string& path);

/// Every path below a folder with its size and modification time (a folder as "folder"): what a run that
/// writes nothing leaves alike.
std::map<std::string, std::string> TreeOf(const std::string& root);

/// Bytes from a hex text such as "EF BB BF 41".
Bytes Hex(std::string_view hex);

/// A text as the hex of its bytes, for readable failure messages.
std::string ToHex(const Bytes& bytes);

}  // namespace ocelo::test

namespace ocelo::test {

/// Every line written to the dump log so far in this sandbox (all hourly files, in name order),
/// as UTF-8, without the mark; empty when there is no log.
std::string DumpLog();

/// What the sandbox's fake xdg-open was asked to open, one line per call (its arguments joined by
/// blanks), waiting a moment for `expected` lines since openers run detached.
std::vector<std::string> OpenedByShell(std::size_t expected = 1);
void ClearOpenedByShell();

/// A file of the given size without its blocks (a sparse file), for sizes beyond memory.
void MakeSparseFile(const std::string& path, std::int64_t size);

/// For one scope, busy files are waited for `attempts` times an hour apart, and every pause is counted
/// instead of slept: a test sees how often the code waited without taking the time.
class CountedPauses {
 public:
  explicit CountedPauses(int attempts = 100, std::chrono::milliseconds wait = std::chrono::hours(1));
  ~CountedPauses();
  CountedPauses(const CountedPauses&) = delete;
  CountedPauses& operator=(const CountedPauses&) = delete;

  /// The pauses asked for since the scope began or the last Take, which starts the count again.
  int Take();

 private:
  WaitPolicy previous_;
};

/// Holds an exclusive lock on a file, as another process editing it would, until destroyed.
class FileLock {
 public:
  explicit FileLock(const std::string& path);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

 private:
  int fd_ = -1;             // POSIX: the descriptor holding the lock
  void* handle_ = nullptr;  // Windows: the handle that shares nothing
};

}  // namespace ocelo::test
