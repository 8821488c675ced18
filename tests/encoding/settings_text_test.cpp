// Settings-file text: reading in every encoding, marked UTF-16 writes, busy files retried.
#include "encoding/settings_text.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "encoding/decode.h"
#include "settings/settings_files.h"

namespace ocelo {
namespace {

using namespace test;
using namespace std::literals;

TEST(SettingsText, DecodesEachFormOfASettingsFile) {
  std::string ten_lines;
  for (int i = 0; i < 10; ++i) ten_lines += "; line\r\n";
  const Bytes late_xml = Raw(ten_lines + "<?xml encoding=\"UTF-8\"?>\r\nk=\xE3\x81\x82");
  struct Case {
    const char* what;
    Bytes bytes;
    std::u16string expected;
  } cases[] = {
      {"UTF-16LE up to the first zero unit", Hex("FF FE 41 00 42 00 00 00 43 00"), u"AB"},
      {"UTF-16LE with an odd last byte", Hex("FF FE 41 00 42"), u"AB"},
      {"UTF-16BE", Hex("FE FF 00 41 30 42"), u"A\u3042"},
      {"UTF-8 with mark", Raw("\xEF\xBB\xBFk=\xC3\xA9"), u"k=\u00E9"},
      // E3 81 would pass as a Shift_JIS pair; the declaration makes it UTF-8.
      {"XML declaration naming UTF-8", Raw("<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\nk=\xE3\x81\x82"),
       u"<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\nk=\u3042"},
      {"Shift_JIS without mark", Raw("k=\x82\xA0"), u"k=\u3042"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(DecodeSettingsBytes(c.bytes), c.expected);
  }
  // A declaration beyond the first ten lines does not count: the general reader decides.
  EXPECT_EQ(DecodeSettingsBytes(late_xml),
            DecodeBytes(Raw(ten_lines + "<?xml encoding=\"UTF-8\"?>\r\nk=\xE3\x81\x82", Hex("00 00"))));
}

TEST(SettingsText, ReadsAndWritesWholeFiles) {
  const std::string folder = TestFolder();
  WriteBytes(folder + "/empty.ini", {});
  std::u16string text = u"old";
  for (const std::string& path : {folder + "/missing.ini", folder + "/empty.ini", folder, std::string()}) {
    SCOPED_TRACE(path);
    EXPECT_FALSE(ReadSettingsText(U16(path), text));
    EXPECT_EQ(text, u"");
  }
  // The whole text, characters outside code page 932 and a U+0000 included, over a longer old content.
  const std::string path = folder + "/w.ini";
  WriteBytes(path, Raw("old content that is longer than the new one"));
  const std::u16string written = std::u16string(u"k=\u3042\u00E9\U0001F600") + u'\0' + u"x";
  ASSERT_TRUE(WriteSettingsText(U16(path), written));
  EXPECT_EQ(ToHex(ReadBytes(path)), ToHex(MarkedUtf16(written)));
  EXPECT_TRUE(ReadSettingsText(U16(path), text));
  EXPECT_EQ(text, u"k=\u3042\u00E9\U0001F600");
  EXPECT_FALSE(WriteSettingsText(u"", u"x"));
}

TEST(SettingsText, ConvertsOnlyFilesWithoutUtf16Mark) {
  const std::string folder = TestFolder();
  struct Case {
    const char* name;
    Bytes before;
    bool marked;
    Bytes after;
  } cases[] = {
      {"shift_jis", Raw("[S]\r\nk=\x82\xA0\r\n"), false, MarkedUtf16(u"[S]\r\nk=\u3042\r\n")},
      {"utf8", Raw("\xEF\xBB\xBFk=\xC3\xA9"), false, MarkedUtf16(u"k=\u00E9")},
      {"le", Hex("FF FE 41 00"), true, Hex("FF FE 41 00")},
      {"be", Hex("FE FF 00 41"), true, Hex("FE FF 00 41")},
      {"mark-only", Hex("FF FE"), true, Hex("FF FE")},
      {"one-byte", Hex("FF"), false, MarkedUtf16(u"\uF8F3")},  // code page 932 maps FF to U+F8F3
      // A zero that a crash left: the text after it is kept, the zero too.
      {"zero", Raw("[S]\r\nk=\x82\xA0\r\n", Hex("00 5B 54 5D")), false, MarkedUtf16(u"[S]\r\nk=\u3042\r\n\0[T]"sv)},
      {"utf8-zero", Raw("\xEF\xBB\xBFk=\xC3\xA9", Hex("00 78")), false, MarkedUtf16(u"k=\u00E9\0x"sv)},
      {"empty", {}, false, Hex("FF FE")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = folder + "/" + c.name;
    WriteBytes(path, c.before);
    EXPECT_EQ(HasUtf16Mark(U16(path)), c.marked);
    EXPECT_TRUE(ConvertToUtf16File(U16(path)));
    EXPECT_EQ(ToHex(ReadBytes(path)), ToHex(c.after));
  }
  EXPECT_FALSE(HasUtf16Mark(U16(folder + "/missing")));
}

TEST(SettingsText, UnreadableFileIsNeverEmptiedByConversion) {
  const std::string path = TestFolder() + "/busy.ini";
  WriteBytes(path, Raw("[S]\r\nk=v\r\n"));
  {
    FileLock lock(path);  // another process holds the file for the whole wait
    EXPECT_FALSE(ConvertToUtf16File(U16(path)));
  }
  EXPECT_EQ(ReadBytes(path), Raw("[S]\r\nk=v\r\n"));
}

TEST(SettingsText, WaitsForABusyFileButNotForOtherFailures) {
  const std::string folder = TestFolder();
  const std::string path = folder + "/held.ini";
  WriteBytes(path, MarkedUtf16(u"k=v"));
  {
    ScopedWaits waits(12000, std::chrono::milliseconds(5));  // ends on the release; a minute is only a bound
    auto lock = std::make_unique<FileLock>(path);
    std::thread release([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      lock.reset();
    });
    std::u16string text;
    EXPECT_TRUE(ReadSettingsText(U16(path), text));
    EXPECT_EQ(text, u"k=v");
    release.join();
  }
  // A missing folder or a folder in the file's place is no busy file: the write and the read fail at
  // once, without a pause.
  CountedPauses pauses;
  EXPECT_FALSE(WriteSettingsText(U16(folder + "/missing/x.ini"), u"x"));
  std::u16string text;
  EXPECT_FALSE(ReadSettingsText(U16(folder), text));
  EXPECT_EQ(pauses.Take(), 0);
}

}  // namespace
}  // namespace ocelo
