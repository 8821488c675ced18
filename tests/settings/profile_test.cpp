// Profile: the typed value texts byte for byte, write-back, and the presence checks.
#include "settings/profile.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <limits>
#include <map>
#include <string>

#include "base/paths.h"
#include "settings/profile_lock.h"
#include "support/sandbox.h"

namespace ocelo {
namespace {

using test::U8;

// A Profile whose backend is a plain map of section and entry to the exact text stored, so that tests see
// the stored forms character for character. Its reads can be answered from a cache that keeps every value
// read or written, as the store's read cache does.
class RecordingProfile : public Profile {
 public:
  explicit RecordingProfile(std::u16string_view name) : Profile(name) {}

  std::map<std::pair<std::u16string, std::u16string>, std::u16string> stored;
  std::map<std::pair<std::u16string, std::u16string>, std::u16string> cache;
  bool caching = false;
  std::u16string failing_suffix;  // writes to entries ending in this fail
  int unguarded_calls = 0;        // backend calls made without the ProfileLock held

  bool Has(std::u16string_view entry, std::u16string_view section = u"S") const {
    return stored.count({std::u16string(section), std::u16string(entry)}) != 0;
  }
  std::u16string At(std::u16string_view entry, std::u16string_view section = u"S") const {
    auto it = stored.find({std::u16string(section), std::u16string(entry)});
    return it == stored.end() ? u"(missing)" : it->second;
  }

  std::int32_t ReadInt(TextArg section, TextArg entry, std::int32_t default_value) override {
    return value_text::ParseInt(ReadString(section, entry, value_text::FormatInt(default_value)));
  }
  bool StoreInt(TextArg section, TextArg entry, std::int32_t value) override {
    return StoreString(section, entry, value_text::FormatInt(value));
  }
  std::u16string ReadString(TextArg section, TextArg entry, TextArg default_text) override {
    if (!ProfileLock::Busy()) ++unguarded_calls;
    auto key = std::make_pair(std::u16string(*section), std::u16string(*entry));
    if (caching) {
      auto hit = cache.find(key);
      if (hit != cache.end()) return hit->second;
    }
    auto it = stored.find(key);
    std::u16string result = it == stored.end() ? std::u16string(default_text.value_or(u"")) : it->second;
    if (caching) cache[key] = result;
    return result;
  }
  bool StoreString(TextArg section, TextArg entry, TextArg value) override {
    if (!ProfileLock::Busy()) ++unguarded_calls;
    std::u16string name(*entry);
    if (!failing_suffix.empty() && name.ends_with(failing_suffix)) return false;
    auto key = std::make_pair(std::u16string(*section), name);
    if (caching) cache[key] = std::u16string(*value);
    stored[key] = std::u16string(*value);
    return true;
  }

 protected:
  std::int32_t ReadIntUncached(std::u16string_view section, std::u16string_view entry,
                               std::int32_t default_value) override {
    return value_text::ParseInt(ReadStringUncached(section, entry, value_text::FormatInt(default_value)));
  }
  std::u16string ReadStringUncached(std::u16string_view section, std::u16string_view entry,
                                    std::u16string_view default_text) override {
    auto it = stored.find({std::u16string(section), std::u16string(entry)});
    return it == stored.end() ? std::u16string(default_text) : it->second;
  }
};

// A name no other test uses, so that the profiles of one test process never share a settings file.
std::u16string UniqueName() {
  static int counter = 0;
  const auto* info = testing::UnitTest::GetInstance()->current_test_info();
  return test::U16(std::string("ProfileTest_") + info->name() + "_" + std::to_string(++counter));
}

// --- stored forms ------------------------------------------------------------------------------------------

TEST(ProfileTypedValues, RectangleAndPointStorePaddedValueAndQuotedCopy) {
  RecordingProfile profile(UniqueName());
  ASSERT_TRUE(profile.WriteRect(u"S", u"Size", Rect{10, 20, 300, 400}));
  EXPECT_EQ(U8(profile.At(u"Size")), "000000010 000000020 000000300 000000400");
  EXPECT_EQ(U8(profile.At(u"Size_LTRB")), "\"10 20 300 400\"");
  EXPECT_EQ(profile.GetRect(u"S", u"Size", Rect{1, 2, 3, 4}), (Rect{10, 20, 300, 400}));

  ASSERT_TRUE(profile.WritePoint(u"S", u"At", Point{-5, 7}));
  EXPECT_EQ(U8(profile.At(u"At")), "-00000005 000000007");
  EXPECT_EQ(U8(profile.At(u"At_L_XY")), "\"-5 7\"");
  EXPECT_EQ(profile.GetPoint(u"S", u"At", Point{}), (Point{-5, 7}));
}

TEST(ProfileTypedValues, PaddedNumbersKeepTheirSignAndEveryDigit) {
  struct Case {
    std::int32_t value;
    const char* padded;
  } cases[] = {
      {0, "000000000"},
      {-5, "-00000005"},
      {123456789, "123456789"},
      {1234567890, "1234567890"},
      {-12345678, "-12345678"},
      {-123456789, "-123456789"},
      {std::numeric_limits<std::int32_t>::min(), "-2147483648"},
      {std::numeric_limits<std::int32_t>::max(), "2147483647"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    std::string expected = std::string(c.padded) + " " + c.padded + " " + c.padded + " " + c.padded;
    EXPECT_EQ(U8(value_text::FormatRectPadded(Rect{c.value, c.value, c.value, c.value})), expected);
    char printed[64];
    std::snprintf(printed, sizeof printed, "%09d", c.value);
    EXPECT_STREQ(printed, c.padded);
    EXPECT_EQ(value_text::ParseRect(test::U16(expected)), (Rect{c.value, c.value, c.value, c.value}));
  }
}

TEST(ProfileTypedValues, PaddedTextWithMissingNumbersReadsZeroNotTheDefault) {
  struct Case {
    const char* stored;
    Rect expected;
  } cases[] = {
      {"000000010 000000020", {10, 20, 0, 0}},
      {"", {0, 0, 0, 0}},
      {"1  2", {1, 0, 2, 0}},         // two spaces make an empty token
      {" 7 8 9 10", {0, 7, 8, 9}},    // a leading space makes an empty first token
      {"1\t2 3", {1, 3, 0, 0}},       // only the space separates
      {"1 2 3 4 5 6", {1, 2, 3, 4}},  // tokens past the fourth are ignored
      {"x 2 -3y 4", {0, 2, -3, 4}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored);
    RecordingProfile profile(UniqueName());
    profile.WriteString(u"S", u"R", test::U16(c.stored));
    EXPECT_EQ(profile.GetRectPadded(u"S", u"R", Rect{9, 9, 9, 9}), c.expected);
    EXPECT_EQ(profile.GetRect(u"S", u"R", Rect{9, 9, 9, 9}), c.expected);
  }
  RecordingProfile profile(UniqueName());
  profile.WriteString(u"S", u"P", u"000000042");
  EXPECT_EQ(profile.GetPointPadded(u"S", u"P", Point{9, 9}), (Point{42, 0}));
}

TEST(ProfileTypedValues, Int64SplitsIntoSignedHalvesWithReadableCopy) {
  struct Case {
    std::int64_t value;
    const char* high;
    const char* low;
    const char* copy;
  } cases[] = {
      {-1, "-1", "-1", "-1"},
      {std::int64_t{1} << 32, "1", "0", "4294967296"},
      {0xFFFFFFFF, "0", "-1", "4294967295"},
      {0x80000000, "0", "-2147483648", "2147483648"},
      {std::numeric_limits<std::int64_t>::min(), "-2147483648", "0", "-9223372036854775808"},
      {std::numeric_limits<std::int64_t>::max(), "2147483647", "-1", "9223372036854775807"},
      {-4294967296, "-1", "0", "-4294967296"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.copy);
    RecordingProfile profile(UniqueName());
    ASSERT_TRUE(profile.WriteInt64(u"S", u"N", c.value));
    EXPECT_EQ(U8(profile.At(u"N_H")), c.high);
    EXPECT_EQ(U8(profile.At(u"N_L")), c.low);
    EXPECT_EQ(U8(profile.At(u"N_I64_")), c.copy);
    EXPECT_EQ(profile.GetInt64(u"S", u"N", 7), c.value);
  }
}

TEST(ProfileTypedValues, Int64ComesFromTheHalvesNotFromTheCopy) {
  RecordingProfile profile(UniqueName());
  profile.WriteString(u"S", u"N_I64_", u"5");
  EXPECT_EQ(profile.GetInt64(u"S", u"N", std::int64_t{3} << 32 | 9), std::int64_t{3} << 32 | 9);
  profile.WriteInt(u"S", u"N_L", -2);
  EXPECT_EQ(profile.GetInt64(u"S", u"N", std::int64_t{3} << 32), std::int64_t{3} << 32 | 0xFFFFFFFE);
}

TEST(ProfileTypedValues, DoubleStoresShortValueAndFullCopy) {
  RecordingProfile profile(UniqueName());
  ASSERT_TRUE(profile.WriteDouble(u"S", u"D", 0.1));
  EXPECT_EQ(U8(profile.At(u"D")), "0.1");
  EXPECT_EQ(U8(profile.At(u"D_Flt_")), "0.10000000000000000555");
  EXPECT_EQ(profile.GetDouble(u"S", u"D", 5), 0.1);

  profile.WriteDouble(u"S", u"E", 1234567.0);
  EXPECT_EQ(U8(profile.At(u"E")), "1.23457e+06");
  EXPECT_EQ(U8(profile.At(u"E_Flt_")), "1234567");
  EXPECT_EQ(profile.GetDouble(u"S", u"E", 0), 1234570.0);  // six significant digits, from the short form
  EXPECT_EQ(profile.GetDouble(u"S", u"Missing", 2.5), 2.5);
}

TEST(ProfileTypedValues, DoubleTextsMatchPrintfInTheCLocale) {
  const double values[] = {
      0.0,    -0.0, 0.1, 1.0 / 3, 100000, 1e6, 123456789.0, 1e-5, 1e-4, 1e20, -2.5e-300, 5e-324, 1.7976931348623157e308,
      65536.5};
  for (double value : values) {
    SCOPED_TRACE(value);
    char printed[64];
    std::snprintf(printed, sizeof printed, "%g", value);
    EXPECT_EQ(U8(value_text::FormatDoubleShort(value)), printed);
    std::snprintf(printed, sizeof printed, "%.20g", value);
    EXPECT_EQ(U8(value_text::FormatDoubleFull(value)), printed);
    EXPECT_EQ(value_text::ParseDouble(value_text::FormatDoubleFull(value)), value);
  }
}

TEST(ProfileTypedValues, NumberParsingTakesTheLeadingNumber) {
  struct IntCase {
    const char* text;
    std::int64_t as_int;
    std::int64_t as_int64;
  } int_cases[] = {
      {"", 0, 0},
      {"  -12ab", -12, -12},
      {"+7", 7, 7},
      {"+-7", 0, 0},
      {"x1", 0, 0},
      {"99999999999", 2147483647, 99999999999},
      {"-99999999999", -2147483647 - 1, -99999999999},
      {"99999999999999999999", 2147483647, 9223372036854775807},
  };
  for (const IntCase& c : int_cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(value_text::ParseInt(test::U16(c.text)), c.as_int);
    EXPECT_EQ(value_text::ParseInt64(test::U16(c.text)), c.as_int64);
  }
  struct DoubleCase {
    const char* text;
    double value;
  } double_cases[] = {
      {"  1.5e3xyz", 1500},
      {"abc", 0},
      {"-0x1p4", -16},
      {".5", 0.5},
      {"1e", 1},
      {"+-5", 0},
      {"1e999", std::numeric_limits<double>::infinity()},
      {"-1e999", -std::numeric_limits<double>::infinity()},
      {"1e-999", 0},
      {"0x", 0},
      {"inf", std::numeric_limits<double>::infinity()},
  };
  for (const DoubleCase& c : double_cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(value_text::ParseDouble(test::U16(c.text)), c.value);
  }
}

TEST(ProfileTypedValues, QuotingAndUnquoting) {
  struct Case {
    const char16_t* text;
    const char16_t* quoted;
    const char16_t* unquoted;
  } cases[] = {
      {u"ab", u"ab", u"ab"},
      {u"a,b", u"\"a,b\"", u"a,b"},
      {u"a\tb", u"\"a\tb\"", u"a\tb"},
      {u"a b", u"\"a b\"", u"a b"},
      {u"'a b'", u"\"'a b'\"", u"a b"},
      {u"\"", u"\"", u"\""},  // one character is not a pair of quotes
      {u"\"a'", u"\"a'", u"\"a'"},
      {u"\"\"", u"\"\"", u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(U8(c.text));
    EXPECT_EQ(value_text::Quote(c.text), c.quoted);
    EXPECT_EQ(value_text::Unquote(c.text), c.unquoted);
  }
}

// --- the basic operations ----------------------------------------------------------------------------------

TEST(ProfileBasics, AbsentArgumentsGiveTheDefaultAndWriteNothing) {
  RecordingProfile profile(UniqueName());
  EXPECT_EQ(profile.GetString(std::nullopt, u"E", u"dflt"), u"dflt");
  EXPECT_EQ(profile.GetString(u"S", std::nullopt, u"dflt"), u"dflt");
  EXPECT_EQ(profile.GetString(std::nullopt, u"E", std::nullopt), u"");
  EXPECT_EQ(profile.GetString(u"S", u"E", std::nullopt), u"");
  EXPECT_EQ(profile.GetInt(u"S", std::nullopt, 42), 42);
  EXPECT_FALSE(profile.WriteInt(std::nullopt, u"E", 1));
  EXPECT_FALSE(profile.WriteString(std::nullopt, u"E", u"v"));
  EXPECT_FALSE(profile.WriteRect(u"S", std::nullopt, Rect{}));
  EXPECT_FALSE(profile.WriteInt64(u"S", std::nullopt, 1));
  EXPECT_FALSE(profile.WriteDouble(std::nullopt, u"E", 1));
  EXPECT_EQ(profile.GetRect(u"S", std::nullopt, Rect{1, 2, 3, 4}), (Rect{1, 2, 3, 4}));
  EXPECT_TRUE(profile.stored.empty());
}

TEST(ProfileBasics, BackendCallsHoldTheProfileLock) {
  RecordingProfile profile(UniqueName());
  profile.WriteInt(u"S", u"A", 1);
  profile.GetInt(u"S", u"A", 0);
  profile.WriteString(u"S", u"B", u"x");
  profile.GetString(u"S", u"B", u"");
  profile.WriteRect(u"S", u"R", Rect{});
  profile.WriteStringIfAbsent(u"S", u"C", u"y");
  EXPECT_EQ(profile.unguarded_calls, 0);
  EXPECT_FALSE(ProfileLock::Busy());
}

TEST(ProfileBasics, WriteBackCreatesAnAbsentEntryWithTheDefault) {
  std::u16string name = UniqueName();
  Profile(name).WriteInt(u"Debug", u"Write", 1);
  RecordingProfile profile(name);
  EXPECT_EQ(profile.GetInt(u"S", u"Count", 17), 17);
  EXPECT_EQ(U8(profile.At(u"Count")), "17");
  EXPECT_EQ(profile.GetString(u"S", u"Text", u"dflt"), u"dflt");
  EXPECT_EQ(U8(profile.At(u"Text")), "dflt");
  EXPECT_EQ(profile.unguarded_calls, 0);
  EXPECT_FALSE(ProfileLock::Busy());
}

TEST(ProfileBasics, ConstructionReadsWriteBeforeLogWithWriteBackOff) {
  // "Write" is read while write-back is still off, so it is not written back; "Log" is read after it,
  // with write-back already on, so an absent "Log" is created with its default.
  std::u16string name = UniqueName();
  Profile(name).WriteInt(u"Debug", u"Write", 1);
  {
    Profile profile(name);
    EXPECT_TRUE(profile.WritesBack());
    EXPECT_FALSE(profile.LogsReads());
  }
  Profile reader(name);
  EXPECT_EQ(reader.GetString(u"Debug", u"Log", u"(absent)"), u"0");

  std::u16string quiet = UniqueName();
  Profile first(quiet);
  EXPECT_FALSE(first.WritesBack());
  Profile second(quiet);
  EXPECT_EQ(second.GetString(u"Debug", u"Write", u"(absent)"), u"(absent)");
  EXPECT_EQ(second.GetString(u"Debug", u"Log", u"(absent)"), u"(absent)");
}

TEST(ProfileBasics, WriteIfAbsentWritesOnlyMissingEntries) {
  for (bool caching : {false, true}) {
    SCOPED_TRACE(caching ? "with the read cache" : "without the read cache");
    RecordingProfile profile(UniqueName());
    profile.caching = caching;
    EXPECT_TRUE(profile.WriteStringIfAbsent(u"S", u"New", u"v"));
    EXPECT_EQ(U8(profile.At(u"New")), "v");
    EXPECT_FALSE(profile.WriteStringIfAbsent(u"S", u"New", u"w"));
    EXPECT_EQ(U8(profile.At(u"New")), "v");

    // Stored values equal to one of the sentinels still count as present.
    for (const char16_t* present : {u"0", u"1", u""}) {
      profile.WriteString(u"S", u"Old", present);
      EXPECT_FALSE(profile.WriteStringIfAbsent(u"S", u"Old", u"w"));
      EXPECT_EQ(profile.At(u"Old"), present);
    }

    EXPECT_TRUE(profile.WriteIntIfAbsent(u"S", u"Num", 5));
    EXPECT_EQ(U8(profile.At(u"Num")), "5");
    EXPECT_FALSE(profile.WriteIntIfAbsent(u"S", u"Num", 6));
    profile.WriteInt(u"S", u"Zero", 0);
    EXPECT_FALSE(profile.WriteIntIfAbsent(u"S", u"Zero", 6));
    EXPECT_EQ(U8(profile.At(u"Zero")), "0");
  }
}

TEST(ProfileBasics, WriteIfAbsentWithAbsentEntryLeavesTheSectionAlone) {
  // Passed on, an absent entry would delete the whole section.
  std::u16string name = UniqueName();
  Profile profile(name);
  profile.WriteString(u"Keep", u"A", u"1");
  EXPECT_FALSE(profile.WriteStringIfAbsent(u"Keep", std::nullopt, u"x"));
  EXPECT_FALSE(profile.WriteIntIfAbsent(u"Keep", std::nullopt, 1));
  EXPECT_EQ(profile.GetString(u"Keep", u"A", u"(gone)"), u"1");
}

TEST(ProfileBasics, SplitWriteFailsWhenEitherHalfFails) {
  for (const char16_t* failing : {u"_H", u"_L"}) {
    SCOPED_TRACE(U8(failing));
    RecordingProfile profile(UniqueName());
    profile.failing_suffix = failing;
    EXPECT_FALSE(profile.WriteInt64Split(u"S", u"N", 1));
    EXPECT_FALSE(profile.WriteInt64(u"S", u"N", 1));
  }
}

// --- PathProfile -------------------------------------------------------------------------------------------

TEST(PathProfile, FolderPathsEndInASeparator) {
  PathProfile profile(UniqueName());
  const std::u16string here = AddSlash(u".");
  EXPECT_EQ(profile.GetFolderPath(u"Missing", std::nullopt), here);
  EXPECT_EQ(profile.GetFolderPath(u"Missing", u""), here);
  EXPECT_EQ(profile.GetFolderPath(u"Missing", u"/opt/x"), AddSlash(u"/opt/x"));

  ASSERT_TRUE(profile.WriteFolderPath(u"Out", u"/data/out"));
  EXPECT_EQ(profile.GetString(u"FilePath", u"Out", u""), AddSlash(u"/data/out"));
  EXPECT_EQ(profile.GetFolderPath(u"Out", u""), AddSlash(u"/data/out"));

  profile.WriteString(u"FilePath", u"Bare", u"/data/bare");
  EXPECT_EQ(profile.GetFolderPath(u"Bare", u""), AddSlash(u"/data/bare"));

  ASSERT_TRUE(profile.WriteFolderPath(u"Empty", u""));
  EXPECT_EQ(profile.GetString(u"FilePath", u"Empty", u"(absent)"), u"");
  EXPECT_EQ(profile.GetFolderPath(u"Empty", u"/else"), here);
}

}  // namespace
}  // namespace ocelo
