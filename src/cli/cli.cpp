// ocelo-cli: argument parsing, the convert and detect commands, and the progress line.
#include "cli/cli.h"

#include <getopt.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "base/ascii.h"
#include "base/paths.h"
#include "base/utf.h"
#include "cli/walk.h"
#include "encoding/convert.h"
#include "encoding/decode.h"
#include "encoding/detect.h"
#include "encoding/preview.h"
#include "encoding/text_file.h"
#include "platform/fs.h"
#include "platform/system.h"
#include "util/dump.h"
#include "util/file_list.h"
#include "util/file_status.h"
#include "util/folders.h"
#include "util/strings.h"
#include "version/version_info.h"

namespace ocelo {
namespace {

constexpr const char* kConvertHelp =
    "Usage: ocelo-cli convert -t TARGET (-o DIR | --stdout) [-n] [--show-lost] [-r] [-q] [--json] [-v] [--] PATH...\n"
    "  Writes a converted copy of each text file into DIR under the same name (DIR is created when\n"
    "  missing). An existing copy is backed up into the Rescue folder first (not for copy), a copy that is\n"
    "  up to date is left alone, a file whose characters the target cannot hold is copied unchanged, and\n"
    "  every copy gets its source's modification time. PATH - reads standard input (with --stdout only;\n"
    "  a lone - with no DIR writes to standard output).\n"
    "  -t, --to=TARGET  copy or 0; utf-8, utf8 or 8 (no mark); utf-16, utf-16le, utf16 or 16 (little-endian\n"
    "                   with mark); shift_jis, shift-jis, sjis, cp932, windows-31j, ms932 or 74 (code page\n"
    "                   932). Letter case is ignored.\n"
    "  -o, --out=DIR    the folder of the copies; -o - is --stdout\n"
    "      --stdout     write the converted text to standard output instead (no backup, no time kept)\n"
    "  -n, --dry-run    write nothing (no copy, backup, folder or temporary file) and tell for each file\n"
    "                   what would happen: converted, up to date, copied, copied unchanged and why, not\n"
    "                   text, same path, unreadable; with the copy's path and the Rescue path an existing\n"
    "                   copy would be backed up to. The exit status is the one a real run would give.\n"
    "      --show-lost  for each file copied unchanged (or that would be), list on standard error the\n"
    "                   characters the target cannot hold, the first 20 of each file, one a line:\n"
    "                   PATH:LINE:COLUMN: U+20AC € (LINE and COLUMN count from 1, COLUMN in characters,\n"
    "                   not bytes), or PATH:LINE:COLUMN: a zero byte ends the text here\n"
    "  -r, --recursive  a PATH that is a folder: convert its files into DIR/NAME, NAME the folder's own\n"
    "                   name, its sub-folders mirrored. Files that are not text are left out and reported\n"
    "                   without failing the run; links to folders are not followed (a link to a file is\n"
    "                   read as the file); DIR is never walked, even inside the folder.\n"
    "  -q, --quiet      report problems only\n"
    "      --json       one JSON object per file on standard output: path, result, ok (false when the\n"
    "                   file fails the run), message, and when set: reason (the system's error text), copy\n"
    "                   (the copy's path), left_out, cause (of a copy unchanged: lost-characters,\n"
    "                   zero-byte, reads-back-otherwise); dry_run and backup with -n; lost_count and lost\n"
    "                   (line, column, code, char) or cut_line and cut_column with --show-lost\n"
    "  -v, --verbose    let the engine's diagnostic lines through to standard error\n"
    "  -h, --help       this text\n"
    "  Each file gets one line \"PATH: RESULT\": converted, up to date, copied or left out on standard output\n"
    "  (\"would be converted to COPY\" and so on with -n);\n"
    "  problems on standard error as \"ocelo-cli: PATH: PROBLEM[: REASON]\".\n";

constexpr const char* kDetectHelp =
    "Usage: ocelo-cli detect [-q] [--json] [-v] [--] PATH...\n"
    "  Reports each file's encoding as found from its bytes (PATH - reads standard input), one line each:\n"
    "    PATH: NAME (CODE), mark M, text|not text, declared NAME (CODE)|none\n"
    "  NAME is a name iconv takes: UTF-8, UTF-16LE, UTF-16BE, UTF-32LE, UTF-32BE, ASCII, or cp932 for\n"
    "  code page 932 text, written \"cp932 (74, Shift_JIS family)\"; unknown (0) when nothing fits. M is the\n"
    "  length of the byte order mark; text is the result of the text-file test; declared is the encoding\n"
    "  the text declares in its first ten lines.\n"
    "  -q, --quiet      report problems only\n"
    "      --json       one JSON object per file: path, ok, encoding, family, code, mark, text, declared,\n"
    "                   declared_code; or path, ok false, message, reason\n"
    "  -v, --verbose    let the engine's diagnostic lines through to standard error\n"
    "  -h, --help       this text\n";

constexpr const char* kUsage =
    "Usage:\n"
    "  ocelo-cli convert -t TARGET (-o DIR | --stdout) [-n] [--show-lost] [-r] [-q] [--json] [-v] [--] PATH...\n"
    "  ocelo-cli detect [-q] [--json] [-v] [--] PATH...\n"
    "  ocelo-cli -h | --help | -V | --version\n"
    "  ocelo-cli COMMAND --help tells more of each command.\n"
    "Exit status: 0 all done; 1 some file failed; 2 bad arguments; 3 some file was copied unchanged\n"
    "because the target cannot hold its characters (and none failed).\n";

std::string Native(std::u16string_view path) { return sys::ToNativePath(path); }

std::u16string FromArg(const std::string& arg) { return sys::FromNativePath(arg); }

// The name iconv knows an encoding by, and the family it belongs to.
const char* KindName(EncodingKind kind) {
  switch (kind) {
    case kind::Copy: return "unknown";
    case kind::Utf8: return "UTF-8";
    case kind::Utf16Le: return "UTF-16LE";
    case kind::Utf16Be: return "UTF-16BE";
    case kind::Utf32Le: return "UTF-32LE";
    case kind::Utf32Be: return "UTF-32BE";
    case kind::Ascii: return "ASCII";
    case kind::ShiftJis: return "cp932";
    default: return "?";
  }
}

const char* KindFamily(EncodingKind kind) { return kind == kind::ShiftJis ? "Shift_JIS" : KindName(kind); }

// "UTF-8 (8)", "cp932 (74, Shift_JIS family)".
std::string KindText(EncodingKind kind) {
  std::string text = std::string(KindName(kind)) + " (" + std::to_string(kind);
  if (kind == kind::ShiftJis) text += ", Shift_JIS family";
  return text + ")";
}

std::optional<EncodingKind> ParseTarget(const std::string& text) {
  struct Name {
    const char* name;
    EncodingKind kind;
  };
  static const Name kNames[] = {{"copy", kind::Copy},
                                {"0", kind::Copy},
                                {"utf-8", kind::Utf8},
                                {"utf8", kind::Utf8},
                                {"8", kind::Utf8},
                                {"utf-16", kind::Utf16Le},
                                {"utf-16le", kind::Utf16Le},
                                {"utf16", kind::Utf16Le},
                                {"16", kind::Utf16Le},
                                {"shift_jis", kind::ShiftJis},
                                {"shift-jis", kind::ShiftJis},
                                {"sjis", kind::ShiftJis},
                                {"cp932", kind::ShiftJis},
                                {"windows-31j", kind::ShiftJis},
                                {"ms932", kind::ShiftJis},
                                {"74", kind::ShiftJis}};
  const std::string lower = ToLowerAscii(text);
  for (const Name& n : kNames) {
    if (lower == n.name) return n.kind;
  }
  return std::nullopt;
}

const char* Describe(FileResult result) {
  switch (result) {
    case FileResult::kConverted: return "converted";
    case FileResult::kUpToDate: return "up to date";
    case FileResult::kCopied: return "copied";
    case FileResult::kPlainCopy: return "copied unchanged: the target encoding would lose characters";
    case FileResult::kNotText: return "not a text file";
    case FileResult::kSamePath: return "same path: the file already lies where its copy would go";
    case FileResult::kUnreadable: return "unable to read";
    case FileResult::kUnableToSave: return "unable to save";
    case FileResult::kBackupFailed: return "could not back up the existing copy";
  }
  return "?";
}

// The stable word of a result in --json.
const char* ResultKey(FileResult result) {
  switch (result) {
    case FileResult::kConverted: return "converted";
    case FileResult::kUpToDate: return "up-to-date";
    case FileResult::kCopied: return "copied";
    case FileResult::kPlainCopy: return "copied-unchanged";
    case FileResult::kNotText: return "not-text";
    case FileResult::kSamePath: return "same-path";
    case FileResult::kUnreadable: return "unreadable";
    case FileResult::kUnableToSave: return "unable-to-save";
    case FileResult::kBackupFailed: return "backup-failed";
  }
  return "?";
}

// Why a path cannot be read, as the system says it: the error of its status, else of opening it; 0 when
// both work (the reading itself failed, or the file is a device).
int ReadError(std::u16string_view path) {
  const FileStatus status(path);
  if (status.Failed()) return status.Error();
  int error = 0;
  if (std::FILE* stream = OpenFile(path, "rb", error)) std::fclose(stream);
  return error;
}

// Standard input, whole, up to the size a conversion can hold (a quarter of the machine's memory).
FileContent ReadInput(std::istream& in) {
  const std::uint64_t memory = sys::PhysicalMemory();
  const std::uint64_t limit = memory != 0 ? memory / 4 : UINT64_MAX;
  FileContent unread;  // readable stays false
  unread.exists = true;
  std::vector<std::uint8_t> bytes;
  try {
    char piece[1 << 16];
    while (in.read(piece, sizeof piece) || in.gcount() > 0) {
      const auto count = static_cast<std::size_t>(in.gcount());
      if (bytes.size() + count > limit) return unread;
      bytes.insert(bytes.end(), piece, piece + count);
    }
  } catch (const std::bad_alloc&) {
    return unread;
  }
  if (in.bad()) return unread;
  return ContentOfBytes(std::move(bytes));
}

// A one-line progress report on a terminal: the file in work, shown once the run has taken more than half a
// second (so a single large file shows it too), and cleared before each result line.
class Progress {
 public:
  Progress(std::size_t total, bool shown) : total_(total), start_(std::chrono::steady_clock::now()) {
    if (shown && sys::StandardErrorIsTerminal()) ticker_ = std::thread([this] { Tick(); });
  }
  ~Progress() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
      EraseLine();
    }
    wake_.notify_all();
    if (ticker_.joinable()) ticker_.join();
  }
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  void Step(std::size_t index, std::u16string_view path) {
    std::string name = Native(FileName(path));
    if (name.size() > 50) name = name.substr(0, 47) + "...";
    std::lock_guard<std::mutex> lock(mutex_);
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
// GCC 12 warns of an overlapping copy inside the inlined concatenation of a literal, a new string and a
// literal (GCC bug 105651); the strings are distinct buffers.
#pragma GCC diagnostic ignored "-Wrestrict"
#endif
    line_ = "[" + std::to_string(index + 1) + "/" + std::to_string(total_) + "] " + name;
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
  }

  void Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    line_.clear();
    EraseLine();
  }

 private:
  void Tick() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_) {
      wake_.wait_for(lock, std::chrono::milliseconds(100));
      if (stop_ || line_.empty() || line_ == shown_) continue;
      if (std::chrono::steady_clock::now() - start_ < std::chrono::milliseconds(500)) continue;
      std::fprintf(stderr, "\r\033[K%s", line_.c_str());
      std::fflush(stderr);
      shown_ = line_;
    }
  }

  void EraseLine() {
    if (shown_.empty()) return;
    std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
    shown_.clear();
  }

  const std::size_t total_;
  const std::chrono::steady_clock::time_point start_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::string line_;   // the file in work
  std::string shown_;  // what the terminal shows now
  bool stop_ = false;
  std::thread ticker_;
};

}  // namespace

std::string JsonString(std::u16string_view text) {
  std::string json = "\"";
  const char16_t* p = text.data();
  const char16_t* const end = p + text.size();
  while (p < end) {
    const DecodedChar c = DecodeUtf16Char(p, end);
    p += c.length;
    char escape[8];
    if (!c.valid) {
      // A lone surrogate (a byte of a name that is not UTF-8) keeps its escape.
      std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(c.code_point));
      json += escape;
    } else if (c.code_point == u'"' || c.code_point == u'\\') {
      json += '\\';
      json += static_cast<char>(c.code_point);
    } else if (c.code_point == u'\n') {
      json += "\\n";
    } else if (c.code_point == u'\t') {
      json += "\\t";
    } else if (c.code_point == u'\r') {
      json += "\\r";
    } else if (c.code_point < 0x20 || c.code_point == 0x7F) {
      std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(c.code_point));
      json += escape;
    } else {
      AppendUtf8(json, c.code_point);
    }
  }
  return json + "\"";
}

namespace {

// The command line of one command, parsed with getopt_long.
struct Options {
  std::optional<EncodingKind> target;
  std::optional<std::string> out;
  bool to_stdout = false;
  bool quiet = false;
  bool json = false;
  bool verbose = false;
  bool help = false;
  bool dry_run = false;
  bool show_lost = false;
  bool recursive = false;
  std::vector<std::string> paths;
};

enum : int { kStdoutOption = 1000, kJsonOption, kShowLostOption };

// Parses the options of `command` (convert takes -t and -o, detect neither); 0, or 2 with the reason on `err`.
int ParseOptions(const std::string& command, const std::vector<std::string>& args, Options& options,
                 std::ostream& err) {
  const bool convert = command == "convert";
  std::vector<option> longs = {{"quiet", no_argument, nullptr, 'q'},
                               {"json", no_argument, nullptr, kJsonOption},
                               {"verbose", no_argument, nullptr, 'v'},
                               {"help", no_argument, nullptr, 'h'}};
  if (convert) {
    longs.push_back({"to", required_argument, nullptr, 't'});
    longs.push_back({"out", required_argument, nullptr, 'o'});
    longs.push_back({"stdout", no_argument, nullptr, kStdoutOption});
    longs.push_back({"dry-run", no_argument, nullptr, 'n'});
    longs.push_back({"show-lost", no_argument, nullptr, kShowLostOption});
    longs.push_back({"recursive", no_argument, nullptr, 'r'});
  }
  longs.push_back({nullptr, 0, nullptr, 0});
  const char* shorts = convert ? ":t:o:nrqvh" : ":qvh";
  // getopt_long permutes its array, so it gets copies; optind 0 starts it afresh on every run.
  std::vector<std::string> words = {"ocelo-cli " + command};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const int argc = static_cast<int>(words.size());
  optind = 0;
  opterr = 0;
  int c = 0;
  while ((c = getopt_long(argc, argv.data(), shorts, longs.data(), nullptr)) != -1) {
    switch (c) {
      case 't':
        options.target = ParseTarget(optarg);
        if (!options.target) {
          err << "ocelo-cli: unknown target '" << optarg
              << "' (use copy, utf-8, utf-16, shift_jis or cp932, or 0, 8, 16, 74)\n";
          return 2;
        }
        break;
      case 'o':
        if (std::string_view(optarg) == "-") {
          options.to_stdout = true;
        } else {
          options.out = optarg;
        }
        break;
      case kStdoutOption: options.to_stdout = true; break;
      case kJsonOption: options.json = true; break;
      case 'n': options.dry_run = true; break;
      case kShowLostOption: options.show_lost = true; break;
      case 'r': options.recursive = true; break;
      case 'q': options.quiet = true; break;
      case 'v': options.verbose = true; break;
      case 'h': options.help = true; break;
      case ':':
        err << "ocelo-cli: "
            << (optopt == 't'   ? "--to"
                : optopt == 'o' ? "--out"
                                : argv[optind - 1])
            << " needs a value\n";
        return 2;
      default: {
        const std::string bad = optopt != 0 ? std::string("-") + static_cast<char>(optopt) : argv[optind - 1];
        err << "ocelo-cli: unknown option '" << bad << "' for " << command << " (see ocelo-cli " << command
            << " --help)\n";
        return 2;
      }
    }
  }
  for (int i = optind; i < argc; ++i) options.paths.emplace_back(argv[i]);
  return 0;
}

// The exit status of a run: a failure outweighs an unchanged copy.
int ExitStatus(bool failed, bool unchanged) { return failed ? 1 : unchanged ? 3 : 0; }

// How many lost characters --show-lost lists for one file.
constexpr std::size_t kLostShown = 20;

// One file's report: a result on `out`, a problem on `err` with its reason, or one JSON object on `out`.
struct Report {
  std::string path;  // as given
  FileResult result = FileResult::kConverted;
  std::string message;        // when not the result's own text
  const char* key = nullptr;  // the JSON result word, when not the result's own ("skipped" with a message)
  int error = 0;              // the system's error number, when known
  bool left_out = false;      // an entry of a walked folder that is not converted, which fails nothing
  bool dry_run = false;
  std::u16string copy;    // the copy's path, once written (or, in a dry run, where it would be)
  std::u16string backup;  // in a dry run, where the existing copy would be backed up
  PlainCopyCause cause = PlainCopyCause::kNone;
  bool show_lost = false;  // list the lost characters (or where a zero byte cut the text)
  LostCharacters lost;
  TextPosition cut;  // where a zero byte ends the text
};

// True when the report makes the run fail (exit status 1).
bool Fails(const Report& report) { return !report.left_out && (!Succeeded(report.result) || !report.message.empty()); }

const char* CauseKey(PlainCopyCause cause) {
  switch (cause) {
    case PlainCopyCause::kLostCharacters: return "lost-characters";
    case PlainCopyCause::kZeroByte: return "zero-byte";
    case PlainCopyCause::kReadsBackOtherwise: return "reads-back-otherwise";
    case PlainCopyCause::kNone: break;
  }
  return "";
}

const char* CauseText(PlainCopyCause cause) {
  switch (cause) {
    case PlainCopyCause::kZeroByte: return "a zero byte ends the text before the end of the file";
    case PlainCopyCause::kReadsBackOtherwise: return "the converted text would not read back the same";
    case PlainCopyCause::kLostCharacters:
    case PlainCopyCause::kNone: break;
  }
  return "the target encoding would lose characters";
}

// What a dry run says of a file: what would happen, where the copy would go, where the backup would go.
std::string DryRunText(const Report& report) {
  std::string text;
  switch (report.result) {
    case FileResult::kConverted: text = "would be converted"; break;
    case FileResult::kUpToDate: text = "up to date, left alone"; break;
    case FileResult::kCopied: text = "would be copied"; break;
    case FileResult::kPlainCopy: text = "would be copied unchanged"; break;
    case FileResult::kUnableToSave: return "unable to save: a folder lies where the copy would go";
    case FileResult::kBackupFailed: return "the existing copy could not be backed up: it has no Rescue folder";
    default: return Describe(report.result);
  }
  if (!report.copy.empty()) text += (report.result == FileResult::kUpToDate ? ": " : " to ") + Native(report.copy);
  if (report.result == FileResult::kPlainCopy) text += std::string(": ") + CauseText(report.cause);
  if (!report.backup.empty()) text += "; the existing copy would be backed up to " + Native(report.backup);
  return text;
}

// "U+20AC €"; a lone surrogate has its number only.
std::string CharacterText(char32_t code_point) {
  char number[16];
  std::snprintf(number, sizeof number, "U+%04X", static_cast<unsigned>(code_point));
  std::string text = number;
  if (!IsSurrogate(code_point)) {
    text += ' ';
    AppendUtf8(text, code_point);
  }
  return text;
}

void PrintJson(const Report& report, bool ok, const std::string& message, std::ostream& out) {
  const char* key = report.key ? report.key : report.message.empty() ? ResultKey(report.result) : "skipped";
  out << "{\"path\":" << JsonString(FromArg(report.path)) << ",\"result\":\"" << key
      << "\",\"ok\":" << (ok ? "true" : "false") << ",\"message\":" << JsonString(FromArg(message));
  if (report.error != 0) out << ",\"reason\":" << JsonString(FromArg(std::strerror(report.error)));
  if (!report.copy.empty() && Succeeded(report.result)) out << ",\"copy\":" << JsonString(report.copy);
  if (report.left_out) out << ",\"left_out\":true";
  if (report.dry_run) out << ",\"dry_run\":true";
  if (!report.backup.empty()) out << ",\"backup\":" << JsonString(report.backup);
  if (report.cause != PlainCopyCause::kNone) out << ",\"cause\":\"" << CauseKey(report.cause) << "\"";
  if (report.show_lost && report.cause == PlainCopyCause::kLostCharacters) {
    out << ",\"lost_count\":" << report.lost.count << ",\"lost\":[";
    for (std::size_t i = 0; i < report.lost.first.size(); ++i) {
      const LostCharacter& c = report.lost.first[i];
      std::string glyph;
      if (!IsSurrogate(c.code_point)) AppendUtf8(glyph, c.code_point);
      char number[16];
      std::snprintf(number, sizeof number, "U+%04X", static_cast<unsigned>(c.code_point));
      out << (i == 0 ? "" : ",") << "{\"line\":" << c.position.line << ",\"column\":" << c.position.column
          << ",\"code\":\"" << number << "\",\"char\":" << JsonString(FromArg(glyph)) << "}";
    }
    out << "]";
  }
  if (report.show_lost && report.cause == PlainCopyCause::kZeroByte) {
    out << ",\"cut_line\":" << report.cut.line << ",\"cut_column\":" << report.cut.column;
  }
  out << "}\n";
}

// The lost characters (or the zero byte) of a file copied unchanged, one line each on `err`, as compilers
// place their messages: PATH:LINE:COLUMN: what.
void PrintLost(const Report& report, std::ostream& err) {
  if (!report.show_lost) return;
  if (report.cause == PlainCopyCause::kZeroByte) {
    err << report.path << ":" << report.cut.line << ":" << report.cut.column << ": a zero byte ends the text here\n";
  }
  if (report.cause != PlainCopyCause::kLostCharacters) return;
  for (const LostCharacter& c : report.lost.first) {
    err << report.path << ":" << c.position.line << ":" << c.position.column << ": " << CharacterText(c.code_point)
        << "\n";
  }
  if (report.lost.count > report.lost.first.size()) {
    err << report.path << ": \u2026 and " << report.lost.count - report.lost.first.size() << " more\n";
  }
}

void Print(const Options& options, const Report& report, std::ostream& out, std::ostream& err) {
  const bool ok = !Fails(report);
  const bool problem = !ok || report.result == FileResult::kPlainCopy;
  if (options.quiet && !problem) return;
  const std::string message = !report.message.empty() ? report.message
                              : report.dry_run        ? DryRunText(report)
                                                      : Describe(report.result);
  if (options.json) {
    PrintJson(report, ok, message, out);
    return;
  }
  if (!problem) {
    out << report.path << ": " << message << "\n";
    return;
  }
  err << "ocelo-cli: " << report.path << ": " << message;
  if (report.error != 0) err << ": " << std::strerror(report.error);
  err << "\n";
  PrintLost(report, err);
}

// Why a file was copied unchanged, and with --show-lost its lost characters or the zero byte.
void Explain(const Options& options, const FileContent& content, Report& report) {
  if (report.result != FileResult::kPlainCopy) return;
  report.show_lost = options.show_lost;
  if (report.cause == PlainCopyCause::kNone) report.cause = CauseOfPlainCopy(*options.target, content);
  if (!options.show_lost) return;
  if (report.cause == PlainCopyCause::kLostCharacters) {
    report.lost = FindLostCharacters(*options.target, content.text, kLostShown);
  }
  if (report.cause == PlainCopyCause::kZeroByte) report.cut = EndOfText(content.text);
}

// One file of a conversion run: a source as given, or an entry found in a folder given with --recursive.
struct Job {
  std::string shown;      // the path in reports
  std::u16string path;    // absolute; "-" for standard input
  std::u16string folder;  // the folder of its copy
  bool walked = false;    // found in a folder: not text is left out, not a failure
  std::string message;    // set: reported with this text and not converted
  bool left_out = false;  // with a message: fails nothing
  int error = 0;
  const char* key = nullptr;  // with a message: the JSON result word
};

// The sources of a run as jobs: files as they are, each folder given with --recursive as its entries, the
// copies mirrored under DIR/NAME (NAME the folder's own name); the output folder itself is never walked.
std::vector<Job> Jobs(const Options& options, const std::u16string& here, const std::u16string& output) {
  std::vector<Job> jobs;
  for (const std::string& given : options.paths) {
    Job job;
    job.shown = given;
    job.path = given == "-" ? u"-" : AbsolutePath(FromArg(given), here);
    job.folder = output;
    if (given == "-" || !FileStatus(job.path).IsFolder() || !options.recursive) {
      if (given != "-" && FileStatus(job.path).IsFolder())
        job.message = "skipped: a folder (--recursive converts its files)";
      jobs.push_back(std::move(job));
      continue;
    }
    const std::u16string path = job.path;
    const std::u16string top = FileName(path).empty() ? output : AddSlash(output, kPathSeparator) + FileName(path);
    std::string shown = given;
    while (shown.size() > 1 && shown.back() == '/') shown.pop_back();
    for (WalkEntry& entry : WalkFolder(path, {output, top})) {
      Job job;
      job.shown = entry.relative.empty() ? shown : (shown == "/" ? "" : shown) + "/" + Native(entry.relative);
      job.path = std::move(entry.path);
      const std::size_t last = entry.relative.rfind(kPathSeparator);
      const std::u16string below = last == std::u16string::npos ? u"" : entry.relative.substr(0, last);
      job.folder = below.empty() ? top : AddSlash(top, kPathSeparator) + below;
      job.walked = true;
      job.error = entry.error;
      switch (entry.kind) {
        case WalkEntry::Kind::kFile: break;
        case WalkEntry::Kind::kLinkedFolder:
          job.message = "left out: a link to a folder";
          job.left_out = true;
          break;
        case WalkEntry::Kind::kSpecialFile:
          job.message = "left out: not a regular file";
          job.left_out = true;
          break;
        case WalkEntry::Kind::kUnreadableFolder:
          job.message = "unable to read the folder";
          job.key = "unreadable";
          break;
      }
      jobs.push_back(std::move(job));
    }
  }
  return jobs;
}

int Convert(const Options& given, std::istream& in, std::ostream& out, std::ostream& err) {
  // Standard input alone, with no folder named, goes to standard output as through any filter:
  //   ocelo-cli convert -t utf-8 - < in.txt > out.txt
  Options options = given;
  if (!options.to_stdout && !options.out && options.paths.size() == 1 && options.paths.front() == "-") {
    options.to_stdout = true;
  }
  if (options.help) {
    out << kConvertHelp;
    return 0;
  }
  if (!options.target) {
    err << "ocelo-cli: convert needs --to TARGET\n";
    return 2;
  }
  if (options.to_stdout && options.out) {
    err << "ocelo-cli: convert takes --out DIR or --stdout, not both\n";
    return 2;
  }
  if (!options.to_stdout && (!options.out || options.out->empty())) {
    err << "ocelo-cli: convert needs --out DIR (or --stdout)\n";
    return 2;
  }
  if (options.to_stdout && options.json && !options.dry_run) {
    err << "ocelo-cli: --json cannot share standard output with --stdout\n";
    return 2;
  }
  if (options.to_stdout && options.recursive) {
    err << "ocelo-cli: --recursive mirrors folders into --out DIR, not --stdout\n";
    return 2;
  }
  if (options.paths.empty()) {
    err << "ocelo-cli: convert needs at least one PATH\n";
    return 2;
  }
  const auto inputs = std::count(options.paths.begin(), options.paths.end(), "-");
  if (inputs > 0 && !options.to_stdout) {
    err << "ocelo-cli: standard input (-) has no name for a copy: use --stdout\n";
    return 2;
  }
  if (inputs > 1) {
    err << "ocelo-cli: standard input (-) can be read once\n";
    return 2;
  }
  // Paths are absolute and normalised before any rule looks at them, so every spelling of a path is one
  // path; the result lines show them as given.
  const std::u16string here = CurrentFolder();
  std::u16string output;
  if (!options.to_stdout) {
    output = AbsolutePath(FromArg(*options.out), here);
    // A dry run makes no folder: a missing one is taken as made.
    if (!FolderExists(output) && (FileExists(output) || !options.dry_run)) {
      if (FileExists(output) || !CreateFolderTree(output)) {
        const int error = FileExists(output) ? ENOTDIR : 0;
        err << "ocelo-cli: cannot create the output folder " << *options.out;
        if (error != 0) err << ": " << std::strerror(error);
        err << "\n";
        return 1;
      }
    }
  }

  bool failed = false;
  bool unchanged = false;
  // The copies this run has made, by file, with the source each came from: a later source of the same
  // name is not written over one of them. A dry run, which makes none, keeps them by path.
  std::map<sys::FileId, std::u16string> written;
  std::map<std::u16string, std::u16string> planned;
  const std::vector<Job> jobs = Jobs(options, here, output);
  Progress progress(jobs.size(), !options.quiet);
  std::vector<std::uint8_t> bytes;
  // A conversion to standard output has no result lines there: only its problems are told. The options
  // of the result lines are copied once, not once a file (they hold every path of the run).
  Options shown = options;
  shown.paths.clear();
  shown.quiet = options.quiet || (options.to_stdout && !options.dry_run);
  ConversionBatch batch;  // the copies of this run are made durable together
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    const Job& job = jobs[i];
    const bool input = job.path == u"-";
    progress.Step(i, input ? u"(standard input)" : job.path);
    Report report;
    report.path = job.shown;
    report.dry_run = options.dry_run;
    report.message = job.message;
    report.left_out = job.left_out;
    report.error = job.error;
    report.key = job.key;
    const std::u16string copy = CopyPath(job.folder, job.path);
    sys::FileId id;
    FileContent content;
    if (!report.message.empty()) {
      // reported as the walk found it
    } else if (!options.to_stdout && !options.dry_run && sys::GetFileId(copy, id) == 0 && written.count(id) != 0) {
      report.message = "skipped: a file of the same name was written from " + Native(written[id]);
    } else if (!options.to_stdout && options.dry_run && planned.count(NormalizePath(copy)) != 0) {
      report.message = "skipped: a file of the same name would be written from " + Native(planned[NormalizePath(copy)]);
    } else if (options.dry_run) {
      content = input ? ReadInput(in) : ReadFileContent(job.path);
      const Preview preview = options.to_stdout ? PreviewToBytes(*options.target, job.path, content)
                                                : PreviewOne(*options.target, job.path, job.folder, content);
      report.result = preview.result;
      report.cause = preview.cause;
      report.copy = preview.copy;
      report.backup = preview.backup;
      if (Succeeded(report.result) && !options.to_stdout) planned.emplace(NormalizePath(copy), FromArg(job.shown));
    } else if (options.to_stdout) {
      content = input ? ReadInput(in) : ReadFileContent(job.path);
      report.result = ConvertToBytes(*options.target, job.path, content, bytes);
      if (Succeeded(report.result)) {
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        if (!out.flush()) {
          report.result = FileResult::kUnableToSave;
          report.message = "unable to write to standard output";
        }
      }
    } else {
      // A mirrored folder is made only for a file that goes into it.
      if (job.walked && !FolderExists(job.folder)) {
        content = ReadFileContent(job.path);
        if (!IsTextFile(job.path, content)) {
          report.result = FileResult::kNotText;
        } else if (!CreateFolderTree(job.folder)) {
          report.result = FileResult::kUnableToSave;
          report.message = "cannot create the folder " + Native(job.folder);
        }
      }
      if (report.result == FileResult::kConverted && report.message.empty()) {
        report.result = ConvertOne(*options.target, job.path, job.folder);
      }
      if (Succeeded(report.result)) {
        report.copy = copy;
        if (sys::GetFileId(report.copy, id) == 0) written.emplace(id, FromArg(job.shown));
      }
      // The text once more, to tell why it was copied unchanged.
      if (report.result == FileResult::kPlainCopy && !content.readable) content = ReadFileContent(job.path);
    }
    if (report.result == FileResult::kUnreadable && !input) report.error = ReadError(job.path);
    if (report.message.empty() && job.walked && report.result == FileResult::kNotText) {
      report.message = "left out: not a text file";
      report.key = ResultKey(report.result);
      report.left_out = true;
    }
    Explain(options, content, report);
    failed = failed || Fails(report);
    unchanged = unchanged || report.result == FileResult::kPlainCopy;
    progress.Clear();
    Print(shown, report, out, err);
  }
  if (!batch.Finish()) failed = true;
  return ExitStatus(failed, unchanged);
}

// What detect tells of one file.
struct Finding {
  Detection detection;
  EncodingKind declared = 0;
  bool is_text = false;
};

// The finding for a content read whole (standard input, a pipe, an empty file).
Finding FindWhole(std::u16string_view path, const FileContent& content) {
  Finding finding;
  finding.detection = DetectEncoding(content.bytes);
  // The declaration is looked for in the first ten lines of the text.
  const std::u16string& text = content.text;
  std::vector<std::u16string> lines;
  for (std::size_t start = 0; start < text.size() && lines.size() < 10;) {
    std::size_t end = text.find(u'\n', start);
    if (end == std::u16string::npos) end = text.size();
    lines.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  finding.declared = FindDeclaredEncoding(lines);
  finding.is_text = IsTextFile(path, content);
  return finding;
}

// The finding for a regular file read in pieces, whatever its size: detection in one pass, the text-file
// test in a second only when the file holds a zero byte, and the declaration from the text up to the end
// of its tenth line. With `read_only`, the file is only read through. Empty when it cannot be read or
// memory ran out.
std::optional<Finding> FindStreamed(std::u16string_view path, bool read_only) {
  std::FILE* stream = OpenSourceFile(path);
  if (!stream) return std::nullopt;
  try {
    ByteSource source(stream, true);
    SourceFacts facts;
    if (!ScanSource(source, facts)) {
      DumpText(u"Can't read  " + std::u16string(path));
      return std::nullopt;
    }
    Finding finding;
    finding.detection = facts.detection;
    if (read_only) return finding;
    finding.is_text = IsTextFile(source, facts);
    LineDeclarationScan lines;
    TextSource text(source, facts.detection);
    std::u16string_view piece;
    while (!lines.Done() && text.Next(piece)) lines.Add(piece);
    if (source.Failed()) {
      DumpText(u"Can't read  " + std::u16string(path));
      return std::nullopt;
    }
    finding.declared = lines.Result();
    return finding;
  } catch (const std::bad_alloc&) {
    DumpText(u"Can't read, out of memory  " + std::u16string(path));
    return std::nullopt;
  }
}

int Detect(const Options& options, std::istream& in, std::ostream& out, std::ostream& err) {
  if (options.help) {
    out << kDetectHelp;
    return 0;
  }
  if (options.paths.empty()) {
    err << "ocelo-cli: detect needs at least one PATH\n";
    return 2;
  }
  bool failed = false;
  bool input_read = false;
  Progress progress(options.paths.size(), !options.quiet);
  for (std::size_t i = 0; i < options.paths.size(); ++i) {
    const std::string& given = options.paths[i];
    const bool input = given == "-";
    const std::u16string path = input ? u"-" : FromArg(given);
    progress.Step(i, input ? u"(standard input)" : path);
    Report report;
    report.path = given;
    report.result = FileResult::kUnreadable;
    FileContent content;
    std::optional<Finding> finding;
    if (input) {
      if (input_read) {
        report.message = "standard input was read already";
      } else {
        content = ReadInput(in);
        input_read = true;
      }
    } else {
      const FileStatus status(path);
      if (status.Failed()) {
        report.error = status.Error();
      } else if (!status.IsFile()) {
        report.message = "not a file";
      } else if (status.Size() > 0) {
        finding = FindStreamed(path, options.quiet);
        if (!finding) report.error = ReadError(path);
      } else {
        content = ReadFileContent(path);
        if (!content.readable) report.error = ReadError(path);
      }
    }
    progress.Clear();
    if (!content.readable && !finding) {
      failed = true;
      if (report.message.empty()) report.message = Describe(report.result);
      if (options.json) {
        out << "{\"path\":" << JsonString(FromArg(given))
            << ",\"ok\":false,\"message\":" << JsonString(FromArg(report.message));
        if (report.error != 0) out << ",\"reason\":" << JsonString(FromArg(std::strerror(report.error)));
        out << "}\n";
      } else {
        err << "ocelo-cli: " << given << ": " << report.message;
        if (report.error != 0) err << ": " << std::strerror(report.error);
        err << "\n";
      }
      continue;
    }
    if (options.quiet) continue;
    if (!finding) finding = FindWhole(path, content);
    const Detection detection = finding->detection;
    const EncodingKind declared = finding->declared;
    const bool is_text = finding->is_text;
    if (options.json) {
      out << "{\"path\":" << JsonString(FromArg(given)) << ",\"ok\":true,\"encoding\":\"" << KindName(detection.kind)
          << "\",\"family\":\"" << KindFamily(detection.kind) << "\",\"code\":" << detection.kind
          << ",\"mark\":" << detection.mark_length << ",\"text\":" << (is_text ? "true" : "false") << ",\"declared\":";
      if (declared != 0) {
        out << "\"" << KindName(declared) << "\"";
      } else {
        out << "null";
      }
      out << ",\"declared_code\":" << declared << "}\n";
      continue;
    }
    out << given << ": " << KindText(detection.kind) << ", mark " << detection.mark_length << ", "
        << (is_text ? "text" : "not text") << ", declared " << (declared != 0 ? KindText(declared) : "none") << "\n";
  }
  return failed ? 1 : 0;
}

// Turns the engine's diagnostic lines on the standard error stream off (or on, with --verbose) for the
// run, and back as they were after it.
class DiagnosticsFor {
 public:
  explicit DiagnosticsFor(bool shown) : before_(ShowDiagnostics(shown)) {}
  ~DiagnosticsFor() { ShowDiagnostics(before_); }
  DiagnosticsFor(const DiagnosticsFor&) = delete;
  DiagnosticsFor& operator=(const DiagnosticsFor&) = delete;

 private:
  const bool before_;
};

}  // namespace

int RunCli(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err) {
  DiagnosticsFor quiet(false);
  if (args.empty()) {
    err << kUsage;
    return 2;
  }
  const std::string& command = args[0];
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  if (command == "--help" || command == "-h" || command == "help") {
    out << kUsage;
    return 0;
  }
  if (command == "--version" || command == "-V") {
    // From the version block embedded in the program file.
    VersionInfo info;
    std::u16string version;
    if (info.open_path(sys::ExecutablePath())) version = dotted_version(info.get_file_version());
    out << "ocelo-cli " << (version.empty() ? std::string(OCELO_VERSION) : ToUtf8(version)) << "\n";
    return 0;
  }
  if (command != "convert" && command != "detect") {
    err << "ocelo-cli: unknown command '" << command << "'\n" << kUsage;
    return 2;
  }
  Options options;
  if (ParseOptions(command, rest, options, err) != 0) return 2;
  DiagnosticsFor verbose(options.verbose);
  return command == "convert" ? Convert(options, in, out, err) : Detect(options, in, out, err);
}

}  // namespace ocelo
