// Family folders and text helpers: where the folders lie and that they exist, the fall-back when the
// work folder cannot be made, the program name, replace_all and trim.
#include "web/family_folders.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/sandbox.h"
#include "util/dump_capture.h"
#include "util/policy.h"
#include "version/elf_image.h"
#include "version/version_block.h"

namespace ocelo {
namespace {

namespace fs = std::filesystem;
using test::U16;
using test::U8;

std::string Family() { return test::SandboxRoot() + "/tmp/Vexo.tmp"; }

TEST(FamilyFolders, PathsUnderTheTemporaryFolderAreCreated) {
  EXPECT_EQ(U8(program_name()), "ocelo_tests");  // the build's OriginalFilename

  const std::string pramo = U8(family_temp_folder(u"Pramo"));
  EXPECT_EQ(pramo, Family() + "/Pramo");
  EXPECT_TRUE(fs::is_directory(pramo));

  const std::string work = U8(program_work_folder());
  EXPECT_EQ(work, Family() + "/ocelo_tests/");
  EXPECT_TRUE(fs::is_directory(work));

  test::MidHourClock clock;  // well away from midnight, unless the test runs at 23:xx
  const std::string today = U8(TodayFolder());
  EXPECT_EQ(today, work + U8(FormatNow(u"%Y%m%d")) + "/");
  EXPECT_TRUE(fs::is_directory(today));
  EXPECT_EQ(U8(TodayFolder()), today);

  const std::int64_t previous = SetClockOffset(86400);
  const std::string tomorrow = U8(TodayFolder());
  SetClockOffset(previous);
  EXPECT_NE(tomorrow, today);
  EXPECT_EQ(tomorrow.substr(0, work.size()), work);
  EXPECT_EQ(tomorrow.size(), today.size());
}

TEST(FamilyFolders, WorkFolderFallsBackToTheDocumentsFolder) {
  const std::string root = test::TestFolder();
  test::DumpCapture dump(root);
  test::MidHourClock clock;
  fs::remove_all(Family());
  test::WriteText(Family(), "a file where the family folder belongs");

  const std::string fallback = dump.Data() + "/Temp/Temp/Vexo.tmp/ocelo_tests/";
  EXPECT_EQ(U8(program_work_folder()), fallback);
  EXPECT_FALSE(fs::exists(fallback));  // named, not created
  EXPECT_EQ(U8(TodayFolder()).substr(0, fallback.size()), fallback);
  fs::remove(Family());

  bool logged = false;
  for (const std::u16string& line : dump.Lines()) logged |= line.ends_with(U16("\t" + fallback));
  EXPECT_TRUE(logged);
}

TEST(FamilyFolders, ProgramNameIsTheOriginalFilenameElseTheFileName) {
  const std::string folder = test::TestFolder();
  const VersionTranslation translations[] = {{0x0411, 0x04B0}};
  const VersionString named[] = {{u"OriginalFilename", u"vexoclip.exe"}};
  const VersionString unnamed[] = {{u"FileDescription", u"Vexo Clip"}};
  const VersionStringTable with_name[] = {{{0x0411, 0x04B0}, named}};
  const VersionStringTable without_name[] = {{{0x0411, 0x04B0}, unnamed}};
  test::WriteBytes(folder + "/renamed", test::MakeElf(kVersionSection, MakeVersionBlock(translations, with_name)));
  test::WriteBytes(folder + "/unnamed.bin",
                   test::MakeElf(kVersionSection, MakeVersionBlock(translations, without_name)));
  test::WriteBytes(folder + "/plain.txt", {});
  EXPECT_EQ(U8(program_name_of(U16(folder + "/renamed"))), "vexoclip.exe");
  EXPECT_EQ(U8(program_name_of(U16(folder + "/unnamed.bin"))), "unnamed.bin");
  EXPECT_EQ(U8(program_name_of(U16(folder + "/plain.txt"))), "plain.txt");
}

TEST(ReplaceAll, ReplacesWithoutLoopingAndFindsUpperCase) {
  struct Case {
    const char* text;
    const char* from;
    const char* to;
    const char* result;
  };
  const Case cases[] = {
      {"a....b", "..", ".", "a.b"},
      {"a...b..c", "..", ".", "a.b.c"},
      {"HTTPS://x.example/", "https:", "", "//x.example/"},
      {"https://a HTTPS://b", "https:", "//", "////a ////b"},
      {"HTTPS://a https://b", "https:", "//", "HTTPS://a ////b"},  // an exact match first, then on after it
      {"<DIV>x</DIV>", "</div>", "</div>\r\n", "<DIV>x</div>\r\n"},
      {"x</div>y</div>", "</div>", "</div>\r\n", "x</div>\r\ny</div>\r\n"},
      {"aaa", "a", "aa", "aaaaaa"},
      {"a+b&c", "+", "/", "a/b&c"},
      {"", "a", "b", ""},
      {"abc", "", "x", "abc"},
      {"abc", "abcd", "x", "abc"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(U8(replace_all(U16(c.text), U16(c.from), U16(c.to))), c.result);
  }
}

TEST(Trim, RemovesSurroundingWhiteSpaceOnly) {
  EXPECT_EQ(U8(trim(u" \t\r\n a b \v\f ")), "a b");
  EXPECT_EQ(U8(trim(u"   ")), "");
  EXPECT_EQ(U8(trim(u"")), "");
  EXPECT_EQ(U8(trim(u"x")), "x");
}

}  // namespace
}  // namespace ocelo
