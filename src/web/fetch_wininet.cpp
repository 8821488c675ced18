// The GET of a page over WinINet, within the same bounds as elsewhere: kMaxRedirects redirects followed
// here (a secure request only to "https:"), kMaxHeaderBytes of headers, kMaxPageBytes of body, and the
// connect and transfer times of WaitPolicy. Nothing is read from or written to WinINet's own cache.
#include <windows.h>
#include <wininet.h>

#include <chrono>
#include <new>
#include <string>
#include <vector>

#include "util/policy.h"
#include "util/strings.h"
#include "web/fetch.h"
#include "web/fetch_transfer.h"

namespace ocelo {
namespace {

std::wstring Wide(std::u16string_view text) {
  return std::wstring(reinterpret_cast<const wchar_t*>(text.data()), text.size());
}

std::u16string FromWide(const std::wstring& text) {
  return std::u16string(reinterpret_cast<const char16_t*>(text.data()), text.size());
}

// Closes an Internet handle at the end of a scope.
struct InternetHandle {
  HINTERNET handle = nullptr;
  ~InternetHandle() {
    if (handle) ::InternetCloseHandle(handle);
  }
};

// The parts of a URL a message names; false for anything but http and https, or without a host.
struct UrlParts {
  bool secure = false;
  std::wstring host;
  INTERNET_PORT port = 0;
};

bool ParseUrl(const std::wstring& url, UrlParts& parts) {
  wchar_t host[INTERNET_MAX_HOST_NAME_LENGTH + 1] = {};
  URL_COMPONENTSW components{};
  components.dwStructSize = sizeof components;
  components.lpszHostName = host;
  components.dwHostNameLength = INTERNET_MAX_HOST_NAME_LENGTH + 1;
  if (!::InternetCrackUrlW(url.c_str(), static_cast<DWORD>(url.size()), 0, &components)) return false;
  if (components.nScheme != INTERNET_SCHEME_HTTP && components.nScheme != INTERNET_SCHEME_HTTPS) return false;
  parts.secure = components.nScheme == INTERNET_SCHEME_HTTPS;
  parts.host.assign(host, components.dwHostNameLength);
  parts.port = components.nPort;
  return !parts.host.empty();
}

DWORD QueryNumber(HINTERNET request, DWORD what) {
  DWORD value = 0, size = sizeof value, index = 0;
  if (!::HttpQueryInfoW(request, what | HTTP_QUERY_FLAG_NUMBER, &value, &size, &index)) return 0;
  return value;
}

std::wstring QueryText(HINTERNET request, DWORD what) {
  DWORD size = 0, index = 0;
  ::HttpQueryInfoW(request, what, nullptr, &size, &index);
  if (size == 0) return {};
  std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
  index = 0;
  if (!::HttpQueryInfoW(request, what, text.data(), &size, &index)) return {};
  text.resize(size / sizeof(wchar_t));
  return text;
}

}  // namespace

bool http_available() { return true; }

bool http_get_to_file(std::u16string_view scheme, std::u16string_view address, std::u16string_view file) {
  move_file_aside(file, numbered_backup_name(file, true));
  const std::u16string full = std::u16string(scheme) + std::u16string(address);
  std::wstring url = Wide(full);
  UrlParts parts;
  if (!ParseUrl(url, parts)) {
    ReportFetchError(u"Failed AfxParseURL |" + full);
    return false;
  }
  const bool secure = parts.secure;
  const std::u16string where = FromWide(parts.host) + u"\t" +
                               Widen(std::to_string(parts.port == 0 ? (secure ? 443 : 80) : parts.port)) + u"\t";
  const std::u16string agent = Widen(FetchUserAgent());
  InternetHandle session{::InternetOpenW(Wide(agent).c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0)};
  if (!session.handle) {
    ReportFetchError(where + u"SendRequest ... error");
    return false;
  }
  DWORD connect_ms = static_cast<DWORD>(Waits().connect_timeout.count());
  DWORD transfer_ms = static_cast<DWORD>(Waits().transfer_timeout.count());
  ::InternetSetOptionW(session.handle, INTERNET_OPTION_CONNECT_TIMEOUT, &connect_ms, sizeof connect_ms);
  ::InternetSetOptionW(session.handle, INTERNET_OPTION_SEND_TIMEOUT, &transfer_ms, sizeof transfer_ms);
  ::InternetSetOptionW(session.handle, INTERNET_OPTION_RECEIVE_TIMEOUT, &transfer_ms, sizeof transfer_ms);
  const auto deadline = std::chrono::steady_clock::now() + Waits().transfer_timeout;
  constexpr DWORD kFlags = INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                           INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_UI |
                           INTERNET_FLAG_KEEP_CONNECTION;
  std::int64_t header_bytes = 0;
  InternetHandle request;
  for (int redirects = 0;; ++redirects) {
    if (request.handle) {
      ::InternetCloseHandle(request.handle);
      request.handle = nullptr;
    }
    request.handle = ::InternetOpenUrlW(session.handle, url.c_str(), nullptr, 0, kFlags, 0);
    if (!request.handle) {
      ReportFetchError(where + u"SendRequest ... error");
      return false;
    }
    header_bytes += static_cast<std::int64_t>(QueryText(request.handle, HTTP_QUERY_RAW_HEADERS_CRLF).size());
    if (header_bytes > kMaxHeaderBytes) {
      ReportFetchError(where + u"The page's headers are larger than " + Widen(std::to_string(kMaxHeaderBytes)) +
                       u" bytes.");
      return false;
    }
    const DWORD status = QueryNumber(request.handle, HTTP_QUERY_STATUS_CODE);
    const bool redirect = status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
    if (!redirect) break;
    const std::wstring location = QueryText(request.handle, HTTP_QUERY_LOCATION);
    if (location.empty()) break;  // a redirect without a target is a page like any other
    if (redirects == kMaxRedirects) {
      ReportFetchError(where + u"Maximum (" + Widen(std::to_string(kMaxRedirects)) + u") redirects followed");
      return false;
    }
    std::wstring next(INTERNET_MAX_URL_LENGTH, L'\0');
    DWORD length = INTERNET_MAX_URL_LENGTH;
    if (!::InternetCombineUrlW(url.c_str(), location.c_str(), next.data(), &length, ICU_NO_ENCODE)) {
      ReportFetchError(where + u"SendRequest ... error");
      return false;
    }
    next.resize(length);
    UrlParts next_parts;
    // A secure request never continues in the clear.
    if (!ParseUrl(next, next_parts) || (secure && !next_parts.secure)) {
      ReportFetchError(where + u"Protocol \"" + FromWide(next.substr(0, next.find(L':'))) + u"\" not supported");
      return false;
    }
    url = std::move(next);
  }

  std::vector<std::uint8_t> body;
  try {
    std::uint8_t piece[64 * 1024];
    for (;;) {
      if (std::chrono::steady_clock::now() > deadline) {
        ReportFetchError(where + u"Operation timed out");
        return false;
      }
      DWORD got = 0;
      if (!::InternetReadFile(request.handle, piece, sizeof piece, &got)) {
        ReportFetchError(where + u"SendRequest ... error");
        return false;
      }
      if (got == 0) break;
      if (static_cast<std::int64_t>(body.size() + got) > kMaxPageBytes) {
        ReportFetchError(where + u"The page is larger than " + Widen(std::to_string(kMaxPageBytes)) + u" bytes.");
        return false;
      }
      body.insert(body.end(), piece, piece + got);
    }
  } catch (const std::bad_alloc&) {
    ReportFetchError(where + u"Not enough memory for the page.");
    return false;
  }
  // The status code decides nothing: an error page is saved like any page.
  if (!SaveFetchedBody(file, body)) {
    ReportFetchError(where + u"Can't save " + std::u16string(file));
    return false;
  }
  return true;
}

}  // namespace ocelo
