// Test helper: a minimal ELF file with one named section, in either class and byte order.
#pragma once

#include <algorithm>
#include <string>

#include "support/sandbox.h"

namespace ocelo::test {

// A minimal ELF file: header, section names, one section with `content`, then the section headers
// (null, names, the section).
inline Bytes MakeElf(const std::string& section_name, const Bytes& content, bool wide = true, bool big = false) {
  const std::size_t header_size = wide ? 64 : 52, entry_size = wide ? 64 : 40;
  const std::string names = std::string("\0.shstrtab\0", 11) + section_name + '\0';
  const std::size_t names_at = header_size, content_at = names_at + names.size();
  const std::size_t headers_at = content_at + content.size();
  Bytes file(headers_at + 3 * entry_size, 0);
  auto put = [&](std::size_t at, int width, std::uint64_t value) {
    for (int i = 0; i < width; ++i) {
      file[at + (big ? width - 1 - i : i)] = static_cast<std::uint8_t>(value >> (8 * i));
    }
  };
  const int addr = wide ? 8 : 4;
  file[0] = 0x7F, file[1] = 'E', file[2] = 'L', file[3] = 'F';
  file[4] = wide ? 2 : 1, file[5] = big ? 2 : 1, file[6] = 1;
  put(16, 2, 2);
  put(wide ? 0x28 : 0x20, addr, headers_at);
  put(wide ? 0x3A : 0x2E, 2, entry_size);
  put(wide ? 0x3C : 0x30, 2, 3);
  put(wide ? 0x3E : 0x32, 2, 1);
  std::copy(names.begin(), names.end(), file.begin() + names_at);
  std::copy(content.begin(), content.end(), file.begin() + content_at);
  const std::size_t offset_field = wide ? 24 : 16, size_field = wide ? 32 : 20;
  auto section = [&](int index, std::uint32_t name, std::uint32_t type, std::size_t at, std::size_t size) {
    const std::size_t base = headers_at + index * entry_size;
    put(base, 4, name);
    put(base + 4, 4, type);
    put(base + offset_field, addr, at);
    put(base + size_field, addr, size);
  };
  section(1, 1, 3, names_at, names.size());
  section(2, 11, 1, content_at, content.size());
  return file;
}

}  // namespace ocelo::test
