// Writing text files: the atomic byte writer with its retries, and one writer per target encoding.
#include "encoding/write.h"

#include <bit>
#include <cerrno>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "encoding/cp932.h"
#include "encoding/utf8.h"
#include "platform/fs.h"
#include "util/dump.h"
#include "util/file_status.h"
#include "util/policy.h"

namespace ocelo {
namespace {

// Errors that another attempt cannot mend: the disk or the quota is full, or the device failed.
bool IsWriteError(int error) {
  return error == ENOSPC || error == EFBIG || error == EIO
#ifdef EDQUOT
         || error == EDQUOT
#endif
      ;
}

std::u16string_view UpToZeroUnit(std::u16string_view text) {
  std::size_t zero = text.find(u'\0');
  return zero == std::u16string_view::npos ? text : text.substr(0, zero);
}

std::vector<std::uint8_t> Utf16LeBytes(std::u16string_view text, bool mark) {
  const std::size_t offset = mark ? 2 : 0;
  std::vector<std::uint8_t> bytes(offset + text.size() * 2);
  if (mark) {
    bytes[0] = 0xFF;
    bytes[1] = 0xFE;
  }
  if constexpr (std::endian::native == std::endian::little) {
    if (!text.empty()) std::memcpy(bytes.data() + offset, text.data(), text.size() * 2);
  } else {
    for (std::size_t i = 0; i < text.size(); ++i) {
      bytes[offset + 2 * i] = static_cast<std::uint8_t>(text[i] & 0xFF);
      bytes[offset + 2 * i + 1] = static_cast<std::uint8_t>(text[i] >> 8);
    }
  }
  return bytes;
}

// Runs an encoder that takes the whole text into memory; a text too large for memory fails the write.
template <typename Encode>
bool WriteEncoded(std::u16string_view path, Encode encode) {
  std::vector<std::uint8_t> bytes;
  try {
    bytes = encode();
  } catch (const std::bad_alloc&) {
    DumpText(u"Can't write, out of memory  " + std::u16string(path));
    return false;
  }
  return WriteFileBytes(path, bytes, 0);
}

}  // namespace

bool WriteFileBytes(std::u16string_view path, std::span<const std::uint8_t> bytes, int rewrite_count) {
  int error = EINVAL;
  if (!path.empty()) {
    const WaitPolicy& waits = Waits();
    for (int attempt = 0; attempt < waits.open_attempts; ++attempt) {
      error = sys::ReplaceFile(path, bytes);
      if (error == 0 || IsWriteError(error)) break;
      Pause(waits.open_wait);
    }
  }
  if (error != 0) {
    DumpText((IsWriteError(error) ? u"Can't write   " : u"Can't open wb  ") + std::u16string(path));
    return false;
  }
  // A file that reads back empty although there were bytes was emptied behind our back: write again.
  if (!bytes.empty() && FileStatus(path).Size() == 0) {
    if (rewrite_count > Waits().rewrite_limit) return false;
    Pause(Waits().rewrite_wait);
    return WriteFileBytes(path, bytes, rewrite_count + 1);
  }
  return true;
}

std::vector<std::uint8_t> Utf8FileBytes(std::u16string_view text, bool mark) {
  std::vector<std::uint8_t> bytes = EncodeUtf8(UpToZeroUnit(text));
  if (mark) bytes.insert(bytes.begin(), {0xEF, 0xBB, 0xBF});
  return bytes;
}

std::vector<std::uint8_t> Utf16FileBytes(std::u16string_view text, bool mark) {
  return Utf16LeBytes(UpToZeroUnit(text), mark);
}

std::vector<std::uint8_t> Utf16MarkedFileBytes(std::u16string_view text) {
  std::size_t first = text.find_first_not_of(u'\uFEFF');
  if (first != std::u16string_view::npos) text.remove_prefix(first);
  return Utf16LeBytes(text, true);
}

std::vector<std::uint8_t> ShiftJisFileBytes(std::u16string_view text) {
  return EncodeShiftJis(UpToZeroUnit(text));
}

bool WriteUtf8File(std::u16string_view path, std::u16string_view text, bool mark) {
  return WriteEncoded(path, [&] { return Utf8FileBytes(text, mark); });
}

bool WriteUtf16File(std::u16string_view path, std::u16string_view text, bool mark) {
  return WriteEncoded(path, [&] { return Utf16FileBytes(text, mark); });
}

bool WriteUtf16MarkedFile(std::u16string_view path, std::u16string_view text) {
  return WriteEncoded(path, [&] { return Utf16MarkedFileBytes(text); });
}

bool WriteShiftJisFile(std::u16string_view path, std::u16string_view text) {
  return WriteEncoded(path, [&] { return ShiftJisFileBytes(text); });
}

}  // namespace ocelo
