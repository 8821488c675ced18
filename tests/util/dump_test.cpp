// Tests of the dump log: the bytes of a dump file, concurrent appends, privacy, and the clean-up at exit.
#include "util/dump.h"

#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <climits>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <set>
#include <sstream>

#include "base/paths.h"
#include "platform/fs.h"
#include "platform/system.h"
#include "support/program_paths.h"
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

// True when the stamp is the formatted local time of some second between t0 and t1.
bool StampWithin(std::u16string_view stamp, std::int64_t t0, std::int64_t t1) {
  for (std::int64_t t = t0; t <= t1; ++t) {
    if (FormatTime(t, kStamp) == stamp) return true;
  }
  return false;
}

// Child processes that append to a test's dump log. POSIX forks. Windows has no fork: there a child is this
// test program again, running only the calling test with OCELO_TEST_DUMP_CHILD set to "<time> <number>
// <documents folder>"; the test hands its part to PlayChildPart first, which plays it at the parent's
// time in the parent's documents folder and ends the process.
using ChildPart = bool (*)(int number);
#ifdef _WIN32
using Child = HANDLE;
constexpr std::u16string_view kChildVariable = u"OCELO_TEST_DUMP_CHILD";

void PlayChildPart(ChildPart part) {
  std::istringstream in(test::U8(sys::Environment(kChildVariable)));
  std::int64_t time = 0;
  int number = -1;
  std::string documents;
  if (!(in >> time >> number) || !std::getline(in >> std::ws, documents)) return;
  SetClockOffset(time - static_cast<std::int64_t>(std::time(nullptr)));
  sys::SetEnvironment(u"OCELO_TEST_DOCUMENTS", U16(documents));
  std::exit(part(number) ? 0 : 1);  // as a process ends: its static objects are destroyed
}

// Child `number` of the running test, its sandbox in the test's folder `root`; null when it did not start.
Child StartChild(const std::string& root, const DumpCapture& dump, int number, ChildPart, bool) {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::u16string line = std::u16string(u"\"").append(ModulePath()).append(u"\" --gtest_filter=");
  line.append(U16(info->test_suite_name())).append(u".").append(U16(info->name()));
  const std::u16string base = sys::Environment(u"OCELO_TEST_BASE");
  sys::SetEnvironment(kChildVariable, U16(std::to_string(Now()) + " " + std::to_string(number) + " " + dump.Data()));
  sys::SetEnvironment(u"OCELO_TEST_BASE", U16(root));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  const bool started = ::CreateProcessW(nullptr, reinterpret_cast<wchar_t*>(line.data()), nullptr, nullptr, FALSE,
                                        CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process);
  sys::SetEnvironment(kChildVariable, u"");
  sys::SetEnvironment(u"OCELO_TEST_BASE", base);
  if (!started) return nullptr;
  ::CloseHandle(process.hThread);
  return process.hProcess;
}

int WaitChild(Child child) {
  if (!child || ::WaitForSingleObject(child, INFINITE) != WAIT_OBJECT_0) return -1;
  DWORD code = 0;
  const bool ended = ::GetExitCodeProcess(child, &code);
  ::CloseHandle(child);
  return ended ? static_cast<int>(code) : -1;
}
#else
using Child = pid_t;

void PlayChildPart(ChildPart) {}

// A forked child plays its part; with `exit_handlers` it ends as a process does (its static objects, copies
// of the parent's, destroyed), else at once. -1 when it did not start.
Child StartChild(const std::string&, const DumpCapture&, int number, ChildPart part, bool exit_handlers) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  const bool ok = part(number);
  if (exit_handlers) std::exit(ok ? 0 : 1);
  _exit(ok ? 0 : 1);
}

int WaitChild(Child child) {
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
#endif

constexpr int kChildLines = 40;

bool WriteChildLines(int number) {
  WaitPolicy waits = Waits();
  waits.open_attempts = 60000;  // the test is about lost lines, not about giving up
  waits.open_wait = std::chrono::milliseconds(1);
  SetWaits(waits);
  bool ok = true;
  for (int i = 0; i < kChildLines; ++i) {
    ok = DumpText(u"child " + U16(std::to_string(number)) + u" line " + U16(std::to_string(i))) && ok;
  }
  return ok;
}

bool FirstDumpOfProcess(int) {
  ResetDumpCleanup();
  return DumpText(u"first of this process");
}

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
  const std::string root = test::TestFolder();
  DumpCapture dump(root);
  MidHourClock clock;
  const std::int64_t t0 = Now();
  ASSERT_TRUE(DumpText(u"first"));
  ASSERT_TRUE(DumpText(u"second\r\nline"));
  const std::int64_t t1 = Now();

  EXPECT_EQ(test::Slashed(DumpFolder()), dump.Folder());
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
  const std::u16string program = std::u16string(u"\t").append(U16(test::kProgramName)).append(u"\t");
  const struct {
    const std::u16string& line;
    std::u16string tail;
  } expected[] = {
      {lines[0], header_tail},
      {lines[1], program + u"first"},
      {lines[2], program + u"second\t\tline"},
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
}

TEST(AppendDump, DumpFoldersArePrivate) {
#ifdef _WIN32
  GTEST_SKIP() << "no permission bits: a new folder takes the access of the folder around it";
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
}

TEST(AppendDump, ConcurrentProcessesKeepEveryLine) {
  PlayChildPart(&WriteChildLines);
  const std::string root = test::TestFolder();
  DumpCapture dump(root);
  MidHourClock clock;
  constexpr int kChildren = 6;
  std::vector<Child> children;
  for (int c = 0; c < kChildren; ++c) children.push_back(StartChild(root, dump, c, &WriteChildLines, false));
  for (const Child child : children) EXPECT_EQ(WaitChild(child), 0);

  const std::vector<std::u16string> lines = dump.Lines();
  ASSERT_EQ(lines.size(), 1u + kChildren * kChildLines);
  EXPECT_EQ(dump.Text().find(u'\xFEFF', 1), std::u16string::npos);
  EXPECT_NE(lines[0].find(ModulePath()), std::u16string::npos) << "the header comes first";
  const std::u16string child_line = std::u16string(u"\t").append(U16(test::kProgramName)).append(u"\tchild ");
  std::set<std::u16string> seen;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::size_t pos = lines[i].find(child_line);
    ASSERT_EQ(pos, 19u) << test::U8(lines[i]);
    seen.insert(lines[i].substr(pos));
  }
  EXPECT_EQ(seen.size(), static_cast<std::size_t>(kChildren * kChildLines));
}

TEST(AppendDump, OldDumpFilesGoWhenTheProcessEnds) {
  PlayChildPart(&FirstDumpOfProcess);
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
    const std::int64_t time = now - f.age_days * 86400LL;
    ASSERT_EQ(sys::SetFileTimes(U16(f.path), time, time), 0) << f.path;
    if (f.read_only) {
      ASSERT_EQ(sys::SetAttributes(U16(f.path), sys::kAttrReadOnly), 0) << f.path;
    }
  }
  // The first append of a process schedules the old files; its end removes them.
  ASSERT_EQ(WaitChild(StartChild(root, dump, 0, &FirstDumpOfProcess, true)), 0);
  for (const auto& f : files) {
    SCOPED_TRACE(f.path);
    EXPECT_EQ(test::Exists(f.path), f.stays);
    if (f.read_only) {
      EXPECT_EQ(sys::SetAttributes(U16(f.path), sys::kAttrNormal), 0);  // the sandbox may remove it
    }
  }
  EXPECT_TRUE(test::Exists(dump.File()));
}

}  // namespace
}  // namespace ocelo
