// The drop run: the target parse, the loop with its reports, the output folder, the folder window, and
// the copies registered for deletion at exit.
#include "app/drop_run.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <filesystem>

#include "app/string_pairs.h"
#include "support/sandbox.h"
#include "util/message.h"
#include "web/family_folders.h"

namespace ocelo {
namespace {

namespace fs = std::filesystem;
using test::Hex;
using test::U16;
using test::U8;

// A path the test wrote with '/' as the system hands dropped paths over: with backslashes on Windows.
std::u16string Dropped(const std::string& path) {
  std::u16string dropped = U16(path);
#ifdef _WIN32
  std::replace(dropped.begin(), dropped.end(), u'/', u'\\');
#endif
  return dropped;
}

TEST(GetSelectedTarget, ReadsTheLeadingNumberOfTheEntry) {
  struct Case {
    std::u16string text;
    EncodingKind kind;
  };
  const Case cases[] = {
      {u"  0 : Copy", 0}, {u"  8 : UTF-8", 8}, {u" 16 : UTF-16", 16},     {u" 74 : ShiftJIS", 74}, {u"", -1},
      {u"Copy", 0},       {u"\t-3x", -3},      {u"70000", 70000 - 65536}, {u"99999999999", -1},  // wcstol saturates at
                                                                                                 // 2147483647, whose
                                                                                                 // low 16 bits read as
                                                                                                 // -1
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(U8(c.text));
    EXPECT_EQ(GetSelectedTarget(c.text), c.kind);
  }
}

class RecordingPresenter : public MessagePresenter {
 public:
  RecordingPresenter() { previous_ = SetMessagePresenter(this); }
  ~RecordingPresenter() override { SetMessagePresenter(previous_); }
  int Show(std::u16string_view text, unsigned type, int help_context) override {
    shown.emplace_back(text);
    return 1;
  }
  std::vector<std::u16string> shown;

 private:
  MessagePresenter* previous_ = nullptr;
};

class DropRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearStringPairs();
    AddProgramStringPairs();
    test::ClearOpenedByShell();
    root_ = test::TestFolder();
    fs::create_directories(root_ + "/in");
  }
  void TearDown() override { ClearStringPairs(); }

  std::u16string File(const std::string& name, const test::Bytes& bytes) {
    test::WriteBytes(root_ + "/in/" + name, bytes);
    return Dropped(root_ + "/in/" + name);
  }
  std::u16string Folder(const std::string& name) {
    fs::create_directories(root_ + "/" + name);
    return Dropped(root_ + "/" + name);
  }

  std::string root_;
  RecordingPresenter presenter_;
  DropRun run_;
};

TEST_F(DropRunTest, FolderAloneBecomesTheOutputFolderAndIsShown) {
  const std::u16string out = Folder("out");
  run_.OnDropFiles({out}, u"  8 : UTF-8");
  EXPECT_EQ(run_.OutputFolder(), out);
  EXPECT_TRUE(presenter_.shown.empty());
  EXPECT_EQ(test::OpenedByShell(), std::vector<std::string>{U8(out)});
}

TEST_F(DropRunTest, FilesBeforeAFolderGoToTheOldFolderAndFilesAfterItAreIgnored) {
  const std::u16string first = Folder("first");
  const std::u16string second = Folder("second");
  run_.OnDropFiles({first}, u"  8 : UTF-8");
  const std::u16string a = File("a.txt", Hex("82 A0"));
  const std::u16string b = File("b.txt", Hex("82 A2"));
  run_.OnDropFiles({a, second, b}, u"  8 : UTF-8");
  EXPECT_EQ(test::ReadBytes(U8(first) + "/a.txt"), Hex("E3 81 82"));
  EXPECT_FALSE(test::Exists(U8(first) + "/b.txt"));
  EXPECT_FALSE(test::Exists(U8(second) + "/b.txt"));
  EXPECT_EQ(run_.OutputFolder(), second);
  EXPECT_EQ(run_.DropCount(), 2);
  EXPECT_EQ(test::OpenedByShell().size(), 1u) << "the folder window opens after the first drop only";
}

TEST_F(DropRunTest, FirstProblemStopsTheRunWithOneReport) {
  const std::u16string out = Folder("out");
  run_.OnDropFiles({out}, u" 74 : ShiftJIS");
  const std::u16string a = File("a.txt", Hex("E3 81 82"));
  const std::u16string bin = File("bin.dat", Hex("50 4B 03 04 00 00"));
  const std::u16string c = File("c.txt", Hex("41"));
  run_.OnDropFiles({a, bin, c}, u" 74 : ShiftJIS");
  EXPECT_EQ(test::ReadBytes(U8(out) + "/a.txt"), Hex("82 A0"));
  EXPECT_FALSE(test::Exists(U8(out) + "/c.txt"));
  ASSERT_EQ(presenter_.shown.size(), 1u);
  EXPECT_EQ(presenter_.shown[0], u"テキストファイルではありません．\r\nbin.dat\r\n");
  // The summary's line breaks show as tabs in the dump line.
  EXPECT_NE(test::DumpLog().find("\t---- OK              Button1  [OK]    "
                                 "\t\t\tテキストファイルではありません．\t\tbin.dat\t\t\t\t\r\n"),
            std::string::npos)
      << test::DumpLog();
}

TEST_F(DropRunTest, EverySpellingOfTheFileItselfIsTheSamePathAndOtherCaseIsAnotherFile) {
  Folder("out");
  Folder("OUT");  // on POSIX another folder: the file system tells letter case apart
  Folder("hard");
  struct Case {
    const char* folder;
    const char* file;
    const char16_t* report;  // null: converted into the folder
  };
  std::vector<Case> cases = {
      {"/out", "/out/Notes.TXT", u"same Notes.TXT\r\n"},  {"/out/.", "/out/Notes.TXT", u"same Notes.TXT\r\n"},
      {"/out", "/out//Notes.TXT", u"same Notes.TXT\r\n"}, {"/out", "/in/../out/./Notes.TXT", u"same Notes.TXT\r\n"},
      {"/hard", "/out/Notes.TXT", u"same Notes.TXT\r\n"},  // a hard link to the file
  };
#ifdef _WIN32
  // Windows names are the same whatever their letter case.
  cases.push_back({"/OUT", "/out/Notes.TXT", u"same Notes.TXT\r\n"});
  cases.push_back({"/out", "/OUT/notes.txt", u"same notes.txt\r\n"});
#else
  fs::create_directory_symlink(root_ + "/out", root_ + "/link");
  Folder("copies");
  fs::create_symlink(root_ + "/out/Notes.TXT", root_ + "/copies/Notes.TXT");
  cases.insert(cases.end(), {
                                {"/link", "/out/Notes.TXT", u"same Notes.TXT\r\n"},    // the output folder is a link
                                {"/out", "/link/Notes.TXT", u"same Notes.TXT\r\n"},    // to the file's
                                {"/copies", "/out/Notes.TXT", u"same Notes.TXT\r\n"},  // the copy is a link
                                {"/OUT", "/out/Notes.TXT", nullptr},
                            });
#endif
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.folder) + " <= " + c.file);
    test::WriteBytes(root_ + "/out/Notes.TXT", Hex("82 A0"));
    fs::remove(root_ + "/hard/Notes.TXT");
    fs::create_hard_link(root_ + "/out/Notes.TXT", root_ + "/hard/Notes.TXT");
    presenter_.shown.clear();
    DropRun run;
    run.OnDropFiles({Dropped(root_ + c.folder)}, u"  8 : UTF-8");
    run.OnDropFiles({Dropped(root_ + c.file)}, u"  8 : UTF-8");
    if (c.report != nullptr) {
      EXPECT_EQ(presenter_.shown, std::vector<std::u16string>{c.report});
    } else {
      EXPECT_TRUE(presenter_.shown.empty());
      EXPECT_EQ(test::ReadBytes(root_ + c.folder + "/Notes.TXT"), Hex("E3 81 82"));
    }
    EXPECT_EQ(test::ReadBytes(root_ + "/out/Notes.TXT"), Hex("82 A0")) << "the dropped file was changed";
  }
}

TEST_F(DropRunTest, ASecondFileOfOneNameDoesNotOverwriteTheFirstCopyOfTheDrop) {
  const std::u16string out = Folder("out");
  run_.OnDropFiles({out}, u"  0 : Copy");
  fs::create_directories(root_ + "/c1");
  fs::create_directories(root_ + "/c2");
  test::WriteBytes(root_ + "/c1/x.txt", Hex("31"));
  test::WriteBytes(root_ + "/c2/x.txt", Hex("32"));
  run_.OnDropFiles({U16(root_ + "/c1/x.txt"), U16(root_ + "/c2/x.txt")}, u"  0 : Copy");
  EXPECT_EQ(presenter_.shown, std::vector<std::u16string>{u"保存できません．\r\nx.txt\r\n"});
  EXPECT_EQ(test::ReadBytes(U8(out) + "/x.txt"), Hex("31"));
  // A later drop starts afresh: its copy may replace one of an earlier drop.
  presenter_.shown.clear();
  run_.OnDropFiles({U16(root_ + "/c2/x.txt")}, u"  0 : Copy");
  EXPECT_TRUE(presenter_.shown.empty());
  EXPECT_EQ(test::ReadBytes(U8(out) + "/x.txt"), Hex("32"));
}

TEST_F(DropRunTest, UnableToSaveIsReportedAndNoSelectionWritesMarkedUtf16) {
  const std::u16string out = Folder("out");
  run_.OnDropFiles({out}, u"");
  run_.OnDropFiles({File("a.txt", Hex("41")), U16(root_ + "/in/missing.txt")}, u"");
  EXPECT_EQ(test::ReadBytes(U8(out) + "/a.txt"), Hex("FF FE 41 00"));
  ASSERT_EQ(presenter_.shown.size(), 1u);
  EXPECT_EQ(presenter_.shown[0], u"保存できません．\r\nmissing.txt\r\n");
}

TEST_F(DropRunTest, FolderWindowOpensAfterAFirstDropThatEndedInAReport) {
  run_.OnDropFiles({File("bad.bin", Hex("50 4B 03 04"))}, u"  8 : UTF-8");
  EXPECT_EQ(presenter_.shown.size(), 1u);
  EXPECT_EQ(test::OpenedByShell(), std::vector<std::string>{U8(TodayFolder())});
}

TEST(DropRun, CopiesInTodaysFolderAreDeletedAtExitAndOthersStay) {
  const std::string root = test::TestFolder();
  test::WriteBytes(root + "/a.txt", Hex("82 A0"));
  test::WriteBytes(root + "/b.txt", Hex("82 A2"));
  fs::create_directories(root + "/kept");
#ifdef _WIN32
  GTEST_SKIP() << "the exit of a forked child";
#else
  const std::string today = U8(TodayFolder());
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // A process of its own: its exit runs the teardown that deletes the registered copies.
    DropRun& run = ProcessDropRun();
    run.OnDropFiles({U16(root + "/a.txt")}, u"  8 : UTF-8");
    const bool written = test::Exists(today + "a.txt");
    run.OnDropFiles({U16(root + "/kept"), U16(root + "/b.txt")}, u"  8 : UTF-8");
    run.OnDropFiles({U16(root + "/b.txt")}, u"  8 : UTF-8");
    std::exit(written ? 0 : 3);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the copy was not written into today's folder";
  EXPECT_FALSE(test::Exists(today + "a.txt"));
  EXPECT_FALSE(test::Exists(today)) << "today's folder, left empty, stays";
  EXPECT_EQ(test::ReadBytes(root + "/kept/b.txt"), Hex("E3 81 84"));
#endif
}

}  // namespace
}  // namespace ocelo
