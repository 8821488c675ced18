// Tests of the working folders: folder trees, their failures in the dump log, and the temporary root.
#include "util/folders.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

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
    const char* old = std::getenv(name);
    had_ = old != nullptr;
    if (had_) previous_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() { had_ ? setenv(name_, previous_.c_str(), 1) : unsetenv(name_); }

 private:
  const char* name_;
  bool had_ = false;
  std::string previous_;
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
  // Quotes are ordinary characters in POSIX names, also where they open a piece.
  for (const std::string& path :
       {root + "/a/b/c", root + "/a/b/c/", root + "/s//t///u", root + "/\"q/r\"/s", root + "/'open/x"}) {
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
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_FALSE(CreateFolderTree(U16(c.path)));
    const auto lines = dump.Lines();
    ASSERT_FALSE(lines.empty());
    ASSERT_GE(lines.back().size(), 19u);
    EXPECT_EQ(lines.back().substr(19), u"\tocelo_tests\tCan't create " + U16(root + "/x"));
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
  EXPECT_EQ(dump.Lines().back().substr(19), u"\tocelo_tests\tCan't create " + U16(too_long));
}

TEST(TempFolder, SystemFolderOrSharedDocuments) {
  const std::string root = test::TestFolder();
  ScopedEnv data("XDG_DATA_HOME", root + "/docs");
  const struct {
    std::string tmpdir;
    std::u16string expected;
  } cases[] = {
      {root + "/tmp", U16(root + "/tmp/")},
      {root + "/Windows/Temp", U16(root + "/docs/Temp/Temp")},
      {root + "/WINDOWS/TEMP", U16(root + "/docs/Temp/Temp")},
      {root + "/my-windows-stuff", U16(root + "/docs/Temp/Temp")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tmpdir);
    std::filesystem::create_directories(c.tmpdir);  // the user's own, closed to others: used as it is
    chmod(c.tmpdir.c_str(), 0700);
    ScopedEnv tmpdir("TMPDIR", c.tmpdir);
    EXPECT_EQ(TempFolder(), c.expected);
  }
}

TEST(PrivateUserFolder, CreatedPrivateAndRefusedWhenOthersCanWrite) {
  const std::string root = test::TestFolder();
  test::DumpCapture dump(root);
  ScopedEnv user("USER", "someone");
  EXPECT_EQ(PrivateUserFolder(U16(root + "/new")), U16(root + "/new/someone"));
  struct stat st {};
  ASSERT_EQ(stat((root + "/new/someone").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  std::filesystem::create_directories(root + "/open/someone");
  chmod((root + "/open/someone").c_str(), 0777);
  EXPECT_EQ(PrivateUserFolder(U16(root + "/open")), u"");

  std::filesystem::create_directories(root + "/link");
  std::filesystem::create_directory_symlink(root + "/new/someone", root + "/link/someone");
  EXPECT_EQ(PrivateUserFolder(U16(root + "/link")), u"") << "a link may point anywhere";
}

}  // namespace
}  // namespace ocelo
