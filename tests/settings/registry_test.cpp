// RegistryStore: case-insensitive names, parents created, refusals, failure texts, several writers.
#include "settings/registry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/fs.h"
#include "platform/system.h"
#include "support/sandbox.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace ocelo {
namespace {

using test::U8;
using Names = std::vector<std::u16string>;

// Every test starts with a registry of its own: a database in its own config folder, or on Windows a key of
// its own standing for HKEY_CURRENT_USER.
class Registry : public testing::Test {
 protected:
  void SetUp() override {
    saved_ = sys::Environment(u"XDG_CONFIG_HOME");
    saved_root_ = sys::Environment(u"OCELO_TEST_REGISTRY");
    config_ = test::TestFolder() + "/config";
    root_ = saved_root_ + u"\\" + test::U16(std::filesystem::path(config_).parent_path().filename().string());
    sys::SetEnvironment(u"XDG_CONFIG_HOME", test::U16(config_));
    sys::SetEnvironment(u"OCELO_TEST_REGISTRY", root_);
  }
  void TearDown() override {
    sys::SetEnvironment(u"XDG_CONFIG_HOME", saved_);
    sys::SetEnvironment(u"OCELO_TEST_REGISTRY", saved_root_);
  }

  Names Keys(std::u16string_view path) {
    Names names;
    RegistryStore().EnumKeys(kHkeyCurrentUser, path, names);
    return names;
  }
  Names Values(std::u16string_view path) {
    Names names;
    RegistryStore().EnumValues(kHkeyCurrentUser, path, names);
    return names;
  }

  std::string config_;
  std::u16string root_;  // Windows: the key under HKEY_CURRENT_USER that stands for it
  std::u16string saved_;
  std::u16string saved_root_;
};

constexpr RegistryRoot kUser = kHkeyCurrentUser;

TEST_F(Registry, DatabaseLivesInAPrivateFolderOfTheConfigFolder) {
  ASSERT_TRUE(RegistryStore().WriteString(kUser, u"Software\\Vexo", u"A", u"1"));
#ifdef _WIN32
  // The system's registry itself holds the value, where any other program of the family reads it.
  const std::wstring key = reinterpret_cast<const wchar_t*>((root_ + u"\\Software\\Vexo").c_str());
  wchar_t text[8] = {};
  DWORD size = sizeof text;
  ASSERT_EQ(::RegGetValueW(HKEY_CURRENT_USER, key.c_str(), L"A", RRF_RT_REG_SZ, nullptr, text, &size), ERROR_SUCCESS);
  EXPECT_EQ(std::wstring(text), L"1");
  EXPECT_FALSE(std::filesystem::exists(config_ + "/vexo"));
#else
  EXPECT_EQ(U8(RegistryDatabasePath()), config_ + "/vexo/registry.sqlite3");
  sys::StatRecord folder, file;
  ASSERT_EQ(sys::Stat(test::U16(config_ + "/vexo"), folder), 0);
  ASSERT_EQ(sys::Stat(test::U16(config_ + "/vexo/registry.sqlite3"), file), 0);
  EXPECT_EQ(folder.mode & 0777, 0700u);
  EXPECT_EQ(file.mode & 0777, 0600u);
#endif
}

TEST_F(Registry, NamesAreComparedWithoutCaseAndKeepTheirFirstSpelling) {
  RegistryStore store;
  ASSERT_TRUE(store.WriteString(kUser, u"Software\\Vexo\\Tool", u"Name", u"one"));
  ASSERT_TRUE(store.WriteString(kUser, u"SOFTWARE\\vexo\\TOOL", u"NAME", u"two"));
  EXPECT_EQ(store.GetString(kUser, u"software\\VEXO\\tool", u"name", u""), u"two");
  EXPECT_EQ(Values(u"Software\\Vexo\\Tool"), (Names{u"Name"}));
  EXPECT_EQ(Keys(u"software\\vexo"), (Names{u"Tool"}));
  // Only A to Z fold; other letters are compared as they are. The system's registry folds every letter.
  ASSERT_TRUE(store.WriteInt(kUser, u"Software\\Vexo\\Tool", u"\u00C4", 1));
#ifdef _WIN32
  EXPECT_EQ(store.GetInt(kUser, u"Software\\Vexo\\Tool", u"\u00E4", 7), 1);
#else
  EXPECT_EQ(store.GetInt(kUser, u"Software\\Vexo\\Tool", u"\u00E4", 7), 7);
#endif
}

TEST_F(Registry, WriteCreatesTheKeyWithItsParents) {
  RegistryStore store;
  ASSERT_TRUE(store.WriteInt(kUser, u"A\\B\\C", u"n", 5));
  EXPECT_EQ(Keys(u"A"), (Names{u"B"}));
  EXPECT_EQ(Keys(u"A\\B"), (Names{u"C"}));
  EXPECT_EQ(store.GetInt(kUser, u"A\\B\\C", u"n", 0), 5);
}

TEST_F(Registry, EnumerationOrder) {
  RegistryStore store;
  for (const char16_t* key : {u"k\\beta", u"k\\\u0100", u"k\\Alpha", u"k\\gamma", u"k\\_"}) {
    store.WriteInt(kUser, key, u"v", 1);
  }
  EXPECT_EQ(Keys(u"k"), (Names{u"_", u"Alpha", u"beta", u"gamma", u"\u0100"}));  // by name, without case
  for (const char16_t* value : {u"z", u"a", u"M"}) store.WriteInt(kUser, u"k", value, 1);
  store.WriteInt(kUser, u"k", u"z", 2);
#ifdef _WIN32
  // The system's order: Windows lists values in the order they were made, Wine by name.
  Names values = Values(u"k");
  std::sort(values.begin(), values.end());
  EXPECT_EQ(values, (Names{u"M", u"a", u"z"}));
#else
  EXPECT_EQ(Values(u"k"), (Names{u"z", u"a", u"M"}));  // in the order they were made
#endif
}

TEST_F(Registry, EnumeratingMissingAndEmptyKeys) {
  RegistryStore store;
  Names names{u"stale"};
  EXPECT_FALSE(store.EnumKeys(kUser, u"Nowhere", names));
  EXPECT_TRUE(names.empty());
  EXPECT_EQ(U8(store.GetLastError()), "指定セクションを開けない　Nowhere");
  names = {u"stale"};
  EXPECT_FALSE(store.EnumValues(kUser, std::nullopt, names));
  EXPECT_TRUE(names.empty());

  store.WriteInt(kUser, u"Leaf", u"v", 1);
  names = {u"stale"};
  EXPECT_TRUE(store.EnumKeys(kUser, u"Leaf", names));
  EXPECT_TRUE(names.empty());
}

TEST_F(Registry, TextAndNumberValues) {
  RegistryStore store;
  const std::u16string odd = u"x\xD800y\u3000z";  // a lone surrogate and an ideographic space
  ASSERT_TRUE(store.WriteString(kUser, u"T", odd, odd));
  EXPECT_EQ(store.GetString(kUser, u"T", odd, u""), odd);
  EXPECT_EQ(Values(u"T"), (Names{odd}));

  ASSERT_TRUE(store.WriteString(kUser, u"T", u"cut", std::u16string(u"ab\0cd", 5)));
  EXPECT_EQ(store.GetString(kUser, u"T", u"cut", u""), u"ab");

  ASSERT_TRUE(store.WriteString(kUser, u"T", u"empty", u""));
  EXPECT_EQ(store.GetString(kUser, u"T", u"empty", u"dflt"), u"");

  // The empty name is the key's unnamed value, whether written empty or read absent.
  ASSERT_TRUE(store.WriteString(kUser, u"T", u"", u"unnamed"));
  EXPECT_EQ(store.GetString(kUser, u"T", std::nullopt, u""), u"unnamed");

  for (std::int32_t n : {0, -1, 2147483647, -2147483647 - 1}) {
    SCOPED_TRACE(n);
    ASSERT_TRUE(store.WriteInt(kUser, u"T", u"n", n));
    EXPECT_EQ(store.GetInt(kUser, u"T", u"n", 42), n);
  }
  // A value changes type when written with the other type.
  ASSERT_TRUE(store.WriteString(kUser, u"T", u"n", u"text"));
  EXPECT_EQ(store.GetInt(kUser, u"T", u"n", 42), 42);
  EXPECT_EQ(store.GetString(kUser, u"T", u"n", u""), u"text");
}

TEST_F(Registry, FailureTextsAreExact) {
  RegistryStore seed;
  seed.WriteInt(kUser, u"Software\\T", u"num", 1);
  seed.WriteString(kUser, u"Software\\T", u"txt", u"x");
  seed.WriteInt(kUser, u"Software\\T\\Sub\\Deeper", u"v", 1);

  struct Case {
    const char* what;
    bool (*run)(RegistryStore&);
    const char* text;
  } cases[] = {
      {"text read of a number",
       [](RegistryStore& s) { return s.GetString(kUser, u"Software\\T", u"num", u"d") == u"d"; },
       "ＲＥＧ＿ＳＺでない　　　　Software\\T\\[num]"},
      {"number read of a text", [](RegistryStore& s) { return s.GetInt(kUser, u"Software\\T", u"txt", 9) == 9; },
       "ＲＥＧ＿ＤＷＯＲＤでない　Software\\T\\[txt]"},
      {"missing value", [](RegistryStore& s) { return s.GetString(kUser, u"Software\\T", u"none", u"d") == u"d"; },
       "エントリが存在しない　　　Software\\T\\[none]"},
      {"missing key", [](RegistryStore& s) { return s.GetInt(kUser, u"Software\\Nope", u"v", 9) == 9; },
       "指定セクションを開けない　Software\\Nope"},
      {"other root", [](RegistryStore& s) { return !s.WriteInt(kHkeyLocalMachine, u"Software\\T", u"v", 1); },
       "指定セクションを開けない　Software\\T"},
      {"delete of a missing value", [](RegistryStore& s) { return !s.DeleteValue(kUser, u"Software\\T", u"none"); },
       "削除に失敗　　値　　　　　Software\\T\\[none]"},
      {"delete of a key with subkeys", [](RegistryStore& s) { return !s.DeleteKey(kUser, u"Software\\T", u"Sub"); },
       "削除に失敗　　キー　　　　Software\\T\\[Sub]"},
      {"delete of a missing key", [](RegistryStore& s) { return !s.DeleteKey(kUser, u"Software\\T", u"None"); },
       "削除に失敗　　キー　　　　Software\\T\\[None]"},
      {"key name too long to store",
       [](RegistryStore& s) { return !s.WriteInt(kUser, u"Software\\" + std::u16string(256, u'k'), u"v", 1); },
       nullptr},
      {"value name too long to store",
       [](RegistryStore& s) { return !s.WriteInt(kUser, u"Software\\T", std::u16string(16384, u'v'), 1); }, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RegistryStore store;
    EXPECT_TRUE(c.run(store));
    if (c.text) {
      EXPECT_EQ(U8(store.GetLastError()), c.text);
    }
    EXPECT_FALSE(store.GetLastError().empty());
  }
  // A new open starts without a failure text.
  RegistryStore store;
  store.GetInt(kUser, u"Software\\Nope", u"v", 0);
  EXPECT_EQ(store.GetInt(kUser, u"Software\\T", u"num", 0), 1);
  EXPECT_EQ(store.GetLastError(), u"");
}

TEST_F(Registry, DeleteKeyRefusesAKeyWithSubkeys) {
  RegistryStore store;
  store.WriteInt(kUser, u"P\\Child\\Grandchild", u"v", 1);
  store.WriteInt(kUser, u"P\\Child", u"w", 2);
  EXPECT_FALSE(store.DeleteKey(kUser, u"P", u"Child"));
  EXPECT_EQ(store.GetInt(kUser, u"P\\Child\\Grandchild", u"v", 0), 1);
  EXPECT_TRUE(store.DeleteKey(kUser, u"p\\child", u"GRANDCHILD"));
  EXPECT_TRUE(store.DeleteKey(kUser, u"P", u"Child"));  // with its values
  EXPECT_EQ(Keys(u"P"), Names{});
  EXPECT_EQ(store.GetInt(kUser, u"P\\Child", u"w", 0), 0);
  // Writing the key again finds none of its old values.
  store.WriteInt(kUser, u"P\\Child", u"other", 3);
  EXPECT_EQ(Values(u"P\\Child"), (Names{u"other"}));
  // The root cannot be deleted through an empty name.
  EXPECT_FALSE(store.DeleteKey(kUser, u"", u""));
  EXPECT_FALSE(store.DeleteKey(kUser, u"P", std::nullopt));
}

TEST_F(Registry, AbsentNameOrValueDeletes) {
  RegistryStore store;
  store.WriteString(kUser, u"D\\Section", u"a", u"1");
  store.WriteString(kUser, u"D\\Section", u"b", u"2");
  EXPECT_TRUE(store.WriteString(kUser, u"D\\Section", u"a", std::nullopt));
  EXPECT_EQ(Values(u"D\\Section"), (Names{u"b"}));
  EXPECT_FALSE(store.WriteString(kUser, u"D\\Section", u"a", std::nullopt));  // already gone
  EXPECT_TRUE(store.WriteString(kUser, u"D\\Section", std::nullopt, std::nullopt));
  EXPECT_EQ(Keys(u"D"), Names{});
  EXPECT_FALSE(store.DeleteValue(kUser, u"D", u"x"));
  EXPECT_FALSE(store.DeleteValue(kUser, std::nullopt, u"x"));
}

TEST_F(Registry, TypedValuesUseTheReadableForms) {
  RegistryStore store;
  ASSERT_TRUE(store.WriteRect(kUser, u"W", u"Size", Rect{10, 20, 300, 400}));
  EXPECT_EQ(U8(store.GetString(kUser, u"W", u"Size_LTRB", u"")), "\"10 20 300 400\"");
  EXPECT_EQ(store.GetRect(kUser, u"W", u"Size", Rect{}), (Rect{10, 20, 300, 400}));
  store.WriteString(kUser, u"W", u"Two_LTRB", u"\"5 6\"");
  EXPECT_EQ(store.GetRect(kUser, u"W", u"Two", Rect{1, 1, 1, 1}), (Rect{5, 6, 0, 0}));
  EXPECT_EQ(store.GetRect(kUser, u"W", u"Missing", Rect{1, 2, 3, 4}), (Rect{1, 2, 3, 4}));

  ASSERT_TRUE(store.WritePoint(kUser, u"W", u"At", Point{-5, 7}));
  EXPECT_EQ(U8(store.GetString(kUser, u"W", u"At_L_XY", u"")), "\"-5 7\"");
  EXPECT_EQ(store.GetPoint(kUser, u"W", u"At", Point{}), (Point{-5, 7}));

  ASSERT_TRUE(store.WriteDouble(kUser, u"W", u"D", 0.1));
  EXPECT_EQ(U8(store.GetString(kUser, u"W", u"D_Flt_", u"")), "0.10000000000000000555");
  EXPECT_EQ(store.GetDouble(kUser, u"W", u"D", 0), 0.1);  // full precision, unlike a Profile
  EXPECT_EQ(store.GetDouble(kUser, u"W", u"Missing", 1234567.125), 1234567.125);

  ASSERT_TRUE(store.WriteInt64(kUser, u"W", u"N", -1));
  EXPECT_EQ(store.GetString(kUser, u"W", u"N_I64_", u""), u"-1");
  EXPECT_EQ(store.GetInt(kUser, u"W", u"N_H", 0), -1);
  EXPECT_EQ(store.GetInt(kUser, u"W", u"N_L", 0), -1);
  ASSERT_TRUE(store.WriteInt64(kUser, u"W", u"Big", std::int64_t{1} << 32));
  EXPECT_EQ(store.GetInt(kUser, u"W", u"Big_H", 9), 1);
  EXPECT_EQ(store.GetInt(kUser, u"W", u"Big_L", 9), 0);
  EXPECT_EQ(store.GetInt64(kUser, u"W", u"Big", 0), std::int64_t{1} << 32);
  EXPECT_EQ(store.GetInt64Split(kUser, u"W", u"None", -7), -7);
}

TEST_F(Registry, DamagedDatabaseFailsCleanly) {
#ifdef _WIN32
  GTEST_SKIP() << "the SQLite database that stands for the registry elsewhere";
#endif
  std::filesystem::create_directories(config_ + "/vexo");
  test::WriteBytes(config_ + "/vexo/registry.sqlite3", test::Bytes(4096, 0x5A));
  RegistryStore store;
  EXPECT_FALSE(store.WriteInt(kUser, u"Software\\T", u"v", 1));
  EXPECT_EQ(U8(store.GetLastError()), "指定セクションを開けない　Software\\T");
  EXPECT_EQ(store.GetInt(kUser, u"Software\\T", u"v", 9), 9);
  EXPECT_EQ(test::ReadBytes(config_ + "/vexo/registry.sqlite3"), test::Bytes(4096, 0x5A));
}

#ifndef _WIN32
TEST_F(Registry, ConcurrentWritersLoseNothing) {
  constexpr int kWriters = 4;
  constexpr int kWrites = 40;
  // "w<writer>_<write>", appended piece by piece: GCC 12 takes "w" + ... for an overlapping copy.
  const auto name_of = [](int w, int i) {
    std::string key = "w";
    key += std::to_string(w) + "_" + std::to_string(i);
    return test::U16(key);
  };
  std::vector<pid_t> children;
  for (int w = 0; w < kWriters; ++w) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      bool ok = true;
      for (int i = 0; i < kWrites; ++i) {
        RegistryStore store;
        const std::u16string name = name_of(w, i);
        ok = store.WriteInt(kUser, u"Software\\Fork\\Shared", name, w * 1000 + i) && ok;
        ok = store.WriteString(kUser, test::U16("Software\\Fork\\W" + std::to_string(w)), name, name) && ok;
      }
      _exit(ok ? 0 : 1);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(Values(u"Software\\Fork\\Shared").size(), static_cast<std::size_t>(kWriters * kWrites));
  EXPECT_EQ(Keys(u"Software\\Fork").size(), static_cast<std::size_t>(kWriters + 1));
  RegistryStore store;
  for (int w = 0; w < kWriters; ++w) {
    for (int i = 0; i < kWrites; ++i) {
      const std::u16string name = name_of(w, i);
      ASSERT_EQ(store.GetInt(kUser, u"Software\\Fork\\Shared", name, -1), w * 1000 + i);
    }
  }
}
#endif

}  // namespace
}  // namespace ocelo
