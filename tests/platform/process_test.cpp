// Starting programs detached: the caller does not wait, no child is left to reap, the program gets a
// session of its own, the null device and no inherited files; exit statuses within the watch; the
// Windows command-line split.
#include "platform/process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "platform/process_fixture.h"
#include "support/sandbox.h"

namespace ocelo::sys {
namespace {

using namespace std::chrono_literals;
using test::U16;
using test::U8;

bool NoChildren() {
  int status = 0;
  return ::waitpid(-1, &status, WNOHANG) == -1 && errno == ECHILD;
}

TEST(SplitCommandLine, WindowsRules) {
  struct Case {
    const char16_t* line;
    std::vector<std::u16string> arguments;
  };
  const Case cases[] = {
      {u"", {}},
      {u"  \t ", {}},
      {u"a b\tc", {u"a", u"b", u"c"}},
      {u"a \"b c\" d", {u"a", u"b c", u"d"}},
      {u"\"\"", {u""}},
      {u"x\"y z\"w", {u"xy zw"}},
      {u"\"x\\\"y\"", {u"x\"y"}},
      {u"a\\\\b", {u"a\\\\b"}},
      {u"a\\\\\"b c\"", {u"a\\b c"}},
      {u"a\\\\\\\"b", {u"a\\\"b"}},
      {u"\"a\"\"b\"", {u"a\"b"}},
      {u"/home/u/a b", {u"/home/u/a", u"b"}},
      {u"\"unclosed here", {u"unclosed here"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(U8(c.line));
    EXPECT_EQ(SplitCommandLine(c.line), c.arguments);
  }
}

TEST(StartDetached, DoesNotWaitAndLeavesNoChild) {
  test::ScriptFolder bin;
  const std::string pid_file = bin.Root() + "/pid";
  const std::string program = bin.Script("slow", "echo $$ > '" + pid_file + ".tmp'; mv '" + pid_file +
                                                      ".tmp' '" + pid_file + "'; sleep 5");
  const auto start = std::chrono::steady_clock::now();
  StartResult result = StartDetached({U16(program)}, u"", 0ms);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  EXPECT_EQ(result.error, 0);
  EXPECT_FALSE(result.finished);
  EXPECT_TRUE(NoChildren());

  const std::string pid = bin.WaitFor(pid_file);
  ASSERT_FALSE(pid.empty());
  ::kill(std::stoi(pid), SIGTERM);

  // Watched for longer than it runs: its exit status comes back.
  result = StartDetached({U16(bin.Script("seven", "exit 7"))}, u"", 5000ms);
  EXPECT_EQ(result.error, 0);
  EXPECT_TRUE(result.finished);
  EXPECT_EQ(result.exit_code, 7);
  EXPECT_TRUE(NoChildren());
}

TEST(StartDetached, ExitStatusEvenWhenTheCallerIgnoresChildren) {
  test::ScriptFolder bin;
  struct sigaction ignore {}, previous {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGCHLD, &ignore, &previous);
  StartResult result = StartDetached({U16(bin.Script("three", "exit 3"))}, u"", 5000ms);
  ::sigaction(SIGCHLD, &previous, nullptr);
  EXPECT_TRUE(result.finished);
  EXPECT_EQ(result.exit_code, 3);
}

TEST(StartDetached, OwnSessionNullDeviceNoInheritedFilesAndFolder) {
  test::ScriptFolder bin;
  const int leaked = ::open("/dev/null", O_RDONLY);  // no close-on-exec
  ASSERT_GE(leaked, 3);
  const std::string out = bin.Root() + "/report";
  const std::string program = bin.Script(
      "reporter", "{ cut -d' ' -f6 /proc/$$/stat; readlink /proc/$$/fd/0; readlink /proc/$$/fd/2;"
                " [ -e /proc/$$/fd/" + std::to_string(leaked) + " ] && echo leaked || echo closed; pwd; echo \"$1\"; }"
                " > '" + out + ".tmp'; mv '" + out + ".tmp' '" + out + "'");
  StartResult result = StartDetached({U16(program), u"ä b"}, U16(bin.Root()), 0ms);
  ::close(leaked);
  ASSERT_EQ(result.error, 0);
  const std::string report = bin.WaitFor(out);
  const std::string expected = "/dev/null\n/dev/null\nclosed\n" + bin.Root() + "\nä b\n";
  ASSERT_GT(report.size(), expected.size());
  EXPECT_EQ(report.substr(report.size() - expected.size()), expected);
  EXPECT_NE(std::stol(report), static_cast<long>(::getsid(0)));
}

TEST(StartDetached, ReportsWhyAProgramDidNotStart) {
  test::ScriptFolder bin;
  test::WriteText(bin.Root() + "/plain", "#!/bin/sh\n");  // not executable
  struct Case {
    std::u16string program;
    std::u16string folder;
    int error;
  };
  const Case cases[] = {
      {U16(bin.Root() + "/missing"), u"", ENOENT},
      {U16(bin.Root() + "/plain"), u"", EACCES},
      {U16(bin.Root()), u"", EACCES},
      {U16(bin.Script("fine", "exit 0")), U16(bin.Root() + "/no-such-folder"), ENOENT},
      {u"", u"", ENOENT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(U8(c.program));
    StartResult result = StartDetached({c.program}, c.folder, 0ms);
    EXPECT_EQ(result.error, c.error);
  }
  EXPECT_TRUE(NoChildren());
}

TEST(FindProgram, LooksAlongPathForExecutableFiles) {
  test::ScriptFolder bin;
  const std::string tool = bin.Script("tool", "exit 0");
  test::WriteText(bin.Root() + "/plain", "");
  test::ScopedPath path(bin.Root() + "::/nonexistent");
  EXPECT_EQ(U8(FindProgram(u"tool")), tool);
  EXPECT_EQ(U8(FindProgram(u"plain")), "");
  EXPECT_EQ(U8(FindProgram(u"./tool")), "");
  EXPECT_EQ(U8(FindProgram(u"")), "");
}

}  // namespace
}  // namespace ocelo::sys
