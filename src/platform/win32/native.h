// Helpers shared by the Windows units of the platform layer: wide paths for the system's calls, its
// error codes as C error numbers, handles closed at the end of a scope.
#pragma once

#include <windows.h>

// windows.h names the wide or narrow forms of these calls by macros, which would rename the platform
// layer's functions of the same names; the layer calls the W forms by their full names.
#undef CopyFile
#undef MoveFile
#undef ReplaceFile

#include <string>
#include <string_view>

namespace ocelo::sys::win32 {

/// A program path as the system's wide text: the same UTF-16 units (wchar_t is 16 bits wide on
/// Windows). An absolute path too long for the classic calls gets the "\\?\" prefix ("\\?\UNC\" for a
/// network path), its slashes made backslashes, so that long paths work. EINVAL when the path holds
/// U+0000 (the system would read a shorter path), ENOENT when it is empty; else 0.
[[nodiscard]] int WidePath(std::u16string_view path, std::wstring& wide);

/// A wide text from the system as a program text.
inline std::u16string FromWide(const wchar_t* text, std::size_t length) {
  return std::u16string(reinterpret_cast<const char16_t*>(text), length);
}
inline std::u16string FromWide(const std::wstring& text) { return FromWide(text.data(), text.size()); }

/// A program text as a wide text (no prefix, no checks).
inline std::wstring ToWide(std::u16string_view text) {
  return std::wstring(reinterpret_cast<const wchar_t*>(text.data()), text.size());
}

/// The C error number for a system error code: a sharing or lock violation is EBUSY, which the callers'
/// retries wait out; a missing file or folder ENOENT; a denied access EACCES; anything unknown EIO.
int ErrorNumber(DWORD error);

/// ErrorNumber(GetLastError()).
inline int LastErrorNumber() { return ErrorNumber(::GetLastError()); }

/// Closes a handle at the end of a scope.
class Handle {
 public:
  Handle() = default;
  explicit Handle(HANDLE handle) : handle_(handle) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() { Reset(); }

  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  void Reset(HANDLE handle = INVALID_HANDLE_VALUE) {
    if (valid()) ::CloseHandle(handle_);
    handle_ = handle;
  }
  /// Hands the handle over to the caller.
  HANDLE Release() {
    HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return handle;
  }

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

/// Seconds since 1970 from a FILETIME (100-nanosecond steps since 1601) and back.
std::int64_t UnixTime(const FILETIME& time);
FILETIME FileTime(std::int64_t unix_time);

}  // namespace ocelo::sys::win32

#include <chrono>

#include "platform/process.h"

namespace ocelo::sys::win32 {

/// Starts a command line detached (CreateProcessW): `application` is the program file, or empty for the
/// line's first word; no window, the standard streams on the null device. Waits at most `watch`.
StartResult StartCommandLine(const std::wstring& application, std::wstring line, std::u16string_view folder,
                             std::chrono::milliseconds watch);

}  // namespace ocelo::sys::win32
