// Tests of the working folders: folder trees, their failures in the dump log, and the temporary root.
#include "util/folders.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <cstdlib>
#include <filesystem>

#include "platform/system.h"
#include "support/program_paths.h"
#include "support/sandbox.h"
#include "util/dump_capture.h"

namespace ocelo {
namespace {

using test::U16;
using Strings = std::vector<std::u16string>;

// Sets an environment variable for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    previous_ = sys::Environment(U16(name));
    sys::SetEnvironment(U16(name), U16(value));
  }
  ~ScopedEnv() { sys::SetEnvironment(U16(name_), previous_); }  // an empty value removes the variable

 private:
  const char* name_;
  std::u16string previous_;
};

TEST(FolderTreePrefixes, LeavesOutWhatCannotBeCreated) {
  const struct {
    std::u16string path;
    PathStyle style;
    Strings expected;
  } cases[] = {
      {u"C:/a//b/", PathStyle::kWindows, {u"C:\\a", u"C:\\a\\b"}},
      {u"\\\\srv\\share\\x\\y", PathStyle::kWindows, {u"\\\\srv\\share\\x", u"\\\\srv\\share\\x\\y"}},
      {u"//srv/share/x", PathStyle::kWindows, {u"\\\\srv\\share\\x"}},
      {u"/a//b/", PathStyle::kPosix, {u"/a", u"/a/b"}},
      {u"rel/a", PathStyle::kPosix, {u"rel", u"rel/a"}},
      // POSIX names may hold a backslash or a colon; neither is special there.
      {u"/x/a\\b/dev:", PathStyle::kPosix, {u"/x", u"/x/a\\b", u"/x/a\\b/dev:"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(test::U8(c.path));
    EXPECT_EQ(FolderTreePrefixes(c.path, c.style), c.expected);
  }
}

TEST(CreateFolderTree, CreatesEveryMissingFolder) {
  const std::string root = test::TestFolder();
  test::DumpCapture dump(root);
  std::vector<std::string> paths = {root + "/a/b/c", root + "/a/b/c/", root + "/s//t///u"};
#ifndef _WIN32
  // Quotes are ordinary characters in POSIX names, also where they open a piece; a Windows path groups by them.
  paths.push_back(root + "/\"q/r\"/s");
  paths.push_back(root + "/'open/x");
#endif
  for (const std::string& path : paths) {
    SCOPED_TRACE(path);
    EXPECT_TRUE(CreateFolderTree(U16(path)));
    EXPECT_TRUE(std::filesystem::is_directory(path));
  }
  EXPECT_FALSE(test::Exists(dump.File())) << "nothing to report";
}

TEST(CreateFolderTree, FileInTheWayFailsWithDumpLine) {
  const std::string root = test::TestFolder();
  test::DumpCapture dump(root);
  test::MidHourClock clock;
  test::WriteText(root + "/x", "file");
  const struct { std::string path; } cases[] = {{root + "/x/y/z"}, {root + "/x"}, {root + "/x/"}};
  const std::string line = std::string("\t").append(test::kProgramName) + "\tCan't create " +
                           test::Native(root + "/x") + "\r\n";
  int failures = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_FALSE(CreateFolderTree(U16(c.path)));
    EXPECT_EQ(test::Occurrences(dump.Log(), line), ++failures);
  }
  EXPECT_FALSE(test::Exists(root + "/x/y"));
}

TEST(CreateFolderTree, StopsAtTheFirstFailureKeepingWhatWasMade) {
  const std::string root = test::TestFolder();
  test::DumpCapture dump(root);
  test::MidHourClock clock;
  const std::string too_long = root + "/made/" + std::string(300, 'n');  // longer than any file name may be
  EXPECT_FALSE(CreateFolderTree(U16(too_long + "/never")));
  EXPECT_TRUE(std::filesystem::is_directory(root + "/made"));
  const std::string line = std::string("\t").append(test::kProgramName) + "\tCan't create " + test::Native(too_long) +
                           "\r\n";
  EXPECT_EQ(test::Occurrences(dump.Log(), line), 1);
}

TEST(TempFolder, SystemFolderOrSharedDocuments) {
  const std::string root = test::TestFolder();
#ifdef _WIN32
  const char* system_temp = "TMP";  // GetTempPathW's first choice
  const std::string docs = test::Slashed(sys::SpecialFolderPath(sys::kCsidlCommonDocuments)) + "/Temp/Temp";
#else
  const char* system_temp = "TMPDIR";
  ScopedEnv data("XDG_DATA_HOME", root + "/docs");
  const std::string docs = root + "/docs/Temp/Temp";
#endif
  const struct {
    std::string tmpdir;
    std::string expected;
  } cases[] = {
      {root + "/tmp", root + "/tmp/"},
      {root + "/Windows/Temp", docs},
      {root + "/WINDOWS/TEMP", docs},
      {root + "/my-windows-stuff", docs},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tmpdir);
    std::filesystem::create_directories(c.tmpdir);  // the user's own, closed to others: used as it is
    std::filesystem::permissions(c.tmpdir, std::filesystem::perms::owner_all);
    ScopedEnv tmpdir(system_temp, c.tmpdir);
    EXPECT_EQ(test::Slashed(TempFolder()), c.expected);
  }
}

TEST(PrivateUserFolder, CreatedPrivateAndRefusedWhenOthersCanWrite) {
  const std::string root = test::TestFolder();
  test::DumpCapture dump(root);
  ScopedEnv user("USER", "someone");
  EXPECT_EQ(test::Slashed(PrivateUserFolder(U16(root + "/new"))), root + "/new/someone");
  EXPECT_TRUE(std::filesystem::is_directory(root + "/new/someone"));
#ifndef _WIN32
  // Windows folders under the profile are the user's alone by inheritance: there are no bits to check.
  struct stat st {};
  ASSERT_EQ(stat((root + "/new/someone").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  std::filesystem::create_directories(root + "/open/someone");
  chmod((root + "/open/someone").c_str(), 0777);
  EXPECT_EQ(PrivateUserFolder(U16(root + "/open")), u"");
#endif

  std::filesystem::create_directories(root + "/link");
  std::error_code error;
  std::filesystem::create_directory_symlink(root + "/new/someone", root + "/link/someone", error);
  if (error) GTEST_SKIP() << "the system makes no link to a folder here: " << error.message();
  EXPECT_EQ(PrivateUserFolder(U16(root + "/link")), u"") << "a link may point anywhere";
}

}  // namespace
}  // namespace ocelo
