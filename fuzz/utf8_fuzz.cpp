// Fuzz target: the fast UTF-8 converters agree with the scalar ones on any input, at every kernel level.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "encoding/cpu_level.h"
#include "encoding/utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::span<const std::uint8_t> bytes(data, size);
  std::u16string text(size / 2, u'\0');
  std::memcpy(text.data(), data, text.size() * 2);
  for (int level = 1; level <= static_cast<int>(ocelo::MachineKernelLevel()); ++level) {
    ocelo::SetKernelLevelForTesting(static_cast<ocelo::KernelLevel>(level));
    if (ocelo::DecodeUtf8(bytes) != ocelo::DecodeUtf8Scalar(bytes)) std::abort();
    if (ocelo::EncodeUtf8(text) != ocelo::EncodeUtf8Scalar(text)) std::abort();
  }
  return 0;
}
