// The version block: building it at run time, taking it apart, and finding its section in an ELF file.
#include "version/version_block.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>

#include "util/file_status.h"

namespace ocelo {
namespace {

// Reads the block's numbers and texts with every length checked against the block's end.
class BlockReader {
 public:
  explicit BlockReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  bool Read16(std::uint32_t& value) {
    if (bytes_.size() - pos_ < 2) return false;
    value = bytes_[pos_] | (bytes_[pos_ + 1] << 8);
    pos_ += 2;
    return true;
  }
  bool Read32(std::uint32_t& value) {
    std::uint32_t low = 0, high = 0;
    if (!Read16(low) || !Read16(high)) return false;
    value = low | (high << 16);
    return true;
  }
  bool ReadText(std::uint32_t units, std::u16string& text) {
    if ((bytes_.size() - pos_) / 2 < units) return false;
    text.resize(units);
    for (std::uint32_t i = 0; i < units; ++i) {
      text[i] = static_cast<char16_t>(bytes_[pos_] | (bytes_[pos_ + 1] << 8));
      pos_ += 2;
    }
    return true;
  }
  // Each entry of a count takes at least `bytes_each`; a count beyond what is left is damage.
  bool Fits(std::uint32_t count, std::size_t bytes_each) const { return count <= (bytes_.size() - pos_) / bytes_each; }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t pos_ = 0;
};

// Reads numbers of either byte order from an ELF file at given offsets.
class ElfFile {
 public:
  explicit ElfFile(std::u16string_view path) : file_(OpenFile(path, "rb")) {}
  ~ElfFile() {
    if (file_) std::fclose(file_);
  }
  ElfFile(const ElfFile&) = delete;
  ElfFile& operator=(const ElfFile&) = delete;

  bool Open() const { return file_ != nullptr; }
  void SetBigEndian(bool big) { big_ = big; }

  /// The file's size in bytes; 0 when it cannot be told.
  std::uint64_t Size() {
    if (std::fseek(file_, 0, SEEK_END) != 0) return 0;
    const long end = std::ftell(file_);
    return end < 0 ? 0 : static_cast<std::uint64_t>(end);
  }

  bool ReadBytes(std::uint64_t offset, void* out, std::size_t size) {
    if (offset > static_cast<std::uint64_t>(LONG_MAX)) return false;
    if (std::fseek(file_, static_cast<long>(offset), SEEK_SET) != 0) return false;
    return std::fread(out, 1, size, file_) == size;
  }
  bool Read(std::uint64_t offset, int width, std::uint64_t& value) {
    std::uint8_t raw[8];
    if (!ReadBytes(offset, raw, static_cast<std::size_t>(width))) return false;
    value = 0;
    for (int i = 0; i < width; ++i) {
      value = (value << 8) | raw[big_ ? i : width - 1 - i];
    }
    return true;
  }

 private:
  std::FILE* file_;
  bool big_ = false;
};

// Where the fields of the ELF header and of a section header lie, for 32- and 64-bit files.
struct ElfLayout {
  int addr;  // width of addresses and offsets
  std::uint64_t shoff, shentsize, shnum, shstrndx;
  std::uint64_t header_size;
  std::uint64_t sh_type, sh_offset, sh_size, sh_link;
};
constexpr ElfLayout kElf32{4, 0x20, 0x2E, 0x30, 0x32, 40, 4, 16, 20, 24};
constexpr ElfLayout kElf64{8, 0x28, 0x3A, 0x3C, 0x3E, 64, 4, 24, 32, 40};

constexpr std::uint64_t kShtNobits = 8;
constexpr std::uint64_t kShnXindex = 0xFFFF;
// More sections than any real executable has; a larger count is damage, not a reason to read on.
constexpr std::uint64_t kMaxSections = 1u << 20;

}  // namespace

std::vector<std::uint8_t> MakeVersionBlock(std::span<const VersionTranslation> translations,
                                           std::span<const VersionStringTable> tables) {
  std::vector<std::uint8_t> bytes(VersionBlockSize(translations, tables));
  WriteVersionBlock(translations, tables, bytes.data());
  return bytes;
}

std::optional<ParsedVersionBlock> ParseVersionBlock(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < 8 || std::memcmp(bytes.data(), "OcVB", 4) != 0) return std::nullopt;
  const std::uint32_t length = bytes[4] | (bytes[5] << 8) | (bytes[6] << 16) |
                               (static_cast<std::uint32_t>(bytes[7]) << 24);
  if (length < 8 || length > bytes.size()) return std::nullopt;
  BlockReader reader(bytes.subspan(8, length - 8));

  ParsedVersionBlock block;
  std::uint32_t count = 0;
  if (!reader.Read32(count) || !reader.Fits(count, 4)) return std::nullopt;
  block.translations.resize(count);
  for (VersionTranslation& t : block.translations) {
    std::uint32_t language = 0, code_page = 0;
    if (!reader.Read16(language) || !reader.Read16(code_page)) return std::nullopt;
    t = {static_cast<std::uint16_t>(language), static_cast<std::uint16_t>(code_page)};
  }
  if (!reader.Read32(count) || !reader.Fits(count, 8)) return std::nullopt;
  block.tables.resize(count);
  for (ParsedStringTable& table : block.tables) {
    std::uint32_t language = 0, code_page = 0, strings = 0;
    if (!reader.Read16(language) || !reader.Read16(code_page) || !reader.Read32(strings) || !reader.Fits(strings, 4)) {
      return std::nullopt;
    }
    table.key = {static_cast<std::uint16_t>(language), static_cast<std::uint16_t>(code_page)};
    table.strings.resize(strings);
    for (auto& [name, value] : table.strings) {
      std::uint32_t name_units = 0, value_units = 0;
      if (!reader.Read16(name_units) || !reader.Read16(value_units) || !reader.ReadText(name_units, name) ||
          !reader.ReadText(value_units, value)) {
        return std::nullopt;
      }
    }
  }
  return block;
}

std::optional<ElfSection> FindElfSection(std::u16string_view path, std::string_view name) {
  ElfFile file(path);
  if (!file.Open()) return std::nullopt;
  std::uint8_t ident[16];
  if (!file.ReadBytes(0, ident, sizeof ident) || std::memcmp(ident,
                                                             "\x7F"
                                                             "ELF",
                                                             4) != 0)
    return std::nullopt;
  if (ident[4] != 1 && ident[4] != 2) return std::nullopt;
  if (ident[5] != 1 && ident[5] != 2) return std::nullopt;
  const ElfLayout& elf = ident[4] == 1 ? kElf32 : kElf64;
  file.SetBigEndian(ident[5] == 2);

  std::uint64_t shoff = 0, shentsize = 0, shnum = 0, shstrndx = 0;
  if (!file.Read(elf.shoff, elf.addr, shoff) || !file.Read(elf.shentsize, 2, shentsize) ||
      !file.Read(elf.shnum, 2, shnum) || !file.Read(elf.shstrndx, 2, shstrndx)) {
    return std::nullopt;
  }
  if (shoff == 0 || shentsize < elf.header_size) return std::nullopt;
  auto header = [&](std::uint64_t index, std::uint64_t field, int width, std::uint64_t& value) {
    return file.Read(shoff + index * shentsize + field, width, value);
  };
  // Files with very many sections keep the real count and string-table index in section 0.
  if (shnum == 0 && !header(0, elf.sh_size, elf.addr, shnum)) return std::nullopt;
  if (shstrndx == kShnXindex && !header(0, elf.sh_link, 4, shstrndx)) return std::nullopt;
  if (shnum > kMaxSections || shstrndx >= shnum) return std::nullopt;

  std::uint64_t names_offset = 0, names_size = 0;
  if (!header(shstrndx, elf.sh_offset, elf.addr, names_offset) ||
      !header(shstrndx, elf.sh_size, elf.addr, names_size)) {
    return std::nullopt;
  }
  // The name with its terminator, compared against the names table entry of each section.
  const std::string wanted = std::string(name) + '\0';
  std::string candidate(wanted.size(), '\0');
  for (std::uint64_t i = 1; i < shnum; ++i) {
    std::uint64_t name_index = 0, type = 0;
    if (!header(i, 0, 4, name_index) || !header(i, elf.sh_type, 4, type)) return std::nullopt;
    if (name_index >= names_size || names_size - name_index < wanted.size()) continue;
    if (!file.ReadBytes(names_offset + name_index, candidate.data(), candidate.size())) continue;
    if (candidate != wanted) continue;
    ElfSection section;
    if (type == kShtNobits || !header(i, elf.sh_offset, elf.addr, section.offset) ||
        !header(i, elf.sh_size, elf.addr, section.size)) {
      return std::nullopt;
    }
    // A damaged header may claim a section far beyond the file: nothing would be read but the memory
    // reserved for it.
    const std::uint64_t file_size = file.Size();
    if (section.offset > file_size || section.size > file_size - section.offset) return std::nullopt;
    return section;
  }
  return std::nullopt;
}

bool ReadFileRange(std::u16string_view path, std::uint64_t offset, std::uint64_t size,
                   std::vector<std::uint8_t>& bytes) {
  ElfFile file(path);
  if (!file.Open()) return false;
  try {
    bytes.assign(static_cast<std::size_t>(size), 0);
  } catch (const std::bad_alloc&) {
    bytes.clear();
    return false;
  } catch (const std::length_error&) {
    bytes.clear();
    return false;
  }
  return size == 0 || file.ReadBytes(offset, bytes.data(), bytes.size());
}

}  // namespace ocelo
