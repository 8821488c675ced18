// A small HTTP server on 127.0.0.1 for the web tests: it serves the pages a test gives it, one connection
// at a time, records every request, and turns a secure (TLS) greeting away, so that no test needs the
// network or more than the test program itself.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cstdlib>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace ocelo::test {

#ifdef _WIN32
using Socket = SOCKET;
inline constexpr Socket kNoSocket = INVALID_SOCKET;
inline void CloseSocket(Socket socket) { ::closesocket(socket); }
inline bool Readable(Socket socket) {
  WSAPOLLFD entry{socket, POLLIN, 0};
  return ::WSAPoll(&entry, 1, 50) > 0;
}
constexpr int kSendFlags = 0;
#else
using Socket = int;
inline constexpr Socket kNoSocket = -1;
inline void CloseSocket(Socket socket) { ::close(socket); }
// Waits up to 50 ms for the socket to become readable; false when it did not.
inline bool Readable(Socket socket) {
  pollfd entry{socket, POLLIN, 0};
  return ::poll(&entry, 1, 50) > 0;
}
constexpr int kSendFlags = MSG_NOSIGNAL;
#endif

class PageServer {
 public:
  struct Page {
    int status = 200;
    std::string body;
    std::string headers;     // extra header lines, each ending in CRLF
    bool hang = false;       // read the request, never answer
    bool no_length = false;  // no Content-Length: the body ends when the connection does
  };
  struct Request {
    bool tls = false;  // a secure greeting, turned away
    std::string path, user_agent;
  };

  PageServer() {
#ifdef _WIN32
    WSADATA winsock;
    if (::WSAStartup(MAKEWORD(2, 2), &winsock) != 0) throw std::runtime_error("cannot start winsock");
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    using socklen_t = int;
#else
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
#endif
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener_ == kNoSocket || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(listener_, 8) != 0 || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      throw std::runtime_error("cannot start the page server");
    }
    port_ = ntohs(address.sin_port);
    // Requests to 127.0.0.1 never go through a proxy the environment may name.
    for (const char* name : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
#ifdef _WIN32
      ::SetEnvironmentVariableA(name, nullptr);
#else
      ::unsetenv(name);
#endif
    }
    thread_ = std::thread([this] { Serve(); });
  }
  ~PageServer() {
    stop_ = true;
    thread_.join();
    CloseSocket(listener_);
#ifdef _WIN32
    ::WSACleanup();
#endif
  }
  PageServer(const PageServer&) = delete;
  PageServer& operator=(const PageServer&) = delete;

  int Port() const { return port_; }
  /// "127.0.0.1:port", the host part of a URL.
  std::string Host() const { return "127.0.0.1:" + std::to_string(port_); }

  void SetPage(const std::string& path, Page page) {
    std::lock_guard<std::mutex> lock(mutex_);
    pages_[path] = std::move(page);
  }
  void SetPage(const std::string& path, const std::string& body) { SetPage(path, Page{200, body, "", false, false}); }

  std::vector<Request> Requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }
  void ClearRequests() {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.clear();
  }

 private:
  void Serve() {
    while (!stop_) {
      if (!Readable(listener_)) continue;
#ifdef _WIN32
      const Socket client = ::accept(listener_, nullptr, nullptr);
#else
      const Socket client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
#endif
      if (client == kNoSocket) continue;
      Answer(client);
      CloseSocket(client);
    }
  }

  void Answer(Socket client) {
    std::string request;
    char buffer[4096];
    while (!stop_ && request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
      if (!Readable(client)) continue;
      const auto got = ::recv(client, buffer, sizeof buffer, 0);
      if (got <= 0) break;
      request.append(buffer, static_cast<std::size_t>(got));
      if (request[0] == '\x16') {  // a TLS handshake: no secure channel here
        Record({true, "", ""});
        return;
      }
    }
    Request seen;
    const std::size_t path_start = request.find(' ');
    if (path_start != std::string::npos) {
      seen.path = request.substr(path_start + 1, request.find(' ', path_start + 1) - path_start - 1);
    }
    const std::size_t agent = request.find("\r\nUser-Agent: ");
    if (agent != std::string::npos) {
      const std::size_t start = agent + 14;
      seen.user_agent = request.substr(start, request.find("\r\n", start) - start);
    }
    Record(seen);
    Page page{404, "not here", "", false, false};
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (const auto found = pages_.find(seen.path); found != pages_.end()) page = found->second;
    }
    if (page.hang) {
      while (!stop_) {
        if (Readable(client) && ::recv(client, buffer, sizeof buffer, 0) <= 0) break;
      }
      return;
    }
    const std::string length = page.no_length ? "" : "Content-Length: " + std::to_string(page.body.size()) + "\r\n";
    const std::string response = "HTTP/1.1 " + std::to_string(page.status) + " X\r\n" + length +
                                 "Connection: close\r\n" + page.headers + "\r\n" + page.body;
    for (std::size_t sent = 0; sent < response.size() && !stop_;) {
      const auto put = ::send(client, response.data() + sent, static_cast<int>(response.size() - sent), kSendFlags);
      if (put <= 0) break;
      sent += static_cast<std::size_t>(put);
    }
  }

  void Record(Request request) {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(std::move(request));
  }

  Socket listener_ = kNoSocket;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::map<std::string, Page> pages_;
  std::vector<Request> requests_;
  std::thread thread_;
};

}  // namespace ocelo::test
