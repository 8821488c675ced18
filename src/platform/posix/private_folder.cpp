// Folders private to the user: created with mode 0700, and the test that an existing one is safe to use.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <utility>

#include "platform/fs.h"
#include "platform/posix/native.h"

namespace ocelo::sys {

int MakePrivateFolder(std::u16string_view path) {
  std::string native;
  if (!posix::NativeArg(path, native)) return errno;
  if (::mkdir(native.c_str(), 0700) != 0) return errno;
  return 0;
}

bool IsPrivateFolder(std::u16string_view path) {
  std::string native;
  return posix::NativeArg(path, native) && posix::IsPrivateNativeFolder(std::move(native));
}

bool posix::IsPrivateNativeFolder(std::string native) {
  while (native.size() > 1 && native.back() == '/') native.pop_back();
  struct stat record {};
  if (native.empty() || ::lstat(native.c_str(), &record) != 0) return false;
  return S_ISDIR(record.st_mode) && record.st_uid == ::geteuid() && (record.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

}  // namespace ocelo::sys
