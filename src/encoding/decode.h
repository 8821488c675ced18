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
  bool exists = false;              ///< FileExists of the path
  bool readable = false;            ///< the whole file was read (an empty file too) and decoded
  bool whole = true;                ///< the text is all of the file: decoding did not stop at a zero before the end
  std::vector<std::uint8_t> bytes;  ///< everything the one read found, whatever the status size said
  std::u16string text;              ///< DecodeBytes of the bytes
};

/// The file's bytes and text, as ReadTextFile reads them, from one read to the end (a pipe or a /proc
/// file too; a device is not read). A file larger than a quarter of the machine's memory, which a
/// conversion could not hold, is not read, and memory that runs out while decoding leaves no text:
/// readable stays false, with one dump line.
FileContent ReadFileContent(std::u16string_view path);

/// The content of bytes read elsewhere (standard input), decoded as ReadFileContent decodes a file's: exists
/// is true, readable false only when memory ran out while decoding.
FileContent ContentOfBytes(std::vector<std::uint8_t> bytes);

/// The text of a buffer in the encoding DetectEncoding finds, without its mark. The text never holds
/// U+0000: byte forms and UTF-16 end at the first zero, UTF-32 drops its zero units.
std::u16string DecodeBytes(std::span<const std::uint8_t> bytes);

/// DecodeBytes that tells what an empty text cannot: false when memory ran out (the text empty, dump
/// line "Can't decode, out of memory"), and `whole` false when decoding stopped at a zero byte (a zero
/// unit in UTF-16) before the end of the bytes, so that the text is only the start of them.
[[nodiscard]] bool DecodeBytesInto(std::span<const std::uint8_t> bytes, std::u16string& text, bool& whole);

/// True when DecodeBytes of the buffer equals the text, found without building the whole decoded text.
bool DecodesTo(std::span<const std::uint8_t> bytes, std::u16string_view text);

/// DecodeBytes of ReadFileBytes; an empty text, without a dump line, when the path does not exist.
std::u16string ReadTextFile(std::u16string_view path);

/// The UTF-16 kernels of DecodeBytes, for the benchmarks and tests: little-endian units up to the first
/// zero unit (an odd last byte dropped), and big-endian the same after swapping each pair.
std::u16string DecodeUtf16Le(std::span<const std::uint8_t> bytes);
std::u16string DecodeUtf16Be(std::span<const std::uint8_t> bytes);

}  // namespace ocelo
