// Exact substring search in UTF-16 text, fast on long texts (a whole decoded file).
#pragma once

#include <cstddef>
#include <string_view>

namespace ocelo {

/// The position of the first `needle` in `text` at or after `from`, or npos; the same answer as
/// std::u16string_view::find, which is its plain reference.
///   ("a<?xml", "<?xml") => 1      ("abc", "") => 0      ("abc", "d") => npos
std::size_t FindText(std::u16string_view text, std::u16string_view needle, std::size_t from = 0);

}  // namespace ocelo
