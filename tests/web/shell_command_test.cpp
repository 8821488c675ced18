// Shell open: what xdg-open is asked to open (a fake one first on PATH records it), programs started
// directly with their parameters, the failure messages word for word, the program look-up along PATH.
#include "web/shell_command.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "platform/process_fixture.h"
#include "support/sandbox.h"

namespace ocelo {
namespace {

namespace fs = std::filesystem;
using test::U16;
using test::U8;

constexpr char kNoHandler[] = "There is no application associated with the given file name extension.";

// A fake xdg-open first on PATH writes its arguments to <root>/opened and exits with
// $OCELO_FAKE_OPEN_EXIT (0 when unset); with $OCELO_FAKE_OPEN_HOLD set, only once <root>/release exists.
// On Windows the sandbox notes what the desktop would show instead.
class ShellTest : public ::testing::Test {
 protected:
  ShellTest() : path_(test::PathWith(bin_.Root())), log_(bin_.Root() + "/opened") {
#ifdef _WIN32
    test::ClearOpenedByShell();
#else
    bin_.Script("xdg-open", "printf '%s\\n' \"$@\" > '" + log_ + ".tmp'; mv '" + log_ + ".tmp' '" + log_ +
                                "'\n[ -n \"$OCELO_FAKE_OPEN_HOLD\" ] && until [ -e '" + bin_.Root() +
                                "/release' ]; do sleep 0.05; done\nexit ${OCELO_FAKE_OPEN_EXIT:-0}");
#endif
  }
  ~ShellTest() override {
    sys::SetEnvironment(u"OCELO_FAKE_OPEN_EXIT", u"");
    sys::SetEnvironment(u"OCELO_FAKE_OPEN_HOLD", u"");
  }

  // What the fake opener was given, one argument a line, waiting for it since it runs detached; with
  // `wait` false, empty unless it already ran.
  std::string Opened(bool wait = true) {
#ifdef _WIN32
    std::string opened;
    for (const std::string& line : test::OpenedByShell(wait ? 1 : 0)) opened += line + "\n";
    test::ClearOpenedByShell();
#else
    std::string opened = wait || test::Exists(log_) ? bin_.WaitFor(log_) : "";
    fs::remove(log_);
#endif
    return opened;
  }

  // Whether an OK box with this text was shown (the dump log has CR and LF as tabs); a late one is waited
  // for up to a minute, a bound only a lost report reaches.
  static bool Shown(const std::string& text, bool late = false) {
    const std::string line = "---- OK              Button1  [OK]    \t\t\t" + text + "\t\t\r\n";
    for (int waited = 0; waited < (late ? 6000 : 1); ++waited) {
      if (test::DumpLog().find(line) != std::string::npos) return true;
      if (late) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  test::ScriptFolder bin_;
  test::ScopedPath path_;
  std::string log_;
};

TEST_F(ShellTest, FoldersDocumentsAndUrlsOpenWithXdgOpen) {
  const std::string folder = bin_.Root() + "/my docs", document = bin_.Root() + "/notes.txt";
  fs::create_directories(folder);
  test::WriteText(document, "text");
  const struct {
    std::string file;  // "explorer": open_in_explorer; empty: no file set
    std::string parameters, opened;
  } cases[] = {
      {folder, "", folder},
      {document, "--ignored", document},
      {"https://example.com/?q=a b", "", "https://example.com/?q=a b"},
      {"", "https://example.com/", "https://example.com/"},
      {"explorer", "\"" + folder + "\"", folder},
#ifdef _WIN32
      {"explorer", "", ""},  // explorer shows its own first folder
#else
      {"explorer", "", std::getenv("HOME")},
#endif
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file + " " + c.parameters);
    ShellCommand command;
    command.set_verb(u"open");
    if (c.file == "explorer") {
      EXPECT_TRUE(command.open_in_explorer(U16(c.parameters)));
    } else {
      if (!c.file.empty()) command.set_file(U16(c.file));
      if (!c.parameters.empty()) command.set_parameters(U16(c.parameters));
      EXPECT_TRUE(command.execute());
    }
    EXPECT_EQ(Opened(), c.opened + "\n");
  }
}

TEST_F(ShellTest, FailuresShowTheShellMessage) {
  const std::string document = bin_.Root() + "/notes.txt";
  test::WriteText(document, "text");
  // xdg-open's verdict is not waited for: its failure, even one that comes while the caller has long gone
  // on (held until the test releases it), is shown later and names xdg-open and what it was given.
  struct Case {
    std::string file;
    const char* opener_exit;
    bool hold;
    std::string box;
  };
  std::vector<Case> cases = {
#ifndef _WIN32
      {document, "3", false, kNoHandler + ("\tOperation=\"open\"\tFile=\"xdg-open\"\tParamaters=\"" + document + "\"")},
      {bin_.Root(), "4", true,
       kNoHandler + ("\tOperation=\"open\"\tFile=\"xdg-open\"\tParamaters=\"" + bin_.Root() + "\"")},
#endif
      {"no-such-file-4711.txt", "0", false,
       "The specified file was not found.\tOperation=\"open\"\tFile=\"no-such-file-4711.txt\"\tParamaters=\"\""},
      {bin_.Root() + "/gone/a.txt", "0", false,
       "The specified path was not found.\tOperation=\"open\"\tFile=\"" + bin_.Root() +
           "/gone/a.txt\"\tParamaters=\"\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.box);
    const bool late = std::string(c.opener_exit) != "0";
    sys::SetEnvironment(u"OCELO_FAKE_OPEN_EXIT", U16(c.opener_exit));
    if (c.hold) sys::SetEnvironment(u"OCELO_FAKE_OPEN_HOLD", u"1");
    ShellCommand command;
    command.set_verb(u"open");
    command.set_file(U16(c.file));
    EXPECT_EQ(command.execute(), late);
    if (c.hold) {
      EXPECT_FALSE(Shown(c.box));
      test::WriteText(bin_.Root() + "/release", "");
    }
    EXPECT_TRUE(Shown(c.box, late));
    sys::SetEnvironment(u"OCELO_FAKE_OPEN_HOLD", u"");
  }
  EXPECT_EQ(U8(shell_error_message(4, u"", u"f", u"p")), "Error\nf\np\nOperation=\"\"\nFile=\"f\"\nParamaters=\"p\"");
#ifndef _WIN32  // xdg-open's own failures, and permission bits
  test::ScopedPath no_opener(bin_.Root() + "/empty");
  EXPECT_FALSE(ShellCommand().open_in_explorer(U16(bin_.Root())));
  EXPECT_TRUE(Shown(kNoHandler + ("\tOperation=\"\"\tFile=\"xdg-open\"\tParamaters=\"" + bin_.Root() + "\"")));

  if (::geteuid() == 0) return;  // root reads every folder
  ::chmod(bin_.Root().c_str(), 0);
  ShellCommand denied;
  denied.set_file(U16(document));
  const bool opened = denied.execute();
  ::chmod(bin_.Root().c_str(), 0755);
  EXPECT_FALSE(opened);
  EXPECT_TRUE(Shown("The operating system denied access to the specified file.\tOperation=\"\"\tFile=\"" + document +
                    "\"\tParamaters=\"\""));
#endif
}

#ifdef _WIN32
// The path in the system's form, for a batch file's commands (cmd.exe reads '/' as a switch).
std::string Native(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

// Programs and batch files start through the shell with their parameters, a bare name found on PATH.
TEST_F(ShellTest, ProgramsStartDirectlyWithTheirParameters) {
  const std::string record = Native(bin_.Root() + "/args");
  const std::string program = bin_.Script("fakeprog.cmd", "(for %%a in (%*) do @echo %%~a)> \"" + record +
                                                              ".tmp\"\nmove /y \"" + record + ".tmp\" \"" + record +
                                                              "\" > nul");
  const struct {
    std::string file, parameters, args;
  } cases[] = {
      {program, "one \"two three\"", "one\ntwo three\n"},
      {Native(program), "x", "x\n"},
      {"fakeprog.cmd", "a b", "a\nb\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    ShellCommand command;
    command.set_file(U16(c.file));
    command.set_parameters(U16(c.parameters));
    EXPECT_TRUE(command.execute());
    std::string args = bin_.WaitFor(record);
    args.erase(std::remove(args.begin(), args.end(), '\r'), args.end());
    EXPECT_EQ(args, c.args);
    fs::remove(record);
  }
  EXPECT_EQ(Opened(false), "");
}

TEST_F(ShellTest, ResolveProgramPath) {
  const std::string program = bin_.Script("fakeprog.cmd", "exit 0");
  // Names are found without case, and a program may be a batch file.
  for (const char* name : {"fakeprog", "fakeprog.exe", "FAKEPROG.EXE", "/elsewhere/fakeprog.exe"}) {
    EXPECT_EQ(test::Slashes(U8(resolve_program_path(U16(name)))), program) << name;
  }
  for (const char* name : {"https://example.com/", "missing.exe"}) {
    EXPECT_EQ(U8(resolve_program_path(U16(name))), name);
  }
  const fs::path previous = fs::current_path();
  fs::current_path(bin_.Root());
  EXPECT_EQ(U8(resolve_program_path(u"fakeprog.cmd")), "fakeprog.cmd");  // exists as given: taken as it is
  fs::current_path(previous);
}
#else
TEST_F(ShellTest, ProgramsStartDirectlyWithTheirParameters) {
  const std::string record = bin_.Root() + "/args";
  const std::string body = "printf '%s\\n' \"$0\" \"$@\" > '" + record + ".tmp'; mv '" + record + ".tmp' '" + record +
                           "'";
  const std::string program = bin_.Script("fakeprog", body);
  const std::string script = bin_.Root() + "/job.bat";  // not executable: runs with /bin/sh
  test::WriteText(script, body + "\n");
  const struct {
    std::string file, parameters, args;
  } cases[] = {
      {"fakeprog", "one \"two three\"", program + "\none\ntwo three\n"},
      {"fakeprog.exe", "", program + "\n"},
      {program, "a\\\"b \"c d\"\"\" \\\\\"e f\" g\\h", program + "\na\"b\nc d\"\n\\e f\ng\\h\n"},
      {script, "x y", script + "\nx\ny\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    ShellCommand command;
    command.set_file(U16(c.file));
    command.set_parameters(U16(c.parameters));
    EXPECT_TRUE(command.execute());
    EXPECT_EQ(bin_.WaitFor(record), c.args);
    fs::remove(record);
  }
  EXPECT_EQ(Opened(false), "");
}

TEST_F(ShellTest, ResolveProgramPath) {
  const std::string program = bin_.Script("fakeprog", "exit 0");
  for (const char* name : {"fakeprog", "fakeprog.exe", "/elsewhere/fakeprog.exe"}) {
    EXPECT_EQ(U8(resolve_program_path(U16(name))), program) << name;
  }
  for (const char* name : {"FAKEPROG.EXE", "https://example.com/", "missing.exe"}) {
    EXPECT_EQ(U8(resolve_program_path(U16(name))), name);
  }
  const fs::path previous = fs::current_path();
  fs::current_path(bin_.Root());
  EXPECT_EQ(U8(resolve_program_path(u"fakeprog")), "fakeprog");  // exists as given: taken as it is
  fs::current_path(previous);
}
#endif

}  // namespace
}  // namespace ocelo
