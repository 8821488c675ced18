// Program text (UTF-16 in char16_t) as the system's wide text and back: on Windows both are UTF-16 code
// units, so the units pass unchanged.
#pragma once

#include <string>
#include <string_view>

namespace ocelo::win32ui {

inline std::wstring Wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }

inline std::u16string Units(std::wstring_view text) { return std::u16string(text.begin(), text.end()); }

}  // namespace ocelo::win32ui
