// ASCII letter case: only A to Z change, in both character widths and in the comparisons.
#include "base/ascii.h"

#include <gtest/gtest.h>

namespace ocelo {
namespace {

TEST(Ascii, OnlyAToZChange) {
  // '@' and '[' border 'A' and 'Z'; Ä, Σ and fullwidth Ａ are letters outside ASCII.
  EXPECT_EQ(ToLowerAscii(u"@AZ[`az{ÄΣＡ"), u"@az[`az{ÄΣＡ");
  EXPECT_EQ(ToLowerAscii(std::string_view("@AZ[`az{\xC3\x84")), "@az[`az{\xC3\x84");
  const struct {
    std::u16string_view a;
    std::u16string_view b;
    bool equal;
  } cases[] = {
      {u"Section", u"sECTION", true},
      {u"", u"", true},
      {u"ab", u"abc", false},
      {u"@", u"`", false},  // one apart like A and a, but not letters
      {u"Ä", u"ä", false},  // not ASCII
      {u"Ａ", u"ａ", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::u16string(c.a)));
    EXPECT_EQ(EqualsIgnoringAsciiCase(c.a, c.b), c.equal);
    EXPECT_EQ(EqualsIgnoringAsciiCase(c.b, c.a), c.equal);
  }
  EXPECT_TRUE(ContainsIgnoringAsciiCase(u" \"utf-8\" ?>", u"UTF-8"));
  EXPECT_TRUE(ContainsIgnoringAsciiCase(u"x=Shift_JIS", u"shift_jis"));
  EXPECT_TRUE(ContainsIgnoringAsciiCase(u"UTF-8", u"UTF-8"));
  EXPECT_FALSE(ContainsIgnoringAsciiCase(u"UTF-", u"UTF-8"));  // the name must fit in the window
  EXPECT_FALSE(ContainsIgnoringAsciiCase(u"UTF_8", u"UTF-8"));
}

}  // namespace
}  // namespace ocelo
