// The process and its user on Windows: the shell's folders, the logon name, the module file, the
// environment and the system's version as RtlGetVersion reports it (GetVersionEx lies to programs
// without a manifest).
#include "platform/system.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <shellapi.h>
#include <shlobj.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/fs.h"
#include "platform/win32/native.h"

namespace ocelo::sys {
namespace {

// Calls `get(buffer, size)`, which answers the units it wrote or, when the buffer is too small, the
// size it needs; grows the buffer until the text fits. Empty on failure (an answer of 0).
template <typename Get>
std::u16string GrowingText(Get get) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (int round = 0; round < 8; ++round) {
    const DWORD n = get(buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) return win32::FromWide(buffer.data(), n);
    buffer.resize(std::max<std::size_t>(n + 1, buffer.size() * 2));
  }
  return {};
}

}  // namespace

std::u16string TempPath() {
  return GrowingText([](wchar_t* buffer, DWORD size) { return ::GetTempPathW(size, buffer); });
}

std::u16string SpecialFolderPath(int csidl) {
  // The test suite gives every test process a shared documents folder of its own (the settings, the dump
  // log and the family's folders live there): OCELO_TEST_DOCUMENTS, an absolute folder path that only the
  // test sandbox sets. Without it, or when it is not absolute, the system's folder.
  if ((csidl & ~kCsidlFlagCreate) == kCsidlCommonDocuments) {
    std::u16string own = Environment(u"OCELO_TEST_DOCUMENTS");
    if (own.size() > 2 && own[1] == u':' && (own[2] == u'\\' || own[2] == u'/')) {
      for (char16_t& c : own) {
        if (c == u'/') c = u'\\';  // the system's own form
      }
      while (own.size() > 3 && own.back() == u'\\') own.pop_back();
      if ((csidl & kCsidlFlagCreate) != 0) {
        std::wstring wide;
        if (win32::WidePath(own, wide) == 0) ::SHCreateDirectoryExW(nullptr, wide.c_str(), nullptr);
      }
      return own;
    }
  }
  wchar_t buffer[MAX_PATH] = {};
  // CSIDL_FLAG_CREATE has the value of kCsidlFlagCreate, so the identifier goes to the shell as it is.
  if (FAILED(::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer))) return {};
  std::u16string folder = win32::FromWide(buffer, wcslen(buffer));
  while (folder.size() > 3 && (folder.back() == u'\\' || folder.back() == u'/')) folder.pop_back();
  return folder;
}

std::u16string LogonName() {
  wchar_t buffer[257] = {};  // UNLEN + 1
  DWORD size = 257;
  if (!::GetUserNameW(buffer, &size) || size == 0) return {};
  return win32::FromWide(buffer, size - 1);  // the size counts the terminator
}

std::u16string ExecutablePath() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (int round = 0; round < 8; ++round) {
    const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) return win32::FromWide(buffer.data(), n);
    buffer.resize(buffer.size() * 2);  // cut short: the path did not fit
  }
  return {};
}

std::u16string WorkingFolder() {
  return GrowingText([](wchar_t* buffer, DWORD size) { return ::GetCurrentDirectoryW(size, buffer); });
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  int count = 0;
  LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (!wide) return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>();
  std::vector<std::string> arguments;
  for (int i = 1; i < count; ++i) arguments.push_back(ToNativePath(win32::FromWide(wide[i], wcslen(wide[i]))));
  ::LocalFree(wide);
  return arguments;
}

void UseBinaryStandardStreams() {
  ::_setmode(::_fileno(stdin), _O_BINARY);
  ::_setmode(::_fileno(stdout), _O_BINARY);
  ::_setmode(::_fileno(stderr), _O_BINARY);
}

std::u16string Environment(std::u16string_view name) {
  if (name.empty() || name.find(u'\0') != std::u16string_view::npos) return {};
  const std::wstring wide = win32::ToWide(name);
  return GrowingText(
      [&](wchar_t* buffer, DWORD size) { return ::GetEnvironmentVariableW(wide.c_str(), buffer, size); });
}

void SetEnvironment(std::u16string_view name, std::u16string_view value) {
  if (name.empty() || name.find(u'=') != std::u16string_view::npos || name.find(u'\0') != std::u16string_view::npos ||
      value.find(u'\0') != std::u16string_view::npos) {
    return;
  }
  const std::wstring wide_name = win32::ToWide(name);
  const std::wstring wide_value = win32::ToWide(value);
  // The process's block (children, GetEnvironmentVariableW) and the C runtime's copy (_wgetenv) alike.
  ::SetEnvironmentVariableW(wide_name.c_str(), value.empty() ? nullptr : wide_value.c_str());
  ::_wputenv_s(wide_name.c_str(), wide_value.c_str());
}

std::u16string LongPath(std::u16string_view path) {
  std::wstring wide;
  if (win32::WidePath(path, wide) != 0) return std::u16string(path);
  const std::u16string long_form = GrowingText(
      [&](wchar_t* buffer, DWORD size) { return ::GetLongPathNameW(wide.c_str(), buffer, size); });
  return long_form.empty() ? std::u16string(path) : long_form;
}

int LocalTime(std::int64_t time, std::tm& local) {
  const __time64_t seconds = static_cast<__time64_t>(time);
  const errno_t error = ::_localtime64_s(&local, &seconds);
  return error == 0 ? 0 : EOVERFLOW;
}

bool StandardErrorIsTerminal() { return ::_isatty(::_fileno(stderr)) != 0; }

SystemRelease SystemNameAndRelease() {
  using RtlGetVersionCall = LONG(WINAPI*)(OSVERSIONINFOW*);
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  const auto get_version = ntdll ? reinterpret_cast<RtlGetVersionCall>(
                                       reinterpret_cast<void*>(::GetProcAddress(ntdll, "RtlGetVersion")))
                                 : nullptr;
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof info;
  if (!get_version || get_version(&info) != 0) return {};
  std::string release = std::to_string(info.dwMajorVersion) + "." + std::to_string(info.dwMinorVersion);
  release += ".";
  release += std::to_string(info.dwBuildNumber);
  return {u"Windows NT", FromNativePath(release)};
}

std::uint64_t PhysicalMemory() {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  return ::GlobalMemoryStatusEx(&status) ? status.ullTotalPhys : 0;
}

}  // namespace ocelo::sys
