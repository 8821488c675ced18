// Owner-only access to files the program keeps private (the registry database), on POSIX.
#include "platform/private_access.h"

#include <sys/stat.h>

#include <cerrno>
#include <string>

#include "platform/fs.h"

namespace ocelo::sys {

int MakeOwnerOnly(std::u16string_view path) {
  std::string native = ToNativePath(path);
  struct stat status {};
  if (stat(native.c_str(), &status) != 0) return errno;
  mode_t mode = S_ISDIR(status.st_mode) ? 0700 : 0600;
  return chmod(native.c_str(), mode) == 0 ? 0 : errno;
}

}  // namespace ocelo::sys
