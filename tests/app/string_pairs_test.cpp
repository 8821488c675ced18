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
  const struct {
    const char* text;
    const char* shown;
  } cases[] = {
      {"Ocelo", "文字コードを変更"},
      {"Cancel", "キャンセル"},
      {"E&xit", "終了(&X)"},
      {"Unable to save.\r\n", "保存できません．\r\n"},
      {"Not a text file.\r\n", "テキストファイルではありません．\r\n"},
      {"Did not update.\r\n", "更新しませんでした．\r\n"},
      {"same ", "same "},
      {"e&xit", "e&xit"},                      // letter case counts
      {"Unable to save.", "Unable to save."},  // the trailing CR LF is part of the key
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(U8(Localize(c.text)), c.shown);
    EXPECT_NE(U8(StringPairs()[0].english), c.text);  // the sibling tool's row matches nothing here
  }
  EXPECT_EQ(StringPairs().size(), 7u);
}

TEST(StringPairs, CodePage932KeysFirstRowWinsAndNarrowText) {
  ClearStringPairs();
  const std::string moji = "\x95\xB6\x8E\x9A";  // 文字 in Shift_JIS
  AddStringPair(moji, u"characters");
  AddStringPair(moji, u"second");
  AddStringPair(std::string_view("ab\0cd", 5), u"cut");  // a key ends at its first null
  EXPECT_EQ(U8(Localize(moji)), "characters");
  EXPECT_EQ(U8(Localize("\x95\xB6")), "文");  // no row: the text widened
  EXPECT_EQ(U8(Localize("ab")), "cut");

  EXPECT_EQ(NarrowText(u"文字"), moji);
  EXPECT_EQ(NarrowText(std::u16string_view(u"E&xit\0tail", 10)), "E&xit");
  EXPECT_EQ(NarrowText(u"a\u00E9b"), "a_b");  // no form in code page 932
  EXPECT_EQ(U8(Localize(NarrowText(u"文字"))), "characters");
}

}  // namespace
}  // namespace ocelo
