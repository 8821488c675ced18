// ocelo-cli: options and encoding names, argument errors, standard input and output, one line per file
// with its outcome on the right stream, the exit status, --quiet, --json, detect's report.
#include "cli/cli.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
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

CliRun Cli(const std::vector<std::string>& args, const test::Bytes& input = {}) {
  std::istringstream in(std::string(input.begin(), input.end()));
  std::ostringstream out, err;
  int status = RunCli(args, in, out, err);
  return {status, out.str(), err.str()};
}

test::Bytes BytesOf(const std::string& text) { return test::Bytes(text.begin(), text.end()); }

// A flat JSON object, each value as its text: strings unescaped (a \uDCxx escape back to the byte it
// stands for), other values as written. Empty when the line is no such object.
std::map<std::string, std::string> ParseObject(const std::string& line) {
  std::size_t i = 0;
  const auto at = [&](std::size_t k) { return k < line.size() ? line[k] : '\0'; };
  const auto string = [&](std::string& value) {
    if (at(i) != '"') return false;
    for (++i; i < line.size() && line[i] != '"'; ++i) {
      if (line[i] != '\\') {
        value += line[i];
        continue;
      }
      const char escape = at(++i);
      if (escape == 'u') {
        const unsigned long unit = std::stoul(line.substr(i + 1, 4), nullptr, 16);
        i += 4;
        if (unit >= 0xDC80 && unit <= 0xDCFF) {
          value += static_cast<char>(unit & 0xFF);
        } else if (unit < 0x80) {
          value += static_cast<char>(unit);
        } else {
          return false;
        }
      } else {
        value += escape == 'n' ? '\n' : escape == 't' ? '\t' : escape == 'r' ? '\r' : escape;
      }
    }
    return at(i++) == '"';
  };
  std::map<std::string, std::string> fields;
  if (at(i++) != '{') return {};
  while (at(i) != '}') {
    std::string key, value;
    if (!string(key) || at(i++) != ':') return {};
    if (at(i) == '"') {
      if (!string(value)) return {};
    } else {
      while (i < line.size() && at(i) != ',' && at(i) != '}') value += line[i++];
    }
    fields[key] = value;
    if (at(i) == ',') ++i;
    if (i >= line.size()) return {};
  }
  return i + 1 == line.size() ? fields : std::map<std::string, std::string>{};
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
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
      {{"convert", "-x", "-t", "8", "--stdout", "-"}, "unknown option '-x'"},
      {{"detect", "--to", "8", "a"}, "unknown option '--to'"},
      {{"convert", "-t", "8", "-o", "/x", "--stdout", "a"}, "--out DIR or --stdout, not both"},
      {{"convert", "-t", "8", "--stdout", "--json", "a"}, "--json cannot share standard output"},
      {{"convert", "-t", "8", "-o", "/x", "-"}, "standard input (-) has no name for a copy"},
      {{"convert", "-t", "8", "--stdout", "-", "-"}, "standard input (-) can be read once"},
      {{"convert", "-o"}, "--out needs a value"},
      {{"convert", "--to", "utf-32"}, "unknown target 'utf-32'"},
      {{"detect"}, "detect needs at least one PATH"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    CliRun run = Cli(c.args);
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
  }
  EXPECT_EQ(Cli({"--version"}).out, "ocelo-cli " OCELO_VERSION ".0\n");  // from the embedded block
  EXPECT_EQ(Cli({"-V"}).out, "ocelo-cli " OCELO_VERSION ".0\n");
}

// Every spelling of an option and every name of an encoding, through standard input and output.
TEST(Cli, OptionSpellingsAndEncodingNamesConvertAStream) {
  const test::Bytes kana_sjis = Hex("82 A0 0D 0A"), kana_utf8 = Hex("E3 81 82 0D 0A");
  const test::Bytes kana_utf16 = Hex("FF FE 42 30 0D 00 0A 00"), cafe = Hex("63 61 66 C3 A9");
  struct Case {
    std::vector<std::string> args;
    test::Bytes input;
    int status;
    test::Bytes out;
  };
  const Case cases[] = {
      {{"--to=utf-8", "--stdout", "-"}, kana_sjis, 0, kana_utf8},
      {{"-t", "UTF8", "-o", "-", "-"}, kana_sjis, 0, kana_utf8},
      {{"-t8", "-o-", "--", "-"}, kana_sjis, 0, kana_utf8},
      {{"--to", "utf-16LE", "--out=-", "-"}, kana_sjis, 0, kana_utf16},
      {{"-", "--stdout", "--to", "utf16"}, kana_utf8, 0, kana_utf16},  // options after the source
      {{"-t", "16", "--stdout", "-"}, kana_utf8, 0, kana_utf16},
      {{"-t", "Shift_JIS", "--stdout", "-"}, kana_utf8, 0, kana_sjis},
      {{"-t", "shift-jis", "--stdout", "-"}, kana_utf16, 0, kana_sjis},
      {{"-t", "SJIS", "--stdout", "-"}, kana_utf8, 0, kana_sjis},
      {{"-t", "cp932", "--stdout", "-"}, kana_utf8, 0, kana_sjis},
      {{"-t", "Windows-31J", "--stdout", "-"}, kana_utf8, 0, kana_sjis},
      {{"-t", "MS932", "--stdout", "-"}, kana_utf8, 0, kana_sjis},
      {{"-t", "74", "--stdout", "-"}, kana_utf8, 0, kana_sjis},
      {{"-t", "COPY", "--stdout", "-"}, kana_utf16, 0, kana_utf16},
      {{"-t", "0", "--stdout", "-"}, cafe, 0, cafe},
      {{"-t", "sjis", "--stdout", "-"}, cafe, 3, cafe},                  // é has no code page 932 form
      {{"-t", "utf-8", "--stdout", "-"}, Hex("50 4B 03 04 00"), 1, {}},  // not text: nothing written
      {{"-t", "utf-8", "--stdout", "-"}, {}, 0, {}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"convert"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    SCOPED_TRACE(c.args[0] + " " + c.args[1] + " " + test::ToHex(c.input));
    const CliRun run = Cli(args, c.input);
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_EQ(BytesOf(run.out), c.out);
    EXPECT_EQ(run.err.empty(), c.status == 0) << run.err;
  }
  // A file to standard output, after another: the texts one after the other, the problem told apart.
  const std::string root = test::TestFolder();
  test::WriteBytes(root + "/kana.txt", kana_sjis);
  const CliRun run = Cli({"convert", "-t", "utf-8", "--stdout", root + "/kana.txt", root + "/none.txt", "-"},
                         kana_sjis);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(BytesOf(run.out), Hex("E3 81 82 0D 0A E3 81 82 0D 0A"));
  EXPECT_EQ(run.err, "ocelo-cli: " + root + "/none.txt: unable to read: No such file or directory\n");
}

// --help on every command, and "--" before names that look like options.
TEST(Cli, HelpOnEveryCommandAndDoubleDashEndsOptions) {
  const std::string root = test::TestFolder();
  test::WriteBytes(root + "/-q", Hex("41"));
  test::WriteBytes(root + "/--help", Hex("82 A0"));
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(root);
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out;  // the start of standard output
  };
  const Case cases[] = {
      {{"--help"}, 0, "Usage:\n"},
      {{"-h"}, 0, "Usage:\n"},
      {{"convert", "--help"}, 0, "Usage: ocelo-cli convert"},
      {{"convert", "-t", "8", "-h"}, 0, "Usage: ocelo-cli convert"},
      {{"detect", "--help"}, 0, "Usage: ocelo-cli detect"},
      {{"detect", "-h", "x"}, 0, "Usage: ocelo-cli detect"},
      {{"detect", "--", "--help"}, 0, "--help: cp932 (74, Shift_JIS family), mark 0, text, declared none\n"},
      {{"detect", "--", "-q"}, 0, "-q: ASCII (65), mark 0, text, declared none\n"},
      {{"convert", "-t", "utf-16", "-o", "o", "--", "-q", "--help"}, 0, "-q: converted\n--help: converted\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.back());
    const CliRun run = Cli(c.args);
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_EQ(run.out.substr(0, c.out.size()), c.out);
    EXPECT_EQ(run.err, "");
  }
  EXPECT_EQ(test::ReadBytes(root + "/o/--help"), Hex("FF FE 42 30"));
  std::filesystem::current_path(previous);
}

// Exit codes 0, 1 and 3, --quiet, and --json read back field by field.
TEST(Cli, ExitStatusQuietAndJsonPerFile) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX names: a name holding a backslash and a byte that is not UTF-8, copies written with '/'";
#endif
  const std::string root = test::TestFolder();
  const std::string odd = root + "/a\"b\\c\xFF.txt";  // a quote, a backslash and a byte that is not UTF-8
  test::WriteBytes(root + "/kana.txt", Hex("82 A0"));
  test::WriteBytes(root + "/cafe.txt", Hex("63 61 66 C3 A9"));
  test::WriteBytes(root + "/image.bin", Hex("50 4B 03 04 00 00"));
  test::WriteBytes(odd, Hex("41"));
  const std::string out = root + "/out";

  CliRun quiet = Cli({"convert", "-q", "-t", "sjis", "-o", out, root + "/kana.txt", root + "/cafe.txt"});
  EXPECT_EQ(quiet.status, 3);
  EXPECT_EQ(quiet.out, "");
  EXPECT_EQ(quiet.err,
            "ocelo-cli: " + root + "/cafe.txt: copied unchanged: the target encoding would lose characters\n");
  CliRun done = Cli({"convert", "--quiet", "-t", "sjis", "-o", out, root + "/kana.txt"});
  EXPECT_EQ(done.status, 0);
  EXPECT_EQ(done.out + done.err, "");

  CliRun json = Cli({"convert", "--json", "-t", "sjis", "-o", out, root + "/kana.txt", root + "/cafe.txt",
                     root + "/image.bin", odd, root + "/none"});
  EXPECT_EQ(json.status, 1);
  EXPECT_EQ(json.err, "");
  const std::vector<std::string> lines = Lines(json.out);
  ASSERT_EQ(lines.size(), 5u) << json.out;
  struct Expected {
    std::string path, result, ok, reason, copy;
  };
  const Expected expected[] = {
      {root + "/kana.txt", "up-to-date", "true", "", out + "/kana.txt"},
      {root + "/cafe.txt", "copied-unchanged", "true", "", out + "/cafe.txt"},
      {root + "/image.bin", "not-text", "false", "", ""},
      {odd, "converted", "true", "", out + "/a\"b\\c\xFF.txt"},
      {root + "/none", "unreadable", "false", "No such file or directory", ""},
  };
  for (std::size_t i = 0; i < lines.size(); ++i) {
    SCOPED_TRACE(lines[i]);
    std::map<std::string, std::string> fields = ParseObject(lines[i]);
    EXPECT_EQ(fields["path"], expected[i].path);
    EXPECT_EQ(fields["result"], expected[i].result);
    EXPECT_EQ(fields["ok"], expected[i].ok);
    EXPECT_EQ(fields["reason"], expected[i].reason);
    EXPECT_EQ(fields["copy"], expected[i].copy);
    EXPECT_FALSE(fields["message"].empty());
  }

  CliRun detect = Cli({"detect", "--json", root + "/kana.txt", root + "/none"});
  EXPECT_EQ(detect.status, 1);
  const std::vector<std::string> found = Lines(detect.out);
  ASSERT_EQ(found.size(), 2u) << detect.out;
  std::map<std::string, std::string> kana = ParseObject(found[0]);
  EXPECT_EQ(kana["encoding"], "cp932");
  EXPECT_EQ(kana["family"], "Shift_JIS");
  EXPECT_EQ(kana["code"], "74");
  EXPECT_EQ(kana["mark"], "0");
  EXPECT_EQ(kana["text"], "true");
  EXPECT_EQ(kana["declared"], "null");
  std::map<std::string, std::string> none = ParseObject(found[1]);
  EXPECT_EQ(none["ok"], "false");
  EXPECT_EQ(none["reason"], "No such file or directory");
}

// The engine's diagnostic lines (the program-path notice of the first dump line) stay off the terminal.
TEST(Cli, NoDiagnosticNoiseWithoutVerbose) {
  const std::string root = test::TestFolder();
  testing::internal::CaptureStderr();
  const CliRun run = Cli({"convert", "-t", "8", "-o", root + "/out", root + "/none"});
  const std::string noise = testing::internal::GetCapturedStderr();
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(noise, "");
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
  EXPECT_EQ(run.out, root + "/kana.txt: converted\n" + root + "/last.txt: converted\n");
  EXPECT_EQ(run.err, "ocelo-cli: " + root + "/image.bin: not a text file\nocelo-cli: " + root +
                         "/cafe.txt: copied unchanged: the target encoding would lose characters\n");
  EXPECT_EQ(test::ReadBytes(out + "/kana.txt"), Hex("82 A0 82 A2"));
  EXPECT_EQ(test::ReadBytes(out + "/cafe.txt"), Hex("63 61 66 C3 A9"));
  EXPECT_FALSE(test::Exists(out + "/image.bin"));

  CliRun again = Cli({"convert", "--to", "74", "--out", out, root + "/kana.txt"});
  EXPECT_EQ(again.status, 0);
  EXPECT_EQ(again.out, root + "/kana.txt: up to date\n");
}

TEST(Cli, NeverConvertsInPlaceAndNeverOverwritesItsOwnCopy) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX links and names that differ only in letter case";
#endif
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
  const std::string e = "ocelo-cli: ";  // problems go to standard error
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out;
  };
  const Case cases[] = {
      {{"--to", "shift_jis", "--out", ".", "notes.txt"}, 1, e + "notes.txt" + same},
      {{"--to", "shift_jis", "--out", "./dir", "dir/a.txt"}, 1, e + "dir/a.txt" + same},
      {{"--to", "shift_jis", "--out", "dir", "dir//a.txt"}, 1, e + "dir//a.txt" + same},
      {{"--to", "shift_jis", "--out", "dir", "dir/../dir/a.txt"}, 1, e + "dir/../dir/a.txt" + same},
      {{"--to", "shift_jis", "--out", "link", "dir/a.txt"}, 1, e + "dir/a.txt" + same},
      {{"--to", "copy", "--out", "dir", "link/a.txt"}, 1, e + "link/a.txt" + same},
      {{"--to", "utf-16", "--out", "CS", "cs/x.txt"}, 0, "cs/x.txt: converted\n"},
      {{"--to", "copy", "--out", "o", "c1/x.txt", "c2/x.txt"},
       1,
       "c1/x.txt: copied\nocelo-cli: c2/x.txt: skipped: a file of the same name was written from c1/x.txt\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[3] + " " + c.args[4]);
    std::vector<std::string> args = {"convert"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const CliRun run = Cli(args);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.out + run.err, c.out);
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
  EXPECT_EQ(run.out, root + "/decl.xml: UTF-8 (8), mark 3, text, declared cp932 (74, Shift_JIS family)\n" + root +
                         "/sjis.txt: cp932 (74, Shift_JIS family), mark 0, text, declared none\n" + root +
                         "/zip.docx: ASCII (65), mark 0, not text, declared none\n");
  EXPECT_EQ(run.err, "ocelo-cli: " + root + "/none: unable to read: No such file or directory\n");
  const CliRun input = Cli({"detect", "-"}, Hex("FF FE 42 30"));
  EXPECT_EQ(input.status, 0);
  EXPECT_EQ(input.out, "-: UTF-16LE (16), mark 2, text, declared none\n");
}

}  // namespace
}  // namespace ocelo
