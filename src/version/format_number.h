// Numbers as text in any base from 2 to 36, zero-padded: version codes, numbered names, counters.
#pragma once

#include <cstdint>
#include <string>

namespace ocelo {

/// The value in `base` (clamped to 2..36; digits 0-9 then a-z), with "0" in front up to `width`;
/// never shortened.
///   1, 10, 3 => 001      0x04B0, 16, 4 => 04b0      1234, 10, 2 => 1234      0, 10, 0 => 0
std::u16string format_number(std::uint32_t value, int base, int width);

/// As `format_number`; with `as_signed`, a negative value is written as "-" and its padded magnitude,
/// otherwise the value is taken as its unsigned 32-bit form.
///   -5, 10, 3, true => -005      -1, 16, 0, false => ffffffff
std::u16string format_number(std::int32_t value, int base, int width, bool as_signed);

}  // namespace ocelo
