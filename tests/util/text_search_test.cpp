// Substring search: the fast search agrees with std::u16string_view::find everywhere.
#include "util/text_search.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace ocelo {
namespace {

TEST(FindText, AgreesWithTheStandardFindAtEveryPosition) {
  std::mt19937 random(7);
  const std::u16string alphabet = u"ab<?xml\u3042";
  for (int round = 0; round < 3000; ++round) {
    std::u16string text(random() % 70, u'a');
    for (char16_t& c : text) c = alphabet[random() % alphabet.size()];
    std::u16string needle(1 + random() % 6, u'a');
    for (char16_t& c : needle) c = alphabet[random() % alphabet.size()];
    if (round % 3 == 0 && text.size() > needle.size()) {
      text.replace(random() % (text.size() - needle.size()), needle.size(), needle);
    }
    for (std::size_t from = 0; from <= text.size() + 1; from += 1 + round % 5) {
      ASSERT_EQ(FindText(text, needle, from), std::u16string_view(text).find(needle, from))
          << "round " << round << " from " << from;
    }
  }
  EXPECT_EQ(FindText(u"abc", u""), 0u);
  EXPECT_EQ(FindText(u"abc", u"", 3), 3u);
  EXPECT_EQ(FindText(u"abc", u"", 4), std::u16string_view::npos);
  EXPECT_EQ(FindText(u"", u"a"), std::u16string_view::npos);
}

}  // namespace
}  // namespace ocelo
