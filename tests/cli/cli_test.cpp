// ocelo-cli: argument errors, one line per file with its outcome, the exit status, detect's report.
#include "cli/cli.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "support/sandbox.h"

namespace ocelo {
namespace {

using test::Hex;

struct CliRun {
  int status;
  std::string out;
  std::string err;
};

CliRun Cli(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  int status = RunCli(args, out, err);
  return {status, out.str(), err.str()};
}

TEST(Cli, BadArgumentsAreExplained) {
  struct Case {
    std::vector<std::string> args;
    const char* message;
  };
  const Case cases[] = {
      {{}, "Usage:"},
      {{"frobnicate"}, "unknown command 'frobnicate'"},
      {{"convert", "--to", "ebcdic", "--out", "/x", "a"}, "unknown target 'ebcdic'"},
      {{"convert", "--to", "utf-8", "a"}, "convert needs --out DIR"},
      {{"convert", "--out", "/x", "a"}, "convert needs --to TARGET"},
      {{"convert", "--to", "utf-8", "--out", "/x"}, "convert needs at least one PATH"},
      {{"convert", "--to"}, "--to needs a value"},
      {{"convert", "--bogus"}, "unknown option '--bogus'"},
      {{"detect"}, "detect needs at least one PATH"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    CliRun run = Cli(c.args);
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
  }
  EXPECT_EQ(Cli({"--help"}).status, 0);
  EXPECT_EQ(Cli({"--version"}).out, "ocelo-cli " OCELO_VERSION ".0\n");  // from the embedded block
}

TEST(Cli, ConvertGoesOnAfterAProblemAndReportsEachFile) {
  const std::string root = test::TestFolder();
  const std::string out = root + "/out/new";  // missing: created
  test::WriteBytes(root + "/kana.txt", Hex("82 A0 82 A2"));
  test::WriteBytes(root + "/cafe.txt", Hex("63 61 66 C3 A9"));
  test::WriteBytes(root + "/image.bin", Hex("50 4B 03 04 00 00"));
  test::WriteBytes(root + "/last.txt", Hex("41 42"));
  CliRun run = Cli({"convert", "--to", "shift_jis", "--out", out, root + "/kana.txt", root + "/image.bin",
                    root + "/cafe.txt", root + "/last.txt"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, root + "/kana.txt: converted\n" + root + "/image.bin: not a text file\n" + root +
                         "/cafe.txt: copied unchanged: the target encoding would lose characters\n" + root +
                         "/last.txt: converted\n");
  EXPECT_EQ(test::ReadBytes(out + "/kana.txt"), Hex("82 A0 82 A2"));
  EXPECT_EQ(test::ReadBytes(out + "/cafe.txt"), Hex("63 61 66 C3 A9"));
  EXPECT_FALSE(test::Exists(out + "/image.bin"));

  CliRun again = Cli({"convert", "--to", "74", "--out", out, root + "/kana.txt"});
  EXPECT_EQ(again.status, 0);
  EXPECT_EQ(again.out, root + "/kana.txt: up to date\n");
}

TEST(Cli, NeverConvertsInPlaceAndNeverOverwritesItsOwnCopy) {
  namespace fs = std::filesystem;
  const std::string root = test::TestFolder();
  const test::Bytes lossy = Hex("63 61 66 C3 A9 20 E3 81 82");  // "café あ": é has no Shift_JIS form
  const std::vector<std::pair<std::string, test::Bytes>> sources = {{"notes.txt", lossy},
                                                                    {"dir/a.txt", lossy},
                                                                    {"cs/x.txt", lossy},
                                                                    {"c1/x.txt", Hex("31")},
                                                                    {"c2/x.txt", Hex("32")}};
  for (const auto& [name, bytes] : sources) {
    fs::create_directories(fs::path(root + "/" + name).parent_path());
    test::WriteBytes(root + "/" + name, bytes);
  }
  fs::create_directory_symlink(root + "/dir", root + "/link");
  const fs::path previous = fs::current_path();
  fs::current_path(root);
  const std::string same = ": same path: the file already lies where its copy would go\n";
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out;
  };
  const Case cases[] = {
      {{"--to", "shift_jis", "--out", ".", "notes.txt"}, 1, "notes.txt" + same},
      {{"--to", "shift_jis", "--out", "./dir", "dir/a.txt"}, 1, "dir/a.txt" + same},
      {{"--to", "shift_jis", "--out", "dir", "dir//a.txt"}, 1, "dir//a.txt" + same},
      {{"--to", "shift_jis", "--out", "dir", "dir/../dir/a.txt"}, 1, "dir/../dir/a.txt" + same},
      {{"--to", "shift_jis", "--out", "link", "dir/a.txt"}, 1, "dir/a.txt" + same},
      {{"--to", "copy", "--out", "dir", "link/a.txt"}, 1, "link/a.txt" + same},
      {{"--to", "utf-16", "--out", "CS", "cs/x.txt"}, 0, "cs/x.txt: converted\n"},
      {{"--to", "copy", "--out", "o", "c1/x.txt", "c2/x.txt"},
       1,
       "c1/x.txt: copied\nc2/x.txt: skipped: a file of the same name was written from c1/x.txt\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[3] + " " + c.args[4]);
    std::vector<std::string> args = {"convert"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const CliRun run = Cli(args);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.out, c.out);
    for (const auto& [name, bytes] : sources) EXPECT_EQ(test::ReadBytes(root + "/" + name), bytes) << name;
  }
  EXPECT_EQ(test::ReadBytes(root + "/o/x.txt"), Hex("31"));
  fs::current_path(previous);
}

TEST(Cli, DetectReportsKindMarkTextAndDeclaration) {
  const std::string root = test::TestFolder();
  test::WriteText(root + "/decl.xml", "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>\n<a/>\n");
  test::WriteBytes(root + "/sjis.txt", Hex("82 A0"));
  test::WriteBytes(root + "/zip.docx", Hex("50 4B 03 04 00"));
  CliRun run = Cli({"detect", root + "/decl.xml", root + "/sjis.txt", root + "/zip.docx", root + "/none"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, root + "/decl.xml: UTF-8 (8), mark 3, text, declared Shift_JIS (74)\n" + root +
                         "/sjis.txt: Shift_JIS (74), mark 0, text, declared none\n" + root +
                         "/zip.docx: ASCII (65), mark 0, not text, declared none\n" + root + "/none: not found\n");
}

}  // namespace
}  // namespace ocelo
