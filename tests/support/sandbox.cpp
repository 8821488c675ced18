// The test sandbox: its folders, the environment pointing into them, and file helpers.
#include "support/sandbox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <stdexcept>

#include "platform/process.h"
#include "platform/system.h"
#include "util/policy.h"

#ifdef _WIN32
#include <windows.h>  // RegDeleteTreeW: the sandbox's registry goes with it
#endif

namespace ocelo::test {
namespace fs = std::filesystem;

namespace {

#ifdef _WIN32
// A new folder under the system's temporary folder, as mkdtemp makes one.
std::string NewSandboxFolder() {
  const char* base = std::getenv("OCELO_TEST_BASE");
  const fs::path parent = base && *base ? fs::path(base) : fs::temp_directory_path();
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path folder = parent / ("ocelo-test-" + std::to_string(random() % 100000000u));
    std::error_code error;
    if (fs::create_directory(folder, error)) return folder.generic_string();
  }
  throw std::runtime_error("cannot create the test sandbox");
}

void SetVariable(const char* name, const std::string& value) { sys::SetEnvironment(U16(name), U16(value)); }
#else
std::string NewSandboxFolder() {
  const char* base = std::getenv("OCELO_TEST_BASE");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/ocelo-test-XXXXXX";
  if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot create the test sandbox");
  return pattern;
}

void SetVariable(const char* name, const std::string& value) { setenv(name, value.c_str(), 1); }
#endif

std::string MakeSandbox() {
  const std::string root = NewSandboxFolder();
  for (const char* sub : {"/home", "/tmp", "/data", "/config", "/cache", "/work"}) {
    fs::create_directories(root + sub);
    // The user's own and closed to others whatever the umask, so that TMPDIR is used as it is.
    fs::permissions(root + sub, fs::perms::owner_all);
  }
  // No test ever starts the real xdg-open: a fake one first on PATH records what it was asked to open.
  fs::create_directories(root + "/bin");
  {
    std::ofstream script(root + "/bin/xdg-open");
    script << "#!/bin/sh\nprintf '%s\\n' \"$*\" >> '" << root << "/xdg-open.log'\n";
  }
  fs::permissions(root + "/bin/xdg-open", fs::perms::owner_all);
#ifndef _WIN32
  const char* path = std::getenv("PATH");
  SetVariable("PATH", root + "/bin:" + (path ? path : "/usr/bin:/bin"));
#endif
  SetVariable("HOME", root + "/home");
  SetVariable("TMPDIR", root + "/tmp");
#ifdef _WIN32
  // GetTempPathW reads TMP, then TEMP: the temporary root (and the Rescue folders under it) is the
  // sandbox's, not the one the Wine prefix gives every test process.
  SetVariable("TMP", root + "/tmp");
  SetVariable("TEMP", root + "/tmp");
#endif
  SetVariable("XDG_DATA_HOME", root + "/data");
  SetVariable("XDG_CONFIG_HOME", root + "/config");
  SetVariable("XDG_CACHE_HOME", root + "/cache");
  // The Windows build's forms of the same: its shared documents folder and a registry of its own, a key
  // under HKEY_CURRENT_USER named for this sandbox (test processes share the prefix's registry).
  SetVariable("OCELO_TEST_DOCUMENTS", root + "/data");
  SetVariable("OCELO_TEST_REGISTRY", "Software\\Ocelo tests\\" + fs::path(root).filename().string());
#ifdef _WIN32
  // No window opens on the desktop: what the shell would show is noted where the fake xdg-open notes it.
  SetVariable("OCELO_TEST_SHELL_LOG", root + "/xdg-open.log");
#endif
  // Failure paths retry as the program does, with pauses short enough for a test.
  WaitPolicy waits;
  waits.open_wait = std::chrono::milliseconds(1);
  waits.rewrite_wait = std::chrono::milliseconds(0);
  waits.program_lookup = std::chrono::seconds(60);  // a look-up ends on its answer; this only bounds a lost one
  SetWaits(waits);
  // The fake opener answers at once; waiting for its verdict until it does keeps a busy machine from turning
  // a failure it reports into "still running, so opened".
  sys::SetOpenerWait(std::chrono::seconds(60));
  return root;
}

}  // namespace

void RemoveSandbox() {
  if (std::getenv("OCELO_KEEP_SANDBOX")) return;
  std::error_code ignored;
  fs::remove_all(SandboxRoot(), ignored);
#ifdef _WIN32
  const std::u16string registry = U16("Software\\Ocelo tests\\" + fs::path(SandboxRoot()).filename().string());
  ::RegDeleteTreeW(HKEY_CURRENT_USER, reinterpret_cast<const wchar_t*>(registry.c_str()));
#endif
}

const std::string& SandboxRoot() {
  static const std::string root = MakeSandbox();
  return root;
}

std::string TestFolder() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "global";
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  std::string folder = SandboxRoot() + "/work/" + name;
  std::error_code ignored;
  fs::remove_all(folder, ignored);
  fs::create_directories(folder);
  return folder;
}

std::string Slashes(std::string path) {
#ifdef _WIN32
  std::replace(path.begin(), path.end(), '\\', '/');
#endif
  return path;
}

std::u16string TestFolderU16() { return U16(TestFolder() + "/"); }

std::u16string U16(std::string_view utf8) {
  std::u16string out;
  for (std::size_t i = 0; i < utf8.size();) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    char32_t cp;
    int len;
    if (c < 0x80) {
      cp = c;
      len = 1;
    } else if ((c >> 5) == 6) {
      cp = c & 0x1F;
      len = 2;
    } else if ((c >> 4) == 14) {
      cp = c & 0x0F;
      len = 3;
    } else {
      cp = c & 0x07;
      len = 4;
    }
    for (int k = 1; k < len && i + k < utf8.size(); ++k) cp = (cp << 6) | (utf8[i + k] & 0x3F);
    i += len;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

std::string U8(std::u16string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t cp = text[i];
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[++i] - 0xDC00);
    }
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

namespace {

// A UTF-8 path as the system takes it: on Windows wide, and with the "\\?\" prefix when absolute and
// long, so that names outside the ANSI code page and paths beyond MAX_PATH reach the file.
fs::path SystemPath(const std::string& path) {
#ifdef _WIN32
  std::u16string wide = U16(path);
  if (wide.size() >= 248 && wide[1] == u':' && (wide[2] == u'/' || wide[2] == u'\\')) {
    std::replace(wide.begin(), wide.end(), u'/', u'\\');
    wide.insert(0, u"\\\\?\\");
  }
  return fs::path(wide);
#else
  return fs::path(path);
#endif
}

}  // namespace

void WriteBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(SystemPath(path), std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void WriteText(const std::string& path, std::string_view bytes) { WriteBytes(path, Bytes(bytes.begin(), bytes.end())); }

Bytes ReadBytes(const std::string& path) {
  std::ifstream in(SystemPath(path), std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Exists(const std::string& path) {
  std::error_code ignored;
  return fs::exists(fs::symlink_status(SystemPath(path), ignored));
}

Bytes Hex(std::string_view hex) {
  Bytes out;
  int nibbles = 0;
  unsigned value = 0;
  for (char c : hex) {
    int digit = (c >= '0' && c <= '9')   ? c - '0'
                : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                         : -1;
    if (digit < 0) continue;
    value = value * 16 + static_cast<unsigned>(digit);
    if (++nibbles == 2) {
      out.push_back(static_cast<std::uint8_t>(value));
      nibbles = 0;
      value = 0;
    }
  }
  return out;
}

std::string ToHex(const Bytes& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i) out += ' ';
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 15];
  }
  return out;
}

std::map<std::string, std::string> TreeOf(const std::string& root) {
  namespace fs = std::filesystem;
  std::map<std::string, std::string> tree;
  std::error_code ignored;
  for (auto it = fs::recursive_directory_iterator(root, ignored); it != fs::recursive_directory_iterator();
       it.increment(ignored)) {
    const bool file = it->is_regular_file(ignored);
    tree[it->path().string()] = file ? std::to_string(it->file_size(ignored)) + "@" +
                                           std::to_string(it->last_write_time(ignored).time_since_epoch().count())
                                     : "folder";
  }
  return tree;
}

}  // namespace ocelo::test

#ifdef _WIN32
#include <windows.h>
#include <winioctl.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <thread>

namespace ocelo::test {

std::string DumpLog() {
  const std::string folder = SandboxRoot() + "/data/Temp/Temp/DbgDump/WC";
  std::vector<std::string> files;
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(folder, ignored)) {
    if (entry.path().extension() == ".txt") files.push_back(entry.path().string());
  }
  std::sort(files.begin(), files.end());
  std::string log;
  for (const std::string& file : files) {
    Bytes bytes = ReadBytes(file);
    std::u16string text;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
      text += static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
    }
    if (!text.empty() && text[0] == 0xFEFF) text.erase(0, 1);
    log += U8(text);
  }
  return log;
}

std::vector<std::string> OpenedByShell(std::size_t expected) {
  const std::string log = SandboxRoot() + "/xdg-open.log";
  std::vector<std::string> lines;
  // The opener runs detached: give it up to a minute, a bound only a lost request reaches.
  for (int waited = 0; waited < 6000; ++waited) {
    lines.clear();
    std::ifstream in(log);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    if (lines.size() >= expected) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return lines;
}

void ClearOpenedByShell() { fs::remove(SandboxRoot() + "/xdg-open.log"); }

void MakeSparseFile(const std::string& path, std::int64_t size) {
#ifdef _WIN32
  // NTFS keeps a file's unwritten end as zeros without blocks only once marked sparse. The C runtime's
  // resize stops short of such sizes, so the end is set by the system's own calls.
  const std::u16string wide = U16(path);
  HANDLE file = ::CreateFileW(reinterpret_cast<const wchar_t*>(wide.c_str()), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot make a sparse file");
  DWORD returned = 0;
  ::DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
  LARGE_INTEGER end;
  end.QuadPart = size;
  const bool sized = ::SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && ::SetEndOfFile(file);
  ::CloseHandle(file);
  if (!sized) throw std::runtime_error("cannot make a sparse file");
#else
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0 || ::ftruncate(fd, size) != 0) throw std::runtime_error("cannot make a sparse file");
  ::close(fd);
#endif
}

namespace {
std::atomic<int> g_pauses{0};
void CountPause(std::chrono::milliseconds) { ++g_pauses; }
}  // namespace

CountedPauses::CountedPauses(int attempts, std::chrono::milliseconds wait) {
  WaitPolicy waits = Waits();
  waits.open_attempts = attempts;
  waits.open_wait = wait;
  waits.pause_hook = CountPause;
  previous_ = SetWaits(waits);
  g_pauses = 0;
}

CountedPauses::~CountedPauses() { SetWaits(previous_); }

int CountedPauses::Take() { return g_pauses.exchange(0); }

#ifdef _WIN32
// A handle that shares nothing: every other open of the file fails with a sharing violation.
FileLock::FileLock(const std::string& path) {
  const std::u16string wide = U16(path);
  HANDLE handle = ::CreateFileW(reinterpret_cast<const wchar_t*>(wide.c_str()), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot lock " + path);
  handle_ = handle;
}

FileLock::~FileLock() {
  if (handle_) ::CloseHandle(handle_);
}
#else
FileLock::FileLock(const std::string& path) {
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0 || ::flock(fd_, LOCK_EX) != 0) throw std::runtime_error("cannot lock " + path);
}

FileLock::~FileLock() {
  if (fd_ >= 0) ::close(fd_);
}
#endif

}  // namespace ocelo::test
