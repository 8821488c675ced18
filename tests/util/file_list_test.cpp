// Tests of folder walking, copies and the temporary-file lists.
#include "util/file_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "base/paths.h"
#include "platform/fs.h"
#include "support/sandbox.h"
#include "util/dump_capture.h"
#include "util/policy.h"

namespace ocelo {
namespace {

using test::U16;
using Strings = std::vector<std::u16string>;
namespace fs = std::filesystem;

// The paths in order, with the separators the test writes (the program joins names with its own).
Strings Sorted(Strings list) {
  for (std::u16string& path : list) std::replace(path.begin(), path.end(), kPathSeparator, u'/');
  std::sort(list.begin(), list.end());
  return list;
}

TEST(MatchesPattern, Table) {
  const struct {
    std::u16string path;
    std::u16string pattern;
    bool expected;
  } cases[] = {
      {u"/d/anything", u"", true},
      {u"/d/anything", u"*", true},
      {u"/d/a.b", u"*.*", true},
      {u"/d/noext", u"*.*", false},
      {u"/d/1206_05.txt", u"*.txt", true},
      {u"/d/1206_05.txt.bak", u"*.txt", false},    // must end with the last piece
      {u"/d/Notes-old.TXT", u"notes*.txt", true},  // title in another letter case
      {u"/d/xnotes.txt", u"notes*.txt", false},    // must begin with the first piece
      {u"/d/notes.txtx", u"notes*.txt", false},
      {u"/d/ab", u"ab*b", false},  // pieces may not overlap
      {u"/d/abb", u"ab*b", true},
      {u"/d/xaybz", u"*a*b*", true},
      {u"/d/xbyaz", u"*a*b*", false},         // pieces in order
      {u"/d/file?.txt", u"file?.txt", true},  // "?" stands for itself
      {u"/d/file1.txt", u"file?.txt", false},
      {u"/d/abc", u"abc", true},
      {u"/d/abcabc", u"abc", false},  // no wildcard: the whole name
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(test::U8(c.path + u" ~ " + c.pattern));
    EXPECT_EQ(MatchesPattern(c.path, c.pattern), c.expected);
  }
}

TEST(ListFolder, OneLevelWithFoldersMarked) {
  const std::string root = test::TestFolder();
  test::WriteText(root + "/f.txt", "x");
  test::WriteText(root + "/g.TXT", "");
  test::WriteText(root + "/h.log", "x");
  fs::create_directories(root + "/d.txt/inner");
  test::WriteText(root + "/d.txt/deep.txt", "x");
  const std::u16string base = U16(root + "/");
  EXPECT_EQ(Sorted(ListFolder(U16(root), true)),
            Sorted({base + u"d.txt/", base + u"f.txt", base + u"g.TXT", base + u"h.log"}));
  EXPECT_EQ(Sorted(ListFolder(base, false)),
            Sorted({base + u"./", base + u"../", base + u"d.txt/", base + u"f.txt", base + u"g.TXT", base + u"h.log"}));
  // Files only, of the folder itself or of a file's folder.
  const Strings matching = {base + u"f.txt", base + u"g.TXT"};
  EXPECT_EQ(Sorted(ListMatchingFiles(U16(root), u"*.txt")), matching);
  EXPECT_EQ(Sorted(ListMatchingFiles(base + u"h.log", u"*.txt")), matching);
  EXPECT_EQ(ListFolder(base + u"missing", true), Strings{});
}

TEST(FileExists, FilesFoldersAndEmptiness) {
  const std::string root = test::TestFolder();
  test::WriteText(root + "/empty", "");
  test::WriteText(root + "/full", "x");
  fs::create_directories(root + "/folder");
  fs::create_directories(root + "/hollow");
  test::WriteText(root + "/folder/x", "x");
  const struct {
    std::string path;
    bool exists, non_empty, folder, folder_empty;
  } cases[] = {
      {root + "/empty", true, false, false, false},  // a file's folder is the root, which is not empty
      {root + "/full", true, true, false, false},   {root + "/folder", true, true, true, false},
      {root + "/hollow/", true, true, true, true},  {root + "/hollow/ghost", false, false, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(FileExists(U16(c.path)), c.exists);
    EXPECT_EQ(FileExists(U16(c.path), true), c.non_empty);
    EXPECT_EQ(FolderExists(U16(c.path)), c.folder);
    EXPECT_EQ(IsFolderEmpty(U16(c.path)), c.folder_empty);
  }
}

TEST(CopyFileTo, CreatesTheFolderAndRespectsFailIfExists) {
  const std::string root = test::TestFolder();
  test::WriteText(root + "/src.txt", "source");
  const std::int64_t old_time = 1'000'000'000;
  ASSERT_EQ(sys::SetFileTimes(U16(root + "/src.txt"), old_time, old_time), 0);

  EXPECT_TRUE(CopyFileTo(U16(root + "/src.txt"), U16(root + "/new/deeper/copy.txt"), true));
  EXPECT_EQ(test::ReadBytes(root + "/new/deeper/copy.txt"), test::ReadBytes(root + "/src.txt"));
  sys::StatRecord copied;
  ASSERT_EQ(sys::Stat(U16(root + "/new/deeper/copy.txt"), copied), 0);
  EXPECT_EQ(copied.modify_time, old_time);

  test::WriteText(root + "/existing.txt", "keep");
  EXPECT_FALSE(CopyFileTo(U16(root + "/src.txt"), U16(root + "/existing.txt"), true));
  EXPECT_EQ(test::ReadBytes(root + "/existing.txt"), test::Hex("6B 65 65 70"));
  EXPECT_TRUE(CopyFileTo(U16(root + "/src.txt"), U16(root + "/existing.txt"), false));
  EXPECT_EQ(test::ReadBytes(root + "/existing.txt"), test::ReadBytes(root + "/src.txt"));

  EXPECT_FALSE(CopyFileTo(U16(root + "/missing"), U16(root + "/out/missing"), false));
  EXPECT_FALSE(test::Exists(root + "/out"));
}

TEST(TempFileList, RemovesFilesBeforeTheirFolders) {
  const std::string root = test::TestFolder();
  fs::create_directories(root + "/tmp/sub");
  test::WriteText(root + "/tmp/sub/a.txt", "a");
  test::WriteText(root + "/tmp/b.txt", "b");
  fs::create_directories(root + "/kept");
  test::WriteText(root + "/kept/foreign.txt", "not registered");
  test::WriteText(root + "/kept/mine.txt", "registered");
  {
    TempFileList list;
    // Folders first, a duplicate and a trailing separator: the order of removal is the list's own.
    list.Add(U16(root + "/tmp"));
    list.Add(U16(root + "/tmp/sub/"));
    list.AddList({U16(root + "/tmp/sub/a.txt"), U16(root + "/tmp/b.txt"), U16(root + "/tmp/b.txt")});
    list.Add(U16(root + "/kept"));
    list.Add(U16(root + "/kept/mine.txt"));
    list.Add(static_cast<const char16_t*>(nullptr));
  }
  EXPECT_FALSE(test::Exists(root + "/tmp"));
  EXPECT_TRUE(test::Exists(root + "/kept/foreign.txt")) << "a folder with other entries stays";
  EXPECT_FALSE(test::Exists(root + "/kept/mine.txt"));
}

// Two dialogs write the same copy into today's work folder: the one closing first removes only a copy
// that is still the file it wrote itself.
TEST(TempFileList, OwnedCopyIsRemovedOnlyWhileItIsTheFileWritten) {
  const std::string root = test::TestFolder();
  const struct {
    const char* description;
    void (*after_registration)(const std::string& path);
    bool removed;
  } cases[] = {
      {"unchanged", [](const std::string&) {}, true},
      {"another process's copy renamed over it",
       [](const std::string& path) {
         test::WriteText(path + ".new", "the second dialog's copy");
         fs::rename(path + ".new", path);
       },
       false},
      {"rewritten in place", [](const std::string& path) { test::WriteText(path, "the second dialog's copy"); }, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.description);
    const std::string path = root + "/copy.txt";
    test::WriteText(path, "the first dialog's copy");
    {
      TempFileList list;
      ASSERT_TRUE(list.AddOwned(U16(path)));
      c.after_registration(path);
    }
    EXPECT_EQ(test::Exists(path), !c.removed);
  }
  // A path added as a plain entry goes whatever it has become, as the list's other users expect.
  test::WriteText(root + "/plain.txt", "x");
  {
    TempFileList list;
    list.Add(U16(root + "/plain.txt"));
    test::WriteText(root + "/plain.txt", "replaced");
  }
  EXPECT_FALSE(test::Exists(root + "/plain.txt"));
  TempFileList list;
  EXPECT_FALSE(list.AddOwned(U16(root + "/missing.txt")));
  EXPECT_TRUE(list.Paths().empty());
}

TEST(TempFileList, CopyBackFirstAndKeepWhatCouldNotBeCopied) {
  const std::string root = test::TestFolder();
  test::DumpCapture dump(root);
  test::WriteText(root + "/work.txt", "work");
  test::WriteText(root + "/stuck.txt", "stuck");
  test::WriteText(root + "/blocker", "a file where a folder should be");
  test::WriteText(root + "/plain.txt", "plain");
  {
    TempFileList list;
    list.Add(U16(root + "/plain.txt"));
    list.AddPair(U16(root + "/work.txt"), U16(root + "/saved/work.txt"));
    list.AddPair(U16(root + "/stuck.txt"), U16(root + "/blocker/stuck.txt"));
    EXPECT_EQ(list.Targets(), Strings({u"", U16(root + "/saved/work.txt"), U16(root + "/blocker/stuck.txt")}));
  }
  EXPECT_EQ(test::ReadBytes(root + "/saved/work.txt"), test::Hex("77 6F 72 6B"));
  EXPECT_FALSE(test::Exists(root + "/work.txt"));
  EXPECT_FALSE(test::Exists(root + "/plain.txt"));
  EXPECT_EQ(test::ReadBytes(root + "/stuck.txt"), test::Hex("73 74 75 63 6B")) << "its copy failed";
}

TEST(ScheduleOldFiles, RegistersOldWritableMatchingFiles) {
  const std::string root = test::TestFolder();
  for (const char* name : {"1206_05.txt", "1206_06.TXT", "1206_07.log", "1206_08.txt.bak"}) {
    test::WriteText(root + "/" + name, "x");
  }
  test::WriteText(root + "/ro.txt", "x");
  fs::permissions(root + "/ro.txt", fs::perms(0444));  // on Windows, the read-only attribute
  fs::create_directories(root + "/folder.txt");
  const std::u16string pattern_path = U16(root + "/.txt");
  const Strings old = {U16(root + "/1206_05.txt"), U16(root + "/1206_06.TXT")};
  auto registered = [&] {
    Strings found;
    for (const auto& path : Sorted(OldFileList().Paths())) {
      if (path.starts_with(U16(root + "/"))) found.push_back(path);
    }
    return found;
  };

  EXPECT_TRUE(ScheduleOldFiles(pattern_path, 10)) << "nothing is old yet";
  EXPECT_EQ(registered(), Strings{});
  const std::int64_t previous = SetClockOffset(9 * 86400);
  EXPECT_TRUE(ScheduleOldFiles(pattern_path, 10));
  SetClockOffset(10 * 86400);
  EXPECT_FALSE(ScheduleOldFiles(pattern_path, 10));
  SetClockOffset(previous);
  EXPECT_EQ(registered(), old);
  EXPECT_FALSE(ScheduleOldFiles(pattern_path, 0)) << "0 days: every matching file";

  OldFileList().RemoveAll();
  EXPECT_FALSE(test::Exists(root + "/1206_05.txt"));
  EXPECT_TRUE(test::Exists(root + "/1206_07.log"));
  EXPECT_TRUE(test::Exists(root + "/1206_08.txt.bak"));
  EXPECT_TRUE(test::Exists(root + "/ro.txt"));
  EXPECT_TRUE(test::Exists(root + "/folder.txt"));
}

}  // namespace
}  // namespace ocelo
