// The version block: the version strings the build embeds in each of our executables, its byte form,
// and finding it in an ELF file.
//
// An executable carries its block in the ELF section ".ocelo_version". The block's bytes, all numbers
// little-endian, all texts UTF-16LE code units without terminator:
//
//   "OcVB"                                        4 bytes, the mark
//   u32 length                                    the whole block in bytes, mark included; bytes after
//                                                 it (padding of the section) are not part of the block
//   u32 T, then T x { u16 language, u16 code page }                  the translation table
//   u32 S, then S string tables, each:
//     u16 language, u16 code page                 the table's key ("041104b0" for 0x0411, 0x04B0)
//     u32 E, then E x { u16 name length, u16 value length, name units, value units }
//
// A string may be present with an empty value. Every count and length must lie inside the block.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ocelo {

/// Name of the ELF section that holds an executable's version block.
inline constexpr char kVersionSection[] = ".ocelo_version";

/// The largest block the reader takes (a Windows version resource has 16-bit lengths, so 64 KiB).
inline constexpr std::uint32_t kMaxVersionBlock = 0x10000;

struct VersionTranslation {
  std::uint16_t language = 0;
  std::uint16_t code_page = 0;
};

struct VersionString {
  std::u16string_view name;
  std::u16string_view value;
};

struct VersionStringTable {
  VersionTranslation key;
  std::span<const VersionString> strings;
};

/// The bytes the block of these tables takes.
constexpr std::size_t VersionBlockSize(std::span<const VersionTranslation> translations,
                                       std::span<const VersionStringTable> tables) {
  std::size_t size = 4 + 4 + 4 + 4 * translations.size() + 4;
  for (const VersionStringTable& table : tables) {
    size += 4 + 4;
    for (const VersionString& s : table.strings) size += 4 + 2 * (s.name.size() + s.value.size());
  }
  return size;
}

namespace detail {
constexpr std::uint8_t* Put16(std::uint8_t* out, std::uint32_t value) {
  out[0] = static_cast<std::uint8_t>(value);
  out[1] = static_cast<std::uint8_t>(value >> 8);
  return out + 2;
}
constexpr std::uint8_t* Put32(std::uint8_t* out, std::uint32_t value) {
  return Put16(Put16(out, value & 0xFFFF), value >> 16);
}
constexpr std::uint8_t* PutText(std::uint8_t* out, std::u16string_view text) {
  for (char16_t c : text) out = Put16(out, c);
  return out;
}
}  // namespace detail

/// Writes the block into `out`, which holds VersionBlockSize bytes. Usable at compile time, so the
/// build places a finished block in the executable. Names and values must be shorter than 65536 units.
constexpr void WriteVersionBlock(std::span<const VersionTranslation> translations,
                                 std::span<const VersionStringTable> tables, std::uint8_t* out) {
  out[0] = 'O';
  out[1] = 'c';
  out[2] = 'V';
  out[3] = 'B';
  out = detail::Put32(out + 4, static_cast<std::uint32_t>(VersionBlockSize(translations, tables)));
  out = detail::Put32(out, static_cast<std::uint32_t>(translations.size()));
  for (const VersionTranslation& t : translations) out = detail::Put16(detail::Put16(out, t.language), t.code_page);
  out = detail::Put32(out, static_cast<std::uint32_t>(tables.size()));
  for (const VersionStringTable& table : tables) {
    out = detail::Put16(detail::Put16(out, table.key.language), table.key.code_page);
    out = detail::Put32(out, static_cast<std::uint32_t>(table.strings.size()));
    for (const VersionString& s : table.strings) {
      out = detail::Put16(out, static_cast<std::uint32_t>(s.name.size()));
      out = detail::Put16(out, static_cast<std::uint32_t>(s.value.size()));
      out = detail::PutText(detail::PutText(out, s.name), s.value);
    }
  }
}

/// The block of these tables as a byte buffer.
std::vector<std::uint8_t> MakeVersionBlock(std::span<const VersionTranslation> translations,
                                           std::span<const VersionStringTable> tables);

/// One string table of a parsed block.
struct ParsedStringTable {
  VersionTranslation key;
  std::vector<std::pair<std::u16string, std::u16string>> strings;  ///< name, value
};

/// A block taken apart.
struct ParsedVersionBlock {
  std::vector<VersionTranslation> translations;
  std::vector<ParsedStringTable> tables;
};

/// The block in `bytes` taken apart; none when the mark is missing or a count or length runs past the
/// block or the buffer.
std::optional<ParsedVersionBlock> ParseVersionBlock(std::span<const std::uint8_t> bytes);

/// The place of a named section's content in an ELF file (32- or 64-bit, either byte order).
struct ElfSection {
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
};

/// Finds the section; none when the file cannot be read, is not ELF, is damaged, or has no such section
/// with content in the file.
std::optional<ElfSection> FindElfSection(std::u16string_view path, std::string_view name);

/// Reads `size` bytes at `offset` of a file; false when the file cannot be opened or is shorter.
bool ReadFileRange(std::u16string_view path, std::uint64_t offset, std::uint64_t size,
                   std::vector<std::uint8_t>& bytes);

}  // namespace ocelo
