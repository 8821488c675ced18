// Owner-only access on Windows: the program's private files live in the user's profile, whose folders
// only the user (and the system's administrators) may enter, so nothing needs changing.
#include "platform/private_access.h"

#include "platform/win32/native.h"

namespace ocelo::sys {

int MakeOwnerOnly(std::u16string_view path) {
  std::wstring wide;
  if (const int error = win32::WidePath(path, wide)) return error;
  return ::GetFileAttributesW(wide.c_str()) == INVALID_FILE_ATTRIBUTES ? win32::LastErrorNumber() : 0;
}

}  // namespace ocelo::sys
