// Web pages into the page cache: cache names and numbered earlier copies; the GET itself is the
// system's (fetch_curl.cpp, fetch_wininet.cpp), or fetch_none.cpp's in a build without the update check.
#include "web/fetch.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "platform/fs.h"
#include "util/file_list.h"
#include "util/file_status.h"
#include "util/folders.h"
#include "util/policy.h"
#include "util/strings.h"
#include "version/format_number.h"
#include "web/family_folders.h"
#include "web/fetch_transfer.h"
#include "web/u_agent.h"

namespace ocelo {
namespace {

// A URL may separate its pieces with either slash, so cache names are worked out in the Windows style
// and written with the system's own separator.
constexpr PathStyle kUrlStyle = PathStyle::kWindows;

std::u16string Normalize(std::u16string_view path) { return NormalizePath(path, kPathSeparator, kUrlStyle); }

bool IsAnySeparator(char16_t c) { return c == u'\\' || c == u'/'; }

// The first backslash at or after `from`, else the first slash there.
std::size_t FindSeparator(std::u16string_view text, std::size_t from) {
  if (from >= text.size()) return std::u16string_view::npos;
  const std::size_t backslash = text.find(u'\\', from);
  return backslash != std::u16string_view::npos ? backslash : text.find(u'/', from);
}

}  // namespace

// The fetch's diagnostics go to the standard error stream, one line each.
void ReportFetchError(std::u16string_view line) {
  std::string text = ToUtf8(line);
  text += '\n';
  std::fputs(text.c_str(), stderr);
}

// The environment report, with any control character (a line break would end the header early) as a
// blank.
std::string FetchUserAgent() {
  std::string agent = ToUtf8(u_agent());
  for (char& c : agent) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  }
  return agent;
}

// Saves the body whole, retrying a busy file as every file open does. A cache file is one of our working
// files: never written through a link that someone put in its place.
bool SaveFetchedBody(std::u16string_view file, std::span<const std::uint8_t> bytes) {
  if (file.empty()) return false;
  return RetryWhileBusy([&] { return sys::ReplaceFile(file, bytes, sys::WriteKind::kWorkingFile); }) == 0;
}

namespace {

bool IsMissingOrEmpty(std::u16string_view path) {
  FileStatus status(path);
  return status.Failed() || status.Size() == 0;
}

// fetch_page, telling where the earlier copy went (empty when none was moved aside).
std::u16string FetchPage(std::u16string_view url, std::u16string& aside) {
  std::u16string address = replace_all(replace_all(url, u"https:", u""), u"http:", u"");
  if (address.rfind(u"//", 0) != 0) address.insert(0, address.rfind(u"/", 0) == 0 ? u"/" : u"//");
  const std::u16string file = page_cache_path(url);
  aside = numbered_backup_name(file, true);
  if (!move_file_aside(file, aside)) aside.clear();
  // The downloads run even when the old copy could not be moved aside (every numbered name taken):
  // that copy is replaced, rather than every later download being skipped for good.
  const bool saved = http_get_to_file(u"https:", address, file);
  if (!saved || IsMissingOrEmpty(file)) http_get_to_file(u"http:", address, file);
  return file;
}

}  // namespace

std::u16string path_root(std::u16string_view path) {
  if (path.size() < 2) return {};
  if (path[1] == u':') return std::u16string(path.substr(0, 2));
  if ((path[0] == u'\\' && path[1] == u'\\') || (path[0] == u'/' && path[1] == u'/')) {
    const std::size_t next = FindSeparator(path, 2);
    if (next == std::u16string_view::npos) return {};
    return std::u16string(path.substr(0, next));
  }
  return {};
}

std::u16string compact_path(std::u16string_view path, std::size_t limit, char16_t separator) {
  if (limit >= path.size()) return std::u16string(path);
  const std::u16string name = FileName(path, kUrlStyle);
  if (limit < name.size()) return name;
  std::u16string root = path_root(path);
  if (path.size() - name.size() > 3) {
    const std::size_t next = FindSeparator(path, root.size() + 1);
    if (next != std::u16string_view::npos) root = std::u16string(path.substr(0, next));
  }
  if (limit < root.size() + name.size() + 5) return name;
  std::u16string_view rest = path.substr(std::min(path.size(), root.size() + 1));
  while (limit < rest.size() + root.size() + 5) {
    const std::size_t next = FindSeparator(rest, 0);
    if (next == std::u16string_view::npos) break;
    rest.remove_prefix(next + 1);
  }
  std::u16string result = root;
  if (result.empty() || !IsAnySeparator(result.back())) result += separator;
  result += u"...";
  if (rest.empty() || !IsAnySeparator(rest.front())) result += separator;
  result += rest;
  return result;
}

std::u16string url_to_relative_path(std::u16string_view url) {
  std::u16string p = StripSlash(url, kUrlStyle);
  const std::u16string ext = ToLower(FileExtension(url, kUrlStyle));
  static constexpr std::array<std::u16string_view, 16> kPageExtensions = {
      u"htm", u"html", u"css",  u"js",  u"xml", u"txt", u"svg", u"ico",
      u"png", u"jpg",  u"jpeg", u"gif", u"bmp", u"emf", u"zip", u"msi"};
  if (ext.empty()) {
    p += u"/_.htm";
  } else if (std::find(kPageExtensions.begin(), kPageExtensions.end(), ext) == kPageExtensions.end()) {
    p += u"/_.html";
  }
  p = Normalize(p);
  for (const auto& [from, to] : {std::pair<std::u16string_view, std::u16string_view>{u"https:", u"//"},
                                 {u"http:", u"//"},
                                 {u"+", u"/"},
                                 {u"&", u"/"},
                                 {u"?", u"/"},
                                 {u":", u"/"}}) {
    p = replace_all(p, from, to);
  }
  p = Normalize(p);
  p = compact_path(p, 100);
  // "%" as a separator and ".." collapsed: no escape or parent step survives into a file name.
  for (const auto& [from, to] :
       {std::pair<std::u16string_view, std::u16string_view>{u"=", u"."}, {u"%", u"/"}, {u"..", u"."}}) {
    p = replace_all(p, from, to);
  }
  if (!p.empty() && IsAnySeparator(p.front())) p.erase(0, 1);
  p = Normalize(u"./" + p);
  std::u16string folder = FolderPart(p, kUrlStyle);
  std::replace(folder.begin(), folder.end(), u'.', u'_');
  return Normalize(AddSlash(folder, kPathSeparator, kUrlStyle) + FileName(p, kUrlStyle));
}

std::u16string page_cache_path(std::u16string_view url) {
  const std::u16string path = NormalizePath(family_temp_folder(u"Pramo") + kPathSeparator + url_to_relative_path(url));
  CreateFolderTree(FolderPart(path));
  return path;
}

std::u16string numbered_backup_name(std::u16string_view path, bool always) {
  if (!always && !FileExists(path)) return std::u16string(path);
  const std::u16string ext = FileExtension(path);
  const std::u16string base(ext.empty() ? path : path.substr(0, path.size() - ext.size() - 1));
  for (std::uint32_t number = 0; number <= 999; ++number) {
    std::u16string name = base + u"." + format_number(number, 10, 3);
    if (!ext.empty()) name += u"." + ext;
    if (!FileExists(name)) return name;
  }
  return std::u16string(path);
}

bool move_file_aside(std::u16string_view from, std::u16string_view to) {
  if (!FileExists(from)) return false;
  // Moving a file onto itself would end in deleting it (all numbered names taken gives the path back).
  if (NormalizePath(from) == NormalizePath(to)) return false;
  const std::u16string folder = FolderPart(to);
  if (!FolderExists(folder) && !CreateFolderTree(folder)) return false;
  if (sys::MoveFile(from, to) == 0) return true;
  if (!FileExists(from)) return false;
  if (!CopyFileTo(from, to, false)) return false;
  return sys::RemoveFile(from) == 0;
}

std::u16string fetch_page(std::u16string_view url) {
  std::u16string aside;
  return FetchPage(url, aside);
}

bool refresh_page(std::u16string_view url) {
  std::u16string aside;
  const std::u16string file = FetchPage(url, aside);
  if (!IsMissingOrEmpty(file)) return true;
  if (!aside.empty() && FileExists(aside)) {
    // The rename keeps the earlier copy's times, so the next start still sees that no page came today.
    (void)sys::RemoveFile(file);  // an empty body, if one was saved
    if (sys::MoveFile(aside, file) != 0) ReportFetchError(u"Can't restore " + std::u16string(file));
  }
  return false;
}

}  // namespace ocelo
