// Shell open: what xdg-open is asked to open (a fake one first on PATH records it), programs started
// directly, the failure messages word for word, and the program look-up along PATH.
#include "web/shell_command.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "platform/process_fixture.h"
#include "support/sandbox.h"
#include "util/dump_capture.h"

namespace ocelo {
namespace {

namespace fs = std::filesystem;
using test::U16;
using test::U8;

// A test folder with a fake xdg-open first on PATH that writes its arguments to <root>/opened and
// exits with $OCELO_FAKE_OPEN_EXIT (0 when unset).
class ShellTest : public ::testing::Test {
 protected:
  ShellTest()
      : path_(bin_.Root() + ":" + std::getenv("PATH")), log_(bin_.Root() + "/opened"),
        dump_(bin_.Root()) {
    bin_.Script("xdg-open", "printf '%s\\n' \"$@\" > '" + log_ + ".tmp'; mv '" + log_ + ".tmp' '" + log_ +
                                "'; exit ${OCELO_FAKE_OPEN_EXIT:-0}");
  }
  ~ShellTest() override { unsetenv("OCELO_FAKE_OPEN_EXIT"); }

  // What the fake opener received, one argument a line; empty when it was not run.
  std::string Opened() {
    std::string opened = test::Exists(log_) ? bin_.WaitFor(log_) : "";
    fs::remove(log_);
    return opened;
  }

  // The message boxes of the test, as the dump log has them (CR and LF as tabs).
  std::vector<std::string> Boxes() {
    std::vector<std::string> boxes;
    for (const std::u16string& line : dump_.Lines()) {
      std::size_t at = line.find(u"---- OK              Button1  [OK]    \t\t\t");
      if (at != std::u16string::npos) boxes.push_back(U8(line.substr(at + 41)));
    }
    return boxes;
  }

  test::ScriptFolder bin_;
  test::ScopedPath path_;
  std::string log_;
  test::DumpCapture dump_;
  test::MidHourClock clock_;
};

TEST(ShellErrorMessage, WordForWord) {
  EXPECT_EQ(U8(shell_error_message(2, u"open", u"a.txt", u"")),
            "The specified file was not found.\nOperation=\"open\"\nFile=\"a.txt\"\nParamaters=\"\"");
  EXPECT_EQ(U8(shell_error_message(31, u"", u"/x/notes.txt", u"-n")),
            "There is no application associated with the given file name extension.\nOperation=\"\"\n"
            "File=\"/x/notes.txt\"\nParamaters=\"-n\"");
  EXPECT_EQ(U8(shell_error_message(4, u"open", u"f", u"p")),
            "Error\nf\np\nOperation=\"open\"\nFile=\"f\"\nParamaters=\"p\"");
  EXPECT_TRUE(U8(shell_error_message(0, u"", u"", u"")).starts_with(
                  "The operating system is out of memory or resources.\nOperation="));
}

TEST_F(ShellTest, FoldersDocumentsAndUrlsOpenWithXdgOpen) {
  const std::string folder = bin_.Root() + "/my docs";
  const std::string document = bin_.Root() + "/notes.txt";
  fs::create_directories(folder);
  test::WriteText(document, "text");
  struct Case {
    const char* what;
    const char* verb;  // null: none set
    std::string file;  // empty: none set
    std::string parameters;
    bool explorer;
    std::string opened;
  };
  const Case cases[] = {
      {"folder", nullptr, folder, "", false, folder},
      {"folder explored", "explore", folder, "", false, folder},
      {"document", "open", document, "--ignored", false, document},
      {"URL", "open", "https://example.com/?q=a b", "", false, "https://example.com/?q=a b"},
      {"URL as parameters", nullptr, "", "https://example.com/", false, "https://example.com/"},
      {"explorer", nullptr, "", folder, true, folder},
      {"explorer, quoted", nullptr, "", "\"" + folder + "\"", true, folder},
      {"explorer, nothing", nullptr, "", "", true, std::getenv("HOME")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ShellCommand command;
    bool ok;
    if (c.explorer) {
      ok = command.open_in_explorer(U16(c.parameters));
    } else {
      if (c.verb) command.set_verb(U16(c.verb));
      if (!c.file.empty()) command.set_file(U16(c.file));
      if (!c.parameters.empty()) command.set_parameters(U16(c.parameters));
      ok = command.execute();
    }
    EXPECT_TRUE(ok);
    EXPECT_EQ(Opened(), c.opened + "\n");
  }
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(ShellTest, FailuresShowTheShellMessage) {
  const std::string document = bin_.Root() + "/notes.txt";
  test::WriteText(document, "text");
  struct Case {
    const char* what;
    const char* verb;
    std::string file;
    const char* exit_status;  // of the fake xdg-open
    std::string box;
  };
  const Case cases[] = {
      {"no handler", "open", document, "3",
       "There is no application associated with the given file name extension.\tOperation=\"open\"\tFile=\"" +
           document + "\"\tParamaters=\"\""},
      {"opener failed", nullptr, document, "4",
       "There is no application associated with the given file name extension.\tOperation=\"\"\tFile=\"" +
           document + "\"\tParamaters=\"\""},
      {"opener: file missing", nullptr, document, "2", "The specified file was not found.\tOperation=\"\"\tFile=\"" +
           document + "\"\tParamaters=\"\""},
      {"no such file", "open", "no-such-file-4711.txt", "0",
       "The specified file was not found.\tOperation=\"open\"\tFile=\"no-such-file-4711.txt\"\tParamaters=\"\""},
      {"no such folder", "open", bin_.Root() + "/gone/a.txt", "0",
       "The specified path was not found.\tOperation=\"open\"\tFile=\"" + bin_.Root() +
           "/gone/a.txt\"\tParamaters=\"\""},
      {"unknown verb", "print", document, "0",
       "There is no application associated with the given file name extension.\tOperation=\"print\"\tFile=\"" +
           document + "\"\tParamaters=\"\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    setenv("OCELO_FAKE_OPEN_EXIT", c.exit_status, 1);
    ShellCommand command;
    if (c.verb) command.set_verb(U16(c.verb));
    command.set_file(U16(c.file));
    EXPECT_FALSE(command.execute());
    Opened();
    const std::vector<std::string> boxes = Boxes();
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(boxes.back(), c.box + "\t\t");
  }
  EXPECT_EQ(Boxes().size(), std::size(cases));

  // Without any xdg-open, nothing can open a folder.
  test::ScopedPath no_opener(bin_.Root() + "/empty");
  ShellCommand command;
  EXPECT_FALSE(command.open_in_explorer(U16(bin_.Root())));
  EXPECT_TRUE(Boxes().back().starts_with("There is no application associated with the given file name extension.\t"));
}

TEST_F(ShellTest, AccessDeniedIsReported) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads every folder";
  const std::string locked = bin_.Root() + "/locked";
  fs::create_directories(locked);
  test::WriteText(locked + "/a.txt", "x");
  ::chmod(locked.c_str(), 0);
  ShellCommand command;
  command.set_file(U16(locked + "/a.txt"));
  EXPECT_FALSE(command.execute());
  ::chmod(locked.c_str(), 0755);
  EXPECT_TRUE(Boxes().back().starts_with("The operating system denied access to the specified file.\t"));
}

TEST_F(ShellTest, ProgramsStartDirectlyWithTheirParameters) {
  const std::string record = bin_.Root() + "/args";
  const std::string body =
      "printf '%s\\n' \"$0\" \"$@\" > '" + record + ".tmp'; mv '" + record + ".tmp' '" + record + "'";
  const std::string program = bin_.Script("fakeprog", body);
  const std::string script = bin_.Root() + "/job.bat";  // not executable: runs with /bin/sh
  test::WriteText(script, body + "\n");
  struct Case {
    std::string file;
    std::string parameters;
    std::string args;
  };
  const Case cases[] = {
      {"fakeprog", "one \"two three\"", program + "\none\ntwo three\n"},
      {"fakeprog.exe", "", program + "\n"},
      {program, "a\\\"b", program + "\na\"b\n"},
      {script, "x y", script + "\nx\ny\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    ShellCommand command;
    command.set_verb(u"open");
    command.set_file(U16(c.file));
    command.set_parameters(U16(c.parameters));
    EXPECT_TRUE(command.execute());
    EXPECT_EQ(bin_.WaitFor(record), c.args);
    fs::remove(record);
  }
  EXPECT_EQ(Opened(), "");
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(ShellTest, ResolveProgramPath) {
  const std::string program = bin_.Script("fakeprog", "exit 0");
  test::WriteText(bin_.Root() + "/notes.txt", "");
  const std::string previous = fs::current_path().string();
  ASSERT_EQ(::chdir(bin_.Root().c_str()), 0);
  struct Case {
    std::string name;
    std::string path;
  };
  const Case cases[] = {
      {"notes.txt", "notes.txt"},  // exists as given, relative to the current folder
      {"fakeprog", "fakeprog"},
      {"xdg-open", "xdg-open"},
      {"/elsewhere/fakeprog.exe", program},
      {"FAKEPROG.EXE", "FAKEPROG.EXE"},  // names on Linux keep their case
      {"missing.exe", "missing.exe"},
      {"https://example.com/", "https://example.com/"},
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(U8(resolve_program_path(U16(c.name))), c.path);
  }
  ASSERT_EQ(::chdir(previous.c_str()), 0);
  EXPECT_EQ(U8(resolve_program_path(u"fakeprog")), program);
  EXPECT_EQ(U8(resolve_program_path(u"fakeprog.exe")), program);
}

}  // namespace
}  // namespace ocelo
