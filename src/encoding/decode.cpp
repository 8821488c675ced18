// Reading files as text: ReadFileBytes with its retries, DecodeBytes per detected kind, ReadTextFile.
#include "encoding/decode.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <utility>

#include "encoding/cp932.h"
#include "encoding/detect.h"
#include "encoding/stream.h"
#include "encoding/utf8.h"
#include "platform/fs.h"
#include "platform/system.h"
#include "util/dump.h"
#include "util/file_list.h"
#include "util/file_status.h"
#include "util/policy.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ocelo {
namespace {

// The bytes up to the first zero byte.
std::span<const std::uint8_t> UpToZeroByte(std::span<const std::uint8_t> bytes) {
  const void* zero = bytes.empty() ? nullptr : std::memchr(bytes.data(), 0, bytes.size());
  if (!zero) return bytes;
  return bytes.first(static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - bytes.data()));
}

// The number of whole 16-bit units before the first zero unit.
std::size_t UnitsBeforeZero(const std::uint8_t* data, std::size_t units) {
  std::size_t i = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  for (; i + 8 <= units; i += 8) {
    __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 2 * i));
    int mask = _mm_movemask_epi8(_mm_cmpeq_epi16(block, zero));
    if (mask != 0) return i + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask))) / 2;
  }
#endif
  for (; i < units; ++i) {
    if (data[2 * i] == 0 && data[2 * i + 1] == 0) return i;
  }
  return units;
}

char16_t LoadLe16(const std::uint8_t* p) { return static_cast<char16_t>(p[0] | (p[1] << 8)); }

// UTF-32 read as 16-bit units: every non-zero little-endian unit, in order, to the end of the bytes.
// A character above U+FFFF yields its low and high halves as two units; U+0000 characters vanish.
std::u16string DecodeUtf32LeUnits(std::span<const std::uint8_t> bytes) {
  std::u16string text;
  text.reserve(bytes.size() / 4 + 1);
  for (std::size_t offset = 0; offset + 2 <= bytes.size(); offset += 2) {
    char16_t unit = LoadLe16(bytes.data() + offset);
    if (unit != 0) text += unit;
  }
  return text;
}

// Big-endian UTF-32: every whole group of four bytes reversed, then read as little-endian.
std::u16string DecodeUtf32BeUnits(std::span<const std::uint8_t> bytes) {
  std::vector<std::uint8_t> swapped(bytes.begin(), bytes.end());
  for (std::size_t i = 0; i + 4 <= swapped.size(); i += 4) {
    std::swap(swapped[i], swapped[i + 3]);
    std::swap(swapped[i + 1], swapped[i + 2]);
  }
  return DecodeUtf32LeUnits(swapped);
}

}  // namespace

std::FILE* OpenSourceFile(std::u16string_view path) {
  std::FILE* stream = nullptr;
  if (!path.empty()) {
    // A busy file is waited for; one that cannot be read (no permission, a folder, missing) fails at once.
    (void)RetryWhileBusy([&] {
      int error = 0;
      stream = OpenFile(path, "rb", error);
      return error;
    });
  }
  if (!stream) DumpText(u"Can't open rb  " + std::u16string(path));
  return stream;
}

namespace {

// ReadFileBytesInto with a bound of its own: a stream longer than `limit` bytes is refused as too large.
bool ReadBytesWithin(std::u16string_view path, std::vector<std::uint8_t>& bytes, std::uint64_t limit) {
  bytes.clear();
  std::FILE* stream = OpenSourceFile(path);
  if (!stream) return false;
  // A pipe is read once its writer has come, for as long as a busy file is waited for; a device is not
  // read at all.
  const auto wait = Waits().open_wait * std::max(Waits().open_attempts, 1);
  int error = sys::AwaitContent(stream, static_cast<int>(std::min<std::int64_t>(wait.count(), INT32_MAX)));
  // The read ends where the stream ends, bounded: an endless pipe stops at the limit and is refused.
  if (error == 0) error = sys::ReadWholeFile(stream, bytes, limit);
  std::fclose(stream);
  if (error == EFBIG || error == ENOMEM) {
    DumpText(u"Can't read, too large  " + std::u16string(path));
    return false;
  }
  if (error == ENODEV) {
    DumpText(u"Can't read, a device  " + std::u16string(path));
    return false;
  }
  if (error != 0) {
    DumpText(u"Can't read  " + std::u16string(path));
    return false;
  }
  return true;
}

}  // namespace

bool ReadFileBytesInto(std::u16string_view path, std::vector<std::uint8_t>& bytes) {
  // A file larger than the machine's memory is refused before any allocation: the allocation could
  // succeed on an overcommitting system and the read then exhaust the memory.
  const std::uint64_t memory = sys::PhysicalMemory();
  return ReadBytesWithin(path, bytes, memory != 0 ? memory : UINT64_MAX);
}

std::vector<std::uint8_t> ReadFileBytes(std::u16string_view path) {
  std::vector<std::uint8_t> bytes;
  (void)ReadFileBytesInto(path, bytes);  // a file that cannot be read gives no bytes, as an empty one does
  return bytes;
}

FileContent ReadFileContent(std::u16string_view path) {
  FileContent content;
  content.exists = FileExists(path);
  if (!content.exists) return content;
  // Converting holds the bytes, their text (two bytes a character) and the copy read back at once: a file
  // whose conversion cannot fit in memory is refused, a regular one before anything is read, a pipe once
  // it has given that much.
  const std::uint64_t memory = sys::PhysicalMemory();
  if (!ReadBytesWithin(path, content.bytes, memory != 0 ? memory / 4 : UINT64_MAX)) return content;
  content.readable = DecodeBytesInto(content.bytes, content.text, content.whole);
  return content;
}

FileContent ContentOfBytes(std::vector<std::uint8_t> bytes) {
  FileContent content;
  content.exists = true;
  content.bytes = std::move(bytes);
  content.readable = DecodeBytesInto(content.bytes, content.text, content.whole);
  return content;
}

std::u16string DecodeUtf16Le(std::span<const std::uint8_t> bytes) {
  const std::size_t units = UnitsBeforeZero(bytes.data(), bytes.size() / 2);
  std::u16string text(units, u'\0');
  if (units) std::memcpy(text.data(), bytes.data(), units * 2);
  return text;
}

std::u16string DecodeUtf16Be(std::span<const std::uint8_t> bytes) {
  const std::size_t total = bytes.size() / 2;
  std::u16string text;
  text.resize(total);
  std::size_t i = 0;
  for (; i < total; ++i) {
    char16_t unit = static_cast<char16_t>((bytes[2 * i] << 8) | bytes[2 * i + 1]);
    if (unit == 0) break;
    text[i] = unit;
  }
  text.resize(i);
  return text;
}

void DecodePiece(EncodingKind kind, std::span<const std::uint8_t> bytes, std::u16string& text, bool& stopped) {
  switch (kind) {
    case kind::Utf8: {
      const std::span<const std::uint8_t> used = UpToZeroByte(bytes);
      stopped = used.size() != bytes.size();
      DecodeUtf8Into(used, text);
      return;
    }
    case kind::Utf16Le:
    case kind::Utf16Be: {
      const std::size_t units = UnitsBeforeZero(bytes.data(), bytes.size() / 2);
      stopped = units != bytes.size() / 2;
      text.resize(units);
      if (kind == kind::Utf16Le && std::endian::native == std::endian::little) {
        if (units) std::memcpy(text.data(), bytes.data(), units * 2);
      } else {
        for (std::size_t i = 0; i < units; ++i) {
          text[i] = kind == kind::Utf16Le ? LoadLe16(bytes.data() + 2 * i)
                                          : static_cast<char16_t>((bytes[2 * i] << 8) | bytes[2 * i + 1]);
        }
      }
      return;
    }
    case kind::Utf32Le: text = DecodeUtf32LeUnits(bytes); return;
    case kind::Utf32Be: text = DecodeUtf32BeUnits(bytes); return;
    default: {
      const std::span<const std::uint8_t> used = UpToZeroByte(bytes);
      stopped = used.size() != bytes.size();
      DecodeShiftJisInto(used, text);
      return;
    }
  }
}

bool DecodeBytesInto(std::span<const std::uint8_t> bytes, std::u16string& text, bool& whole) {
  text.clear();
  whole = true;
  const Detection detection = DetectEncoding(bytes);
  const std::span<const std::uint8_t> rest = bytes.subspan(static_cast<std::size_t>(detection.mark_length));
  try {
    switch (detection.kind) {
      case kind::Utf8: {
        const std::span<const std::uint8_t> used = UpToZeroByte(rest);
        whole = used.size() == rest.size();
        text = DecodeUtf8(used);
        break;
      }
      case kind::Utf16Le:
      case kind::Utf16Be:
        // An odd last byte is no character and is dropped; a zero unit before the end cuts the text.
        whole = UnitsBeforeZero(rest.data(), rest.size() / 2) == rest.size() / 2;
        text = detection.kind == kind::Utf16Le ? DecodeUtf16Le(rest) : DecodeUtf16Be(rest);
        break;
      case kind::Utf32Le: text = DecodeUtf32LeUnits(rest); break;
      case kind::Utf32Be: text = DecodeUtf32BeUnits(rest); break;
      default: {  // Ascii, ShiftJis, and nothing recognised: code page 932
        const std::span<const std::uint8_t> used = UpToZeroByte(rest);
        whole = used.size() == rest.size();
        text = DecodeShiftJis(used);
        break;
      }
    }
  } catch (const std::bad_alloc&) {
    std::u16string().swap(text);
    DumpText(u"Can't decode, out of memory");
    return false;
  }
  return true;
}

std::u16string DecodeBytes(std::span<const std::uint8_t> bytes) {
  std::u16string text;
  bool whole = true;
  (void)DecodeBytesInto(bytes, text, whole);  // out of memory: an empty text, as described
  return text;
}

namespace {

// Decodes the bytes piece by piece with `decode`, comparing each piece with the text as it goes. A
// piece ends just before a byte for which `starts_character` holds, so that no character is cut.
template <typename Decode, typename StartsCharacter>
bool DecodesPiecewiseTo(std::span<const std::uint8_t> bytes, std::u16string_view text, Decode decode,
                        StartsCharacter starts_character) {
  constexpr std::size_t kPiece = 1 << 16;
  std::size_t done = 0;
  std::size_t compared = 0;
  while (done < bytes.size()) {
    std::size_t end = std::min(bytes.size(), done + kPiece);
    while (end < bytes.size() && !starts_character(bytes, end)) ++end;
    const std::u16string piece = decode(bytes.subspan(done, end - done));
    if (piece.size() > text.size() - compared || text.compare(compared, piece.size(), piece) != 0) return false;
    compared += piece.size();
    done = end;
  }
  return compared == text.size();
}

}  // namespace

bool DecodesTo(std::span<const std::uint8_t> bytes, std::u16string_view text) {
  const Detection detection = DetectEncoding(bytes);
  const std::span<const std::uint8_t> rest = bytes.subspan(static_cast<std::size_t>(detection.mark_length));
  try {
    switch (detection.kind) {
      case kind::Utf8:
        // A byte that is no continuation byte always starts a new sequence.
        return DecodesPiecewiseTo(UpToZeroByte(rest), text, DecodeUtf8,
                                  [](std::span<const std::uint8_t> b, std::size_t k) { return (b[k] & 0xC0) != 0x80; });
      case kind::Utf16Le: {
        const std::size_t units = UnitsBeforeZero(rest.data(), rest.size() / 2);
        if (units != text.size()) return false;
        if constexpr (std::endian::native == std::endian::little) {
          return units == 0 || std::memcmp(rest.data(), text.data(), units * 2) == 0;
        }
        for (std::size_t i = 0; i < units; ++i) {
          if (LoadLe16(rest.data() + 2 * i) != text[i]) return false;
        }
        return true;
      }
      case kind::Utf16Be:
      case kind::Utf32Le:
      case kind::Utf32Be: return DecodeBytes(bytes) == text;
      default:
        // After a byte below 0x40, which is neither a lead nor a trail byte, a new character starts.
        return DecodesPiecewiseTo(UpToZeroByte(rest), text, DecodeShiftJis,
                                  [](std::span<const std::uint8_t> b, std::size_t k) { return b[k - 1] < 0x40; });
    }
  } catch (const std::bad_alloc&) {
    return DecodeBytes(bytes) == text;
  }
}

std::u16string ReadTextFile(std::u16string_view path) {
  if (!FileExists(path)) return {};
  return DecodeBytes(ReadFileBytes(path));
}

}  // namespace ocelo
