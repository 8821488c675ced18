// The part of platform/fs.h that is the same on every system: reading a stream to its end, comparing
// files by id, whole-content replacement through FileReplacement, the mode texts of OpenStream and the
// bookkeeping of the stale-file sweep. It calls the system only through the platform layer's own functions.
#include <algorithm>
#include <cerrno>
#include <limits>
#include <mutex>
#include <new>
#include <set>

#include "platform/fs.h"
#include "platform/fs_detail.h"

namespace ocelo::sys {
namespace {

template <typename Char>
bool FirstSweep(std::basic_string_view<Char> folder) {
  static std::mutex mutex;
  static std::set<std::basic_string<Char>, std::less<>> visited;
  try {
    const std::lock_guard<std::mutex> guard(mutex);
    return visited.emplace(folder).second;
  } catch (const std::bad_alloc&) {
    return false;  // without memory for it the write goes on unswept
  }
}

}  // namespace

namespace detail {

OpenMode ParseMode(const char* text) {
  OpenMode mode;
  if (!text || (*text != 'r' && *text != 'w' && *text != 'a')) return mode;
  const char kind = *text;
  bool plus = false;
  for (const char* p = text + 1; *p && *p != ','; ++p) {
    if (*p == '+') plus = true;
    if (*p == 'x') mode.must_create = true;
  }
  mode.valid = true;
  mode.write = kind != 'r' || plus;
  mode.read = kind == 'r' || plus;
  mode.create = kind != 'r';
  mode.truncate = kind == 'w';
  mode.append = kind == 'a';
  if (kind == 'r') mode.stdio = plus ? "r+b" : "rb";
  if (kind == 'w') mode.stdio = plus ? "w+b" : "wb";
  if (kind == 'a') mode.stdio = plus ? "a+b" : "ab";
  return mode;
}

bool FirstSweepOf(std::string_view folder) { return FirstSweep(folder); }

bool FirstSweepOf(std::u16string_view folder) { return FirstSweep(folder); }

int FileIdByStat(std::u16string_view path, FileId& id) {
  StatRecord record;
  if (const int error = Stat(path, record); error != 0) return error;
  id.device = record.device;
  id.inode = record.inode;
  return 0;
}

}  // namespace detail

int SameFile(std::u16string_view a, std::u16string_view b, bool& same) {
  same = false;
  FileId first, second;
  if (const int error = GetFileId(a, first); error != 0) return error;
  if (const int error = GetFileId(b, second); error != 0) return error;
  same = first == second;
  return 0;
}

int ReplaceFile(std::u16string_view path, std::span<const std::uint8_t> bytes, WriteKind kind) {
  FileReplacement replacement;
  if (const int error = replacement.Begin(path, kind)) return error;
  if (const int error = replacement.Append(bytes)) return error;
  return replacement.Commit();
}

int ReadWholeFile(std::FILE* stream, std::vector<std::uint8_t>& bytes, std::uint64_t limit) {
  bytes.clear();
  if (!stream) return EBADF;
  // Never more than half the address space, so that sizes and their doubling stay in range.
  limit = std::min<std::uint64_t>(limit, std::numeric_limits<std::size_t>::max() / 2);
  // The size the system reports is a first guess only (and a refusal before any allocation when it is
  // already too large): the stream is read until its end, whatever that turns out to be.
  const std::uint64_t guess = detail::RemainingSizeGuess(stream);
  if (guess > limit) return EFBIG;
  constexpr std::size_t kFirstPiece = 1 << 16;
  std::size_t used = 0;
  int error = 0;
  try {
    for (;;) {
      if (used == bytes.size()) {
        // One byte beyond the guess, so that a file of the size its status gave ends with this read.
        std::uint64_t size = used == 0 ? std::max<std::uint64_t>(guess + 1, kFirstPiece)
                                       : std::max<std::uint64_t>(used * 2, used + kFirstPiece);
        size = std::min<std::uint64_t>(size, limit + 1);
        bytes.resize(static_cast<std::size_t>(size));
      }
      const std::size_t wanted = bytes.size() - used;
      errno = 0;
      const std::size_t got = std::fread(bytes.data() + used, 1, wanted, stream);
      used += got;
      if (used > limit) {
        error = EFBIG;
        break;
      }
      if (got < wanted) {
        if (std::ferror(stream)) error = errno != 0 ? errno : EIO;
        break;
      }
    }
  } catch (const std::bad_alloc&) {
    error = ENOMEM;
  }
  if (error != 0) {
    std::vector<std::uint8_t>().swap(bytes);
    return error;
  }
  bytes.resize(used);
  return 0;
}

}  // namespace ocelo::sys
