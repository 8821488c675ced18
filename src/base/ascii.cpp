// ASCII letter case.
#include "base/ascii.h"

namespace ocelo {
namespace {

template <typename Char>
std::basic_string<Char> LowerCopy(std::basic_string_view<Char> text) {
  std::basic_string<Char> lower(text);
  for (Char& c : lower) c = AsciiLower(c);
  return lower;
}

}  // namespace

std::u16string ToLowerAscii(std::u16string_view text) { return LowerCopy(text); }

std::string ToLowerAscii(std::string_view text) { return LowerCopy(text); }

bool EqualsIgnoringAsciiCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i] && AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

bool ContainsIgnoringAsciiCase(std::u16string_view text, std::u16string_view part) {
  for (std::size_t at = 0; at + part.size() <= text.size(); ++at) {
    if (EqualsIgnoringAsciiCase(text.substr(at, part.size()), part)) return true;
  }
  return false;
}

}  // namespace ocelo
