// Program paths (UTF-16) and POSIX paths (bytes, normally UTF-8) in both directions, so that every
// file name the system hands out comes back to the system unchanged.
#include "platform/fs.h"

#include <cerrno>

#include "platform/posix/native.h"

namespace ocelo::sys {
namespace {

// Lone surrogates U+DC80..U+DCFF stand for the bytes 80..FF of a name that are not valid UTF-8.
constexpr char16_t kEscapeBase = 0xDC00;

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Length of the valid UTF-8 sequence at `pos` and its code point, or 0 when the bytes there are not
// one (overlong forms, encoded surrogates and values above U+10FFFF are not valid).
std::size_t DecodeOne(std::string_view text, std::size_t pos, char32_t& cp) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(pos);
  std::size_t len;
  char32_t min;
  if (lead < 0x80) {
    cp = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    len = 2; cp = lead & 0x1F; min = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    len = 3; cp = lead & 0x0F; min = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    len = 4; cp = lead & 0x07; min = 0x10000;
  } else {
    return 0;
  }
  if (text.size() - pos < len) return 0;
  for (std::size_t k = 1; k < len; ++k) {
    const unsigned char b = byte(pos + k);
    if ((b & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

}  // namespace

std::string ToNativePath(std::u16string_view path) {
  std::string out;
  out.reserve(path.size());
  for (std::size_t i = 0; i < path.size(); ++i) {
    const char16_t c = path[i];
    if (c < 0xD800 || c > 0xDFFF) {
      AppendUtf8(out, c);
    } else if (c < 0xDC00 && i + 1 < path.size() && path[i + 1] >= 0xDC00 && path[i + 1] <= 0xDFFF) {
      AppendUtf8(out, 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (path[i + 1] - 0xDC00));
      ++i;
    } else if (c >= 0xDC80 && c <= 0xDCFF) {
      out += static_cast<char>(c - kEscapeBase);  // a byte of a name that is not UTF-8
    } else {
      // Any other lone surrogate names no file the system could have reported. It becomes U+FFFD
      // (EF BF BD) rather than being dropped, so "a\uD800b" can never alias the different name "ab".
      out += "\xEF\xBF\xBD";
    }
  }
  // Escapes re-joined with their neighbours may spell valid UTF-8 (U+DCC3 U+DCA9 is "é" on disk): the
  // promise is that a name read from the system goes back to it unchanged, which holds, since
  // FromNativePath decodes every valid sequence and escapes only bytes that are not part of one.
  return out;
}

std::u16string FromNativePath(std::string_view native) {
  std::u16string out;
  out.reserve(native.size());
  for (std::size_t i = 0; i < native.size();) {
    char32_t cp = 0;
    const std::size_t len = DecodeOne(native, i, cp);
    if (len == 0) {
      out += static_cast<char16_t>(kEscapeBase + static_cast<unsigned char>(native[i]));
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
    i += len;
  }
  return out;
}

namespace posix {

bool NativeArg(std::u16string_view path, std::string& native) {
  if (path.find(u'\0') != std::u16string_view::npos) {
    errno = EINVAL;
    return false;
  }
  native = ToNativePath(path);
  return true;
}

}  // namespace posix
}  // namespace ocelo::sys
