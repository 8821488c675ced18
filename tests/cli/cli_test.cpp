// ocelo-cli: options and encoding names, argument errors, standard input and output, one line per file
// with its outcome on the right stream, the exit status, --quiet, --json, detect's report.
#include "cli/cli.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>

#include <sys/stat.h>
#ifndef _WIN32
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif
#include <utime.h>

#include "encoding/stream.h"
#include "support/sandbox.h"
#include "util/dump.h"

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
    } else if (at(i) == '[') {  // an array, kept as written (no bracket inside its strings)
      for (int depth = 0; i < line.size() && (value.empty() || depth > 0); ++i) {
        depth += line[i] == '[' ? 1 : line[i] == ']' ? -1 : 0;
        value += line[i];
      }
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
      {{"detect", "-n", "a"}, "unknown option '-n'"},
      {{"detect", "--recursive", "a"}, "unknown option '--recursive'"},
      {{"convert", "-r", "-t", "8", "--stdout", "a"}, "--recursive mirrors folders into --out DIR"},
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
      {{"-t", "8", "-"}, kana_sjis, 0, kana_utf8},  // standard input alone: standard output by default
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

// Every spelling of the source's own folder, or of the source itself, is the source: on Windows also the
// other separator, letter case, trailing dots and spaces, the data stream's name and the \\?\ prefix.
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
#ifdef _WIN32
  std::string backslashed_root = root;  // a \\?\ path takes no '/'
  std::replace(backslashed_root.begin(), backslashed_root.end(), '/', '\\');
#else
  fs::create_directory_symlink(root + "/dir", root + "/link");
#endif
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
#ifdef _WIN32
      {{"--to", "shift_jis", "--out", ".\\", "notes.txt"}, 1, e + "notes.txt" + same},
      {{"--to", "shift_jis", "--out", "DIR\\..\\Dir", "dir\\A.TXT"}, 1, e + "dir\\A.TXT" + same},
      {{"--to", "shift_jis", "--out", ".", "notes.txt."}, 1, e + "notes.txt." + same},
      {{"--to", "shift_jis", "--out", ".", "notes.txt "}, 1, e + "notes.txt " + same},
      {{"--to", "shift_jis", "--out", ".", "notes.txt::$DATA"}, 1, e + "notes.txt::$DATA" + same},
      {{"--to", "copy", "--out", "\\\\?\\" + backslashed_root + "\\dir", "dir/a.txt"}, 1, e + "dir/a.txt" + same},
#else
      {{"--to", "shift_jis", "--out", "link", "dir/a.txt"}, 1, e + "dir/a.txt" + same},
      {{"--to", "copy", "--out", "dir", "link/a.txt"}, 1, e + "link/a.txt" + same},
      {{"--to", "utf-16", "--out", "CS", "cs/x.txt"}, 0, "cs/x.txt: converted\n"},
#endif
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

// A file is read in pieces and its declaration looked for only up to the end of its tenth line: whatever
// the pieces, the report is the one for the same bytes read whole from standard input.
TEST(Cli, DetectInPiecesTellsWhatTheWholeTextTells) {
  const std::string root = test::TestFolder();
  const std::string nine_lines = "1\n2\n3\n4\n5\n6\n7\n8\n9\n";
  const std::string long_line(100, 'x');
  struct Case {
    const char* description;
    test::Bytes bytes;
    const char* declared;  // as the whole read tells it
  };
  const Case cases[] = {
      {"a declaration on line 10", BytesOf(nine_lines + "<?xml encoding=\"Shift_JIS\"?>"),
       "cp932 (74, Shift_JIS family)"},
      {"a declaration on line 11", BytesOf(nine_lines + "\n<?xml encoding=\"Shift_JIS\"?>\n"), "none"},
      {"line 10 ends a CRLF text", BytesOf("a\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n<html charset=utf-8>\r\n"),
       "UTF-8 (8)"},
      {"a first line far longer than a piece", BytesOf(long_line + "<?xml encoding=\"utf-8\"?>" + long_line),
       "UTF-8 (8)"},
      {"a key without '=' takes the line's start", BytesOf("x\n<?xml encoding utf-8?>\n"), "UTF-8 (8)"},
      {"a key without '=' on a line starting with the value", BytesOf("\nutf-8 <html charset\n"), "UTF-8 (8)"},
      {"the first XML declaration names nothing: the HTML one counts",
       BytesOf("<html><meta charset=\"utf-8\">\n<?xml encoding=\"latin1\"?>\n<?xml encoding=\"sjis\"?>"), "UTF-8 (8)"},
      {"tag and key on different lines", BytesOf("<?xml\nencoding=\"utf-8\"?>"), "none"},
      {"a VRML header with utf8 on its line", BytesOf("#VRML V2.0 utf8\n"), "UTF-8 (8)"},
      {"utf8 on another line than the header", BytesOf("#X3D V3.0\nutf8\n"), "none"},
      {"UTF-16 with a zero byte, read twice",
       Hex("FF FE 3C 00 3F 00 78 00 6D 00 6C 00 20 00 65 00 6E 00 63 00 6F 00 64 00 "
           "69 00 6E 00 67 00 3D 00 75 00 74 00 66 00 2D 00 38 00 0A 00"),
       "UTF-8 (8)"},
      {"a zero byte ends the text before the declaration",
       Hex("61 0A 00 0A 3C 3F 78 6D 6C 20 65 6E 63 6F 64 69 6E 67 3D 75 74 66 38"), "none"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.description);
    const std::string path = root + "/f.txt";
    test::WriteBytes(path, c.bytes);
    const CliRun whole = Cli({"detect", "-"}, c.bytes);
    const CliRun whole_json = Cli({"detect", "--json", "-"}, c.bytes);
    ASSERT_EQ(whole.status, 0);
    EXPECT_NE(whole.out.find(std::string(", declared ") + c.declared + "\n"), std::string::npos) << whole.out;
    for (const std::size_t piece : {std::size_t{0}, std::size_t{1}, std::size_t{5}}) {
      SCOPED_TRACE("pieces of " + std::to_string(piece));
      SetStreamPieceBytes(piece);
      const CliRun file = Cli({"detect", path});
      const CliRun json = Cli({"detect", "--json", path});
      SetStreamPieceBytes(0);
      EXPECT_EQ(file.status, 0);
      EXPECT_EQ(file.out, path + whole.out.substr(1));
      EXPECT_EQ(json.out, "{\"path\":\"" + path + "\"" + whole_json.out.substr(std::string("{\"path\":\"-\"").size()));
    }
  }
}

// A file larger than the address space the process may use is detected all the same: it is never held whole.
TEST(Cli, DetectHoldsPiecesOfAFileLargerThanTheAddressSpaceAllowed) {
#if defined(_WIN32) || defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "an address-space limit in a forked child (the sanitizer's shadow memory cannot live under one)";
#else
  const std::size_t size = 64 << 20;
  const std::string path = test::TestFolder() + "/big.txt";
  test::Bytes bytes(size, 'a');
  const std::string head = "<?xml encoding=\"utf-8\"?>\n\x82\xA0";
  std::copy(head.begin(), head.end(), bytes.begin());
  bytes[size / 2] = 0;  // the text-file test reads the text too
  test::WriteBytes(path, bytes);
  bytes = {};
  const pid_t child = ::fork();
  ASSERT_NE(child, -1);
  if (child == 0) {
    unsigned long pages = 0;
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    if (!statm || std::fscanf(statm, "%lu", &pages) != 1) ::_exit(100);
    std::fclose(statm);
    rlimit limit{};
    limit.rlim_cur = limit.rlim_max = pages * ::sysconf(_SC_PAGESIZE) + size * 3 / 4;
    if (::setrlimit(RLIMIT_AS, &limit) != 0) ::_exit(101);
    const CliRun run = Cli({"detect", path});
    ::_exit(run.status != 0                                                                          ? 102
            : run.out == path + ": cp932 (74, Shift_JIS family), mark 0, text, declared UTF-8 (8)\n" ? 0
                                                                                                     : 103);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  EXPECT_EQ(WEXITSTATUS(status), 0);
#endif
}

// A dry run tells what the run then does, file by file with the same fields and exit status, and writes
// nothing: no copy, no backup, no folder, no temporary file.
TEST(Cli, DryRunTellsWhatTheRunThenDoesAndWritesNothing) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX paths in the lines told: '/' separators, and the sandbox's TMPDIR as the Rescue root";
#endif
  const std::string root = test::TestFolder();
  test::WriteBytes(root + "/kana.txt", Hex("82 A0"));
  test::WriteBytes(root + "/cafe.txt", Hex("63 61 66 C3 A9"));
  test::WriteBytes(root + "/image.bin", Hex("50 4B 03 04 00 00"));
  const std::string out = root + "/out";
  std::filesystem::create_directories(out);
  test::WriteText(out + "/kana.txt", "an older copy");
  utimbuf old_time{1700000000, 1700000000};
  ::utime((out + "/kana.txt").c_str(), &old_time);
  const std::string kana = root + "/kana.txt", cafe = root + "/cafe.txt";
  struct Case {
    std::string target, folder;
    std::vector<std::string> files;
    int status;
    std::string backups;  // 1 for each file whose older copy is backed up
  };
  const Case cases[] = {
      {"sjis", out, {kana, cafe, root + "/image.bin", root + "/none", kana}, 1, "10000"},
      {"utf-8", root + "/new/deeper", {kana, cafe}, 0, "00"},  // a folder the run makes
      {"sjis", out, {kana, cafe}, 3, "01"},                    // kana up to date, café copied unchanged again
      {"copy", out, {kana}, 0, "0"},                           // a copy replaces the older one without a backup
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target + " into " + c.folder);
    std::vector<std::string> args = {"convert", "--json", "-t", c.target, "-o", c.folder};
    args.insert(args.end(), c.files.begin(), c.files.end());
    std::vector<std::string> dry = args;
    dry.insert(dry.begin() + 1, "--dry-run");
    const std::map<std::string, std::string> before = test::TreeOf(test::SandboxRoot());
    const CliRun preview = Cli(dry);
    EXPECT_EQ(test::TreeOf(test::SandboxRoot()), before) << "the dry run wrote something";
    const CliRun real = Cli(args);
    EXPECT_EQ(preview.status, c.status) << preview.out;
    EXPECT_EQ(real.status, c.status) << real.out;
    const std::vector<std::string> told = Lines(preview.out), done = Lines(real.out);
    ASSERT_EQ(told.size(), c.files.size());
    ASSERT_EQ(done.size(), c.files.size());
    for (std::size_t i = 0; i < told.size(); ++i) {
      SCOPED_TRACE(told[i]);
      std::map<std::string, std::string> would = ParseObject(told[i]), did = ParseObject(done[i]);
      EXPECT_EQ(would["dry_run"], "true");
      EXPECT_EQ(did.count("dry_run"), 0u);
      for (const char* field : {"path", "result", "ok", "copy", "reason", "cause"}) {
        EXPECT_EQ(would[field], did[field]) << field;
      }
      // The backup the dry run named is the one the run made.
      EXPECT_EQ(would["backup"].empty(), c.backups[i] == '0');
      if (!would["backup"].empty()) {
        EXPECT_TRUE(test::Exists(would["backup"]));
      }
    }
  }

  // The text lines: where the copy goes and where the older copy would be backed up.
  test::WriteText(out + "/kana.txt", "an older copy");
  ::utime((out + "/kana.txt").c_str(), &old_time);
  const std::string stamp = test::U8(FormatTime(1700000000, u"%Y%m%d_%H%M%S."));
  const CliRun told = Cli({"convert", "-n", "-t", "utf-8", "-o", out, kana, cafe, root + "/new"});
  EXPECT_EQ(told.status, 1);
  EXPECT_EQ(told.out, kana + ": would be converted to " + out + "/kana.txt; the existing copy would be backed up to " +
                          test::SandboxRoot() + "/tmp/Rescue" + out + "/" + stamp + "kana.txt\n" + cafe +
                          ": up to date, left alone: " + out + "/cafe.txt\n");
  EXPECT_EQ(told.err, "ocelo-cli: " + root + "/new: skipped: a folder (--recursive converts its files)\n");
  const CliRun lossy = Cli({"convert", "-n", "-t", "sjis", "--stdout", cafe});
  EXPECT_EQ(lossy.status, 3);
  EXPECT_EQ(lossy.out, "");
  EXPECT_EQ(lossy.err,
            "ocelo-cli: " + cafe + ": would be copied unchanged: the target encoding would lose characters\n");
  EXPECT_EQ(Cli({"convert", "-n", "-t", "utf-8", "--stdout", "-"}, Hex("82 A0")).out, "-: would be converted\n");
}

// --show-lost lists each character the target cannot hold, with its line and column, the first 20 of a file.
TEST(Cli, ShowLostListsWhatTheTargetCannotHoldWhereItStands) {
  std::string text =
      "n\xC3\xA9"
      "e\r\nx\xE2\x82\xAC\xC3\xBC\n";  // "née", "x€ü", then 22 é
  for (int i = 0; i < 22; ++i) text += "\xC3\xA9";
  std::string listed = "1:2: U+00E9 \xC3\xA9\n2:2: U+20AC \xE2\x82\xAC\n2:3: U+00FC \xC3\xBC\n";
  for (int column = 1; column <= 17; ++column) listed += "3:" + std::to_string(column) + ": U+00E9 \xC3\xA9\n";
  // Each line of the list with the file's path in front.
  const auto list = [&](const std::string& path) {
    std::string lines;
    for (const std::string& line : Lines(listed)) lines += path + ":" + line + "\n";
    return lines + path + ": \xE2\x80\xA6 and 5 more\n";
  };
  const std::string root = test::TestFolder();
  const std::string file = root + "/lossy.txt", out = root + "/out";
  test::WriteText(file, text);
  test::Bytes cut(1000, 'a');  // a text with one zero byte at 60 %: it passes the text test
  cut[600] = 0;
  test::WriteBytes(root + "/cut.txt", cut);
  const std::string unchanged = ": copied unchanged: the target encoding would lose characters\n";
  struct Case {
    std::vector<std::string> args;
    std::string err;
  };
  const Case cases[] = {
      {{"-t", "sjis", "--stdout", "--show-lost", "-"}, "ocelo-cli: -" + unchanged + list("-")},
      {{"-n", "-t", "sjis", "--stdout", "--show-lost", "-"},
       "ocelo-cli: -: would be copied unchanged: the target encoding would lose characters\n" + list("-")},
      {{"-t", "sjis", "-o", out, "--show-lost", file}, "ocelo-cli: " + file + unchanged + list(file)},
      {{"-q", "-t", "sjis", "-o", out, "--show-lost", file}, "ocelo-cli: " + file + unchanged + list(file)},
      {{"-t", "sjis", "-o", out, file}, "ocelo-cli: " + file + unchanged},
      {{"-t", "utf-8", "-o", out, "--show-lost", file}, ""},
      {{"-t", "utf-16", "-o", out, "--show-lost", root + "/cut.txt"},
       "ocelo-cli: " + root + "/cut.txt" + unchanged + root + "/cut.txt:1:601: a zero byte ends the text here\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1] + " " + c.args.back());
    std::vector<std::string> args = {"convert"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const CliRun run = Cli(args, BytesOf(text));
    EXPECT_EQ(run.status, c.err.empty() ? 0 : 3);
    EXPECT_EQ(run.err, c.err);
  }
  const CliRun json = Cli({"convert", "-n", "--json", "--show-lost", "-t", "sjis", "-o", out, file});
  EXPECT_EQ(json.status, 3);
  std::map<std::string, std::string> fields = ParseObject(json.out.substr(0, json.out.size() - 1));
  EXPECT_EQ(fields["result"], "copied-unchanged");
  EXPECT_EQ(fields["cause"], "lost-characters");
  EXPECT_EQ(fields["lost_count"], "25");
  EXPECT_EQ(fields["lost"].rfind("[{\"line\":1,\"column\":2,\"code\":\"U+00E9\",\"char\":\"\xC3\xA9\"},", 0), 0u);
  EXPECT_EQ(std::count(fields["lost"].begin(), fields["lost"].end(), '{'), 20);
}

// -r: a folder's files into a mirrored tree under DIR/NAME; what is not text is left out without failing
// the run; no link to a folder is followed, and the output folder inside the tree is never walked, so a
// second run finds every copy up to date.
TEST(Cli, RecursiveMirrorsAFolderAndNeverFeedsOnItsOwnOutput) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX links, a pipe among the files and folder permissions";
#else
  namespace fs = std::filesystem;
  const std::string root = test::TestFolder();
  const test::Bytes kana = Hex("82 A0"), zip = Hex("50 4B 03 04 00 00");
  for (const char* name : {"src/a.txt", "src/sub/b.txt", "src/sub/deeper/c.txt", "elsewhere/x.txt"}) {
    fs::create_directories(fs::path(root + "/" + name).parent_path());
    test::WriteBytes(root + "/" + name, kana);
  }
  fs::create_directories(root + "/src/pics");
  test::WriteBytes(root + "/src/img.bin", zip);
  test::WriteBytes(root + "/src/pics/only.bin", zip);
  fs::create_directory_symlink(root + "/src", root + "/src/loop");
  fs::create_directory_symlink(root + "/elsewhere", root + "/src/outside");
  fs::create_symlink(root + "/elsewhere/x.txt", root + "/src/file-link.txt");
  ASSERT_EQ(::mkfifo((root + "/src/fifo").c_str(), 0600), 0);
  const fs::path previous = fs::current_path();
  fs::current_path(root);
  const std::string mirror = root + "/src/out/src";

  const std::map<std::string, std::string> before = test::TreeOf(root);
  const CliRun dry = Cli({"convert", "-n", "-r", "-t", "utf-8", "-o", "src/out", "src/"});
  EXPECT_EQ(test::TreeOf(root), before) << "the dry run wrote something";
  EXPECT_EQ(dry.status, 0) << dry.err;
  EXPECT_EQ(dry.out.find("src/a.txt: would be converted to " + mirror + "/a.txt\n"), 0u) << dry.out;
  EXPECT_NE(dry.out.find("src/sub/deeper/c.txt: would be converted to " + mirror + "/sub/deeper/c.txt\n"),
            std::string::npos)
      << dry.out;

  const std::string converted =
      "src/a.txt: converted\n"
      "src/fifo: left out: not a regular file\n"
      "src/file-link.txt: converted\n"
      "src/img.bin: left out: not a text file\n"
      "src/loop: left out: a link to a folder\n"
      "src/outside: left out: a link to a folder\n"
      "src/pics/only.bin: left out: not a text file\n"
      "src/sub/b.txt: converted\n"
      "src/sub/deeper/c.txt: converted\n";
  const CliRun run = Cli({"convert", "--recursive", "-t", "utf-8", "-o", "src/out", "src"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, converted);
  EXPECT_EQ(run.err, "");
  for (const char* name : {"a.txt", "sub/b.txt", "sub/deeper/c.txt", "file-link.txt"}) {
    EXPECT_EQ(test::ReadBytes(mirror + "/" + name), Hex("E3 81 82")) << name;
  }
  for (const char* name : {"img.bin", "pics", "loop", "outside", "fifo", "out"}) {
    EXPECT_FALSE(test::Exists(mirror + "/" + name)) << name;
  }
  EXPECT_EQ(test::ReadBytes(root + "/src/a.txt"), kana);

  std::string again = converted;
  for (std::size_t at; (at = again.find(": converted")) != std::string::npos;) again.replace(at, 11, ": up to date");
  const CliRun second = Cli({"convert", "-r", "-t", "utf-8", "-o", "src/out", "src"});
  EXPECT_EQ(second.out, again);
  EXPECT_FALSE(test::Exists(mirror + "/out"));

  const CliRun json = Cli({"convert", "-r", "--json", "-q", "-t", "sjis", "-o", "src/out", "src"});
  EXPECT_EQ(json.status, 0);
  EXPECT_EQ(json.out, "") << "left-out entries are no problem";
  const CliRun listed = Cli({"convert", "-r", "--json", "-t", "sjis", "-o", "o2", "src/pics"});
  std::map<std::string, std::string> fields = ParseObject(listed.out.substr(0, listed.out.size() - 1));
  EXPECT_EQ(fields["path"], "src/pics/only.bin");
  EXPECT_EQ(fields["result"], "not-text");
  EXPECT_EQ(fields["ok"], "true");
  EXPECT_EQ(fields["left_out"], "true");
  EXPECT_FALSE(test::Exists(root + "/o2/pics")) << "a folder made for no file";

  fs::permissions(root + "/src/sub/deeper", fs::perms::none);
  const CliRun unreadable = Cli({"convert", "-r", "-t", "utf-8", "-o", "o3", "src/sub"});
  fs::permissions(root + "/src/sub/deeper", fs::perms::owner_all);
  if (::geteuid() != 0) {
    EXPECT_EQ(unreadable.status, 1);
    EXPECT_EQ(unreadable.err, "ocelo-cli: src/sub/deeper: unable to read the folder: Permission denied\n");
  }
  fs::current_path(previous);
#endif
}

}  // namespace
}  // namespace ocelo
