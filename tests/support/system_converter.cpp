// The system's own converter: iconv on POSIX; on Windows WideCharToMultiByte and MultiByteToWideChar, with
// the UTF-16 and UTF-32 forms written out by hand (the system has no code page for them).
#include "support/system_converter.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#endif

#include <cstring>

namespace ocelo::test {

#ifdef _WIN32
namespace {

bool HasLoneSurrogate(std::u16string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
      ++i;
    } else if (unit >= 0xD800 && unit < 0xE000) {
      return true;
    }
  }
  return false;
}

void PutUnit(Bytes& out, std::uint32_t value, int size, bool big_endian) {
  for (int k = 0; k < size; ++k) {
    const int shift = 8 * (big_endian ? size - 1 - k : k);
    out.push_back(static_cast<std::uint8_t>(value >> shift));
  }
}

}  // namespace

std::optional<Bytes> SystemEncode(std::u16string_view text, const char* encoding) {
  const std::string name = encoding;
  if (HasLoneSurrogate(text)) return std::nullopt;
  if (name == "UTF-8" || name == "CP932") {
    if (text.empty()) return Bytes();
    const UINT code_page = name == "CP932" ? 932 : CP_UTF8;
    const DWORD flags = name == "CP932" ? WC_NO_BEST_FIT_CHARS : WC_ERR_INVALID_CHARS;
    const wchar_t* wide = reinterpret_cast<const wchar_t*>(text.data());
    const int length = static_cast<int>(text.size());
    BOOL defaulted = FALSE;
    BOOL* used_default = name == "CP932" ? &defaulted : nullptr;
    const int size = ::WideCharToMultiByte(code_page, flags, wide, length, nullptr, 0, nullptr, used_default);
    if (size <= 0 || defaulted) return std::nullopt;
    Bytes out(static_cast<std::size_t>(size));
    ::WideCharToMultiByte(code_page, flags, wide, length, reinterpret_cast<char*>(out.data()), size, nullptr,
                          used_default);
    if (defaulted) return std::nullopt;
    return out;
  }
  const bool big_endian = name.ends_with("BE");
  Bytes out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t value = text[i];
    if (name.starts_with("UTF-32") && value >= 0xD800 && value < 0xDC00) {
      value = 0x10000 + ((value - 0xD800) << 10) + (text[++i] - 0xDC00u);
    }
    PutUnit(out, value, name.starts_with("UTF-32") ? 4 : 2, big_endian);
  }
  return out;
}

std::optional<std::u16string> SystemDecodeUtf8(const Bytes& bytes) {
  if (bytes.empty()) return std::u16string();
  const char* data = reinterpret_cast<const char*>(bytes.data());
  const int length = static_cast<int>(bytes.size());
  const int size = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, data, length, nullptr, 0);
  if (size <= 0) return std::nullopt;
  std::u16string text(static_cast<std::size_t>(size), u'\0');
  ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, data, length, reinterpret_cast<wchar_t*>(text.data()), size);
  return text;
}

#else
namespace {

std::optional<Bytes> Iconv(const void* data, std::size_t size, const char* from, const char* to) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  Bytes out(size * 4 + 16);
  char* in_ptr = const_cast<char*>(static_cast<const char*>(data));
  char* out_ptr = reinterpret_cast<char*>(out.data());
  std::size_t in_left = size, out_left = out.size();
  const std::size_t result = iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left);
  iconv_close(cd);
  if (result == static_cast<std::size_t>(-1) || in_left != 0) return std::nullopt;
  out.resize(out.size() - out_left);
  return out;
}

}  // namespace

std::optional<Bytes> SystemEncode(std::u16string_view text, const char* encoding) {
  return Iconv(text.data(), text.size() * 2, "UTF-16LE", encoding);
}

std::optional<std::u16string> SystemDecodeUtf8(const Bytes& bytes) {
  const std::optional<Bytes> units = Iconv(bytes.data(), bytes.size(), "UTF-8", "UTF-16LE");
  if (!units) return std::nullopt;
  std::u16string text(units->size() / 2, u'\0');
  std::memcpy(text.data(), units->data(), units->size());
  return text;
}
#endif

}  // namespace ocelo::test
