// The diagnostic dump log: hourly UTF-16 files under the shared documents folder, and its helpers.
#include "util/dump.h"

#include <atomic>
#include <cstdio>
#include <ctime>
#include <mutex>

#include "base/paths.h"
#include "platform/system.h"
#include "util/file_list.h"
#include "util/file_status.h"
#include "util/folders.h"
#include "util/policy.h"
#include "util/strings.h"

namespace ocelo {
namespace {

constexpr std::u16string_view kStampFormat = u"%Y/%m/%d %H:%M:%S";
constexpr int kOldDumpDays = 10;

// Set at start; the first append of the process clears it after scheduling old dump files for removal.
std::atomic<bool> g_cleanup{true};

// An append in progress on this thread. Creating the dump folder may report a failure through the dump
// log itself; that nested report is dropped instead of entering the append again.
thread_local bool t_appending = false;

class AppendGuard {
 public:
  AppendGuard() : entered_(!t_appending) { t_appending = true; }
  ~AppendGuard() {
    if (entered_) t_appending = false;
  }
  bool Entered() const { return entered_; }

 private:
  bool entered_;
};

std::u16string HeaderLine() {
  std::u16string values;
  for (const std::u16string& value : {UserName(), TempFolder(), CurrentFolder(), ModulePath()}) {
    values += value;
    values += u"\r\n";
  }
  return FormatNow(kStampFormat) + u"\t" + ReplaceLineBreaks(values, u"\t\t") + u"\r\n";
}

// The documents folder followed by Temp/Temp/DbgDump; empty when the system has no documents folder,
// so that dump files never land in whatever the current folder happens to be.
std::u16string DbgDumpFolder() {
  std::u16string folder = SpecialFolder(sys::kCsidlCommonDocuments);
  if (folder.empty()) return folder;
  for (const char16_t* piece : {u"Temp", u"Temp", u"DbgDump"}) {
    folder = AddSlash(folder, kPathSeparator) + piece;
  }
  return folder;
}

void ScheduleOldDumps(const std::u16string& folder) {
  ScheduleOldFiles(AddSlash(folder, kPathSeparator) + u".txt", kOldDumpDays);
}

}  // namespace

std::u16string DumpFolder() {
  std::u16string folder = DbgDumpFolder();
  return folder.empty() ? folder : AddSlash(folder, kPathSeparator) + u"WC";
}

void ResetDumpCleanup() { g_cleanup = true; }

bool DumpText(std::u16string_view message) {
  const std::u16string line = FormatNow(kStampFormat) + u"\t" + FileName(ModulePath()) + u"\t" +
                              ReplaceLineBreaks(message, u"\t\t") + u"\r\n";
  return AppendDump(TextToBytes(line));
}

bool AppendDump(const std::vector<std::uint8_t>& bytes) {
  AppendGuard guard;
  if (!guard.Entered()) return false;

  const std::u16string stamp = FormatNow(u"%m%d_%H");
  const std::u16string dbg_dump = DbgDumpFolder();
  const bool cleanup = g_cleanup.exchange(false);
  if (dbg_dump.empty()) return false;
  if (cleanup) ScheduleOldDumps(dbg_dump);
  const std::u16string folder = AddSlash(dbg_dump, kPathSeparator) + u"WC";
  // The dump folders hold what every tool of the family reports about the user's files: only the
  // user may read them.
  CreatePrivateFolderTree(folder);
  if (cleanup) ScheduleOldDumps(folder);
  const std::u16string path = AddSlash(folder, kPathSeparator) + stamp + u".txt";

  // An open file is locked against the other appending processes, so the size test, the header and
  // the line go in as one piece.
  // RetryWhileBusy writes nothing to the dump log, so a failed open never comes back here.
  std::FILE* stream = nullptr;
  const int error = RetryWhileBusy([&] {
    int open_error = 0;
    stream = OpenFile(path, "ab", open_error);
    return open_error;
  });
  if (error != 0) return false;

  std::setvbuf(stream, nullptr, _IONBF, 0);
  std::vector<std::uint8_t> out;
  if (std::fseek(stream, 0, SEEK_END) == 0 && std::ftell(stream) == 0) {
    out = {0xFF, 0xFE};
    const std::vector<std::uint8_t> header = TextToBytes(HeaderLine());
    out.insert(out.end(), header.begin(), header.end());
  }
  out.insert(out.end(), bytes.begin(), bytes.end());
  bool written = out.empty() || std::fwrite(out.data(), 1, out.size(), stream) == out.size();
  if (std::fclose(stream) != 0) written = false;
  return written;
}

std::u16string FormatTime(std::int64_t time, std::u16string_view format) {
  std::tm local{};
  if (sys::LocalTime(time, local) != 0) return {};
  // The conversions are ASCII; other text in the format passes through UTF-8. 255 UTF-16 units take at
  // most 765 UTF-8 bytes, so a longer result is too long either way.
  char buffer[1024];
  const std::string narrow = ToUtf8(format);
  const std::size_t length = std::strftime(buffer, sizeof buffer, narrow.c_str(), &local);
  if (length == 0) return {};
  std::u16string result = Widen(std::string_view(buffer, length));
  if (result.size() > 255) return {};
  return result;
}

std::u16string FormatNow(std::u16string_view format) { return FormatTime(Now(), format); }

namespace {
std::atomic<bool> diagnostics_shown{true};
}  // namespace

bool ShowDiagnostics(bool shown) { return diagnostics_shown.exchange(shown); }

bool DiagnosticsShown() { return diagnostics_shown.load(); }

std::u16string ModulePath() {
  static std::once_flag notice;
  std::call_once(notice, [] {
    if (DiagnosticsShown()) std::fputs("::get_arv() ... empty\n", stderr);
  });
  std::u16string path = sys::ExecutablePath();
  const std::size_t end = path.find(u'\0');
  if (end != std::u16string::npos) path.resize(end);
  return path;
}

std::vector<std::uint8_t> TextToBytes(std::u16string_view text) {
  std::vector<std::uint8_t> bytes;
  bytes.reserve(text.size() * 2);
  for (char16_t c : text) {
    bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  return bytes;
}

std::u16string ReplaceLineBreaks(std::u16string_view text, std::u16string_view replacement) {
  const std::u16string_view for_cr = replacement.substr(0, 1);
  const std::u16string_view for_lf = replacement.empty() ? replacement : replacement.substr(1);
  std::u16string result;
  result.reserve(text.size());
  for (char16_t c : text) {
    if (c == u'\r') {
      result += for_cr;
    } else if (c == u'\n') {
      result += for_lf;
    } else {
      result += c;
    }
  }
  return result;
}

}  // namespace ocelo
