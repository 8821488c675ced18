// Web pages into the page cache: cache names, numbered earlier copies, and the GET itself over libcurl.
#include "web/fetch.h"

#include <curl/curl.h>

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

// The fetch's diagnostics go to the standard error stream, one line each.
void ReportError(std::u16string_view line) {
  std::string text = ToUtf8(line);
  text += '\n';
  std::fputs(text.c_str(), stderr);
}

// The environment report, with any control character (a line break would end the header early) as a
// blank.
std::string UserAgent() {
  std::string agent = ToUtf8(u_agent());
  for (char& c : agent) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  }
  return agent;
}

bool IsMissingOrEmpty(std::u16string_view path) {
  FileStatus status(path);
  return status.Failed() || status.Size() == 0;
}

// libcurl is set up once per process, before the first transfer.
bool CurlReady() {
  static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  return ready;
}

// The body as it arrives, refused beyond kMaxPageBytes; the headers are only counted.
struct Body {
  std::vector<std::uint8_t> bytes;
  std::int64_t header_bytes = 0;
  bool too_large = false;
  bool headers_too_large = false;
  bool no_memory = false;
};

std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
  Body& body = *static_cast<Body*>(user);
  const std::size_t length = size * count;
  body.header_bytes += static_cast<std::int64_t>(length);
  if (body.header_bytes > kMaxHeaderBytes) {
    body.headers_too_large = true;
    return 0;
  }
  return length;
}

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
  Body& body = *static_cast<Body*>(user);
  const std::size_t length = size * count;
  if (static_cast<std::int64_t>(body.bytes.size() + length) > kMaxPageBytes) {
    body.too_large = true;
    return 0;  // anything but `length` ends the transfer
  }
  try {
    body.bytes.insert(body.bytes.end(), data, data + length);
  } catch (const std::bad_alloc&) {
    body.no_memory = true;
    return 0;
  }
  return length;
}

// The parts of a URL a message names.
struct UrlParts {
  std::string scheme, host;
  long port = 0;
};

// Splits an http or https URL; false for anything else or a URL without a host.
bool ParseUrl(CURLU* url, const std::string& text, UrlParts& parts) {
  if (curl_url_set(url, CURLUPART_URL, text.c_str(), 0) != CURLUE_OK) return false;
  char* scheme = nullptr;
  char* host = nullptr;
  char* port = nullptr;
  bool ok = curl_url_get(url, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
            curl_url_get(url, CURLUPART_HOST, &host, 0) == CURLUE_OK &&
            curl_url_get(url, CURLUPART_PORT, &port, CURLU_DEFAULT_PORT) == CURLUE_OK;
  if (ok) {
    parts.scheme = scheme;
    parts.host = host;
    parts.port = std::strtol(port, nullptr, 10);
    ok = (parts.scheme == "http" || parts.scheme == "https") && !parts.host.empty();
  }
  curl_free(scheme);
  curl_free(host);
  curl_free(port);
  return ok;
}

// Saves the body whole, retrying a busy file as every file open does. A cache file is one of our working
// files: never written through a link that someone put in its place.
bool SaveBody(std::u16string_view file, std::span<const std::uint8_t> bytes) {
  if (file.empty()) return false;
  return RetryWhileBusy([&] { return sys::ReplaceFile(file, bytes, sys::WriteKind::kWorkingFile); }) == 0;
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

bool http_get_to_file(std::u16string_view scheme, std::u16string_view address, std::u16string_view file) {
  move_file_aside(file, numbered_backup_name(file, true));
  const std::u16string full = std::u16string(scheme) + std::u16string(address);
  CURLU* url = curl_url();
  UrlParts parts;
  if (!url || !ParseUrl(url, ToUtf8(full), parts)) {
    curl_url_cleanup(url);
    ReportError(u"Failed AfxParseURL |" + full);
    return false;
  }
  const bool secure = parts.scheme == "https";
  const std::u16string where = Widen(parts.host) + u"\t" + Widen(std::to_string(parts.port)) + u"\t";
  CURL* curl = CurlReady() ? curl_easy_init() : nullptr;
  if (!curl) {
    curl_url_cleanup(url);
    ReportError(where + u"SendRequest ... error");
    return false;
  }
  Body body;
  char error_text[CURL_ERROR_SIZE] = {};
  const std::string agent = UserAgent();
  curl_easy_setopt(curl, CURLOPT_CURLU, url);
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  // A secure request never continues in the clear.
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, secure ? "https" : "http,https");
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, static_cast<long>(kMaxRedirects));
  curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(curl, CURLOPT_USERAGENT, agent.c_str());
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(Waits().connect_timeout.count()));
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(Waits().transfer_timeout.count()));
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kMaxPageBytes));
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error_text);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &OnBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &OnHeader);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &body);
  const CURLcode result = curl_easy_perform(curl);
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  curl_easy_cleanup(curl);
  curl_url_cleanup(url);

  if (result != CURLE_OK) {
    if (status == 0 && !body.too_large && !body.headers_too_large && !body.no_memory) {
      // No answer at all: the connection, the secure channel or the request failed.
      ReportError(where + u"SendRequest ... error");
    } else if (body.too_large || result == CURLE_FILESIZE_EXCEEDED) {
      ReportError(where + u"The page is larger than " + Widen(std::to_string(kMaxPageBytes)) + u" bytes.");
    } else if (body.headers_too_large) {
      ReportError(where + u"The page's headers are larger than " + Widen(std::to_string(kMaxHeaderBytes)) + u" bytes.");
    } else if (body.no_memory) {
      ReportError(where + u"Not enough memory for the page.");
    } else {
      ReportError(where + Widen(error_text[0] ? error_text : curl_easy_strerror(result)));
    }
    return false;
  }
  // The status code decides nothing: an error page is saved like any page.
  if (!SaveBody(file, body.bytes)) {
    ReportError(where + u"Can't save " + std::u16string(file));
    return false;
  }
  return true;
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
    if (sys::MoveFile(aside, file) != 0) ReportError(u"Can't restore " + std::u16string(file));
  }
  return false;
}

}  // namespace ocelo
