// The one-character UTF-8 and UTF-16 steps: every boundary of the UTF-8 rules, and every code point
// through both encoders and back.
#include "base/utf.h"

#include <gtest/gtest.h>

#include "support/sandbox.h"

namespace ocelo {
namespace {

TEST(DecodeUtf8Char, BoundariesAndIllFormedSubparts) {
  const struct {
    const char* hex;
    char32_t code_point;  // U+FFFD when not valid
    std::size_t length;
    bool valid;
  } cases[] = {
      {"00", 0x00, 1, true},
      {"7F", 0x7F, 1, true},
      {"C2 80", 0x80, 2, true},
      {"DF BF", 0x7FF, 2, true},
      {"E0 A0 80", 0x800, 3, true},
      {"ED 9F BF", 0xD7FF, 3, true},
      {"EE 80 80", 0xE000, 3, true},
      {"EF BF BF", 0xFFFF, 3, true},
      {"F0 90 80 80", 0x10000, 4, true},
      {"F4 8F BF BF", 0x10FFFF, 4, true},
      {"E3 81 82 41", 0x3042, 3, true},  // stops after the character
      {"80", 0xFFFD, 1, false},          // stray continuation byte
      {"C0 80", 0xFFFD, 1, false},       // overlong 2-byte lead
      {"C1 BF", 0xFFFD, 1, false},
      {"E0 9F BF", 0xFFFD, 1, false},     // overlong 3-byte form
      {"F0 8F BF BF", 0xFFFD, 1, false},  // overlong 4-byte form
      {"ED A0 80", 0xFFFD, 1, false},     // encoded surrogate
      {"ED BF BF", 0xFFFD, 1, false},
      {"F4 90 80 80", 0xFFFD, 1, false},  // above U+10FFFF
      {"F5 80 80 80", 0xFFFD, 1, false},
      {"FF", 0xFFFD, 1, false},
      {"C3", 0xFFFD, 1, false},  // cut short by the end
      {"E3 81", 0xFFFD, 2, false},
      {"F0 9F 98", 0xFFFD, 3, false},
      {"E3 81 41", 0xFFFD, 2, false},  // broken by a byte that is not a continuation
      {"F0 9F 41 80", 0xFFFD, 2, false},
      {"E3 C3 A9", 0xFFFD, 1, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.hex);
    const test::Bytes bytes = test::Hex(c.hex);
    const DecodedChar got = DecodeUtf8Char(bytes.data(), bytes.data() + bytes.size());
    EXPECT_EQ(got.code_point, c.code_point);
    EXPECT_EQ(got.length, c.length);
    EXPECT_EQ(got.valid, c.valid);
  }
}

TEST(DecodeUtf16Char, PairsAndLoneSurrogates) {
  const struct {
    std::u16string units;
    char32_t code_point;
    std::size_t length;
    bool valid;
  } cases[] = {
      {u"A", u'A', 1, true},
      {{0xD7FF}, 0xD7FF, 1, true},
      {{0xE000}, 0xE000, 1, true},
      {{0xD800, 0xDC00}, 0x10000, 2, true},
      {{0xDBFF, 0xDFFF}, 0x10FFFF, 2, true},
      {{0xD83D}, 0xD83D, 1, false},        // high surrogate at the end
      {{0xD83D, u'A'}, 0xD83D, 1, false},  // high surrogate without its low half
      {{0xD83D, 0xD83D}, 0xD83D, 1, false},
      {{0xDE00, 0xD83D}, 0xDE00, 1, false},  // low surrogate first
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(static_cast<unsigned>(c.units[0])));
    const DecodedChar got = DecodeUtf16Char(c.units.data(), c.units.data() + c.units.size());
    EXPECT_EQ(got.code_point, c.code_point);
    EXPECT_EQ(got.length, c.length);
    EXPECT_EQ(got.valid, c.valid);
  }
}

TEST(Utf, EveryScalarValueRoundTripsThroughBothForms) {
  for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
    if (IsSurrogate(cp)) continue;
    std::uint8_t bytes[4];
    const std::size_t byte_count = EncodeUtf8Char(cp, bytes);
    ASSERT_EQ(byte_count, cp < 0x80      ? 1u
                          : cp < 0x800   ? 2u
                          : cp < 0x10000 ? 3u
                                         : 4u)
        << std::hex << static_cast<unsigned>(cp);
    const DecodedChar from_bytes = DecodeUtf8Char(bytes, bytes + byte_count);
    ASSERT_TRUE(from_bytes.valid && from_bytes.code_point == cp && from_bytes.length == byte_count)
        << std::hex << static_cast<unsigned>(cp);
    char16_t units[2];
    const std::size_t unit_count = EncodeUtf16Char(cp, units);
    const DecodedChar from_units = DecodeUtf16Char(units, units + unit_count);
    ASSERT_TRUE(from_units.valid && from_units.code_point == cp && from_units.length == unit_count)
        << std::hex << static_cast<unsigned>(cp);
  }
}

}  // namespace
}  // namespace ocelo
