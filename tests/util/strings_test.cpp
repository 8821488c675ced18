// Tests of the string helpers: lower-casing, the settings store's path helpers, UTF-8 conversions.
#include "util/strings.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/program_paths.h"
#include "support/sandbox.h"
#include "util/dump_capture.h"

namespace ocelo {
namespace {

using test::U16;
using Strings = std::vector<std::u16string>;
constexpr PathStyle kWin = PathStyle::kWindows;
constexpr PathStyle kPosix = PathStyle::kPosix;

TEST(ToLower, AsciiLettersOnly) {
  EXPECT_EQ(ToLower(u"AZaz@[`{ÄΣＡ"), u"azaz@[`{ÄΣＡ");
  EXPECT_EQ(LowerExtension(u"/dir/Report.TXT"), u"txt");
  EXPECT_EQ(LowerExtension(u"/dir/file?.txt"), u"");
  EXPECT_EQ(LowerExtension(u"/dir.D/README"), u"");
}

TEST(PathTextHelpers, BothStyles) {
  const struct {
    std::u16string path;
    PathStyle style;
    std::u16string appended;  // with suffix "|x"
    std::u16string name;
  } cases[] = {
      {u"C:\\data", kWin, u"C:\\data|x", u"data"},
      {u"C:\\data\\", kWin, u"C:\\data\\", u""},
      {u"C:\\data\\settings.ini", kWin, u"C:\\data\\settings.ini|x", u"settings.ini"},
      {u"a\\b/c", kWin, u"a\\b/c|x", u"b/c"},  // the backslash is looked for first
      {u"settings.ini", kWin, u"settings.ini|x", u"????????.???"},
      {u"", kWin, u"", u"????????.???"},
      {u"/etc/settings.ini", kPosix, u"/etc/settings.ini|x", u"settings.ini"},
      {u"dir\\", kPosix, u"dir\\|x", u"????????.???"},
      {u"dir/", kPosix, u"dir/", u""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(test::U8(c.path));
    EXPECT_EQ(AppendIfNoSeparator(c.path, u"|x", c.style), c.appended);
    EXPECT_EQ(FileNameOrWildcard(c.path, c.style), c.name);
  }
  Strings list;
  EXPECT_EQ(AddToList(list, u"a"), 0);
  EXPECT_EQ(AddToList(list, u"b"), 1);
  EXPECT_EQ(list, Strings({u"a", u"b"}));
}

TEST(FolderPathChain, OutermostFirstWithoutDrivesServersAndShares) {
  const struct {
    std::u16string path;
    PathStyle style;
    Strings expected;
  } cases[] = {
      {u"C:\\a\\b\\c", kWin, {u"C:\\a", u"C:\\a\\b", u"C:\\a\\b\\c"}},
      {u"C:/a/b", kWin, {u"C:/a", u"C:/a/b"}},
      {u"\\\\srv\\share\\x", kWin, {u"\\\\srv\\share\\x"}},
      {u"//srv/share/x/y", kWin, {u"//srv/share/x", u"//srv/share/x/y"}},
      {u"/a/b", kPosix, {u"/a", u"/a/b"}},
      {u"/a/b/", kPosix, {u"/a", u"/a/b", u"/a/b/"}},
      {u"rel/a", kPosix, {u"rel", u"rel/a"}},
      {u"/x/dev:", kPosix, {u"/x", u"/x/dev:"}},
      {u"//a/b", kPosix, {u"//a", u"//a/b"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(test::U8(c.path));
    EXPECT_EQ(FolderPathChain(c.path, c.style), c.expected);
  }
}

TEST(CreateFolderPath, CreatesParentsAndReportsAFailure) {
  const std::string root = test::TestFolder();
  test::DumpCapture dump(root);
  test::MidHourClock clock;
  EXPECT_EQ(CreateFolderPath(U16(root + "/a/b/c")), 1);
  EXPECT_TRUE(std::filesystem::is_directory(root + "/a/b/c"));
  EXPECT_TRUE(IsExistingFolder(U16(root + "/a/b/c")));
  EXPECT_EQ(CreateFolderPath(U16(root + "/a/b/c")), 1);
  EXPECT_FALSE(test::Exists(dump.File()));

  test::WriteText(root + "/a/file", "x");
  EXPECT_FALSE(IsExistingFolder(U16(root + "/a/file")));
  EXPECT_EQ(CreateFolderPath(U16(root + "/a/file/d/e")), 0);
  EXPECT_FALSE(test::Exists(root + "/a/file/d"));
  // One line: the remaining folders were not attempted.
  const std::string log = dump.Log();
  const std::string line = std::string("\t").append(test::kProgramName) + "\tフォルダが作成できません" + root +
                           "/a/file\r\n";
  EXPECT_EQ(test::Occurrences(log, line), 1);
  EXPECT_EQ(test::Occurrences(log, root + "/a/file"), 1);
}

TEST(Utf8, InvalidBytesBecomeReplacementCharacters) {
  const struct {
    const char* hex;
    std::u16string expected;
  } cases[] = {
      {"41 C3 A9 E3 81 82 F0 9F 98 80", u"Aéあ\U0001F600"},
      {"80", u"\uFFFD"},
      {"C0 80", u"\uFFFD\uFFFD"},                    // overlong
      {"ED A0 80", u"\uFFFD\uFFFD\uFFFD"},           // surrogate
      {"F4 90 80 80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
      {"E3 81 41", u"\uFFFDA"},                      // cut short: one replacement
      {"F0 9F 98", u"\uFFFD"},                       // cut short at the end
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.hex);
    const test::Bytes bytes = test::Hex(c.hex);
    EXPECT_EQ(Widen(std::string(bytes.begin(), bytes.end())), c.expected);
  }
  const auto utf8 = [](std::u16string_view text) {
    const std::string s = ToUtf8(text);
    return test::ToHex(test::Bytes(s.begin(), s.end()));
  };
  EXPECT_EQ(utf8(u"Aé\U0001F600"), "41 C3 A9 F0 9F 98 80");
  EXPECT_EQ(utf8(std::u16string{0xD800, u'A'}), "EF BF BD 41");
  EXPECT_EQ(utf8(std::u16string{0xDE00, 0xD83D}), "EF BF BD EF BF BD");
  EXPECT_EQ(utf8(std::u16string{u'A', 0xD83D}), "41 EF BF BD");
}

TEST(Utf8, EveryScalarValueRoundTrips) {
  std::u16string all;
  for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    if (cp >= 0x10000) {
      all += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
      all += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      all += static_cast<char16_t>(cp);
    }
  }
  const std::string utf8 = ToUtf8(all);
  EXPECT_EQ(utf8, test::U8(all));  // the sandbox's own encoder as a second opinion
  EXPECT_TRUE(Widen(utf8) == all);
}

}  // namespace
}  // namespace ocelo
