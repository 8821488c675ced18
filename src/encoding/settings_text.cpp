// Settings-file text: reading with the shared lock, replacing with the exclusive one, the busy-file wait.
#include "encoding/settings_text.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <vector>

#include "base/ascii.h"
#include "base/paths.h"
#include "encoding/cp932.h"
#include "encoding/decode.h"
#include "encoding/detect.h"
#include "encoding/utf8.h"
#include "platform/fs.h"
#include "util/policy.h"

namespace ocelo {
namespace {

// Opens for reading with the shared lock, waiting for a busy file; any other failure ends at once. A
// path that does not exist yet is tried once only.
std::FILE* OpenForReading(std::u16string_view path) {
  std::FILE* stream = nullptr;
  auto attempt = [&] {
    const sys::OpenResult opened = sys::OpenStream(path, "rb");
    stream = opened.stream;
    return opened.error;
  };
  if (PathExists(path)) {
    (void)RetryWhileBusy(attempt);
  } else {
    (void)attempt();
  }
  return stream;
}

// Whether the path names a file with content, as the status query sees it.
bool HasContent(std::u16string_view path) {
  if (path.empty()) return false;
  sys::StatRecord record;
  return sys::Stat(path, record) == 0 && record.size > 0;
}

// Replaces the file's content in one step, waiting for a busy file. True on success.
bool ReplaceContent(std::u16string_view path, std::span<const std::uint8_t> bytes) {
  if (path.empty()) return false;
  return RetryWhileBusy([&] { return sys::ReplaceFile(path, bytes); }) == 0;
}

// FF FE and the units as little-endian bytes.
std::vector<std::uint8_t> MarkedUtf16Le(std::u16string_view text) {
  std::vector<std::uint8_t> bytes;
  bytes.reserve(2 + 2 * text.size());
  bytes.push_back(0xFF);
  bytes.push_back(0xFE);
  for (char16_t unit : text) {
    bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  return bytes;
}

// The encoding an XML declaration names among the first ten CR LF lines: the first line holding "xml"
// and "encoding" after it decides, by the 20 characters after the "=" that follows "encoding".
// 8 for UTF-8, 16 for UTF-16, 74 for Shift_JIS, else 0.
int DeclaredXmlEncoding(std::u16string_view text) {
  std::size_t start = 0;
  for (int line_number = 0; line_number < 10 && start < text.size(); ++line_number) {
    std::size_t end = text.find(u"\r\n", start);
    const std::size_t next = end == std::u16string_view::npos ? text.size() : end + 2;
    if (end == std::u16string_view::npos) end = text.size();
    const std::u16string_view line = text.substr(start, end - start);
    start = next;
    const std::size_t xml = line.find(u"xml");
    if (xml == std::u16string_view::npos) continue;
    const std::size_t encoding = line.find(u"encoding", xml + 3);
    if (encoding == std::u16string_view::npos) continue;
    const std::size_t equals = line.find(u'=', encoding + 8);
    if (equals == std::u16string_view::npos) return 0;
    const std::u16string_view window = line.substr(equals + 1, 20);
    if (ContainsIgnoringAsciiCase(window, u"UTF-8")) return 8;
    if (ContainsIgnoringAsciiCase(window, u"UTF-16")) return 16;
    if (ContainsIgnoringAsciiCase(window, u"Shift_JIS")) return 74;
    return 0;
  }
  return 0;
}

std::span<const std::uint8_t> UpToZeroByte(std::span<const std::uint8_t> bytes) {
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == 0) return bytes.first(i);
  }
  return bytes;
}

// Every whole unit of UTF-16 bytes, U+0000 included; an odd last byte is no unit.
std::u16string AllUnits(std::span<const std::uint8_t> bytes, bool big_endian) {
  std::u16string text(bytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < text.size(); ++i) {
    const std::uint8_t first = bytes[2 * i], second = bytes[2 * i + 1];
    text[i] = static_cast<char16_t>(big_endian ? (first << 8) | second : (second << 8) | first);
  }
  return text;
}

// A byte form decoded piece by piece between its zero bytes, each zero a U+0000: the text before the
// first zero is exactly what the decoder makes of it alone.
template <typename Decode>
std::u16string ZeroSeparatedPieces(std::span<const std::uint8_t> bytes, Decode decode) {
  std::u16string text;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= bytes.size(); ++i) {
    if (i < bytes.size() && bytes[i] != 0) continue;
    text += decode(bytes.subspan(start, i - start));
    if (i < bytes.size()) text += u'\0';
    start = i + 1;
  }
  return text;
}

// Reads the file (as ReadSettingsText) and decodes it with `decode`.
template <typename Decode>
bool ReadAndDecode(std::u16string_view path, std::u16string& text, Decode decode) {
  text.clear();
  if (!HasContent(path)) return false;
  std::FILE* stream = OpenForReading(path);
  if (!stream) return false;
  // Read to its end through the open stream: the file may have changed size since its status was taken.
  std::vector<std::uint8_t> bytes;
  const int error = sys::ReadWholeFile(stream, bytes);
  std::fclose(stream);
  if (error != 0) return false;
  text = decode(bytes);
  return true;
}

}  // namespace

bool PathExists(std::u16string_view path) {
  if (IsNetworkPath(path)) return sys::Access(path, 0) == 0;
  sys::StatRecord record;
  return !path.empty() && sys::Stat(path, record) == 0;
}

std::u16string DecodeSettingsBytes(std::span<const std::uint8_t> content) {
  try {
    // The content followed by two zero bytes, so that every form ends in a terminator.
    std::vector<std::uint8_t> buffer(content.begin(), content.end());
    buffer.push_back(0);
    buffer.push_back(0);
    const std::span<const std::uint8_t> all(buffer);
    const std::uint8_t b0 = buffer[0], b1 = buffer[1], b2 = buffer.size() > 2 ? buffer[2] : 0;
    if (b0 == 0xFF && b1 == 0xFE) return DecodeUtf16Le(all.subspan(2));
    if (b0 == 0xFE && b1 == 0xFF) {
      // Each pair of the content swapped; an odd last byte stays as it is, before the two zeros.
      for (std::size_t i = 0; i + 1 < content.size(); i += 2) std::swap(buffer[i], buffer[i + 1]);
      return DecodeUtf16Le(all.subspan(2));
    }
    if (b0 == 0xEF && b1 == 0xBB && b2 == 0xBF) return DecodeUtf8(UpToZeroByte(all.subspan(3)));
    // Without a mark the bytes can pass for Shift_JIS and for UTF-8 alike; an XML declaration naming
    // UTF-8 settles it.
    if (DeclaredXmlEncoding(DecodeShiftJis(UpToZeroByte(all))) == 8) return DecodeUtf8(UpToZeroByte(all));
    return DecodeBytes(all);
  } catch (const std::bad_alloc&) {
    return {};
  }
}

std::u16string DecodeWholeSettingsBytes(std::span<const std::uint8_t> content) {
  try {
    if (std::find(content.begin(), content.end(), 0) == content.end()) return DecodeSettingsBytes(content);
    const std::uint8_t b0 = content[0], b1 = content.size() > 1 ? content[1] : 0;
    const std::uint8_t b2 = content.size() > 2 ? content[2] : 0;
    if (b0 == 0xFF && b1 == 0xFE) return AllUnits(content.subspan(2), false);
    if (b0 == 0xFE && b1 == 0xFF) return AllUnits(content.subspan(2), true);
    if (b0 == 0xEF && b1 == 0xBB && b2 == 0xBF) return ZeroSeparatedPieces(content.subspan(3), DecodeUtf8);
    // The form is judged as DecodeSettingsBytes judges it: on the content followed by two zero bytes.
    std::vector<std::uint8_t> buffer(content.begin(), content.end());
    buffer.push_back(0);
    buffer.push_back(0);
    if (DeclaredXmlEncoding(DecodeShiftJis(UpToZeroByte(buffer))) == 8) {
      return ZeroSeparatedPieces(content, DecodeUtf8);
    }
    const Detection detection = DetectEncoding(buffer);
    const std::span<const std::uint8_t> rest = content.subspan(static_cast<std::size_t>(detection.mark_length));
    switch (detection.kind) {
      case kind::Utf16Le: return AllUnits(rest, false);
      case kind::Utf16Be: return AllUnits(rest, true);
      case kind::Utf32Le:
      case kind::Utf32Be: return DecodeSettingsBytes(content);
      case kind::Utf8: return ZeroSeparatedPieces(rest, DecodeUtf8);
      default: return ZeroSeparatedPieces(rest, DecodeShiftJis);
    }
  } catch (const std::bad_alloc&) {
    return {};
  }
}

bool ReadSettingsText(std::u16string_view path, std::u16string& text) {
  return ReadAndDecode(path, text, DecodeSettingsBytes);
}

bool ReadWholeSettingsText(std::u16string_view path, std::u16string& text) {
  return ReadAndDecode(path, text, DecodeWholeSettingsBytes);
}

bool WriteSettingsText(std::u16string_view path, std::u16string_view text) {
  if (path.empty()) return false;
  std::vector<std::uint8_t> bytes;
  try {
    bytes = MarkedUtf16Le(text);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return ReplaceContent(path, bytes);
}

bool HasUtf16Mark(std::u16string_view path) {
  if (!HasContent(path)) return false;
  std::FILE* stream = OpenForReading(path);
  if (!stream) return false;
  std::uint8_t mark[2] = {0, 0};
  const std::size_t got = std::fread(mark, 1, 2, stream);
  std::fclose(stream);
  return got == 2 && ((mark[0] == 0xFF && mark[1] == 0xFE) || (mark[0] == 0xFE && mark[1] == 0xFF));
}

bool ConvertToUtf16File(std::u16string_view path) {
  if (HasUtf16Mark(path)) return true;
  std::u16string text;
  // A file with content that cannot be read stays as it is: rewriting it from an empty text would
  // throw its settings away.
  if (!ReadWholeSettingsText(path, text) && HasContent(path)) return false;
  if (path.empty()) return false;
  return WriteSettingsText(path, text);
}

}  // namespace ocelo
