// The text-file test: ZIP heads, declarations, zero bytes and the size ratio.
#include "encoding/text_file.h"

#include <gtest/gtest.h>

#include "support/sandbox.h"

namespace ocelo {
namespace {

using test::Hex;
using test::U16;

TEST(IsTextFile, JudgesByContent) {
  struct Case {
    const char* description;
    test::Bytes bytes;
    bool text;
  };
  auto bytes = [](std::string_view s) { return test::Bytes(s.begin(), s.end()); };
  test::Bytes xml_with_binary = bytes("<?xml version=\"1.0\" encoding=\"shift_jis\"?>");
  xml_with_binary.insert(xml_with_binary.end(), {0, 0, 0, 1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  test::Bytes html_with_zeros = bytes("<meta content=\"text/html; charset=utf-8\">");
  html_with_zeros.resize(4000, 0);
  test::Bytes png = Hex("89 50 4E 47 0D 0A 1A 0A 00 00 00 0D 49 48 44 52 00 00 01 00 00 00 01 00 08 06");
  png.resize(600, 0x11);
  test::Bytes zeros_late = bytes("abc");
  zeros_late.resize(100, 0);
  const Case cases[] = {
      {"empty file", {}, true},
      {"plain ASCII", bytes("hello\r\nworld\r\n"), true},
      {"Shift_JIS", Hex("82 A0 82 A2 0D 0A"), true},
      {"UTF-16 with mark", Hex("FF FE 41 00 42 00 43 00 44 00 45 00"), true},
      {"UTF-32 with mark", Hex("FF FE 00 00 41 00 00 00 42 00 00 00"), true},
      {"ZIP container (.docx)", Hex("50 4B 03 04 14 00 06 00 08 00"), false},
      {"empty ZIP archive", Hex("50 4B 05 06 00 00"), false},
      {"PK not followed by a ZIP signature", bytes("PKG list"), true},
      {"XML declaration before binary", xml_with_binary, true},
      {"HTML charset before zeros", html_with_zeros, true},
      {"PNG image", png, false},
      {"UTF-16 ASCII without mark", Hex("41 00 42 00 43 00 44 00 45 00 46 00"), false},
      {"short UTF-16 without mark", Hex("41 00 42 00"), true},  // 4/4 <= 2 x 1
      {"zeros after a short text", zeros_late, false},
  };
  const std::string folder = test::TestFolder();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.description);
    const std::string path = folder + "/file.bin";
    test::WriteBytes(path, c.bytes);
    EXPECT_EQ(IsTextFile(U16(path)), c.text);
  }
}

TEST(IsTextFile, MissingPathPassesWithOneHeadLine) {
  const std::string path = test::TestFolder() + "/gone.txt";
  EXPECT_TRUE(IsTextFile(U16(path)));
  EXPECT_NE(test::DumpLog().find("\t::ReadHead   Can't open   " + path + "\r\n"), std::string::npos);
}

TEST(ReadHead, ZeroFilledBufferOfTwiceTheCountPlusTwo) {
  const std::string path = test::TestFolder() + "/short.txt";
  test::WriteText(path, "abc");
  EXPECT_EQ(ReadHead(U16(path), 10), Hex("61 62 63 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"));
  test::WriteText(path, "0123456789ABCDEF");
  EXPECT_EQ(ReadHead(U16(path), 4), Hex("30 31 32 33 00 00 00 00 00 00"));
}

}  // namespace
}  // namespace ocelo
