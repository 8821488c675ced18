// Reading files as text: the whole file into memory, its encoding found from its bytes, decoded to UTF-16.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ocelo {

/// The whole content of a file; empty when the path is empty or the file cannot be opened within the
/// retry time (dump line "Can't open rb  " + path) or is too large to hold in memory.
std::vector<std::uint8_t> ReadFileBytes(std::u16string_view path);

/// ReadFileBytes into `bytes`, reusing its memory; false (and `bytes` empty) when the file could not be
/// read, so an unreadable file can be told from an empty one.
[[nodiscard]] bool ReadFileBytesInto(std::u16string_view path, std::vector<std::uint8_t>& bytes);

/// A file read once for everything that looks at its content: the text-file test, the conversion.
struct FileContent {
  bool exists = false;    ///< FileExists of the path
  bool readable = false;  ///< the whole file was read (an empty file too)
  std::vector<std::uint8_t> bytes;  ///< with room for twice the file, for a copy read back later
  std::u16string text;    ///< DecodeBytes of the bytes
};

/// The file's bytes and text, as ReadTextFile reads them. A file larger than a quarter of the machine's
/// memory, which a conversion could not hold, is not read (readable stays false, one dump line).
FileContent ReadFileContent(std::u16string_view path);

/// The text of a buffer in the encoding DetectEncoding finds, without its mark. The text never holds
/// U+0000: byte forms and UTF-16 end at the first zero, UTF-32 drops its zero units.
std::u16string DecodeBytes(std::span<const std::uint8_t> bytes);

/// True when DecodeBytes of the buffer equals the text, found without building the whole decoded text.
bool DecodesTo(std::span<const std::uint8_t> bytes, std::u16string_view text);

/// DecodeBytes of ReadFileBytes; an empty text, without a dump line, when the path does not exist.
std::u16string ReadTextFile(std::u16string_view path);

/// The UTF-16 kernels of DecodeBytes, for the benchmarks and tests: little-endian units up to the first
/// zero unit (an odd last byte dropped), and big-endian the same after swapping each pair.
std::u16string DecodeUtf16Le(std::span<const std::uint8_t> bytes);
std::u16string DecodeUtf16Be(std::span<const std::uint8_t> bytes);

}  // namespace ocelo
