// Page comparison: which pages count as the same, the line breaks put between tags, the page files and
// their copies byte for byte, the run-wide numbering, the difference listing and failed reads.
#include "web/page_compare.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <thread>

#include "platform/process_fixture.h"
#include "support/sandbox.h"
#include "util/dump.h"
#include "util/dump_capture.h"
#include "web/family_folders.h"

namespace ocelo {
namespace {

namespace fs = std::filesystem;
using test::Hex;
using test::U16;
using test::U8;

// UTF-16LE bytes with FF FE of an ASCII text.
test::Bytes Utf16Marked(std::string_view ascii) {
  test::Bytes bytes = {0xFF, 0xFE};
  for (char c : ascii) {
    bytes.push_back(static_cast<std::uint8_t>(c));
    bytes.push_back(0);
  }
  return bytes;
}

// The page files of the latest comparison in today's work folder: the stamp "HHMM_NN" of the highest NN.
std::string LatestStamp() {
  const std::regex page("([0-9]{4}_([0-9]{2,}))o\\.txt");
  std::string best;
  int best_number = -1;
  for (const auto& entry : fs::directory_iterator(U8(TodayFolder()))) {
    std::smatch match;
    const std::string name = entry.path().filename().string();
    if (std::regex_match(name, match, page) && std::stoi(match[2]) > best_number) {
      best_number = std::stoi(match[2]);
      best = match[1];
    }
  }
  return best;
}

TEST(PageLines, SameWhenOnlyEmptyLinesOrHttpsDiffer) {
  const struct {
    const char *old_page, *new_page;
    bool same;
  } cases[] = {
      {"a\r\n\r\nb\r\n", "a\r\nb", true},
      {"<a href=\"https://x.example/\">", "<a href=\"http://x.example/\">", true},
      {"<a href=\"HTTPS://x.example/\">", "<a href=\"http://x.example/\">", true},
      {"", "\r\n\r\n", true},
      {"a\r\nb\r\n", "a\r\nc\r\n", false},
      {"a\nb", "a\n\nb", false},  // lines end in CR LF; a lone LF is inside a line
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.old_page) + " | " + c.new_page);
    EXPECT_EQ(same_page_lines(U16(c.old_page), U16(c.new_page)), c.same);
  }
  EXPECT_EQ(normalise_lines(u""), u"\r\n");
  EXPECT_EQ(normalise_lines(u"\r\n\r\n"), u"\r\n");
}

TEST(PageLines, HtmlLineBreaksBetweenTags) {
  const struct {
    const char *page, *broken;
  } cases[] = {
      {"<div><span>x</span></div>", "<div>\r\n<span>x</span>\r\n</div>\r\n"},
      {"<ul><li><a href=x>y</a></li></ul>", "<ul>\r\n<li><a href=x>y</a>\r\n</li>\r\n</ul>"},
      {"<p><img src=a><style>s</style><script>f();</script><ol>",
       "<p>\r\n<img src=a>\r\n<style>s</style>\r\n<script>f();\r\n</script>\r\n<ol>"},
      {"<br/><p>", "<br/>\r\n<p>"},
      {"<DIV><SPAN>X</SPAN></DIV>", "<DIV>\r\n<span>X</span>\r\n</div>\r\n"},
      {"<p><b>x</b></p>", "<p><b>x</b></p>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.page);
    EXPECT_EQ(U8(html_line_breaks(U16(c.page))), c.broken);
  }
}

TEST(PageFiles, SavePageTextWritesCopiesAndTheNormalisedPage) {
  const std::string today = U8(TodayFolder());
  const std::string path = test::TestFolder() + "/page.HTM";
  ASSERT_TRUE(save_page_text(U16(path), u"a\r\n\r\n\u00e9\r\n"));
  EXPECT_EQ(test::ReadBytes(today + "page.utf_8.htm"), Hex("61 0D 0A 0D 0A C3 A9 0D 0A"));
  EXPECT_EQ(test::ReadBytes(today + "page.utf16.htm"), Hex("FF FE 61 00 0D 00 0A 00 0D 00 0A 00 E9 00 0D 00 0A 00"));
  EXPECT_EQ(test::ReadBytes(path), Hex("FF FE 61 00 0D 00 0A 00 E9 00 0D 00 0A 00"));
}

TEST(PageFiles, SameTextFilesNeedsTwoReadableFiles) {
  const std::string folder = test::TestFolder();
  test::WriteBytes(folder + "/a", Utf16Marked("same\r\n"));
  test::WriteText(folder + "/b", "same\r\n");  // other bytes, the same text
  test::WriteText(folder + "/c", "other\r\n");
  test::WriteText(folder + "/empty1", "");
  test::WriteText(folder + "/empty2", "");
  EXPECT_TRUE(same_text_files(U16(folder + "/a"), U16(folder + "/b")));
  EXPECT_FALSE(same_text_files(U16(folder + "/a"), U16(folder + "/c")));
  EXPECT_FALSE(same_text_files(U16(folder + "/a"), U16(folder + "/missing")));
  EXPECT_FALSE(same_text_files(U16(folder + "/missing"), U16(folder + "/missing")));
  EXPECT_TRUE(same_text_files(U16(folder + "/empty1"), U16(folder + "/empty2")));
  // Files that cannot be read are no evidence that the pages are equal.
  test::FileLock lock_b(folder + "/b"), lock_c(folder + "/c");
  EXPECT_FALSE(same_text_files(U16(folder + "/b"), U16(folder + "/c")));
}

TEST(PageComparison, SamePagesLeaveNumberedFilesAndNoListing) {
  test::MidHourClock clock;
  EXPECT_TRUE(compare_pages(u"<html><div>x</div></html>", u"<html><div>x</div>\r\n\r\n</html>"));
  const std::string stamp = LatestStamp();
  ASSERT_FALSE(stamp.empty());
  EXPECT_EQ(stamp.substr(0, 4), U8(FormatNow(u"%H%M")));
  const std::string base = U8(TodayFolder()) + stamp;
  const test::Bytes normalised = Utf16Marked("<html>\r\n<div>x</div>\r\n</html>\r\n");
  EXPECT_EQ(test::ReadBytes(base + "o.txt"), normalised);
  EXPECT_EQ(test::ReadBytes(base + "n.txt"), normalised);
  for (const char* copy : {"o.utf_8.txt", "o.utf16.txt", "n.utf_8.txt", "n.utf16.txt"}) {
    SCOPED_TRACE(copy);
    EXPECT_TRUE(test::Exists(base + copy));
  }
  EXPECT_FALSE(test::Exists(base + "_.txt"));

  // Each comparison of the run takes the next number.
  EXPECT_TRUE(compare_pages(u"x", u"x"));
  const std::string next = LatestStamp();
  EXPECT_EQ(std::stoi(next.substr(5)), std::stoi(stamp.substr(5)) + 1);
  EXPECT_GE(next.size() - 5, 2u);
}

TEST(PageComparison, ChangedPagesLeaveADifferenceListing) {
#ifdef _WIN32
  GTEST_SKIP() << "the listing is written by `fc`, a silent stub under Wine";
#endif
  test::MidHourClock clock;
  EXPECT_FALSE(compare_pages(u"<ul><li>v1.0</li><li>same</li></ul>", u"<ul><li>v1.1</li><li>same</li></ul>"));
  const std::string base = U8(TodayFolder()) + LatestStamp();
  test::ScriptFolder waiter;
  std::string listing;
  for (int i = 0; i < 500 && listing.find("v1.1") == std::string::npos; ++i) {
    listing = waiter.WaitFor(base + "_.txt");
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_NE(listing.find("< <li>v1.0</li>"), std::string::npos) << listing;
  EXPECT_NE(listing.find("> <li>v1.1</li>"), std::string::npos) << listing;
  EXPECT_EQ(listing.find("same"), std::string::npos) << listing;
}

TEST(PageComparison, UnwritablePageFilesDoNotMakeDifferentPagesEqual) {
  test::MidHourClock clock;
  // Every page file of the next comparison is a folder, so no write succeeds and no read gives a text.
  const std::string today = U8(TodayFolder());
  const std::string last = LatestStamp();
  const int number = last.empty() ? 1 : std::stoi(last.substr(5)) + 1;
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%s_%02d", U8(FormatNow(u"%H%M")).c_str(), number);
  for (const char* name : {"o.txt", "n.txt", "o.utf16.txt", "n.utf16.txt"}) {
    fs::create_directories(today + stamp + name);
  }
  EXPECT_FALSE(compare_pages(u"old text", u"new text"));
  EXPECT_TRUE(compare_pages(u"same text", u"same text"));
}

}  // namespace
}  // namespace ocelo
