// The string pair table: the program's rows, exact look-up, code page 932 keys and NarrowText.
#include "app/string_pairs.h"

#include <gtest/gtest.h>

#include "support/sandbox.h"

namespace ocelo {
namespace {

using test::U8;

TEST(StringPairs, ProgramRowsLocalizeExactly) {
  ClearStringPairs();
  EXPECT_EQ(U8(Localize("E&xit")), "E&xit");  // before start-up the table is empty
  AddProgramStringPairs();
  struct Case {
    const char* text;
    const char* shown;
  };
  const Case cases[] = {
      {"Ocelo", "文字コードを変更"},
      {"Cancel", "キャンセル"},
      {"E&xit", "終了(&X)"},
      {"Unable to save.\r\n", "保存できません．\r\n"},
      {"Not a text file.\r\n", "テキストファイルではありません．\r\n"},
      {"Did not update.\r\n", "更新しませんでした．\r\n"},
      {"same ", "same "},
      {"e&xit", "e&xit"},                      // letter case counts
      {"OCELO", "OCELO"},
      {"Unable to save.", "Unable to save."},  // the trailing CR LF is part of the key
      {"Not a text file.\r\n ", "Not a text file.\r\n "},
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(U8(Localize(c.text)), c.shown);
  }
  // The sibling tool's row comes first and matches no text of this program.
  ASSERT_EQ(StringPairs().size(), 7u);
  for (const Case& c : cases) EXPECT_NE(U8(StringPairs()[0].english), c.text);
}

TEST(StringPairs, FirstOfDuplicateRowsWins) {
  ClearStringPairs();
  AddStringPair("Ocelo", u"first");
  AddStringPair("Ocelo", u"second");
  EXPECT_EQ(U8(Localize("Ocelo")), "first");
}

TEST(StringPairs, KeysAreCodePage932UpToTheirFirstNull) {
  ClearStringPairs();
  const std::string moji = "\x95\xB6\x8E\x9A";  // 文字 in Shift_JIS
  AddStringPair(moji, u"characters");
  AddStringPair(std::string_view("ab\0cd", 5), u"cut");
  EXPECT_EQ(U8(StringPairs()[0].english), "文字");
  EXPECT_EQ(U8(Localize(moji)), "characters");
  EXPECT_EQ(U8(Localize("\x95\xB6")), "文");  // no row: the text widened
  EXPECT_EQ(U8(Localize("ab")), "cut");
  EXPECT_EQ(U8(Localize(std::string_view("ab\0zz", 5))), "cut");
}

TEST(StringPairs, NarrowTextFeedsLocalize) {
  EXPECT_EQ(NarrowText(u"文字"), "\x95\xB6\x8E\x9A");
  EXPECT_EQ(NarrowText(std::u16string_view(u"E&xit\0tail", 10)), "E&xit");
  EXPECT_EQ(NarrowText(u"a\u00E9b"), "a_b");  // no form in code page 932
  ClearStringPairs();
  AddProgramStringPairs();
  EXPECT_EQ(U8(Localize(NarrowText(u"E&xit"))), "終了(&X)");
  EXPECT_EQ(U8(Localize(NarrowText(u"終了(&X)"))), "終了(&X)");
}

}  // namespace
}  // namespace ocelo
