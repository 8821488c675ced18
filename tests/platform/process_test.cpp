// Starting programs detached: the caller does not wait, no child is left to reap, the program gets a
// session of its own, the null device and no inherited files; exit statuses within the watch; why a
// program did not start. (The command-line split is tested through shell open.) On Windows the programs
// are batch files, which CreateProcessW runs through the command processor.
#include "platform/process.h"

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <vector>

#include "platform/process_fixture.h"
#include "support/program_paths.h"
#include "support/sandbox.h"

namespace ocelo::sys {
namespace {

using namespace std::chrono_literals;
using test::U16;
using test::U8;

#ifdef _WIN32
// Batch lines that write a file whole: into a temporary file, then renamed. (Wine's command processor
// does not redirect a parenthesised group, so each line is redirected by itself.)
std::string WriteWhole(const std::string& path, const std::vector<std::string>& lines) {
  const std::string native = test::Native(path);
  std::string text;
  for (const std::string& line : lines) text += line + (text.empty() ? ">" : ">>") + " \"" + native + ".tmp\"\n";
  return text + "move \"" + native + ".tmp\" \"" + native + "\" > nul\n";
}

TEST(StartDetached, DoesNotWaitWatchesWhenAskedAndReportsFailures) {
  test::ScriptFolder bin;
  const std::string started = bin.Root() + "/started";
  const std::string release = bin.Root() + "/release";
  const std::string ended = bin.Root() + "/ended";
  // The program runs until the test lets it go, after StartDetached has returned; it gives up by itself
  // after many rounds, a bound only a caller that waited for it reaches.
  const std::string slow = bin.Script(
      "slow.cmd", WriteWhole(started, {"echo x"}) + "set n=0\n:wait\nif exist \"" + test::Native(release) +
                      "\" goto done\nset /a n+=1\nif %n% gtr 200000 exit /b 1\ngoto wait\n:done\n" +
                      WriteWhole(ended, {"echo x"}));
  StartResult result = StartDetached({U16(slow)}, u"", 0ms);
  EXPECT_EQ(result.error, 0);
  EXPECT_FALSE(result.finished);
  EXPECT_FALSE(bin.WaitFor(started).empty());
  EXPECT_FALSE(test::Exists(ended));  // still running
  test::WriteText(release, "");
  EXPECT_FALSE(bin.WaitFor(ended).empty());

  // Watched for longer than it runs: the exit status.
  result = StartDetached({U16(bin.Script("seven.cmd", "exit 7"))}, u"", 60000ms);  // ends when the program does
  EXPECT_TRUE(result.finished);
  EXPECT_EQ(result.exit_code, 7);

  test::WriteText(bin.Root() + "/plain.exe", "not a program");
  EXPECT_EQ(StartDetached({U16(bin.Root() + "/missing.exe")}, u"", 0ms).error, ENOENT);
  EXPECT_EQ(StartDetached({U16(bin.Root() + "/plain.exe")}, u"", 0ms).error, ENOEXEC);
  EXPECT_EQ(StartDetached({U16(slow)}, U16(bin.Root() + "/no-such-folder"), 0ms).error, ENOENT);
  EXPECT_EQ(StartDetached({U16(slow)}, U16(bin.Root() + "/plain.exe"), 0ms).error, ENOTDIR);
}

TEST(StartDetached, NullDeviceArgumentAndFolder) {
  test::ScriptFolder bin;
  const std::string out = bin.Root() + "/report";
  // What the program reads from its standard input (the null device: nothing), its folder and argument.
  const std::string program = bin.Script(
      "reporter.cmd", "set line=none\nset /p line=\n" + WriteWhole(out, {"echo %line%", "cd", "echo %~1"}));
  StartResult result = StartDetached({U16(program), u"a b"}, U16(bin.Root()), 0ms);
  ASSERT_EQ(result.error, 0);
  EXPECT_EQ(test::Slashes(bin.WaitFor(out)), "none\r\n" + bin.Root() + "\r\na b\r\n");
}
#else
bool NoChildren() {
  int status = 0;
  return ::waitpid(-1, &status, WNOHANG) == -1 && errno == ECHILD;
}

TEST(StartDetached, DoesNotWaitLeavesNoChildWatchesWhenAskedAndReportsFailures) {
  test::ScriptFolder bin;
  const std::string pid_file = bin.Root() + "/pid";
  const std::string release = bin.Root() + "/release";
  const std::string gave_up = bin.Root() + "/gave-up";
  // The program runs until the test lets it go, after StartDetached has returned. A caller that waited for it
  // would find it gone only once it gives up by itself (after a minute), and the mark it leaves then shows.
  const std::string slow = bin.Script("slow", "echo $$ > '" + pid_file + ".tmp'; mv '" + pid_file + ".tmp' '" +
                                                  pid_file + "'\n" + "n=0; while [ ! -e '" + release + "' ]; do\n" +
                                                  "  n=$((n + 1)); [ $n -gt 600 ] && { : > '" + gave_up +
                                                  "'; exit 1; }; sleep 0.1\ndone");
  StartResult result = StartDetached({U16(slow)}, u"", 0ms);
  EXPECT_FALSE(test::Exists(gave_up));
  EXPECT_EQ(result.error, 0);
  EXPECT_FALSE(result.finished);
  EXPECT_TRUE(NoChildren());
  const std::string pid = bin.WaitFor(pid_file);
  ASSERT_FALSE(pid.empty());
  EXPECT_EQ(::kill(std::stoi(pid), 0), 0);  // still running
  test::WriteText(release, "");

  // Watched for longer than it runs, also when the caller ignores its children: the exit status.
  struct sigaction ignore {
  }, previous{};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGCHLD, &ignore, &previous);
  result = StartDetached({U16(bin.Script("seven", "exit 7"))}, u"", 60000ms);  // ends when the program does
  ::sigaction(SIGCHLD, &previous, nullptr);
  EXPECT_TRUE(result.finished);
  EXPECT_EQ(result.exit_code, 7);

  test::WriteText(bin.Root() + "/plain", "#!/bin/sh\n");  // not executable
  EXPECT_EQ(StartDetached({U16(bin.Root() + "/missing")}, u"", 0ms).error, ENOENT);
  EXPECT_EQ(StartDetached({U16(bin.Root() + "/plain")}, u"", 0ms).error, EACCES);
  EXPECT_EQ(StartDetached({U16(slow)}, U16(bin.Root() + "/no-such-folder"), 0ms).error, ENOENT);
  EXPECT_TRUE(NoChildren());
}

TEST(StartDetached, OwnSessionNullDeviceNoInheritedFilesAndFolder) {
  test::ScriptFolder bin;
  const int leaked = ::open("/dev/null", O_RDONLY);  // no close-on-exec
  ASSERT_GE(leaked, 3);
  const std::string out = bin.Root() + "/report";
  const std::string program = bin.Script(
      "reporter", "{ cut -d' ' -f6 /proc/$$/stat; readlink /proc/$$/fd/0; readlink /proc/$$/fd/2; [ -e /proc/$$/fd/" +
                      std::to_string(leaked) + " ] && echo leaked || echo closed; pwd; echo \"$1\"; } > '" + out +
                      ".tmp'; mv '" + out + ".tmp' '" + out + "'");
  StartResult result = StartDetached({U16(program), u"ä b"}, U16(bin.Root()), 0ms);
  ::close(leaked);
  ASSERT_EQ(result.error, 0);
  const std::string report = bin.WaitFor(out);
  const std::string expected = "/dev/null\n/dev/null\nclosed\n" + bin.Root() + "\nä b\n";
  ASSERT_GT(report.size(), expected.size());
  EXPECT_EQ(report.substr(report.size() - expected.size()), expected);
  EXPECT_NE(std::stol(report), static_cast<long>(::getsid(0)));
}

#endif

}  // namespace
}  // namespace ocelo::sys
