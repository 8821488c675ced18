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

TEST(Cli, NeverConvertsInPlace) {
  const std::string root = test::TestFolder();
  test::WriteBytes(root + "/a.txt", Hex("82 A0"));
  CliRun run = Cli({"convert", "--to", "utf-8", "--out", root, root + "/a.txt"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("same path"), std::string::npos);
  EXPECT_EQ(test::ReadBytes(root + "/a.txt"), Hex("82 A0"));
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
