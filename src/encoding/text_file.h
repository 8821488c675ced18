// The text-file test: whether a dropped file is text, from its first bytes and its decoded content.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "encoding/decode.h"

namespace ocelo {

/// The first min(size, n) bytes of the file in a zero-filled buffer of 2n + 2 bytes; empty, after a short
/// pause and the dump line "::ReadHead   Can't open   " + path, when the file cannot be opened at once.
std::vector<std::uint8_t> ReadHead(std::u16string_view path, int n);

/// True when the file is to be treated as text: not a ZIP container, and either declares an encoding
/// (or XML) or decodes to a text that holds no U+0000 and is not much shorter than the file unless the
/// file holds no zero byte. A path that does not exist passes (its conversion fails later).
bool IsTextFile(std::u16string_view path);

/// IsTextFile with the file's content already read (ReadFileContent), so a caller that goes on to convert
/// the file reads it once.
bool IsTextFile(std::u16string_view path, const FileContent& content);

}  // namespace ocelo
