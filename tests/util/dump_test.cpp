// Tests of the dump log: the bytes of a dump file, concurrent appends, privacy, and the clean-up at exit.
#include "util/dump.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <climits>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <set>

#include "base/paths.h"
#include "support/sandbox.h"
#include "util/dump_capture.h"
#include "util/folders.h"
#include "util/policy.h"

namespace ocelo {
namespace {

using test::DumpCapture;
using test::MidHourClock;
using test::U16;

constexpr std::u16string_view kStamp = u"%Y/%m/%d %H:%M:%S";

std::int64_t LocalTime(int year, int month, int day, int hour, int minute, int second) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;
  return static_cast<std::int64_t>(std::mktime(&tm));
}

#ifndef _WIN32
// True when the stamp is the formatted local time of some second between t0 and t1.
bool StampWithin(std::u16string_view stamp, std::int64_t t0, std::int64_t t1) {
  for (std::int64_t t = t0; t <= t1; ++t) {
    if (FormatTime(t, kStamp) == stamp) return true;
  }
  return false;
}

int WaitChild(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void SetModifyTime(const std::string& path, std::int64_t seconds) {
  const timespec times[2] = {{static_cast<time_t>(seconds), 0}, {static_cast<time_t>(seconds), 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}
#endif

// The dump log's own folder, its bytes and its processes are checked where a test can have a documents
// folder of its own; on Windows that folder is the Wine prefix's, shared by every test process.
#ifdef _WIN32
constexpr const char* kSharedDocuments = "the shared documents folder is one for all test processes";
#endif

TEST(FormatTime, FormatsLocalTime) {
  const std::int64_t time = LocalTime(2026, 12, 6, 5, 44, 28);
  const struct {
    std::u16string format;
    std::u16string expected;
  } cases[] = {
      {u"%Y/%m/%d %H:%M:%S", u"2026/12/06 05:44:28"},
      {u"%m%d_%H", u"1206_05"},
      {u"日付 %Y", u"日付 2026"},
      {u"", u""},
      {std::u16string(255, u'x'), std::u16string(255, u'x')},
      {std::u16string(256, u'x'), u""},  // longer than 255 characters
      // 204 characters fit, though their UTF-8 form is longer than 255 bytes.
      {std::u16string(200, u'あ') + u"%Y", std::u16string(200, u'あ') + u"2026"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(test::U8(c.format.substr(0, 20)));
    EXPECT_EQ(FormatTime(time, c.format), c.expected);
  }
  EXPECT_EQ(FormatTime(LLONG_MAX, kStamp), u"");
  EXPECT_EQ(ReplaceLineBreaks(u"\n\r", u"<>>"), u">><");
}

TEST(DumpText, WritesMarkHeaderAndLines) {
#ifdef _WIN32
  GTEST_SKIP() << kSharedDocuments;
#else
  const std::string root = test::TestFolder();
  DumpCapture dump(root);
  MidHourClock clock;
  const std::int64_t t0 = Now();
  ASSERT_TRUE(DumpText(u"first"));
  ASSERT_TRUE(DumpText(u"second\r\nline"));
  const std::int64_t t1 = Now();

  EXPECT_EQ(DumpFolder(), U16(dump.Folder()));
  const test::Bytes bytes = test::ReadBytes(dump.File());
  ASSERT_GE(bytes.size(), 2u);
  EXPECT_EQ(bytes[0], 0xFF);
  EXPECT_EQ(bytes[1], 0xFE);
  const std::vector<std::u16string> lines = dump.Lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(dump.Text().find(u'\xFEFF', 1), std::u16string::npos) << "a second mark";
  std::u16string header_tail = u"\t";
  for (const std::u16string& value : {UserName(), TempFolder(), CurrentFolder(), ModulePath()}) {
    header_tail += value;
    header_tail += u"\t\t";
  }
  const struct {
    const std::u16string& line;
    std::u16string tail;
  } expected[] = {
      {lines[0], header_tail},
      {lines[1], u"\tocelo_tests\tfirst"},
      {lines[2], u"\tocelo_tests\tsecond\t\tline"},
  };
  for (const auto& e : expected) {
    SCOPED_TRACE(test::U8(e.line));
    ASSERT_GE(e.line.size(), 19u);
    EXPECT_TRUE(StampWithin(e.line.substr(0, 19), t0, t1));
    EXPECT_EQ(e.line.substr(19), e.tail);
  }
  // The whole file is the mark and the three lines, nothing else.
  std::size_t length = 2;
  for (const auto& line : lines) length += 2 * (line.size() + 2);
  EXPECT_EQ(bytes.size(), length);
#endif
}

TEST(AppendDump, DumpFoldersArePrivate) {
#ifdef _WIN32
  GTEST_SKIP() << kSharedDocuments;
#else
  const std::string root = test::TestFolder();
  DumpCapture dump(root);
  ASSERT_TRUE(DumpText(u"private"));
  for (const std::string& folder : {dump.Data(), dump.Data() + "/Temp", dump.Data() + "/Temp/Temp",
                                    dump.Data() + "/Temp/Temp/DbgDump", dump.Folder()}) {
    SCOPED_TRACE(folder);
    struct stat st {};
    ASSERT_EQ(stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
  }
#endif
}

TEST(AppendDump, UncreatableFolderFailsWithoutRecursion) {
#ifdef _WIN32
  GTEST_SKIP() << kSharedDocuments;
#else
  const std::string root = test::TestFolder();
  DumpCapture dump(root);
  std::filesystem::create_directories(dump.Data());
  test::WriteText(dump.Data() + "/Temp", "in the way");
  // Creating the folder reports its failure through the dump log, which must not enter the append again.
  EXPECT_FALSE(DumpText(u"lost"));
  EXPECT_EQ(test::ReadBytes(dump.Data() + "/Temp"), test::Hex("69 6E 20 74 68 65 20 77 61 79"));
  // Afterwards the log works again on this thread.
  std::filesystem::remove(dump.Data() + "/Temp");
  EXPECT_TRUE(DumpText(u"found"));
#endif
}

TEST(AppendDump, ConcurrentProcessesKeepEveryLine) {
#ifdef _WIN32
  GTEST_SKIP() << kSharedDocuments;
#else
  const std::string root = test::TestFolder();
  DumpCapture dump(root);
  MidHourClock clock;
  WaitPolicy waits = Waits();
  const WaitPolicy previous = SetWaits([&] {
    waits.open_attempts = 60000;  // the test is about lost lines, not about giving up
    waits.open_wait = std::chrono::milliseconds(1);
    return waits;
  }());
  constexpr int kChildren = 6;
  constexpr int kLines = 40;
  std::vector<pid_t> children;
  for (int c = 0; c < kChildren; ++c) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      bool ok = true;
      for (int i = 0; i < kLines; ++i) {
        ok = DumpText(u"child " + U16(std::to_string(c)) + u" line " + U16(std::to_string(i))) && ok;
      }
      _exit(ok ? 0 : 1);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) EXPECT_EQ(WaitChild(pid), 0);
  SetWaits(previous);

  const std::vector<std::u16string> lines = dump.Lines();
  ASSERT_EQ(lines.size(), 1u + kChildren * kLines);
  EXPECT_EQ(dump.Text().find(u'\xFEFF', 1), std::u16string::npos);
  EXPECT_NE(lines[0].find(ModulePath()), std::u16string::npos) << "the header comes first";
  std::set<std::u16string> seen;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::size_t pos = lines[i].find(u"\tocelo_tests\tchild ");
    ASSERT_EQ(pos, 19u) << test::U8(lines[i]);
    seen.insert(lines[i].substr(pos));
  }
  EXPECT_EQ(seen.size(), static_cast<std::size_t>(kChildren * kLines));
#endif
}

TEST(AppendDump, OldDumpFilesGoWhenTheProcessEnds) {
#ifdef _WIN32
  GTEST_SKIP() << kSharedDocuments;
#else
  const std::string root = test::TestFolder();
  DumpCapture dump(root);
  MidHourClock clock;
  const std::string dbg = dump.Data() + "/Temp/Temp/DbgDump";
  std::filesystem::create_directories(dump.Folder());
  const std::int64_t now = Now();
  const struct {
    std::string path;
    int age_days;
    bool read_only;
    bool stays;
  } files[] = {
      {dbg + "/0101_01.txt", 11, false, false},          {dump.Folder() + "/0102_02.txt", 11, false, false},
      {dump.Folder() + "/0103_03.txt", 9, false, true},  {dump.Folder() + "/0104_04.txt", 11, true, true},
      {dump.Folder() + "/0105_05.log", 11, false, true},
  };
  for (const auto& f : files) {
    test::WriteText(f.path, "old");
    SetModifyTime(f.path, now - f.age_days * 86400LL);
    if (f.read_only) chmod(f.path.c_str(), 0444);
  }
  // The first append of a process schedules the old files; its end removes them.
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ResetDumpCleanup();
    std::exit(DumpText(u"first of this process") ? 0 : 1);
  }
  ASSERT_EQ(WaitChild(pid), 0);
  for (const auto& f : files) {
    SCOPED_TRACE(f.path);
    EXPECT_EQ(test::Exists(f.path), f.stays);
  }
  EXPECT_TRUE(test::Exists(dump.File()));
#endif
}

}  // namespace
}  // namespace ocelo
