// Family folders and text helpers: where the folders lie and that they exist, the fall-back when the
// work folder cannot be made, replace_all and trim.
#include "web/family_folders.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/sandbox.h"
#include "util/dump_capture.h"
#include "util/policy.h"

namespace ocelo {
namespace {

namespace fs = std::filesystem;
using test::U16;
using test::U8;

std::string Family() { return test::SandboxRoot() + "/tmp/Vexo.tmp"; }

TEST(FamilyFolders, PathsUnderTheTemporaryFolderAreCreated) {
  EXPECT_EQ(U8(program_name()), "ocelo_tests");  // the build's OriginalFilename
  EXPECT_EQ(U8(family_temp_folder(u"Pramo")), Family() + "/Pramo");
  EXPECT_TRUE(fs::is_directory(Family() + "/Pramo"));
  const std::string work = U8(program_work_folder());
  EXPECT_EQ(work, Family() + "/ocelo_tests/");

  test::MidHourClock clock;
  const std::string today = U8(TodayFolder());
  EXPECT_EQ(today, work + U8(FormatNow(u"%Y%m%d")) + "/");
  EXPECT_TRUE(fs::is_directory(today));
  const std::int64_t previous = SetClockOffset(86400);
  const std::string tomorrow = U8(TodayFolder());
  SetClockOffset(previous);
  EXPECT_NE(tomorrow, today);
  EXPECT_EQ(tomorrow.substr(0, work.size()), work);
}

TEST(FamilyFolders, WorkFolderFallsBackToTheDocumentsFolder) {
  test::DumpCapture dump(test::TestFolder());
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

TEST(TextHelpers, ReplaceAllWithoutLoopingAndFindingUpperCaseAndTrim) {
  const struct {
    const char *text, *from, *to, *result;
  } cases[] = {
      {"a....b", "..", ".", "a.b"},
      {"a...b..c", "..", ".", "a.b.c"},
      {"HTTPS://x.example/", "https:", "", "//x.example/"},
      {"https://a HTTPS://b", "https:", "//", "////a ////b"},
      {"HTTPS://a https://b", "https:", "//", "HTTPS://a ////b"},  // an exact match first, then on after it
      {"<DIV>x</DIV>", "</div>", "</div>\r\n", "<DIV>x</div>\r\n"},
      {"x</div>y</div>", "</div>", "</div>\r\n", "x</div>\r\ny</div>\r\n"},
      {"aaa", "a", "aa", "aaaaaa"},
      {"", "a", "b", ""},
      {"abc", "", "x", "abc"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(U8(replace_all(U16(c.text), U16(c.from), U16(c.to))), c.result);
  }
  EXPECT_EQ(U8(trim(u" \t\r\n a b \v\f ")), "a b");
  EXPECT_EQ(U8(trim(u"   ")), "");
}


}  // namespace
}  // namespace ocelo
