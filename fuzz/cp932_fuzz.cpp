// Fuzz target for the code page 932 converters: the fast kernels agree with the scalar ones, and decoded
// text survives encoding and decoding again unchanged, at every kernel level.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>

#include "encoding/cp932.h"
#include "encoding/cpu_level.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ocelo;
  const std::span<const std::uint8_t> bytes(data, size);
  // The same input as UTF-16 units: any unit, lone surrogates included, encodes alike in both kernels.
  std::u16string units(size / 2, u'\0');
  std::memcpy(units.data(), data, units.size() * 2);
  for (int level = 1; level <= static_cast<int>(MachineKernelLevel()); ++level) {
    SetKernelLevelForTesting(static_cast<KernelLevel>(level));
    const std::u16string text = DecodeShiftJis(bytes);
    if (text != DecodeShiftJisScalar(bytes)) std::abort();
    const std::vector<std::uint8_t> encoded = EncodeShiftJis(text);
    if (encoded != EncodeShiftJisScalar(text)) std::abort();
    if (DecodeShiftJis(encoded) != text) std::abort();
    if (EncodeShiftJis(units) != EncodeShiftJisScalar(units)) std::abort();
  }
  return 0;
}
