// The GET of a page over libcurl.
#include <curl/curl.h>

#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "util/policy.h"
#include "util/strings.h"
#include "web/fetch.h"
#include "web/fetch_transfer.h"

namespace ocelo {
namespace {

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

}  // namespace

bool http_available() { return true; }

bool http_get_to_file(std::u16string_view scheme, std::u16string_view address, std::u16string_view file) {
  move_file_aside(file, numbered_backup_name(file, true));
  const std::u16string full = std::u16string(scheme) + std::u16string(address);
  CURLU* url = curl_url();
  UrlParts parts;
  if (!url || !ParseUrl(url, ToUtf8(full), parts)) {
    curl_url_cleanup(url);
    ReportFetchError(u"Failed AfxParseURL |" + full);
    return false;
  }
  const bool secure = parts.scheme == "https";
  const std::u16string where = Widen(parts.host) + u"\t" + Widen(std::to_string(parts.port)) + u"\t";
  CURL* curl = CurlReady() ? curl_easy_init() : nullptr;
  if (!curl) {
    curl_url_cleanup(url);
    ReportFetchError(where + u"SendRequest ... error");
    return false;
  }
  Body body;
  char error_text[CURL_ERROR_SIZE] = {};
  const std::string agent = FetchUserAgent();
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
      ReportFetchError(where + u"SendRequest ... error");
    } else if (body.too_large || result == CURLE_FILESIZE_EXCEEDED) {
      ReportFetchError(where + u"The page is larger than " + Widen(std::to_string(kMaxPageBytes)) + u" bytes.");
    } else if (body.headers_too_large) {
      ReportFetchError(where + u"The page's headers are larger than " + Widen(std::to_string(kMaxHeaderBytes)) +
                       u" bytes.");
    } else if (body.no_memory) {
      ReportFetchError(where + u"Not enough memory for the page.");
    } else {
      ReportFetchError(where + Widen(error_text[0] ? error_text : curl_easy_strerror(result)));
    }
    return false;
  }
  // The status code decides nothing: an error page is saved like any page.
  if (!SaveFetchedBody(file, body.bytes)) {
    ReportFetchError(where + u"Can't save " + std::u16string(file));
    return false;
  }
  return true;
}

}  // namespace ocelo
