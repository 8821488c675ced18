// Console commands: quoting helpers, the script's name and bytes, a started command's output, and the
// program look-up (found, not found without the full wait, stale output, names that hold shell syntax).
#include "web/commands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>

#include "platform/process_fixture.h"
#include "support/sandbox.h"
#include "util/dump.h"
#include "util/policy.h"
#include "web/family_folders.h"

namespace ocelo {
namespace {

namespace fs = std::filesystem;
using test::Slashes;
using test::U16;
using test::U8;

// The program look-up may wait this long; it ends as soon as the answer is there.
class LongLookup {
 public:
  explicit LongLookup(std::chrono::milliseconds wait) {
    WaitPolicy policy = Waits();
    policy.program_lookup = wait;
    previous_ = SetWaits(policy);
  }
  ~LongLookup() { SetWaits(previous_); }

 private:
  WaitPolicy previous_;
};

std::string ScriptFolder() { return test::SandboxRoot() + "/tmp/Vexo.tmp/cmd_bat/" + U8(FormatNow(u"%Y%m%d")); }

TEST(CommandText, QuoteIfNeededAndUnquote) {
  const struct {
    const char *text, *quoted;
  } quote_cases[] = {
      {"/tmp/my file.chk", "\"/tmp/my file.chk\""},
      {"'/tmp/my file'", "'/tmp/my file'"},
      {"\"a b\"", "\"a b\""},
      {"a,b", "\"a,b\""},
      {"line\n", "\"line\n\""},
      {"/tmp/plain.chk", "/tmp/plain.chk"},
      {"'", "'"},
  };
  for (const auto& c : quote_cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(U8(quote_if_needed(U16(c.text))), c.quoted);
  }
  const struct {
    const char *text, *bare;
  } unquote_cases[] = {
      {"\"'a'\"", "a"}, {"'a'", "a"}, {"\"a'", "\"a'"}, {"\"", "\""}, {"\"\"", ""}, {"''''", ""}, {"a", "a"},
  };
  for (const auto& c : unquote_cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(U8(unquote(U16(c.text))), c.bare);
  }
}

TEST(CommandScript, NameIsTheSanitisedCommandCutTo50) {
  const struct {
    const char *command, *name;
  } cases[] = {
      {"where x > C:\\t\\x.chk", "where_x_C_t_x.chk"},
      {"a b  >  c", "a_b_c"},
      {"echo \"a  b\"", "echo__a__b_"},  // a quoted piece keeps its blanks
      {"a//b\\\\c", "a__b_c"},
      {"0123456789012345678901234567890123456789012345678901234567890",
       "01234567890123456789012345678901234567890123456789"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    EXPECT_EQ(Slashes(U8(batch_file_for(U16(c.command)))), ScriptFolder() + "/" + c.name + ".bat");
  }
  EXPECT_TRUE(fs::is_directory(ScriptFolder()));

  // A cut that would split a surrogate pair keeps the whole character out.
  const std::u16string command = std::u16string(49, u'x') + u"\U0001F600yz";
  EXPECT_EQ(Slashes(U8(batch_file_for(command))), ScriptFolder() + "/" + std::string(49, 'x') + ".bat");
}

TEST(CommandScript, RunsWithoutWaitingAndKeepsNonAsciiPaths) {
  test::ScriptFolder folder;
#ifdef _WIN32
  // A batch file: the console switched to UTF-8 first, lines ended by CR LF.
  std::string target = folder.Root() + "/ausgabe é 日本.txt";
  std::replace(target.begin(), target.end(), '/', '\\');
  const std::u16string command = u"echo ok> \"" + U16(target) + u".tmp\" && move /y \"" + U16(target) + u".tmp\" \"" +
                                 U16(target) + u"\" > nul";
  ASSERT_TRUE(run_command(command));
  EXPECT_EQ(folder.WaitFor(target), "ok\r\n");
  const test::Bytes script = test::ReadBytes(U8(batch_file_for(command)));
  EXPECT_EQ(std::string(script.begin(), script.end()), "@chcp 65001 >nul\r\n" + U8(command) + "\r\n");
#else
  const std::string target = folder.Root() + "/ausgabe é 日本.txt";
  const std::u16string command = u"printf ok > '" + U16(target) + u".tmp' && mv '" + U16(target) + u".tmp' '" +
                                 U16(target) + u"'";
  ASSERT_TRUE(run_command(command));
  EXPECT_EQ(folder.WaitFor(target), "ok");
  // The script holds the command as the shell reads it: UTF-8 and one LF, no CR in the last word.
  const test::Bytes script = test::ReadBytes(U8(batch_file_for(command)));
  EXPECT_EQ(std::string(script.begin(), script.end()), U8(command) + "\n");
#endif
}

#ifdef _WIN32
// Wine's where.exe is a stub that finds nothing and says nothing: the look-ups below would only wait.
#define SKIP_WITHOUT_WHERE() GTEST_SKIP() << "the look-up runs `where`, a silent stub under Wine"
#else
#define SKIP_WITHOUT_WHERE()
#endif

TEST(ProgramLookup, FindsProgramsAlongThePathAndTakesFullPathsAsGiven) {
  SKIP_WITHOUT_WHERE();
  LongLookup wait(std::chrono::seconds(120));  // ends on the answer; only a lost one waits this long
  test::ScriptFolder bin;
  const std::string program = bin.Script("ocelo-probe-tool", "exit 0");
  fs::remove_all(ScriptFolder());
  // A full path or a blank name runs nothing: no script is written.
  EXPECT_EQ(U8(locate_program(U16(program))), program);
  EXPECT_FALSE(has_program(u"  \t"));
  EXPECT_FALSE(fs::exists(ScriptFolder()));

  test::ScopedPath path(test::PathWith(bin.Root()));
  EXPECT_EQ(U8(locate_program(u"  ocelo-probe-tool \t")), program);
  EXPECT_TRUE(test::Exists(U8(TodayFolder()) + "ocelo-probe-tool.chk"));
  EXPECT_TRUE(has_program(u"sh"));
}

TEST(ProgramLookup, MissingProgramAnswersWithoutTheFullWait) {
  SKIP_WITHOUT_WHERE();
  // The look-up ends on the command's answer: a look-up that sat out the policy's wait would take it all.
  constexpr auto kWait = std::chrono::seconds(120);
  LongLookup wait(kWait);
  // The output of an earlier look-up of the same name is not taken for this one's.
  test::WriteText(U8(TodayFolder()) + "ocelo-no-such-tool.chk", "/stale/ocelo-no-such-tool\r\n");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(locate_program(u"ocelo-no-such-tool"), u"");
  EXPECT_LT(std::chrono::steady_clock::now() - start, kWait);
}

TEST(ProgramLookup, NameHoldingShellSyntaxIsOneWord) {
  SKIP_WITHOUT_WHERE();
  // Read as shell syntax, each of these would make the look-up report something.
  LongLookup wait(std::chrono::seconds(120));  // ends on the answer; only a lost one waits this long
  for (const char* name : {"x; echo injected", "x $(echo sh)", "x `echo sh`", "sh' 'sh", "sh\" \"sh", "x\necho sh"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(locate_program(U16(name)), u"");
  }
}

TEST(ProgramLookup, SilentCommandEndsAtThePolicyWait) {
  // A look-up whose command writes nothing (here: a silent `which`, or `where`, first on the search path)
  // waits the policy's time, no longer, and finds nothing.
  test::ScriptFolder bin;
#ifdef _WIN32
  bin.Script("where.cmd", "exit /b 0");
#else
  bin.Script("which", "exit 0");
#endif
  test::ScopedPath path(test::PathWith(bin.Root()));
  // Nothing else ends the look-up: that it ends at all, and not before the wait is out, is the test.
  LongLookup wait(std::chrono::milliseconds(300));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(locate_program(u"sh"), u"");
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
}

}  // namespace
}  // namespace ocelo
