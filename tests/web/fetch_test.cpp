// The page cache and the HTTP fetch: cache names of URLs, numbered earlier copies, and downloads from a
// server on 127.0.0.1 (secure attempts turned away, so every page arrives over plain HTTP).
#include "web/fetch.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "support/sandbox.h"
#include "util/policy.h"
#include "web/family_folders.h"
#include "web/page_server.h"
#include "web/u_agent.h"

namespace ocelo {
namespace {

namespace fs = std::filesystem;
using test::U16;
using test::U8;

std::string Text(const std::string& path) {
  const test::Bytes bytes = test::ReadBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

TEST(PagePaths, RootAndCompactedPaths) {
  const struct {
    std::u16string path, root;
  } roots[] = {
      {u"", u""},
      {u"C", u""},
      {u"C:", u"C:"},
      {u"C:\\dir\\a", u"C:"},
      {u"\\\\srv\\share\\a", u"\\\\srv"},
      {u"//host/x", u"//host"},
      {u"//host", u""},
      {u"\\\\srv/share", u"\\\\srv"},
      {u"/a/b", u""},
      {u"ab/cd", u""},
  };
  for (const auto& c : roots) {
    SCOPED_TRACE(U8(c.path));
    EXPECT_EQ(path_root(c.path), c.root);
  }

  const std::u16string deep = u"C:\\aaa\\bbb\\ccc\\ddd\\notes.txt";  // 28 characters
  const struct {
    std::u16string path;
    std::size_t limit;
    std::u16string compacted;
  } compacted[] = {
      {deep, 28, deep},
      {deep, 100, deep},
      {deep, 27, u"C:\\aaa\\...\\ddd\\notes.txt"},
      {deep, 24, u"C:\\aaa\\...\\ddd\\notes.txt"},
      {deep, 23, u"C:\\aaa\\...\\notes.txt"},
      {deep, 20, u"C:\\aaa\\...\\notes.txt"},
      {deep, 19, u"notes.txt"},  // root, name and "\...\" do not fit
      {deep, 8, u"notes.txt"},   // not even the name fits: it is returned whole
      {u"//host/a/b/c/d/e/page.htm", 21, u"//host/a\\...\\page.htm"},
      {u"//host/a/b/c/d/e/page.htm", 20, u"page.htm"},
  };
  for (const auto& c : compacted) {
    SCOPED_TRACE(U8(c.path) + " " + std::to_string(c.limit));
    EXPECT_EQ(compact_path(c.path, c.limit, u'\\'), c.compacted);
  }
}

TEST(PagePaths, UrlsMapToCacheNamesInsideTheCache) {
  const struct {
    std::u16string url, relative;
  } cases[] = {
      {u"//download.vexo.invalid/Vexo/download/", u"_//download_vexo_invalid/Vexo/download/_.htm"},
      {u"https://h.example/a/page.asp", u"_//h_example/a/page_asp/_.html"},
      {u"http://h.example/a/file.ZIP", u"_//h_example/a/file.ZIP"},
      {u"http://h.example/a/b.txt", u"_//h_example/a/b.txt"},
      {u"//h/p.php?id=7&x=a+b", u"_//h/p_php/id_7/x_a/b/_.htm"},
      {u"//127.0.0.1:8080/", u"_//127_0_0_1/8080/_.htm"},
      {u"//h\\a\\b.css", u"_//h/a/b.css"},
      // escapes and parent steps never leave the cache folder
      {u"//h/../../etc/passwd", u"_//h/_/_/etc/passwd/_.htm"},
      {u"//h/%2e%2e/x.js", u"_//h/2e/2e/x.js"},
      {u"//h/a/..zip", u"_//h/a/.zip"},
  };
  const std::string cache = test::SandboxRoot() + "/tmp/Vexo.tmp/Pramo/";
  for (const auto& c : cases) {
    SCOPED_TRACE(U8(c.url));
    EXPECT_EQ(test::Slashes(U8(url_to_relative_path(c.url))), U8(c.relative));
    const std::u16string path = page_cache_path(c.url);
    EXPECT_EQ(test::Slashes(U8(path)), cache + "_/" + U8(c.relative.substr(3)));
    EXPECT_TRUE(fs::is_directory(fs::path(U8(path)).parent_path()));
  }
  // A long URL is cut down to 100 characters with "..." (a single "." once dots collapse) in its middle.
  const std::u16string long_url = u"//h.example/" + std::u16string(30, u'a') + u"/" + std::u16string(30, u'b') + u"/" +
                                  std::u16string(30, u'c') + u"/" + std::u16string(30, u'd') + u"/page.htm";
  EXPECT_EQ(test::Slashes(U8(url_to_relative_path(long_url))),
            "_//h_example/" + std::string(30, 'a') + "/_/" + std::string(30, 'd') + "/page.htm");
}

TEST(PageCopies, NumberedNamesAndMovesAside) {
  const std::string folder = test::TestFolder();
  const std::u16string page = U16(folder + "/b.txt"), bare = U16(folder + "/b");
  EXPECT_EQ(numbered_backup_name(page, false), page);  // missing file keeps its name
  EXPECT_EQ(U8(numbered_backup_name(page, true)), folder + "/b.000.txt");
  EXPECT_EQ(U8(numbered_backup_name(bare, true)), folder + "/b.000");
  test::WriteText(folder + "/b.000.txt", "old");
  test::WriteText(folder + "/b.txt", "now");
  EXPECT_EQ(U8(numbered_backup_name(page, false)), folder + "/b.001.txt");

  // The move creates the target's folder and leaves nothing at the source.
  const std::u16string aside = U16(folder + "/new/deeper/b.txt");
  EXPECT_TRUE(move_file_aside(page, aside));
  EXPECT_FALSE(test::Exists(folder + "/b.txt"));
  EXPECT_EQ(test::ReadBytes(folder + "/new/deeper/b.txt"), test::Bytes({'n', 'o', 'w'}));
  EXPECT_FALSE(move_file_aside(page, aside));  // source gone
  // Every number taken: the name comes back unchanged, and moving a file onto itself keeps it.
  for (int n = 0; n < 1000; ++n) {
    char name[16];
    std::snprintf(name, sizeof name, "/b.%03d.txt", n);
    test::WriteText(folder + name, "x");
  }
  test::WriteText(folder + "/b.txt", "kept");
  EXPECT_EQ(numbered_backup_name(page, true), page);
  EXPECT_FALSE(move_file_aside(page, numbered_backup_name(page, true)));
  EXPECT_EQ(Text(folder + "/b.txt"), "kept");
}

class FetchTest : public ::testing::Test {
 protected:
  FetchTest() : folder_(test::TestFolder()), file_(U16(folder_ + "/page.htm")) {
    u_agent();  // its first call may write notices of its own to the standard error stream
  }
  ~FetchTest() override { SetWaits(saved_); }
  void SetUp() override {
    if (!http_available()) GTEST_SKIP() << "this build downloads nothing";
  }

  // One GET of a path on the server, with what it wrote to the standard error stream.
  bool Get(const std::string& path, std::string& errors, const char* scheme = "http:") {
    testing::internal::CaptureStderr();
    const bool saved = http_get_to_file(U16(scheme), U16("//" + server_.Host() + path), file_);
    errors = testing::internal::GetCapturedStderr();
    return saved;
  }
  std::string Saved() { return Text(folder_ + "/page.htm"); }

  test::PageServer server_;
  WaitPolicy saved_ = Waits();
  std::string folder_;
  std::u16string file_;
};

TEST_F(FetchTest, BodiesAreSavedAsTheyCome) {
  server_.SetPage("/Vexo/download/", "<html>page</html>\r\n");
  server_.SetPage("/error", test::PageServer::Page{500, "server broke", "", false, false});
  server_.SetPage("/empty", "");
  server_.SetPage("/moved", test::PageServer::Page{302, "", "Location: /Vexo/download/\r\n", false, false});
  server_.SetPage("/stream", test::PageServer::Page{200, "no length given", "", false, true});
  const struct {
    std::string path, body;
  } cases[] = {
      {"/Vexo/download/", "<html>page</html>\r\n"},
      {"/error", "server broke"},  // an error page is a page
      {"/missing", "not here"},
      {"/empty", ""},
      {"/moved", "<html>page</html>\r\n"},
      {"/stream", "no length given"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    std::string errors;
    EXPECT_TRUE(Get(c.path, errors));
    EXPECT_EQ(errors, "");
    ASSERT_TRUE(test::Exists(folder_ + "/page.htm"));
    EXPECT_EQ(Saved(), c.body);
  }
  // Every request carries the environment report; each earlier file was moved aside under its own number.
  for (const auto& request : server_.Requests()) EXPECT_EQ(request.user_agent, U8(u_agent()));
  for (int n = 0; n < 5; ++n) EXPECT_TRUE(test::Exists(folder_ + "/page.00" + std::to_string(n) + ".htm")) << n;
  EXPECT_EQ(Text(folder_ + "/page.001.htm"), "server broke");
}

TEST_F(FetchTest, FailedTransfersSaveNothing) {
  const std::string big(static_cast<std::size_t>(kMaxPageBytes) + 1, 'x');
  server_.SetPage("/big", test::PageServer::Page{200, big, "", false, false});
  server_.SetPage("/big-stream", test::PageServer::Page{200, big, "", false, true});
  std::string padding;
  for (int line = 0; line < 300; ++line) padding += "X-Padding: " + std::string(1000, 'p') + "\r\n";
  server_.SetPage("/headers", test::PageServer::Page{200, "page", padding, false, false});
  server_.SetPage("/silent", test::PageServer::Page{200, "", "", true, false});
  server_.SetPage("/loop", test::PageServer::Page{302, "", "Location: /loop\r\n", false, false});
  server_.SetPage("/to-file", test::PageServer::Page{302, "", "Location: file:///etc/passwd\r\n", false, false});
  const std::string where = "127.0.0.1\t" + std::to_string(server_.Port()) + "\t";
  const std::string too_large = where + "The page is larger than 8388608 bytes.\n";
  // Only the silent server needs the transfer time to run out: it never answers, so the download ends only
  // when the policy's time does. Every other case ends on what the server sent, with the full time in force.
  const WaitPolicy full = Waits();
  WaitPolicy short_transfer = full;
  short_transfer.transfer_timeout = std::chrono::milliseconds(300);
  const struct {
    std::string path, scheme, errors;
    bool stalls;
  } cases[] = {
      {"/big", "http:", too_large, false},
      {"/big-stream", "http:", too_large, false},
      {"/headers", "http:", where + "The page's headers are larger than 262144 bytes.\n", false},
      {"/silent", "http:", where + "SendRequest ... error\n", true},
      {"/Vexo/download/", "https:", where + "SendRequest ... error\n", false},  // no secure channel on this port
      {"/loop", "http:", "", false},
      {"/to-file", "http:", "", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path + " " + c.scheme);
    SetWaits(c.stalls ? short_transfer : full);
    test::WriteText(folder_ + "/page.htm", "earlier");
    std::string errors;
    EXPECT_FALSE(Get(c.path, errors, c.scheme.c_str()));
    if (!c.errors.empty()) EXPECT_EQ(errors, c.errors);
    else
      EXPECT_EQ(errors.rfind(where, 0), 0u) << errors;
    // the earlier file went aside as usual; no part of the failed body was kept
    EXPECT_FALSE(test::Exists(folder_ + "/page.htm"));
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
}

TEST_F(FetchTest, UnusableAddressesAreRefusedBeforeAnyConnection) {
  const struct {
    std::u16string scheme, address;
  } cases[] = {
      {u"http:", u""},
      {u"http:", u"//"},
      {u"https:", u"//:443/x"},
      {u"file:", u"///etc/passwd"},
      {u"ftp:", u"//127.0.0.1:1/x"},
      {u"gopher:", u"//127.0.0.1:1/"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(U8(c.scheme + c.address));
    testing::internal::CaptureStderr();
    EXPECT_FALSE(http_get_to_file(c.scheme, c.address, file_));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Failed AfxParseURL |" + U8(c.scheme + c.address) + "\n");
  }
  testing::internal::CaptureStderr();
  EXPECT_FALSE(http_get_to_file(u"http:", u"//127.0.0.1:1/x", file_));  // nothing listens on port 1
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "127.0.0.1\t1\tSendRequest ... error\n");
  EXPECT_TRUE(server_.Requests().empty());
}

TEST_F(FetchTest, PagesComeOverHttpWhenTheSecureAttemptFails) {
  server_.SetPage("/Vexo/download/", "today's page");
  const std::u16string url = U16("//" + server_.Host() + "/Vexo/download/");
  const std::string cache = test::Slashes(U8(page_cache_path(url)));
  const std::string cache_folder = cache.substr(0, cache.rfind('/'));
  test::WriteText(cache, "yesterday's page");

  testing::internal::CaptureStderr();
  EXPECT_EQ(test::Slashes(U8(fetch_page(u"https:" + url))), cache);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(Text(cache), "today's page");
  EXPECT_EQ(Text(cache_folder + "/_.000.htm"), "yesterday's page");
  const auto requests = server_.Requests();
  ASSERT_GE(requests.size(), 2u);
  // libcurl greets once; WinINet greets again before it gives the secure channel up.
  for (std::size_t i = 0; i + 1 < requests.size(); ++i) EXPECT_TRUE(requests[i].tls) << i;
  EXPECT_EQ(requests.back().path, "/Vexo/download/");
#ifndef _WIN32
  EXPECT_EQ(requests.size(), 2u);
#endif

  // The server gone: both attempts fail, the cache file is missing, today's copy is kept aside.
  const std::u16string gone = u"//127.0.0.1:1/Vexo/download/";
  testing::internal::CaptureStderr();
  const std::string file = U8(fetch_page(gone));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "127.0.0.1\t1\tSendRequest ... error\n127.0.0.1\t1\tSendRequest ... error\n");
  EXPECT_FALSE(test::Exists(file));

  // Every numbered name taken: the cached copy is still replaced by the download.
  for (int n = 1; n < 1000; ++n) {
    char name[16];
    std::snprintf(name, sizeof name, "/_.%03d.htm", n);
    test::WriteText(cache_folder + name, "x");
  }
  server_.SetPage("/Vexo/download/", "tomorrow's page");
  testing::internal::CaptureStderr();
  fetch_page(url);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(Text(cache), "tomorrow's page");
}

}  // namespace
}  // namespace ocelo
