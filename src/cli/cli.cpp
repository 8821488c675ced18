// ocelo-cli: argument parsing, the convert and detect commands, and the progress line.
#include "cli/cli.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "base/ascii.h"
#include "base/paths.h"
#include "encoding/convert.h"
#include "encoding/decode.h"
#include "encoding/detect.h"
#include "encoding/text_file.h"
#include "platform/fs.h"
#include "platform/system.h"
#include "util/file_list.h"
#include "util/file_status.h"
#include "util/folders.h"
#include "util/strings.h"
#include "version/version_info.h"

namespace ocelo {
namespace {

constexpr const char* kUsage =
    "Usage:\n"
    "  ocelo-cli convert --to TARGET --out DIR PATH...\n"
    "      Writes a converted copy of each text file into DIR under the same name.\n"
    "      TARGET: copy (0), utf-8 (8), utf-16 (16, with mark) or shift_jis (74).\n"
    "      An existing copy is backed up into the Rescue folder before it is overwritten; a copy that is\n"
    "      already up to date is left alone; a file whose characters the target cannot hold is copied\n"
    "      unchanged.\n"
    "  ocelo-cli detect PATH...\n"
    "      Prints each file's encoding as found from its bytes, its mark length, whether it is text,\n"
    "      and the encoding it declares.\n"
    "  ocelo-cli --help | --version\n";

std::string Native(std::u16string_view path) { return sys::ToNativePath(path); }

std::u16string FromArg(const std::string& arg) { return sys::FromNativePath(arg); }

const char* KindName(EncodingKind kind) {
  switch (kind) {
    case kind::Copy: return "unknown";
    case kind::Utf8: return "UTF-8";
    case kind::Utf16Le: return "UTF-16LE";
    case kind::Utf16Be: return "UTF-16BE";
    case kind::Utf32Le: return "UTF-32LE";
    case kind::Utf32Be: return "UTF-32BE";
    case kind::Ascii: return "ASCII";
    case kind::ShiftJis: return "Shift_JIS";
    default: return "?";
  }
}

std::optional<EncodingKind> ParseTarget(const std::string& text) {
  struct Name {
    const char* name;
    EncodingKind kind;
  };
  static const Name kNames[] = {{"copy", kind::Copy},     {"0", kind::Copy},     {"utf-8", kind::Utf8},
                                {"utf8", kind::Utf8},     {"8", kind::Utf8},     {"utf-16", kind::Utf16Le},
                                {"utf16", kind::Utf16Le}, {"16", kind::Utf16Le}, {"shift_jis", kind::ShiftJis},
                                {"sjis", kind::ShiftJis}, {"74", kind::ShiftJis}};
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

// A one-line progress report on a terminal: the file in work, shown once the run has taken more than half a
// second (so a single large file shows it too), and cleared before each result line.
class Progress {
 public:
  explicit Progress(std::size_t total) : total_(total), start_(std::chrono::steady_clock::now()) {
    if (sys::StandardErrorIsTerminal()) ticker_ = std::thread([this] { Tick(); });
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

int Convert(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  std::optional<EncodingKind> target;
  std::optional<std::u16string> folder;
  std::vector<std::u16string> paths;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--to" || arg == "--out") {
      if (i + 1 >= args.size()) {
        err << "ocelo-cli: " << arg << " needs a value\n";
        return 2;
      }
      const std::string& value = args[++i];
      if (arg == "--to") {
        target = ParseTarget(value);
        if (!target) {
          err << "ocelo-cli: unknown target '" << value << "' (use copy, utf-8, utf-16 or shift_jis)\n";
          return 2;
        }
      } else {
        folder = FromArg(value);
      }
    } else if (arg == "--") {
      for (++i; i < args.size(); ++i) paths.push_back(FromArg(args[i]));
    } else if (arg.size() > 1 && arg[0] == '-') {
      err << "ocelo-cli: unknown option '" << arg << "'\n";
      return 2;
    } else {
      paths.push_back(FromArg(arg));
    }
  }
  if (!target) {
    err << "ocelo-cli: convert needs --to TARGET\n";
    return 2;
  }
  if (!folder || folder->empty()) {
    err << "ocelo-cli: convert needs --out DIR\n";
    return 2;
  }
  if (paths.empty()) {
    err << "ocelo-cli: convert needs at least one PATH\n";
    return 2;
  }
  // Paths are absolute and normalised before any rule looks at them, so every spelling of a path is one
  // path; the result lines show them as given.
  const std::u16string here = CurrentFolder();
  const std::u16string output = AbsolutePath(*folder, here);
  if (!FolderExists(output)) {
    if (FileExists(output) || !CreateFolderTree(output)) {
      err << "ocelo-cli: cannot create the output folder " << Native(*folder) << "\n";
      return 1;
    }
  }

  bool failed = false;
  // The copies this run has made, by file, with the source each came from: a later source of the same
  // name is not written over one of them.
  std::map<sys::FileId, std::u16string> written;
  Progress progress(paths.size());
  for (std::size_t i = 0; i < paths.size(); ++i) {
    progress.Step(i, paths[i]);
    const std::u16string path = AbsolutePath(paths[i], here);
    std::string line;
    sys::FileId id;
    const bool made = sys::GetFileId(CopyPath(output, path), id) == 0 && written.count(id) != 0;
    if (FileStatus(path).IsFolder()) {
      line = "skipped: a folder";
      failed = true;
    } else if (made) {
      line = "skipped: a file of the same name was written from " + Native(written[id]);
      failed = true;
    } else {
      const FileResult result = ConvertOne(*target, path, output);
      line = Describe(result);
      if (!Succeeded(result)) failed = true;
      if (Succeeded(result) && sys::GetFileId(CopyPath(output, path), id) == 0) written.emplace(id, paths[i]);
    }
    progress.Clear();
    out << Native(paths[i]) << ": " << line << "\n";
  }
  return failed ? 1 : 0;
}

int Detect(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.empty()) {
    err << "ocelo-cli: detect needs at least one PATH\n";
    return 2;
  }
  bool failed = false;
  Progress progress(args.size());
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::u16string path = FromArg(args[i]);
    progress.Step(i, path);
    const FileStatus status(path);
    if (status.Failed() || !status.IsFile()) {
      progress.Clear();
      out << args[i] << ": " << (status.Failed() ? "not found" : "not a file") << "\n";
      failed = true;
      continue;
    }
    const std::vector<std::uint8_t> bytes = ReadFileBytes(path);
    if (bytes.empty() && status.Size() > 0) {
      progress.Clear();
      out << args[i] << ": unable to read\n";
      failed = true;
      continue;
    }
    const Detection detection = DetectEncoding(bytes);
    // The declaration is looked for in the first ten lines of the text.
    const std::u16string text = DecodeBytes(bytes);
    std::vector<std::u16string> lines;
    for (std::size_t start = 0; start < text.size() && lines.size() < 10;) {
      std::size_t end = text.find(u'\n', start);
      if (end == std::u16string::npos) end = text.size();
      lines.emplace_back(text.substr(start, end - start));
      start = end + 1;
    }
    const EncodingKind declared = FindDeclaredEncoding(lines);
    const bool is_text = IsTextFile(path);
    progress.Clear();
    out << args[i] << ": " << KindName(detection.kind) << " (" << detection.kind << "), mark " << detection.mark_length
        << ", " << (is_text ? "text" : "not text") << ", declared ";
    if (declared != 0) {
      out << KindName(declared) << " (" << declared << ")\n";
    } else {
      out << "none\n";
    }
  }
  return failed ? 1 : 0;
}

}  // namespace

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
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
  if (command == "--version") {
    // From the version block embedded in the program file.
    VersionInfo info;
    std::u16string version;
    if (info.open_path(sys::ExecutablePath())) version = dotted_version(info.get_file_version());
    out << "ocelo-cli " << (version.empty() ? std::string(OCELO_VERSION) : ToUtf8(version)) << "\n";
    return 0;
  }
  if (command == "convert") return Convert(rest, out, err);
  if (command == "detect") return Detect(rest, out, err);
  err << "ocelo-cli: unknown command '" << command << "'\n" << kUsage;
  return 2;
}

}  // namespace ocelo
