// Program paths (UTF-16) and the system's own: on Windows the same UTF-16 units, so a path needs no
// conversion, only the long-path prefix. The narrow form (ToNativePath) is UTF-8 in which a lone
// surrogate, which a Windows name may hold, takes the three bytes it would take as a character, so that
// every name round-trips.
#include <cerrno>

#include "base/utf.h"
#include "platform/fs.h"
#include "platform/win32/native.h"

namespace ocelo::sys {

std::string ToNativePath(std::u16string_view path) {
  std::string out;
  out.reserve(path.size());
  const char16_t* const end = path.data() + path.size();
  for (const char16_t* p = path.data(); p < end;) {
    const DecodedChar c = DecodeUtf16Char(p, end);
    p += c.length;
    AppendUtf8(out, c.code_point);  // a lone surrogate (c.valid false) keeps its value
  }
  return out;
}

std::u16string FromNativePath(std::string_view native) {
  std::u16string out;
  out.reserve(native.size());
  const auto* p = reinterpret_cast<const unsigned char*>(native.data());
  const auto* const end = p + native.size();
  while (p < end) {
    const DecodedChar c = DecodeUtf8Char(p, end);
    if (c.valid) {
      AppendUtf16(out, c.code_point);
      p += c.length;
    } else if (end - p >= 3 && p[0] == 0xED && p[1] >= 0xA0 && p[1] <= 0xBF && (p[2] & 0xC0) == 0x80) {
      // A surrogate in three bytes: a lone one from ToNativePath.
      out += static_cast<char16_t>(0xD000 | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F));
      p += 3;
    } else {
      out += static_cast<char16_t>(kReplacementCharacter);
      p += c.length;
    }
  }
  return out;
}

namespace win32 {

int WidePath(std::u16string_view path, std::wstring& wide) {
  wide.clear();
  if (path.find(u'\0') != std::u16string_view::npos) return EINVAL;
  if (path.empty()) return ENOENT;
  // The classic calls stop at MAX_PATH (260) units, and a folder must leave room for an 8.3 name.
  constexpr std::size_t kClassicLimit = 248;
  const bool drive = path.size() >= 3 && path[1] == u':' && (path[2] == u'\\' || path[2] == u'/');
  const bool network = path.size() >= 3 && (path[0] == u'\\' || path[0] == u'/') &&
                       (path[1] == u'\\' || path[1] == u'/') && path[2] != u'?' && path[2] != u'.';
  if (path.size() < kClassicLimit || !(drive || network)) {
    wide = ToWide(path);
    return 0;
  }
  // After the prefix the system takes the path literally: only backslashes separate.
  wide = network ? L"\\\\?\\UNC\\" : L"\\\\?\\";
  for (char16_t c : network ? path.substr(2) : path) wide += c == u'/' ? L'\\' : static_cast<wchar_t>(c);
  return 0;
}

int ErrorNumber(DWORD error) {
  switch (error) {
    case ERROR_SUCCESS: return 0;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_NAME: return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_CANNOT_MAKE:
    case ERROR_CURRENT_DIRECTORY: return EACCES;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE: return EBUSY;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    case ERROR_DIR_NOT_EMPTY: return ENOTEMPTY;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: return ENOMEM;
    case ERROR_NOT_SAME_DEVICE: return EXDEV;
    case ERROR_FILENAME_EXCED_RANGE: return ENAMETOOLONG;
    case ERROR_DIRECTORY: return ENOTDIR;
    case ERROR_WRITE_PROTECT: return EROFS;
    case ERROR_INVALID_PARAMETER:
    case ERROR_INVALID_HANDLE: return EINVAL;
    case ERROR_BAD_EXE_FORMAT: return ENOEXEC;
    case ERROR_TOO_MANY_OPEN_FILES: return EMFILE;
    case ERROR_BROKEN_PIPE: return EPIPE;
    default: return EIO;
  }
}

namespace {
// 100-nanosecond steps from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kEpochSteps = 116444736000000000LL;
constexpr std::int64_t kStepsPerSecond = 10000000;
}  // namespace

std::int64_t UnixTime(const FILETIME& time) {
  const std::int64_t steps = static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) |
                                                       time.dwLowDateTime);
  const std::int64_t since = steps - kEpochSteps;
  // Whole seconds, rounded down also before 1970.
  return since >= 0 ? since / kStepsPerSecond : -((-since + kStepsPerSecond - 1) / kStepsPerSecond);
}

FILETIME FileTime(std::int64_t unix_time) {
  const std::uint64_t steps = static_cast<std::uint64_t>(unix_time * kStepsPerSecond + kEpochSteps);
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(steps);
  time.dwHighDateTime = static_cast<DWORD>(steps >> 32);
  return time;
}

}  // namespace win32
}  // namespace ocelo::sys
