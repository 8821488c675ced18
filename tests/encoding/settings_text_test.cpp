#include "encoding/settings_text.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "encoding/decode.h"
#include "support/sandbox.h"
#include "util/policy.h"

namespace ocelo {
namespace {

using test::Bytes;
using test::Hex;
using test::ReadBytes;
using test::ToHex;
using test::U16;
using test::WriteBytes;

// The bytes of a text as UTF-8, for building file contents.
Bytes Utf8(std::string_view text) { return Bytes(text.begin(), text.end()); }

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// FF FE and the text's units.
Bytes MarkedUtf16(std::u16string_view text) {
  Bytes bytes{0xFF, 0xFE};
  for (char16_t c : text) {
    bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  return bytes;
}

// Replaces the wait policy for one scope.
class ScopedWaits {
 public:
  ScopedWaits(int attempts, std::chrono::milliseconds wait) {
    WaitPolicy waits = Waits();
    waits.open_attempts = attempts;
    waits.open_wait = wait;
    previous_ = SetWaits(waits);
  }
  ~ScopedWaits() { SetWaits(previous_); }

 private:
  WaitPolicy previous_;
};

TEST(SettingsText, DecodesEachFormOfASettingsFile) {
  const Bytes xml_utf8 = Utf8("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n[S]\r\nk=\xE3\x81\x82\r\n");
  const Bytes xml_lower = Utf8("<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\nk=\xE3\x81\x82");
  // The declaration counts only among the first ten lines.
  std::string late;
  for (int i = 0; i < 10; ++i) late += "; line\r\n";
  const Bytes late_xml = Utf8(late + "<?xml encoding=\"UTF-8\"?>\r\nk=\xE3\x81\x82");
  const Bytes shift_jis = Utf8("k=") + Hex("82 A0");
  struct Case {
    const char* what;
    Bytes bytes;
    std::u16string expected;
  } cases[] = {
      {"UTF-16LE up to the first zero unit", Hex("FF FE 41 00 42 00 00 00 43 00"), u"AB"},
      {"UTF-16LE with an odd last byte", Hex("FF FE 41 00 42"), u"AB"},
      {"UTF-16BE", Hex("FE FF 00 41 30 42"), u"A\u3042"},
      {"UTF-8 with mark", Hex("EF BB BF") + Utf8("k=\xC3\xA9"), u"k=\u00E9"},
      {"XML declaration naming UTF-8", xml_utf8,
       u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n[S]\r\nk=\u3042\r\n"},
      {"declaration in lower case", xml_lower, u"<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\nk=\u3042"},
      {"Shift_JIS without mark", shift_jis, u"k=\u3042"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(DecodeSettingsBytes(c.bytes), c.expected);
  }
  // Without a declaration in reach, the general reader decides.
  EXPECT_EQ(DecodeSettingsBytes(late_xml), DecodeBytes(late_xml + Hex("00 00")));
}

TEST(SettingsText, ReadFailsForMissingAndEmptyFilesAndEmptiesTheOutput) {
  const std::string folder = test::TestFolder();
  WriteBytes(folder + "/empty.ini", {});
  WriteBytes(folder + "/k.ini", MarkedUtf16(u"[S]\r\nk=v\r\n"));
  std::u16string text = u"old";
  EXPECT_FALSE(ReadSettingsText(U16(folder + "/missing.ini"), text));
  EXPECT_EQ(text, u"");
  text = u"old";
  EXPECT_FALSE(ReadSettingsText(U16(folder + "/empty.ini"), text));
  EXPECT_EQ(text, u"");
  EXPECT_FALSE(ReadSettingsText(u"", text));
  EXPECT_FALSE(ReadSettingsText(U16(folder), text));  // a folder is not a settings file
  EXPECT_TRUE(ReadSettingsText(U16(folder + "/k.ini"), text));
  EXPECT_EQ(text, u"[S]\r\nk=v\r\n");
}

TEST(SettingsText, WritesMarkedUtf16LeOfTheWholeText) {
  const std::string path = test::TestFolder() + "/w.ini";
  WriteBytes(path, Utf8("old content that is longer than the new one"));
  // Characters inside and outside code page 932, and a U+0000 inside the text.
  const std::u16string text = std::u16string(u"k=\u3042\u00E9\U0001F600") + u'\0' + u"x";
  ASSERT_TRUE(WriteSettingsText(U16(path), text));
  EXPECT_EQ(ToHex(ReadBytes(path)), ToHex(MarkedUtf16(text)));
  EXPECT_FALSE(WriteSettingsText(u"", u"x"));
  EXPECT_FALSE(WriteSettingsText(U16(test::TestFolder() + "/no/such/folder/w.ini"), u"x"));
}

TEST(SettingsText, TellsUtf16MarksApart) {
  const std::string folder = test::TestFolder();
  struct Case {
    const char* name;
    Bytes bytes;
    bool marked;
  } cases[] = {
      {"le", Hex("FF FE 41 00"), true}, {"be", Hex("FE FF 00 41"), true}, {"mark-only", Hex("FF FE"), true},
      {"utf8", Hex("EF BB BF 41"), false}, {"one-byte", Hex("FF"), false}, {"empty", {}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteBytes(folder + "/" + c.name, c.bytes);
    EXPECT_EQ(HasUtf16Mark(U16(folder + "/" + c.name)), c.marked);
  }
  EXPECT_FALSE(HasUtf16Mark(U16(folder + "/missing")));
}

TEST(SettingsText, ConvertsOnlyFilesWithoutUtf16Mark) {
  const std::string folder = test::TestFolder();
  struct Case {
    const char* name;
    Bytes before;
    Bytes after;
  } cases[] = {
      {"shift_jis", Utf8("[S]\r\nk=") + Hex("82 A0") + Utf8("\r\n"), MarkedUtf16(u"[S]\r\nk=\u3042\r\n")},
      {"utf8", Hex("EF BB BF") + Utf8("k=\xC3\xA9"), MarkedUtf16(u"k=\u00E9")},
      {"le", Hex("FF FE 41 00"), Hex("FF FE 41 00")},
      {"be", Hex("FE FF 00 41"), Hex("FE FF 00 41")},
      {"empty", {}, Hex("FF FE")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteBytes(folder + "/" + c.name, c.before);
    EXPECT_TRUE(ConvertToUtf16File(U16(folder + "/" + c.name)));
    EXPECT_EQ(ToHex(ReadBytes(folder + "/" + c.name)), ToHex(c.after));
  }
}

TEST(SettingsText, UnreadableFileIsNeverEmptiedByConversion) {
  const std::string path = test::TestFolder() + "/busy.ini";
  const Bytes content = Utf8("[S]\r\nk=v\r\n");
  WriteBytes(path, content);
  {
    test::FileLock lock(path);  // another process holds the file for the whole wait
    EXPECT_FALSE(ConvertToUtf16File(U16(path)));
  }
  EXPECT_EQ(ReadBytes(path), content);
}

TEST(SettingsText, WaitsForABusyFileButNotForOtherFailures) {
  const std::string folder = test::TestFolder();
  const std::string path = folder + "/held.ini";
  WriteBytes(path, MarkedUtf16(u"k=v"));
  {
    ScopedWaits waits(400, std::chrono::milliseconds(5));
    auto lock = std::make_unique<test::FileLock>(path);
    std::thread release([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      lock.reset();
    });
    std::u16string text;
    EXPECT_TRUE(ReadSettingsText(U16(path), text));
    EXPECT_EQ(text, u"k=v");
    release.join();
  }
  // A missing folder is no busy file: with a ten-second wait in force the write still fails at once.
  ScopedWaits waits(100, std::chrono::milliseconds(100));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(WriteSettingsText(U16(folder + "/missing/x.ini"), u"x"));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

}  // namespace
}  // namespace ocelo
