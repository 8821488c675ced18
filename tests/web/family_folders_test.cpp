// Family folders and text helpers: where the folders lie and that they exist, the fall-back when the
// work folder cannot be made, replace_all and trim.
#include "web/family_folders.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <functional>
#include <string_view>

#include "encoding/convert.h"
#include "platform/command_line.h"
#include "support/sandbox.h"
#include "util/dump_capture.h"
#include "util/folders.h"
#include "util/policy.h"
#include "web/commands.h"
#include "web/fetch.h"
#include "web/page_server.h"

namespace ocelo {
namespace {

namespace fs = std::filesystem;
using test::Slashes;
using test::U16;
using test::U8;

std::string Family() { return test::SandboxRoot() + "/tmp/Vexo.tmp"; }

TEST(FamilyFolders, PathsUnderTheTemporaryFolderAreCreated) {
#ifdef _WIN32
  EXPECT_EQ(U8(program_name()), "ocelo_tests.exe");  // the build's OriginalFilename
#else
  EXPECT_EQ(U8(program_name()), "ocelo_tests");
#endif
  EXPECT_EQ(Slashes(U8(family_temp_folder(u"Pramo"))), Family() + "/Pramo");
  EXPECT_TRUE(fs::is_directory(Family() + "/Pramo"));
  const std::string work = U8(program_work_folder());
  EXPECT_EQ(Slashes(work), Family() + "/ocelo_tests/");

  test::MidHourClock clock;
  const std::string today = U8(TodayFolder());
  EXPECT_EQ(Slashes(today), Slashes(work) + U8(FormatNow(u"%Y%m%d")) + "/");
  EXPECT_TRUE(fs::is_directory(today));
  const std::int64_t previous = SetClockOffset(86400);
  const std::string tomorrow = U8(TodayFolder());
  SetClockOffset(previous);
  EXPECT_NE(tomorrow, today);
  EXPECT_EQ(tomorrow.substr(0, work.size()), work);

  // Only an empty dated folder inside the work folder is removed at exit.
  const std::string outside = test::TestFolder() + "/empty";
  fs::create_directories(outside);
  test::WriteBytes(tomorrow + "kept.txt", test::Hex("41"));
  const struct {
    std::string folder;
    bool removed;
  } cases[] = {
      {tomorrow, false},  // a file is left in it
      {today, true},
      {work, false},
      {outside, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.folder);
    EXPECT_EQ(RemoveEmptyDayFolder(U16(c.folder)), c.removed);
    EXPECT_EQ(fs::is_directory(c.folder), !c.removed);
  }
}

#ifndef _WIN32
unsigned ModeOf(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// Our working files under the temporary root: a link that another user put where one of them goes never
// leads the write to the file it names, and what we write there is ours alone (0600, in folders of 0700).
#endif

TEST(FamilyFolders, WorkingFilesAreNeverWrittenThroughAPlantedLink) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX links planted by another user and permission bits";
#else
  const std::string root = test::TestFolder();
  const std::string victim = root + "/victim";
  fs::create_directories(root + "/out");
  test::WriteText(root + "/out/notes.txt", "the old copy");
  test::PageServer server;
  server.SetPage("/page.txt", "the page");
  const std::string url = "http://" + server.Host() + "/page.txt";
  const struct {
    const char* where;
    std::string path;  // where the link is planted
    std::function<void()> write;
    std::string content;
  } cases[] = {
      {"Rescue backup", U8(RescueFolder(U16(root + "/out/notes.txt"), true)) + "/notes.txt",
       [&] { BackupToRescue(U16(root + "/out/notes.txt")); }, "the old copy"},
      {"page cache", U8(page_cache_path(U16(url))), [&] { fetch_page(U16(url)); }, "the page"},
      {"command script", U8(batch_file_for(u"true")), [] { run_command(u"true"); }, sys::CommandScript(u"true")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.where);
    test::WriteText(victim, "the victim's own");
    chmod(victim.c_str(), 0600);
    fs::remove(c.path);
    ASSERT_EQ(symlink(victim.c_str(), c.path.c_str()), 0);
    c.write();
    const test::Bytes left = test::ReadBytes(victim);
    EXPECT_EQ(std::string(left.begin(), left.end()), "the victim's own");
    EXPECT_EQ(ModeOf(victim), 0600u);
    // A build without the update check downloads nothing, so it writes no page in the link's place.
    if (!http_available() && std::string_view(c.where) == "page cache") continue;
    EXPECT_FALSE(fs::is_symlink(c.path)) << "the link is replaced by our own file";
    const test::Bytes written = test::ReadBytes(c.path);
    EXPECT_EQ(std::string(written.begin(), written.end()), c.content);
    EXPECT_EQ(ModeOf(c.path), 0600u);
    // Every folder from the temporary root down to the file is private.
    const std::string temp = U8(StripSlash(TempFolder()));
    for (fs::path folder = fs::path(c.path).parent_path(); folder.string().size() > temp.size();
         folder = folder.parent_path()) {
      EXPECT_EQ(ModeOf(folder.string()), 0700u) << folder;
    }
  }
#endif
}

TEST(FamilyFolders, WorkFolderFallsBackToTheDocumentsFolder) {
  test::DumpCapture dump(test::TestFolder());
  test::MidHourClock clock;
  fs::remove_all(Family());
  test::WriteText(Family(), "a file where the family folder belongs");
  const std::string fallback = dump.Data() + "/Temp/Temp/Vexo.tmp/ocelo_tests/";
  EXPECT_EQ(Slashes(U8(program_work_folder())), fallback);
  EXPECT_FALSE(fs::exists(fallback));  // named, not created
  EXPECT_EQ(Slashes(U8(TodayFolder())).substr(0, fallback.size()), fallback);
  fs::remove(Family());
  bool logged = false;
  for (const std::u16string& line : dump.Lines()) logged |= Slashes(U8(line)).ends_with("\t" + fallback);
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
