// Exact substring search: eight positions at a time test the needle's first and last unit together,
// and only positions where both match are compared in full.
#include "util/text_search.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ocelo {

std::size_t FindText(std::u16string_view text, std::u16string_view needle, std::size_t from) {
  const std::size_t n = needle.size();
  if (from > text.size()) return std::u16string_view::npos;
  if (n == 0) return from;
  if (n > text.size() - from) return std::u16string_view::npos;
  std::size_t i = from;
#if defined(__SSE2__)
  const __m128i first = _mm_set1_epi16(static_cast<short>(needle[0]));
  const __m128i last = _mm_set1_epi16(static_cast<short>(needle[n - 1]));
  const char16_t* data = text.data();
  // Blocks whose last-unit window stays inside the text.
  for (; i + n - 1 + 8 <= text.size(); i += 8) {
    const __m128i at_first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
    const __m128i at_last = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i + n - 1));
    unsigned mask = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi16(at_first, first), _mm_cmpeq_epi16(at_last, last))));
    while (mask != 0) {
      const std::size_t k = static_cast<std::size_t>(__builtin_ctz(mask)) / 2;
      if (n <= 2 || std::memcmp(data + i + k + 1, needle.data() + 1, (n - 2) * sizeof(char16_t)) == 0) {
        return i + k;
      }
      mask &= mask - 1;
      mask &= mask - 1;  // two mask bits per unit
    }
  }
#endif
  return text.find(needle, i);
}

}  // namespace ocelo
