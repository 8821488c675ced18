// Reading files as text: decoding per detected kind, the zero rules, and the read failures.
#include "encoding/decode.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <string>
#include <vector>

#include "encoding/cp932.h"
#include "support/sandbox.h"

namespace ocelo {
namespace {

using test::Hex;
using test::U16;

TEST(DecodeBytes, EachKindAndItsZeroRule) {
  struct Case {
    const char* description;
    const char* hex;
    std::u16string expected;
    bool whole = true;  // the text is all of the buffer: decoding did not stop at a zero before the end
  };
  const Case cases[] = {
      {"UTF-8 mark alone", "EF BB BF", u""},
      {"UTF-16LE mark alone", "FF FE", u""},
      {"UTF-16LE stops at U+0000", "FF FE 41 00 00 00 42 00", u"A", false},
      {"UTF-16LE drops an odd last byte", "FF FE 41 00 42", u"A"},
      {"UTF-16BE equals UTF-16LE", "FE FF 30 42 00 41", u"\u3042A"},
      {"UTF-16BE stops at U+0000", "FE FF 00 41 00 00 00 42", u"A", false},
      {"UTF-32LE zero halves vanish", "FF FE 00 00 41 00 00 00 42 00 00 00", u"AB"},
      {"UTF-32LE U+0000 vanishes, no end", "FF FE 00 00 00 00 00 00 43 00 00 00", u"C"},
      {"UTF-32LE above U+FFFF: low then high half", "FF FE 00 00 00 F6 01 00", u"\xF600\x0001"},
      {"UTF-32BE", "00 00 FE FF 00 00 00 41 00 00 30 42", u"A\u3042"},
      {"UTF-32BE partial last group read as it stands", "00 00 FE FF 00 00 00 41 42 00", u"AB"},
      {"seven-bit as code page 932, backslash kept", "61 5C 62 7E 01 7F", u"a\\b~\x01\x7F"},
      {"Shift_JIS hiragana A", "82 A0", u"\u3042"},
      {"UTF-8 hiragana A", "E3 81 82", u"\u3042"},
      {"UTF-8 stops at a zero byte", "E3 81 82 00 41", u"\u3042", false},
      {"code page 932 stops at a zero byte", "41 42 00 43", u"AB", false},
      {"half-width katakana", "B1 B2", u"\uFF71\uFF72"},
      {"empty buffer", "", u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.description);
    EXPECT_EQ(DecodeBytes(Hex(c.hex)), c.expected);
    std::u16string text = u"left over";
    bool whole = !c.whole;
    EXPECT_TRUE(DecodeBytesInto(Hex(c.hex), text, whole));
    EXPECT_EQ(text, c.expected);
    EXPECT_EQ(whole, c.whole);
  }
}

TEST(DecodeBytes, UnmarkedUtf8WithStrayByteIsReadAsCodePage932) {
  // One invalid byte makes the UTF-8 count fail, so the whole buffer goes through code page 932.
  const test::Bytes bytes = Hex("E3 81 82 41 FF");
  EXPECT_EQ(DecodeBytes(bytes), DecodeShiftJis(bytes));
  EXPECT_NE(DecodeBytes(bytes).substr(0, 1), u"\u3042");
}

TEST(DecodeUtf16, KernelsAgreeWithPlainLoopAtEveryLengthAndZeroPosition) {
  for (std::size_t length = 0; length < 40; ++length) {
    for (std::size_t zero = 0; zero <= length; ++zero) {
      test::Bytes le, be;
      std::u16string expected;
      for (std::size_t i = 0; i < length; ++i) {
        char16_t unit = i == zero ? 0 : static_cast<char16_t>(0x3000 + i * 7);
        le.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        le.push_back(static_cast<std::uint8_t>(unit >> 8));
        be.push_back(static_cast<std::uint8_t>(unit >> 8));
        be.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        if (i < zero) expected += unit;
      }
      EXPECT_EQ(DecodeUtf16Le(le), expected) << length << " " << zero;
      EXPECT_EQ(DecodeUtf16Be(be), expected) << length << " " << zero;
    }
  }
}

TEST(ReadFileBytes, ReadsTheWholeFile) {
  const std::string path = test::TestFolder() + "/a.bin";
  test::Bytes content(100000);
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<std::uint8_t>(i * 31);
  test::WriteBytes(path, content);
  EXPECT_EQ(ReadFileBytes(U16(path)), content);
}

TEST(ReadFileBytes, MissingFileGivesEmptyAndOneDumpLine) {
  const std::string path = test::TestFolder() + "/missing.txt";
  EXPECT_TRUE(ReadFileBytes(U16(path)).empty());
  EXPECT_NE(test::DumpLog().find("\tCan't open rb  " + path + "\r\n"), std::string::npos);
  EXPECT_TRUE(ReadFileBytes(u"").empty());
}

TEST(ReadFileBytes, LockedFileGivesEmptyAfterTheRetries) {
  const std::string path = test::TestFolder() + "/locked.txt";
  test::WriteText(path, "busy");
  test::FileLock lock(path);
  EXPECT_TRUE(ReadFileBytes(U16(path)).empty());
  EXPECT_NE(test::DumpLog().find("Can't open rb  " + path), std::string::npos);
}

// Only a busy file is waited for: with an hour between attempts, a path that cannot be read for any other
// reason fails after one attempt, without a single pause.
TEST(ReadFileBytes, WaitsForABusyFileOnly) {
  const std::string folder = test::TestFolder();
  const std::string locked = folder + "/locked.txt", closed = folder + "/closed.txt";
  test::WriteText(locked, "busy");
  test::WriteText(closed, "secret");
  test::FileLock lock(locked);
  test::CountedPauses pauses(5);
  struct Case {
    std::string path;
    int pauses;
  };
  std::vector<Case> cases = {
      {locked, 5},  // every attempt waited for, the last one too
      {folder, 0},
      {folder + "/missing.txt", 0},
      {locked + "/x", 0},  // a file where a folder should be
  };
#ifndef _WIN32
  ::chmod(closed.c_str(), 0);
  if (::geteuid() != 0) cases.push_back({closed, 0});  // no read permission (root reads anything)
#endif
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_TRUE(ReadFileBytes(U16(c.path)).empty());
    EXPECT_EQ(pauses.Take(), c.pauses);
    EXPECT_NE(test::DumpLog().find("\tCan't open rb  " + c.path + "\r\n"), std::string::npos);
  }
}

// /proc files report a size of 0: the content is read to its end all the same.
TEST(ReadFileBytes, ReadsToTheEndWhateverTheStatusSays) {
#ifdef _WIN32
  GTEST_SKIP() << "/proc is Linux's";
#endif
  const test::Bytes bytes = ReadFileBytes(u"/proc/self/status");
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()).substr(0, 5), "Name:");
}

TEST(ReadFileBytes, FileTooLargeForMemoryIsACleanFailure) {
  const std::string path = test::TestFolder() + "/huge.bin";
  test::MakeSparseFile(path, std::int64_t{1} << 42);  // 4 TiB, far beyond this machine's memory
  EXPECT_TRUE(ReadFileBytes(U16(path)).empty());
  EXPECT_NE(test::DumpLog().find(path), std::string::npos);
}

TEST(ReadTextFile, MissingFileIsEmptyWithoutDumpLine) {
  const std::string path = test::TestFolder() + "/none.txt";
  EXPECT_EQ(ReadTextFile(U16(path)), u"");
  EXPECT_EQ(test::DumpLog().find(path), std::string::npos);
}

TEST(ReadTextFile, DecodesByContent) {
  const std::string path = test::TestFolder() + "/utf16.dat";  // the name says nothing
  test::WriteBytes(path, Hex("FF FE 42 30 0D 00 0A 00"));
  EXPECT_EQ(ReadTextFile(U16(path)), u"\u3042\r\n");
}

}  // namespace
}  // namespace ocelo
