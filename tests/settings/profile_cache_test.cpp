// The read cache: hits, flushes, missing entries and the read log lines.
#include "settings/profile_cache.h"

#include <gtest/gtest.h>

#include "settings/settings_files.h"

namespace ocelo {
namespace {

int signals = 0;
void CountSignal() { ++signals; }

TEST(ProfileCache, MatchesWithoutCaseAndCountsHits) {
  test::FreshCache cache;
  ASSERT_TRUE(profile_cache::StoreInt(u"/a/Tool.ini", u"Sec", u"Entry", 5, false));
  ASSERT_TRUE(profile_cache::StoreInt(u"/a/TOOL.INI", u"SEC", u"entry", 6, false));  // the same entry
  EXPECT_EQ(profile_cache::LookupInt(u"/a/tool.ini", u"sec", u"ENTRY", 0), 6);
  EXPECT_EQ(profile_cache::LookupInt(u"/b/tool.ini", u"sec", u"entry", 0), std::nullopt);
  EXPECT_EQ(profile_cache::LookupText(u"/a/tool.ini", u"sec", u"entry", u""), std::nullopt);  // other array
  const std::vector<CacheEntry> ints = profile_cache::Entries(profile_cache::Kind::kInt);
  ASSERT_EQ(ints.size(), 1u);
  EXPECT_EQ(ints[0].Hits(), 2);                      // the second store and the lookup found it
  EXPECT_EQ(ints[0].ProfileName(), u"/a/Tool.ini");  // names stay as first stored

  // An entry known to be missing answers with each reader's own default.
  ASSERT_TRUE(profile_cache::StoreText(u"/a/Tool.ini", u"Sec", u"Gone", u"first default", false, false));
  EXPECT_EQ(profile_cache::LookupText(u"/a/Tool.ini", u"Sec", u"Gone", u"mine"), u"mine");
  profile_cache::Forget(u"/a/tool.ini", u"SEC", std::nullopt);
  EXPECT_TRUE(profile_cache::Entries(profile_cache::Kind::kInt).empty());
  EXPECT_TRUE(profile_cache::Entries(profile_cache::Kind::kText).empty());
}

TEST(ProfileCache, FirstStoreMoreThanTenSecondsAfterTheFlushEmptiesBothArrays) {
  test::FreshCache cache;
  profile_cache::SetFlushSignal(CountSignal);
  signals = 0;
  profile_cache::StoreInt(u"p", u"s", u"a", 1, true);
  profile_cache::StoreText(u"p", u"s", u"b", u"x", true);
  cache.Pass(10);
  profile_cache::StoreInt(u"p", u"s", u"c", 1, true);
  EXPECT_EQ(profile_cache::Entries(profile_cache::Kind::kInt).size(), 2u);
  EXPECT_EQ(signals, 0);
  cache.Pass(1);
  EXPECT_EQ(profile_cache::LookupInt(u"p", u"s", u"a", 0), 1);  // reads never flush
  profile_cache::StoreText(u"p", u"s", u"d", u"y", true);
  EXPECT_TRUE(profile_cache::Entries(profile_cache::Kind::kInt).empty());
  EXPECT_EQ(profile_cache::Entries(profile_cache::Kind::kText).size(), 1u);
  EXPECT_EQ(signals, 2);  // once for each array
  // Without the report switch a flush is silent.
  cache.Pass(11);
  profile_cache::StoreInt(u"p", u"s", u"e", 1, false);
  EXPECT_EQ(signals, 2);
  EXPECT_TRUE(profile_cache::Entries(profile_cache::Kind::kText).empty());
}

}  // namespace
}  // namespace ocelo
