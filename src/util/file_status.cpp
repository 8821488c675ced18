// What the file system says about one path: status, attributes, and opening it as a stream.
#include "util/file_status.h"

#include <cerrno>

#include "base/paths.h"

namespace ocelo {

FileStatus::FileStatus(std::u16string_view path) {
  // The Windows build falls back to the framework's query when the runtime rejects a path with error
  // 22; POSIX stat has no such gap.
  error_ = sys::Stat(path, record_);
  if (error_ != 0) record_ = sys::StatRecord();
}

FileAttributes::FileAttributes(std::u16string_view path) {
  std::u16string normalized = StripSlash(NormalizePath(path));
  // The root folder alone normalises to an empty text; it still names the root.
  if (normalized.empty() && !path.empty() && IsSeparator(path.front())) normalized.assign(1, path.front());
  if (sys::GetAttributes(normalized, attributes_) == 0) path_ = std::move(normalized);
}

bool FileAttributes::Clear(std::uint32_t mask) { return sys::SetAttributes(path_, attributes_ & ~mask) == 0; }

bool FileAttributes::Set(std::uint32_t mask) { return sys::SetAttributes(path_, attributes_ | mask) == 0; }

bool FileAttributes::ClearIfSet(std::uint32_t mask) {
  if (Has(mask) == 0) return true;
  return Clear(mask);
}

std::FILE* OpenFile(std::u16string_view path, const char* mode) {
  int error = 0;
  return OpenFile(path, mode, error);
}

std::FILE* OpenFile(std::u16string_view path, const char* mode, int& error) {
  if (path.empty()) {
    error = ENOENT;
    return nullptr;
  }
  const sys::OpenResult opened = sys::OpenStream(path, mode);
  error = opened.error;
  return opened.stream;
}

std::vector<std::uint8_t> ToBytes(std::string_view text) { return std::vector<std::uint8_t>(text.begin(), text.end()); }

}  // namespace ocelo
