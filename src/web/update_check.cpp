// The daily update check: download the family's page, compare it with the earlier copy, count the
// changes, and open the page in the browser after enough of them.
#include "web/update_check.h"

#include <cstdint>
#include <cstdio>
#include <string_view>

#include "base/paths.h"
#include "encoding/decode.h"
#include "encoding/write.h"
#include "settings/profile.h"
#include "util/dump.h"
#include "util/file_status.h"
#include "util/strings.h"
#include "web/fetch.h"
#include "web/page_compare.h"
#include "web/shell_command.h"

namespace ocelo {
namespace {

constexpr std::u16string_view kFamily = u"Vexo";
constexpr std::u16string_view kSection = u"Pramo_update";
// The download server is a setting; the reserved top-level domain ".invalid" never resolves, so a
// program whose setting is missing asks nobody else's server.
constexpr std::u16string_view kDefaultServer = u"download.vexo.invalid";
constexpr std::u16string_view kDefaultPath = u"Vexo/download/";
constexpr std::int32_t kDefaultCount = 3;
constexpr std::int32_t kOpenAfter = 5;  // the browser opens once the counter goes beyond this

// The check's diagnostics go to the standard error stream, one line each.
void ReportLine(std::u16string_view line) {
  std::string text = ToUtf8(line);
  text += '\n';
  std::fputs(text.c_str(), stderr);
}

// Each setting has a settings object of its own, made on first use and kept for the run.
std::u16string ServerName() {
  static PathProfile profile(kFamily);
  return profile.GetString(kSection, u"server_name", kDefaultServer);
}

std::u16string PathName() {
  static PathProfile profile(kFamily);
  return profile.GetString(kSection, u"path_name", kDefaultPath);
}

std::int32_t ReadUpdateCount() {
  static PathProfile profile(kFamily);
  return profile.GetInt(kSection, u"update count", kDefaultCount);
}

bool WriteUpdateCount(std::int32_t count) {
  static PathProfile profile(kFamily);
  return profile.WriteInt(kSection, u"update count", count);
}

bool IsAnySeparator(char16_t c) { return c == u'\\' || c == u'/'; }

// The cached page's path with the extension ".txt": where a failed download leaves its note.
std::u16string FailureNotePath(std::u16string_view page) {
  return AddSlash(FolderPart(page)) + FileTitle(page) + u".txt";
}

}  // namespace

std::u16string update_page_url() {
  const std::u16string host = StripSlash(ServerName(), PathStyle::kWindows);
  const std::u16string path_text = PathName();
  std::u16string_view path = path_text;
  if (!path.empty() && IsAnySeparator(path.front())) path.remove_prefix(1);
  const std::u16string joined = host + u"/" + std::u16string(path);
  std::u16string url = NormalizePath(joined, u'/', PathStyle::kWindows);
  // Normalising drops a trailing separator, but a page path such as "Vexo/download/" names a folder
  // and keeps it.
  if (!url.empty() && !path.empty() && IsAnySeparator(path.back()) && !IsAnySeparator(url.back())) url += u'/';
  if (url.empty() || !IsAnySeparator(url.front())) url.insert(0, u"//");
  return url;
}

bool check_update() {
  if (!http_available()) return false;  // a build that downloads nothing has no page to compare
  const std::u16string url = update_page_url();
  const std::u16string page = page_cache_path(url);
  // At most one download a day: the cached page's date is the date of the last one.
  FileStatus status(page);
  const std::u16string last = FormatTime(status.Failed() ? 0 : status.ModifyTime(), u"%Y/%m/%d");
  const std::u16string today = FormatNow(u"%Y/%m/%d");
  if (!today.empty() && last == today) return false;

  const std::u16string previous = ReadTextFile(page);
  // A failed download leaves the earlier page in place: the next good one is compared with it.
  const std::u16string current = refresh_page(url) ? ReadTextFile(page) : std::u16string();
  bool changed = false;
  if (current.empty()) {
    // A failed download says nothing about the page: it is noted, and neither compared nor counted.
    const std::u16string note = FailureNotePath(page);
    const std::u16string text = url + u"\r\n" + url_to_relative_path(url) + u"\r\n" + note + u"\r\n";
    std::fputs(ToUtf8(text).c_str(), stderr);
    (void)WriteUtf16MarkedFile(note, text);  // the note went to the error stream as well
  } else if (previous.empty()) {
    ReportLine(u"new");
  } else if (same_page_lines(previous, current)) {
    ReportLine(u"no update");
  } else {
    changed = !compare_pages(previous, current);
  }
  if (changed) {
    const std::int32_t count = ReadUpdateCount();
    WriteUpdateCount(count < INT32_MAX ? count + 1 : count);
  }
  if (ReadUpdateCount() > kOpenAfter) {
    ShellCommand command;
    command.set_verb(u"open");
    command.set_file(u"https:" + url);
    command.execute();
    WriteUpdateCount(0);
  }
  return changed;
}

}  // namespace ocelo
