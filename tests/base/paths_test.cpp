// Path texts in both styles: the separators, the pieces, normalisation.
#include "base/paths.h"

#include <gtest/gtest.h>

#include "support/sandbox.h"

namespace ocelo {
namespace {

using test::U16;
using test::U8;
constexpr PathStyle kWin = PathStyle::kWindows;
constexpr PathStyle kPosix = PathStyle::kPosix;

struct PathCase {
  const char* input;
  PathStyle style;
  const char* expected;
};

TEST(Paths, FolderNameTitleExtension) {
  struct Case {
    const char* path;
    PathStyle style;
    const char* folder;
    const char* name;
    const char* title;
    const char* extension;
  };
  const Case cases[] = {
      {R"(C:\dir\notes.txt)", kWin, R"(C:\dir)", "notes.txt", "notes", "txt"},
      {R"(C:\dir\file.tar.gz)", kWin, R"(C:\dir)", "file.tar.gz", "file.tar", "gz"},
      {"a/b", kWin, "a", "b", "b", ""},
      {R"(a/b\c)", kWin, "a/b", "c", "c", ""},  // the last backslash wins over a later slash
      {R"(a\b/c)", kWin, "a", "b/c", "b/c", ""},
      {"notes.txt", kWin, R"(\)", "notes.txt", "notes", "txt"},
      {R"(C:\dir\)", kWin, R"(C:\dir)", "", "", ""},
      {R"(C:\dir\file?.txt)", kWin, R"(C:\dir)", "file?.txt", "", ""},
      {R"(C:\dir\ )", kWin, R"(C:\dir)", " ", "", ""},
      {R"(C:\dir.d\README)", kWin, R"(C:\dir.d)", "README", "README", ""},
      {"/home/u/notes.txt", kPosix, "/home/u", "notes.txt", "notes", "txt"},
      {R"(/home/u/a\b.txt)", kPosix, "/home/u", R"(a\b.txt)", R"(a\b)", "txt"},
      {"notes.txt", kPosix, "/", "notes.txt", "notes", "txt"},
      {"/home/u/", kPosix, "/home/u", "", "", ""},
      {".profile", kPosix, "/", ".profile", "", "profile"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(U8(FolderPart(U16(c.path), c.style)), c.folder);
    EXPECT_EQ(U8(FileName(U16(c.path), c.style)), c.name);
    EXPECT_EQ(U8(FileTitle(U16(c.path), c.style)), c.title);
    EXPECT_EQ(U8(FileExtension(U16(c.path), c.style)), c.extension);
  }
}

TEST(Paths, AddAndStripSlash) {
  EXPECT_EQ(U8(AddSlash(U16(R"(C:\x)"), u'\\', kWin)), R"(C:\x\)");
  EXPECT_EQ(U8(AddSlash(U16(R"(C:\x\)"), u'\\', kWin)), R"(C:\x\)");
  EXPECT_EQ(U8(AddSlash(U16("C:/x/"), u'\\', kWin)), "C:/x/");
  EXPECT_EQ(U8(AddSlash(u"", u'\\', kWin)), "");
  EXPECT_EQ(U8(AddSlash(U16(R"(/a\)"), u'/', kPosix)), R"(/a\/)");  // a backslash is a name character
  EXPECT_EQ(U8(StripSlash(U16(R"(C:\x\\)"), kWin)), R"(C:\x\)");
  EXPECT_EQ(U8(StripSlash(U16("C:/x/"), kWin)), "C:/x");
  EXPECT_EQ(U8(StripSlash(U16(R"(/x\)"), kPosix)), R"(/x\)");
  EXPECT_EQ(U8(StripSlash(U16("/x//"), kPosix)), "/x/");
}

TEST(Paths, SplitText) {
  using Pieces = std::vector<std::u16string>;
  EXPECT_EQ(SplitText(U16(R"(a\b\)"), u"\\"), (Pieces{u"a", u"b"}));
  EXPECT_EQ(SplitText(U16(R"(\a)"), u"\\"), (Pieces{u"", u"a"}));
  EXPECT_EQ(SplitText(U16(R"("x\y"\z)"), u"\\"), (Pieces{U16(R"("x\y")"), u"z"}));
  EXPECT_EQ(SplitText(U16(R"('x\y'\z)"), u"\\"), (Pieces{U16(R"('x\y')"), u"z"}));
  EXPECT_EQ(SplitText(U16(R"(a\\b)"), u"\\"), (Pieces{u"a", u"", u"b"}));
  EXPECT_EQ(SplitText(u"a, b,c", u", "), (Pieces{u"a", u"", u"b", u"c"}));      // a set of characters
  EXPECT_EQ(SplitText(u"a, b,c", u", ", true), (Pieces{u"a", u"b,c"}));         // one delimiter
  EXPECT_EQ(SplitText(U16(R"("open\a)"), u"\\"), (Pieces{U16(R"("open\a)")}));  // unclosed quote ends it
  EXPECT_EQ(SplitText(u"", u"\\"), Pieces{});
  EXPECT_EQ(JoinText({u"a", u"", u"b"}, u"--"), u"a----b");
  EXPECT_EQ(JoinText({}, u"--"), u"");
  std::vector<std::u16string> many(1000, u"x");
  EXPECT_EQ(JoinText(many, u"/").size(), 1999u);
}

TEST(Paths, NormalizePath) {
  const PathCase cases[] = {
      {"C:/a//b/", kWin, R"(C:\a\b)"},
      {R"(\\srv\share\x)", kWin, R"(\\srv\share\x)"},
      {R"(C:\\a\\b)", kWin, R"(C:\\a\b)"},  // a doubled separator right after the drive stays
      {R"(C:\a\)", kWin, R"(C:\a)"},
      {"//srv/share/x/", kWin, R"(\\srv\share\x)"},
      {"/a//b/", kPosix, "/a/b"},
      {R"(a\b/c)", kPosix, R"(a\b/c)"},
      {"a", kPosix, "a"},
      {"", kPosix, ""},
  };
  for (const PathCase& c : cases) {
    SCOPED_TRACE(c.input);
    EXPECT_EQ(U8(NormalizePath(U16(c.input), PreferredSeparator(c.style), c.style)), c.expected);
  }
  EXPECT_EQ(U8(NormalizePath(U16(R"(C:\a/b)"), u'/', kWin)), "C:/a/b");
}

TEST(Paths, AbsolutePathReadsThePathInsideTheBaseAndCleansItsSpelling) {
  struct Case {
    const char* path;
    const char* base;
    PathStyle style;
    const char* expected;
  };
  const Case cases[] = {
      {"notes.txt", "/w", kPosix, "/w/notes.txt"},
      {".", "/w/", kPosix, "/w"},
      {"./dir//a.txt", "/w", kPosix, "/w/dir/a.txt"},
      {"dir/../dir/a.txt", "/w", kPosix, "/w/dir/a.txt"},
      {"../../../x", "/w/v", kPosix, "/x"},  // never above the root
      {"/a/./b/../../c/", "/w", kPosix, "/c"},
      {"//x//", "/w", kPosix, "/x"},
      {"..", "/", kPosix, "/"},
      {R"(a\..\b)", "/w", kPosix, R"(/w/a\..\b)"},  // a backslash is a name character
      {"a:../b", "/w", kPosix, "/w/a:../b"},        // "a:.." is a name
      {"../a/./b", "", kPosix, "../a/b"},           // no base: stays relative
      {".", "", kPosix, "."},
      {R"(a\..\b.txt)", R"(C:\w)", kWin, R"(C:\w\b.txt)"},
      {"D:/x//y/", R"(C:\w)", kWin, R"(D:\x\y)"},
      {R"(\x)", R"(C:\w)", kWin, R"(C:\x)"},
      {"c:x", R"(C:\w)", kWin, R"(C:\w\x)"},
      {"E:x", R"(C:\w)", kWin, R"(E:\x)"},
      {R"(C:\..\..)", R"(C:\w)", kWin, R"(C:\)"},
      {R"(\\srv\share\..\x)", R"(C:\w)", kWin, R"(\\srv\share\x)"},
      {R"(x\y)", R"(\\srv\share\w)", kWin, R"(\\srv\share\w\x\y)"},
      {R"(\y)", R"(\\srv\share\w)", kWin, R"(\\srv\share\y)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.path) + " in " + c.base);
    EXPECT_EQ(U8(AbsolutePath(U16(c.path), U16(c.base), c.style)), c.expected);
  }
}

TEST(Paths, NetworkPathsExistOnlyInWindowsStyle) {
  EXPECT_TRUE(IsNetworkPath(U16(R"(\\server\share)"), kWin));
  EXPECT_FALSE(IsNetworkPath(U16(R"(\\server\share)"), kPosix));
  EXPECT_FALSE(IsNetworkPath(U16(R"(C:\x)"), kWin));
}

}  // namespace
}  // namespace ocelo
