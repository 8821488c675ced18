// The GET of a page over WinINet, within the same bounds as elsewhere: kMaxRedirects redirects followed
// here (a secure request only to "https:"), kMaxHeaderBytes of headers, kMaxPageBytes of body, and the
// connect and transfer times of WaitPolicy. Nothing is read from or written to WinINet's own cache.
#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <chrono>
#include <mutex>
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

// The parts of a URL the request and its messages name; false for anything but http and https, or
// without a host.
struct UrlParts {
  bool secure = false;
  std::wstring host;
  INTERNET_PORT port = 0;
  std::wstring object = L"/";  // the path and the query
};

bool ParseUrl(const std::wstring& url, UrlParts& parts) {
  wchar_t host[INTERNET_MAX_HOST_NAME_LENGTH + 1] = {};
  URL_COMPONENTSW components{};
  components.dwStructSize = sizeof components;
  components.lpszHostName = host;
  components.dwHostNameLength = INTERNET_MAX_HOST_NAME_LENGTH + 1;
  components.dwUrlPathLength = 1;  // a length without a buffer: the part is pointed to within the URL
  components.dwExtraInfoLength = 1;
  if (!::InternetCrackUrlW(url.c_str(), static_cast<DWORD>(url.size()), 0, &components)) return false;
  if (components.nScheme != INTERNET_SCHEME_HTTP && components.nScheme != INTERNET_SCHEME_HTTPS) return false;
  parts.secure = components.nScheme == INTERNET_SCHEME_HTTPS;
  parts.host.assign(host, components.dwHostNameLength);
  parts.port = components.nPort;
  parts.object.clear();
  if (components.lpszUrlPath) parts.object.assign(components.lpszUrlPath, components.dwUrlPathLength);
  if (components.lpszExtraInfo) parts.object.append(components.lpszExtraInfo, components.dwExtraInfoLength);
  if (parts.object.empty() || parts.object[0] != L'/') parts.object.insert(0, 1, L'/');
  return !parts.host.empty();
}

// A session and its current connection and request, bounded by the transfer time. Wine's WinINet keeps a
// receive timeout only when it is set on the request (not the session's), and each wait has its own, so
// before every call that waits the request gets the time that is left. When the time runs out during such
// a call, a timer closes the request, which makes the call return on Windows (Wine lets it run on to the
// receive timeout). Each handle is closed once, by the timer or by the transfer: the timer closes only
// during a call that waits, and once the time is up the transfer makes no call on its handles.
class TimedSession {
 public:
  explicit TimedSession(HINTERNET session) : session_(session) {}
  ~TimedSession() {
    // Deleting the timer waits for an expiry under way; after it, the handles are this thread's alone.
    if (timer_) ::DeleteTimerQueueTimer(nullptr, timer_, INVALID_HANDLE_VALUE);
    CloseRequest();
    if (session_) ::InternetCloseHandle(session_);
  }
  TimedSession(const TimedSession&) = delete;
  TimedSession& operator=(const TimedSession&) = delete;

  /// Starts the clock; false when there is no session or no timer.
  bool Start(std::chrono::milliseconds time) {
    deadline_ = std::chrono::steady_clock::now() + time;
    DWORD connect_ms = static_cast<DWORD>(Waits().connect_timeout.count());
    if (session_) ::InternetSetOptionW(session_, INTERNET_OPTION_CONNECT_TIMEOUT, &connect_ms, sizeof connect_ms);
    const DWORD due = static_cast<DWORD>(std::clamp<std::int64_t>(time.count(), 1, MAXDWORD - 1));
    return session_ &&
           ::CreateTimerQueueTimer(&timer_, nullptr, &TimedSession::Expire, this, due, 0, WT_EXECUTEONLYONCE);
  }

  /// The request, for calls that do not wait: between such calls the timer closes nothing.
  HINTERNET request() {
    std::lock_guard lock(mutex_);
    return request_;
  }
  /// True when the time ran out, by the timer or by a receive timeout.
  bool TimedOut() {
    std::lock_guard lock(mutex_);
    return expired_ || timed_out_;
  }

  /// Sends a GET in place of the current request: false when the time is up or the request failed.
  bool Open(const UrlParts& url, DWORD flags) {
    HINTERNET request = nullptr;
    {
      std::lock_guard lock(mutex_);
      if (expired_) return false;
      CloseRequest();
      const wchar_t* accept[] = {L"*/*", nullptr};
      connection_ = ::InternetConnectW(session_, url.host.c_str(), url.port, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0,
                                       0);
      if (connection_) {
        request_ = ::HttpOpenRequestW(connection_, L"GET", url.object.c_str(), nullptr, nullptr, accept,
                                      flags | (url.secure ? INTERNET_FLAG_SECURE : 0), 0);
      }
      if (!request_) return false;
      request = Waiting();
    }
    const bool sent = ::HttpSendRequestW(request, nullptr, 0, nullptr, 0);
    return End(sent) && sent;
  }

  /// Reads the next piece of the body: false when the time is up or the read failed.
  bool Read(std::uint8_t* piece, DWORD size, DWORD& got) {
    HINTERNET request = nullptr;
    {
      std::lock_guard lock(mutex_);
      if (expired_) return false;
      request = Waiting();
    }
    const bool read = ::InternetReadFile(request, piece, size, &got);
    return End(read) && read;
  }

 private:
  // Gives the current request the time that is left and marks the start of a call on it that waits.
  HINTERNET Waiting() {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ -
                                                                            std::chrono::steady_clock::now());
    DWORD ms = static_cast<DWORD>(std::clamp<std::int64_t>(left.count(), 1, MAXDWORD - 1));
    for (const DWORD option : {INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT}) {
      ::InternetSetOptionW(request_, option, &ms, sizeof ms);
    }
    ms = std::min(ms, static_cast<DWORD>(Waits().connect_timeout.count()));
    ::InternetSetOptionW(request_, INTERNET_OPTION_CONNECT_TIMEOUT, &ms, sizeof ms);
    waiting_ = true;
    return request_;
  }
  // Marks the end of the call; false when the timer closed the request meanwhile.
  bool End(bool done) {
    const DWORD error = done ? 0 : ::GetLastError();
    std::lock_guard lock(mutex_);
    waiting_ = false;
    timed_out_ = error == ERROR_INTERNET_TIMEOUT;
    return !expired_;
  }
  void CloseRequest() {
    if (request_) ::InternetCloseHandle(request_);
    if (connection_) ::InternetCloseHandle(connection_);
    request_ = connection_ = nullptr;
  }
  static void CALLBACK Expire(void* self, BOOLEAN) {
    TimedSession& session = *static_cast<TimedSession*>(self);
    std::lock_guard lock(session.mutex_);
    session.expired_ = true;
    if (session.waiting_) session.CloseRequest();  // else the transfer sees the time is up before its next call
  }

  std::mutex mutex_;
  std::chrono::steady_clock::time_point deadline_;
  HINTERNET session_ = nullptr;
  HINTERNET connection_ = nullptr;
  HINTERNET request_ = nullptr;
  HANDLE timer_ = nullptr;
  bool waiting_ = false;
  bool expired_ = false;
  bool timed_out_ = false;
};

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
  TimedSession session(::InternetOpenW(Wide(agent).c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!session.Start(Waits().transfer_timeout)) {
    ReportFetchError(where + u"SendRequest ... error");
    return false;
  }
  constexpr DWORD kFlags = INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                           INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_UI |
                           INTERNET_FLAG_KEEP_CONNECTION;
  // As with libcurl, time that runs out before any answer is a failed request, and after one a timeout.
  const std::u16string timed_out = where + u"Operation timed out";
  bool answered = false;
  std::int64_t header_bytes = 0;
  for (int redirects = 0;; ++redirects) {
    if (!session.Open(parts, kFlags)) {
      ReportFetchError(answered && session.TimedOut() ? timed_out : where + u"SendRequest ... error");
      return false;
    }
    answered = true;
    header_bytes += static_cast<std::int64_t>(QueryText(session.request(), HTTP_QUERY_RAW_HEADERS_CRLF).size());
    if (header_bytes > kMaxHeaderBytes) {
      ReportFetchError(where + u"The page's headers are larger than " + Widen(std::to_string(kMaxHeaderBytes)) +
                       u" bytes.");
      return false;
    }
    const DWORD status = QueryNumber(session.request(), HTTP_QUERY_STATUS_CODE);
    const bool redirect = status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
    if (!redirect) break;
    const std::wstring location = QueryText(session.request(), HTTP_QUERY_LOCATION);
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
    parts = std::move(next_parts);
  }

  std::vector<std::uint8_t> body;
  try {
    std::uint8_t piece[64 * 1024];
    for (;;) {
      DWORD got = 0;
      if (!session.Read(piece, sizeof piece, got)) {
        ReportFetchError(session.TimedOut() ? timed_out : where + u"SendRequest ... error");
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
