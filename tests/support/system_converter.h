// The system's own converter as the reference for ours: iconv on POSIX, the code page calls on Windows.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "support/sandbox.h"

namespace ocelo::test {

/// A text in "UTF-8", "CP932", "UTF-16LE", "UTF-16BE", "UTF-32LE" or "UTF-32BE", as the system's converter
/// writes it; nullopt where the converter rejects any of it (a character without a form, a lone surrogate).
std::optional<Bytes> SystemEncode(std::u16string_view text, const char* encoding);

/// UTF-8 bytes as the system's converter reads them; nullopt where it rejects any of them.
std::optional<std::u16string> SystemDecodeUtf8(const Bytes& bytes);

}  // namespace ocelo::test
