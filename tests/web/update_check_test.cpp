// The update check against a page server on 127.0.0.1: the page URL from the settings, one download a
// day, the decision between "new", "no update" and a change, the counter, and the browser (the
// sandbox's fake xdg-open records what it was asked to open).
#include "web/update_check.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>

#include "settings/profile.h"
#include "support/sandbox.h"
#include "util/policy.h"
#include "web/family_folders.h"
#include "web/fetch.h"
#include "web/page_server.h"
#include "web/u_agent.h"

namespace ocelo {
namespace {

using test::U16;
using test::U8;

constexpr std::u16string_view kSection = u"Pramo_update";
constexpr std::int64_t kDay = 24 * 60 * 60;

class UpdateCheckTest : public ::testing::Test {
 protected:
  UpdateCheckTest() {
    u_agent();  // its first call may write notices of its own to the standard error stream
    settings_.WriteString(kSection, u"server_name", U16(server_.Host()));
    settings_.WriteString(kSection, u"path_name", u"Vexo/download/");
    test::ClearOpenedByShell();
  }
  ~UpdateCheckTest() override {
    SetClockOffset(0);
    for (const char16_t* entry : {u"server_name", u"path_name", u"update count"}) {
      settings_.WriteString(kSection, entry, std::nullopt);
    }
  }

  // Runs the check as it would run `day` days from today, with what it wrote to the standard error stream.
  bool Check(int day, std::string& errors) {
    SetClockOffset(day * kDay);
    testing::internal::CaptureStderr();
    const bool changed = check_update();
    errors = testing::internal::GetCapturedStderr();
    return changed;
  }
  int Count() { return settings_.GetInt(kSection, u"update count", -1); }
  std::vector<std::string> Opened(std::size_t expected) {
    std::vector<std::string> opened = test::OpenedByShell(expected);
    test::ClearOpenedByShell();
    return opened;
  }
  std::size_t Downloads() {
    std::size_t count = 0;
    for (const auto& request : server_.Requests()) count += request.path == "/Vexo/download/";
    return count;
  }

  test::PageServer server_;
  PathProfile settings_{u"Vexo"};
};

TEST_F(UpdateCheckTest, PageUrlFromTheSettings) {
  const struct {
    std::optional<std::u16string> server, path;
    std::u16string url;
  } cases[] = {
      {std::nullopt, std::nullopt, u"//download.vexo.invalid/Vexo/download/"},
      {u"host.example/", u"/Vexo/download/", u"//host.example/Vexo/download/"},
      {u"host.example\\", u"\\a\\b", u"//host.example/a/b"},
      {u"//host.example", u"x.htm", u"//host.example/x.htm"},
      {u"host.example", u"", u"//host.example"},
      {u"", u"", u"//"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(U8(c.url));
    settings_.WriteString(kSection, u"server_name", c.server ? TextArg(*c.server) : std::nullopt);
    settings_.WriteString(kSection, u"path_name", c.path ? TextArg(*c.path) : std::nullopt);
    EXPECT_EQ(update_page_url(), c.url);
  }
}

// A build without the update check (OCELO_UPDATE_CHECK=OFF) asks no server, opens nothing, writes nothing.
TEST_F(UpdateCheckTest, BuildWithoutDownloadsChecksNothing) {
  if (http_available()) GTEST_SKIP() << "this build downloads";
  settings_.WriteInt(kSection, u"update count", 6);
  server_.SetPage("/Vexo/download/", "<p>v1</p>\r\n");
  std::string errors;
  EXPECT_FALSE(Check(0, errors));
  EXPECT_EQ(errors, "");
  EXPECT_TRUE(server_.Requests().empty());
  EXPECT_TRUE(Opened(0).empty());
  EXPECT_EQ(Count(), 6);
}

TEST_F(UpdateCheckTest, DailyChecksCountChangesAndOpenTheBrowser) {
  if (!http_available()) GTEST_SKIP() << "this build downloads nothing";
  const std::string url = "//" + server_.Host() + "/Vexo/download/";
  const std::string page = U8(page_cache_path(U16(url)));
  // Every download first tries a secure channel, which this server turns away.
  const std::string secure_refused = "127.0.0.1\t" + std::to_string(server_.Port()) + "\tSendRequest ... error\n";
  std::string errors;

  // First run: nothing to compare with. A counter already beyond 5 still opens the browser.
  settings_.WriteInt(kSection, u"update count", 6);
  server_.SetPage("/Vexo/download/", "<p>v1</p>\r\n<a href=\"https://x.example/\">x</a>\r\n");
  EXPECT_FALSE(Check(0, errors));
  EXPECT_EQ(errors, secure_refused + "new\n");
  EXPECT_EQ(Downloads(), 1u);
  EXPECT_EQ(Opened(1), std::vector<std::string>{"https:" + url});
  EXPECT_EQ(Count(), 0);

  // The same day again: no download at all.
  EXPECT_FALSE(Check(0, errors));
  EXPECT_EQ(errors, "");
  EXPECT_EQ(Downloads(), 1u);

  // Next day: only empty lines and the scheme of a link differ.
  server_.SetPage("/Vexo/download/", "\r\n<p>v1</p>\r\n\r\n<a href=\"http://x.example/\">x</a>\r\n");
  EXPECT_FALSE(Check(1, errors));
  EXPECT_EQ(errors, secure_refused + "no update\n");
  EXPECT_EQ(Downloads(), 2u);
  EXPECT_EQ(Count(), 0);

  // A change: counted; at 6 the browser opens on the page and the counter starts again.
  server_.SetPage("/Vexo/download/", "<p>v2</p>\r\n");
  EXPECT_TRUE(Check(2, errors));
  EXPECT_EQ(Count(), 1);
  settings_.WriteInt(kSection, u"update count", 5);
  server_.SetPage("/Vexo/download/", "<p>v3</p>\r\n");
  EXPECT_TRUE(Check(3, errors));
  EXPECT_EQ(Opened(1), std::vector<std::string>{"https:" + url});
  EXPECT_EQ(Count(), 0);
  EXPECT_EQ(test::ReadBytes(page), test::Bytes({'<', 'p', '>', 'v', '3', '<', '/', 'p', '>', '\r', '\n'}));

  // A failed download (the server never answers) is noted beside the cache and is not a change.
  WaitPolicy waits = Waits();
  const WaitPolicy saved = waits;
  waits.transfer_timeout = std::chrono::milliseconds(300);
  SetWaits(waits);
  server_.SetPage("/Vexo/download/", test::PageServer::Page{200, "", "", true, false});
  EXPECT_FALSE(Check(4, errors));
  SetWaits(saved);
  const std::string note = page.substr(0, page.size() - 4) + ".txt";
  const std::string text = url + "\r\n" + U8(url_to_relative_path(U16(url))) + "\r\n" + note + "\r\n";
  ASSERT_GE(errors.size(), text.size());
  EXPECT_EQ(errors.substr(errors.size() - text.size()), text);
  test::Bytes expected = {0xFF, 0xFE};
  for (char16_t c : U16(text)) {
    expected.push_back(static_cast<std::uint8_t>(c & 0xFF));
    expected.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  EXPECT_EQ(test::ReadBytes(note), expected);
  EXPECT_EQ(Count(), 0);
  EXPECT_TRUE(Opened(0).empty());

  // The failed download left the last good page in place, with its own date: the same day's next start
  // tries again and compares with it, and a later change is counted.
  EXPECT_EQ(test::ReadBytes(page), test::Bytes({'<', 'p', '>', 'v', '3', '<', '/', 'p', '>', '\r', '\n'}));
  server_.SetPage("/Vexo/download/", "<p>v3</p>\r\n");
  EXPECT_FALSE(Check(4, errors));
  EXPECT_EQ(errors, secure_refused + "no update\n");
  EXPECT_EQ(Downloads(), 6u);
  server_.SetPage("/Vexo/download/", "<p>v4</p>\r\n");
  EXPECT_TRUE(Check(5, errors));
  EXPECT_EQ(Count(), 1);
}

}  // namespace
}  // namespace ocelo
