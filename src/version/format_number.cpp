// Numbers as text: repeated division, digits reversed, zero padding.
#include "version/format_number.h"

#include <algorithm>

namespace ocelo {

std::u16string format_number(std::uint32_t value, int base, int width) {
  static constexpr char16_t kDigits[] = u"0123456789abcdefghijklmnopqrstuvwxyz";
  const std::uint32_t radix = static_cast<std::uint32_t>(std::clamp(base, 2, 36));
  std::u16string text;
  do {
    text += kDigits[value % radix];
    value /= radix;
  } while (value != 0);
  if (width > 0 && text.size() < static_cast<std::size_t>(width)) {
    text.append(static_cast<std::size_t>(width) - text.size(), u'0');
  }
  std::reverse(text.begin(), text.end());
  return text;
}

std::u16string format_number(std::int32_t value, int base, int width, bool as_signed) {
  if (!as_signed || value >= 0) return format_number(static_cast<std::uint32_t>(value), base, width);
  // The magnitude of INT32_MIN does not fit an int32, but it does fit the unsigned form.
  const std::uint32_t magnitude = 0u - static_cast<std::uint32_t>(value);
  std::u16string text(1, u'-');
  text += format_number(magnitude, base, width);
  return text;
}

}  // namespace ocelo
