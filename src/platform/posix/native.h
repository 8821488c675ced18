// Helpers shared by the POSIX units of the platform layer: paths for system calls, descriptors, folders.
#pragma once

#include <string>
#include <string_view>

namespace ocelo::sys::posix {

/// The native form of a path for a system call. False, with errno EINVAL, when the path holds U+0000:
/// the system would stop reading at that byte and act on a different, shorter path.
bool NativeArg(std::u16string_view path, std::string& native);

/// Closes a descriptor at the end of a scope, keeping errno as it was.
class Descriptor {
 public:
  Descriptor() = default;
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() { Reset(); }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  void Reset(int fd = -1);
  /// Hands the descriptor over to the caller.
  int Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_ = -1;
};

/// Creates a folder and every missing parent with the given mode. Returns 0 or the C error number.
int MakeFolderTree(const std::string& native, unsigned mode);

/// True when the path is a folder itself (not a link to one), owned by the calling user, and writable by
/// nobody else. Trailing slashes do not count (a slash would make the system follow a link).
bool IsPrivateNativeFolder(std::string native);

}  // namespace ocelo::sys::posix
