// Fuzz target for reading version blocks from any file: the ELF section search and the block parser take
// damaged input without reading past it or reserving memory for what the file does not hold.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>

#include "version/version_block.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ocelo;
  const std::span<const std::uint8_t> bytes(data, size);
  if (const auto parsed = ParseVersionBlock(bytes)) {
    // Every text the parser hands out lies inside the block.
    std::size_t units = 0;
    for (const ParsedStringTable& table : parsed->tables) {
      for (const auto& [name, value] : table.strings) units += name.size() + value.size();
    }
    if (units * 2 > size) std::abort();
  }
  // The same bytes as a file, for the ELF section search.
  static const int fd = memfd_create("version_block_fuzz", 0);
  if (fd < 0) return 0;
  if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) return 0;
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  std::u16string wide(path.begin(), path.end());
  if (const auto section = FindElfSection(wide, ".ocelo_version")) {
    if (section->offset > size || section->size > size - section->offset) std::abort();
  }
  return 0;
}
