// Shell open: what xdg-open is asked to open (a fake one first on PATH records it), programs started
// directly with their parameters, the failure messages word for word, the program look-up along PATH.
#include "web/shell_command.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

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
class ShellTest : public ::testing::Test {
 protected:
  ShellTest() : path_(bin_.Root() + ":" + std::getenv("PATH")), log_(bin_.Root() + "/opened") {
    bin_.Script("xdg-open", "printf '%s\\n' \"$@\" > '" + log_ + ".tmp'; mv '" + log_ + ".tmp' '" + log_ +
                                "'\n[ -n \"$OCELO_FAKE_OPEN_HOLD\" ] && until [ -e '" + bin_.Root() +
                                "/release' ]; do sleep 0.05; done\nexit ${OCELO_FAKE_OPEN_EXIT:-0}");
  }
  ~ShellTest() override {
    unsetenv("OCELO_FAKE_OPEN_EXIT");
    unsetenv("OCELO_FAKE_OPEN_HOLD");
  }

  // What the fake opener was given, one argument a line, waiting for it since it runs detached; with
  // `wait` false, empty unless it already ran.
  std::string Opened(bool wait = true) {
    std::string opened = wait || test::Exists(log_) ? bin_.WaitFor(log_) : "";
    fs::remove(log_);
    return opened;
  }

  // Whether an OK box with this text was shown (the dump log has CR and LF as tabs); a late one is waited
  // for up to a minute, a bound only a lost report reaches.
  static bool Shown(const std::string& text, bool late = false) {
    const std::string line = "---- OK              Button1  [OK]    \t\t\t" + text + "\t\t\r\n";
    for (int waited = 0; waited < (late ? 6000 : 1); ++waited) {
      if (test::DumpLog().find(line) != std::string::npos) return true;
      if (late) ::usleep(10000);
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
      {"explorer", "", std::getenv("HOME")},
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
  const struct {
    std::string file;
    const char* opener_exit;
    bool hold;
    std::string box;
  } cases[] = {
      {document, "3", false, kNoHandler + ("\tOperation=\"open\"\tFile=\"xdg-open\"\tParamaters=\"" + document + "\"")},
      {bin_.Root(), "4", true,
       kNoHandler + ("\tOperation=\"open\"\tFile=\"xdg-open\"\tParamaters=\"" + bin_.Root() + "\"")},
      {"no-such-file-4711.txt", "0", false,
       "The specified file was not found.\tOperation=\"open\"\tFile=\"no-such-file-4711.txt\"\tParamaters=\"\""},
      {bin_.Root() + "/gone/a.txt", "0", false,
       "The specified path was not found.\tOperation=\"open\"\tFile=\"" + bin_.Root() +
           "/gone/a.txt\"\tParamaters=\"\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.box);
    const bool late = std::string(c.opener_exit) != "0";
    setenv("OCELO_FAKE_OPEN_EXIT", c.opener_exit, 1);
    if (c.hold) setenv("OCELO_FAKE_OPEN_HOLD", "1", 1);
    ShellCommand command;
    command.set_verb(u"open");
    command.set_file(U16(c.file));
    EXPECT_EQ(command.execute(), late);
    if (c.hold) {
      EXPECT_FALSE(Shown(c.box));
      test::WriteText(bin_.Root() + "/release", "");
    }
    EXPECT_TRUE(Shown(c.box, late));
    unsetenv("OCELO_FAKE_OPEN_HOLD");
  }
  test::ScopedPath no_opener(bin_.Root() + "/empty");
  EXPECT_FALSE(ShellCommand().open_in_explorer(U16(bin_.Root())));
  EXPECT_TRUE(Shown(kNoHandler + ("\tOperation=\"\"\tFile=\"xdg-open\"\tParamaters=\"" + bin_.Root() + "\"")));
  EXPECT_EQ(U8(shell_error_message(4, u"", u"f", u"p")), "Error\nf\np\nOperation=\"\"\nFile=\"f\"\nParamaters=\"p\"");

  if (::geteuid() == 0) return;  // root reads every folder
  ::chmod(bin_.Root().c_str(), 0);
  ShellCommand denied;
  denied.set_file(U16(document));
  const bool opened = denied.execute();
  ::chmod(bin_.Root().c_str(), 0755);
  EXPECT_FALSE(opened);
  EXPECT_TRUE(Shown("The operating system denied access to the specified file.\tOperation=\"\"\tFile=\"" + document +
                    "\"\tParamaters=\"\""));
}

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

}  // namespace
}  // namespace ocelo
