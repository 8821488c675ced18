// Profiles on real INI files: the stored bytes, the reads, and the read cache and read log around them.
#include "settings/ini_backend.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "settings/ini_file.h"
#include "settings/profile_cache.h"
#include "settings/settings_files.h"
#include "util/dump_capture.h"

namespace ocelo {
namespace {

using namespace test;

// The INI file a Profile named `name` in the test's folder uses, and that name.
struct TestFile {
  std::string path;
  std::u16string name;
};

TestFile NewFile(const std::string& folder, const std::string& title, std::u16string_view content = u"") {
  const std::string base = folder + "/" + title;
  if (!content.empty()) WriteBytes(base + ".ini", MarkedUtf16(content));
  return {base + ".ini", U16(Native(base))};
}

TEST(IniBackend, TypedValuesAreStoredByteForByte) {
  const std::string folder = TestFolder();
  const TestFile file = NewFile(folder, "forms");
  Profile profile(file.name);
  ASSERT_TRUE(profile.WriteRect(u"S", u"Size", Rect{10, 20, 300, -5}));
  ASSERT_TRUE(profile.WriteInt64(u"S", u"N", 4294967296));
  ASSERT_TRUE(profile.WriteString(u"Debug\\2009_09", u"Text", u"\u3042 b"));
  EXPECT_EQ(ToHex(ReadBytes(file.path)), ToHex(MarkedUtf16(u"[S]\r\n"
                                                           u"Size_LTRB=\"10 20 300 -5\"\r\n"
                                                           u"Size=000000010 000000020 000000300 -00000005\r\n"
                                                           u"N_I64_=4294967296\r\n"
                                                           u"N_H=1\r\n"
                                                           u"N_L=0\r\n"
                                                           u"[Debug\\2009_09]\r\n"
                                                           u"Text=\u3042 b\r\n")));
  profile_cache::Clear();
  EXPECT_EQ(Profile(file.name).GetRect(u"s", u"SIZE", Rect{}), (Rect{10, 20, 300, -5}));
  EXPECT_EQ(Profile(file.name).GetInt64(u"S", u"N", 0), 4294967296);
}

TEST(IniBackend, ReadsUnquoteTextsAndTakeLeadingNumbers) {
  const std::string folder = TestFolder();
  const std::u16string long_value(10050, u'x');
  const TestFile file = NewFile(folder, "reads",
                                u"[S]\r\nq=\"quoted\"\r\na='apos'\r\nhalf=\"open\r\nn= 12abc \r\nneg=-5\r\n"
                                u"bad=abc\r\nempty=\r\nlong=" +
                                    long_value + u"\r\n");
  FreshCache cache;
  Profile profile(file.name);
  struct Case {
    const char16_t* entry;
    const char16_t* text;
    std::int32_t number;
  } cases[] = {
      {u"q", u"quoted", 0}, {u"a", u"apos", 0},  {u"half", u"\"open", 0}, {u"n", u"12abc", 12},
      {u"neg", u"-5", -5},  {u"bad", u"abc", 0}, {u"empty", u"", 77},     {u"missing", u"dflt", 77},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(U8(c.entry));
    EXPECT_EQ(profile.GetString(u"S", c.entry, u"dflt"), c.text);
    EXPECT_EQ(profile.GetInt(u"S", c.entry, 77), c.number);
  }
  EXPECT_EQ(profile.GetString(u"S", u"long", u""), long_value.substr(0, 9999));
}

TEST(IniBackend, AbsentEntryDeletesSectionAndAbsentValueDeletesEntry) {
  const std::string folder = TestFolder();
  const TestFile file = NewFile(folder, "deletes");
  FreshCache cache;
  Profile profile(file.name);
  profile.WriteString(u"S", u"a", u"1");
  profile.WriteInt(u"S", u"b", 2);
  profile.WriteString(u"T", u"c", u"3");
  ASSERT_TRUE(profile.WriteString(u"S", u"A", std::nullopt));
  EXPECT_EQ(profile.GetString(u"S", u"a", u"gone"), u"gone");  // not the cached "1"
  ASSERT_TRUE(profile.WriteString(u"s", std::nullopt, std::nullopt));
  EXPECT_EQ(profile.GetInt(u"S", u"b", -1), -1);
  EXPECT_EQ(ToHex(ReadBytes(file.path)), ToHex(MarkedUtf16(u"[T]\r\nc=3\r\n")));
}

TEST(IniBackend, CacheAnswersUntilTheFirstStoreAfterTenSeconds) {
  const std::string folder = TestFolder();
  const TestFile file = NewFile(folder, "cache", u"[S]\r\nk=1\r\n");
  FreshCache cache;
  Profile profile(file.name);
  Profile same_file(file.name);
  Profile other_file(NewFile(folder, "other", u"[S]\r\nk=9\r\n").name);
  EXPECT_EQ(profile.GetInt(u"S", u"k", 0), 1);
  EXPECT_EQ(profile.GetString(u"S", u"m", u"first"), u"first");  // missing: cached as missing

  // Another process changes the file; reads keep the cached answers.
  ASSERT_TRUE(ini::WriteValue(U16(file.path), u"S", u"k", u"2"));
  ASSERT_TRUE(ini::WriteValue(U16(file.path), u"S", u"m", u"now there"));
  EXPECT_EQ(profile.GetInt(u"s", u"K", 0), 1);
  EXPECT_EQ(same_file.GetInt(u"S", u"k", 0), 1);
  EXPECT_EQ(other_file.GetInt(u"S", u"k", 0), 9);
  EXPECT_EQ(profile.GetString(u"S", u"m", u"second"), u"second");  // its own default, not "first"
  const auto ints = profile_cache::Entries(profile_cache::Kind::kInt);
  EXPECT_EQ(std::count_if(ints.begin(), ints.end(), [](const CacheEntry& e) { return e.Entry() == u"k"; }), 2);

  cache.Pass();
  profile.WriteInt(u"S", u"other", 0);  // the first store after the period flushes
  EXPECT_EQ(profile.GetInt(u"S", u"k", 0), 2);
  EXPECT_EQ(profile.GetString(u"S", u"m", u""), u"now there");
}

TEST(IniBackend, CacheSwitchOffInTheFirstNamedProfileCachesNothing) {
  const std::string folder = TestFolder();
  const TestFile file = NewFile(folder, "nocache", u"[Debug\\2009_09]\r\nUseProfileCache=0\r\n[S]\r\nk=1\r\n");
  FreshCache cache;
  profile_cache::ResetSwitch();
  {
    Profile profile(file.name);
    EXPECT_EQ(profile_cache::Switch(), 0);
    EXPECT_FALSE(profile_cache::SwitchPending());
    EXPECT_EQ(profile.GetInt(u"S", u"k", 0), 1);
    ASSERT_TRUE(ini::WriteValue(U16(file.path), u"S", u"k", u"2"));
    EXPECT_EQ(profile.GetInt(u"S", u"k", 0), 2);
    for (const CacheEntry& cached : profile_cache::Entries(profile_cache::Kind::kInt)) {
      EXPECT_EQ(cached.Entry(), u"UseProfileCache");  // read while the switch was still on
    }
  }
  profile_cache::ResetSwitch();
}

TEST(IniBackend, ReadLogReportsFileReadsAndFlushes) {
  const std::string folder = TestFolder();
  DumpCapture dump(folder);
  MidHourClock mid_hour;
  const TestFile file = NewFile(folder, "logged", u"[Debug]\r\nLog=1\r\n[S]\r\nk=text\r\n");
  Profile profile(file.name);
  FreshCache cache;
  const std::string name = U8(profile.GetName());
  EXPECT_EQ(profile.GetInt(u"S", u"n", 5), 5);
  EXPECT_EQ(profile.GetInt(u"S", u"n", 5), 5);  // from the cache: not logged
  EXPECT_EQ(profile.GetString(u"S", u"k", u"d"), u"text");
  cache.Pass();
  profile.WriteInt(u"S", u"w", 1);

  std::vector<std::string> messages;
  const std::vector<std::u16string> lines = dump.Lines();
  ASSERT_FALSE(lines.empty());
  for (const std::u16string& line : std::vector(lines.begin() + 1, lines.end())) {  // after the header
    const std::size_t tab = line.find(u'\t', line.find(u'\t') + 1);                 // after the time and the program
    messages.push_back(U8(line.substr(tab + 1)));
  }
  const std::vector<std::string> expected = {
      "GetInt\t " + name + "\t S\t n\t 5\t 5",
      "GetStr\t " + name + "\t S\t k\t d\t text",
      "Cache \t " + name + "\t S\t n\t 5\t \t 1",
      "Cache \t " + name + "\t S\t k\t 0\t text\t 0",
  };
  EXPECT_EQ(messages, expected);
}

}  // namespace
}  // namespace ocelo
