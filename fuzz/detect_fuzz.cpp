// Fuzz target: the fast classifier agrees with the scalar one at every kernel level; the declaration scan
// takes any text.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "encoding/cpu_level.h"
#include "encoding/detect.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::span<const std::uint8_t> bytes(data, size);
  const ocelo::EncodingKind expected = ocelo::GuessEncodingScalar(bytes);
  for (int level = 1; level <= static_cast<int>(ocelo::MachineKernelLevel()); ++level) {
    ocelo::SetKernelLevelForTesting(static_cast<ocelo::KernelLevel>(level));
    if (ocelo::GuessEncoding(bytes) != expected) std::abort();
    ocelo::Detection detection = ocelo::DetectEncoding(bytes);
    if (detection.mark_length == 0 && detection.kind != expected) std::abort();
  }

  // The same bytes as UTF-16 lines, split at line feeds.
  std::u16string text(size / 2, u'\0');
  std::memcpy(text.data(), data, text.size() * 2);
  std::vector<std::u16string> lines(1);
  for (char16_t unit : text) {
    if (unit == u'\n') lines.emplace_back();
    else
      lines.back() += unit;
  }
  ocelo::EncodingKind declared = ocelo::FindDeclaredEncoding(lines);
  if (declared != 0 && declared != 8 && declared != 16 && declared != 74) std::abort();
  ocelo::HasXmlDeclaration(text);
  return 0;
}
