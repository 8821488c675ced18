// Starting programs detached: the caller does not wait, no child is left to reap, the program gets a
// session of its own, the null device and no inherited files; exit statuses within the watch; why a
// program did not start. (The command-line split is tested through shell open.)
#include "platform/process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>

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

}  // namespace
}  // namespace ocelo::sys
