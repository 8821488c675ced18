// Program paths (UTF-16) and POSIX paths (bytes, normally UTF-8) in both directions, so that every
// file name the system hands out comes back to the system unchanged.
#include "platform/fs.h"

#include <cerrno>

#include "base/utf.h"
#include "platform/posix/native.h"

namespace ocelo::sys {
namespace {

// Lone surrogates U+DC80..U+DCFF stand for the bytes 80..FF of a name that are not valid UTF-8.
constexpr char16_t kEscapeBase = 0xDC00;

}  // namespace

std::string ToNativePath(std::u16string_view path) {
  std::string out;
  out.reserve(path.size());
  const char16_t* const end = path.data() + path.size();
  for (const char16_t* p = path.data(); p < end;) {
    const DecodedChar c = DecodeUtf16Char(p, end);
    p += c.length;
    if (c.valid) {
      AppendUtf8(out, c.code_point);
    } else if (c.code_point >= 0xDC80 && c.code_point <= 0xDCFF) {
      out += static_cast<char>(c.code_point - kEscapeBase);  // a byte of a name that is not UTF-8
    } else {
      // Any other lone surrogate names no file the system could have reported. It becomes U+FFFD
      // (EF BF BD) rather than being dropped, so "a\uD800b" can never alias the different name "ab".
      AppendUtf8(out, kReplacementCharacter);
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
  const char* const end = native.data() + native.size();
  for (const char* p = native.data(); p < end;) {
    const DecodedChar c = DecodeUtf8Char(p, end);
    if (c.valid) {
      AppendUtf16(out, c.code_point);
      p += c.length;
    } else {
      out += static_cast<char16_t>(kEscapeBase + static_cast<unsigned char>(*p));  // one byte at a time
      ++p;
    }
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
