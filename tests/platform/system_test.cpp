// System queries: the temporary and special folders from the environment, the user, the process.
#include "platform/system.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>

#include "support/sandbox.h"

namespace ocelo::sys {
namespace {

using test::U16;
using test::U8;

// Changes environment variables for one test and puts the old values back afterwards.
class EnvironmentChange {
 public:
  ~EnvironmentChange() {
    for (const auto& [name, value] : saved_) {
      if (value) {
        setenv(name.c_str(), value->c_str(), 1);
      } else {
        unsetenv(name.c_str());
      }
    }
  }
  // Sets a variable; no value removes it.
  void Set(const std::string& name, const std::optional<std::string>& value) {
    if (!saved_.count(name)) {
      const char* old = std::getenv(name.c_str());
      saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    if (value) {
      setenv(name.c_str(), value->c_str(), 1);
    } else {
      unsetenv(name.c_str());
    }
  }

 private:
  std::map<std::string, std::optional<std::string>> saved_;
};

unsigned FolderMode(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return 0;
  return st.st_mode & 07777;
}

std::string PasswordHome() {
  const passwd* entry = getpwuid(geteuid());
  return entry ? entry->pw_dir : "";
}

TEST(System, TempPath) {
  const std::string folder = test::TestFolder();
  const std::string home = folder + "/home";
  struct Case {
    const char* description;
    std::optional<std::string> tmpdir;
    std::optional<std::string> cache;
    std::string expected;
  };
  const Case cases[] = {
      {"TMPDIR wins", "/var/x", "/c", "/var/x/"},
      {"TMPDIR with its slash", "/var/x/", "/c", "/var/x/"},
      {"empty TMPDIR: the cache folder", "", folder + "/c1", folder + "/c1/"},
      {"no TMPDIR", std::nullopt, folder + "/c2/deeper", folder + "/c2/deeper/"},
      {"relative cache folder ignored", std::nullopt, "rel", home + "/.cache/"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.description);
    EnvironmentChange env;
    env.Set("HOME", home);
    env.Set("TMPDIR", c.tmpdir);
    env.Set("XDG_CACHE_HOME", c.cache);
    EXPECT_EQ(U8(TempPath()), c.expected);
    // A folder of our own making is private to the user.
    if (!c.tmpdir || c.tmpdir->empty()) {
      EXPECT_EQ(FolderMode(c.expected), 0700u);
    }
  }
}

TEST(System, SpecialFolderPath) {
  const std::string folder = test::TestFolder();
  const std::string home = folder + "/home";
  struct Case {
    int csidl;
    std::optional<std::string> data;    // XDG_DATA_HOME
    std::optional<std::string> config;  // XDG_CONFIG_HOME
    std::string expected;
    bool created;
  };
  const Case cases[] = {
      {kCsidlCommonDocuments, "/d/", std::nullopt, "/d", false},
      {kCsidlCommonDocuments, std::nullopt, std::nullopt, home + "/.local/share", false},
      {kCsidlCommonDocuments, "./relative", std::nullopt, home + "/.local/share", false},
      {kCsidlCommonDocuments | kCsidlFlagCreate, std::nullopt, std::nullopt, home + "/.local/share", true},
      {kCsidlAppData, std::nullopt, folder + "/conf", folder + "/conf", false},
      {kCsidlAppData | kCsidlFlagCreate, std::nullopt, folder + "/conf", folder + "/conf", true},
      {kCsidlLocalAppData, std::nullopt, std::nullopt, "/cache-set-below", false},
      {kCsidlPersonal, std::nullopt, std::nullopt, home, false},
      {0x27, std::nullopt, std::nullopt, "", false},  // pictures: no such folder here
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.csidl);
    EnvironmentChange env;
    env.Set("HOME", home);
    env.Set("XDG_DATA_HOME", c.data);
    env.Set("XDG_CONFIG_HOME", c.config);
    env.Set("XDG_CACHE_HOME", "/cache-set-below");
    const bool existed = FolderMode(c.expected) != 0;
    EXPECT_EQ(U8(SpecialFolderPath(c.csidl)), c.expected);
    if (c.created) {
      EXPECT_EQ(FolderMode(c.expected), 0700u);
    } else {
      EXPECT_EQ(FolderMode(c.expected) != 0, existed);  // asked without the flag, nothing is made
    }
  }
  // A folder that cannot be made yields no path.
  test::WriteText(folder + "/file", "");
  EnvironmentChange env;
  env.Set("XDG_CONFIG_HOME", folder + "/file/sub");
  EXPECT_EQ(SpecialFolderPath(kCsidlAppData | kCsidlFlagCreate), u"");
  // Without HOME the password database names the home folder.
  env.Set("HOME", std::nullopt);
  EXPECT_EQ(U8(SpecialFolderPath(kCsidlPersonal)), PasswordHome());
}

TEST(System, UserProcessAndEnvironment) {
  const passwd* entry = getpwuid(geteuid());
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(U8(LogonName()), entry->pw_name);
  const std::u16string exe = ExecutablePath();
  EXPECT_EQ(exe.substr(exe.rfind(u'/') + 1), u"ocelo_tests");
  EXPECT_EQ(LongPath(u"/a/b~1"), u"/a/b~1");

  // The working folder is read whatever its length.
  const std::u16string before = WorkingFolder();
  std::string deep = test::TestFolder();
  for (int i = 0; i < 12; ++i) deep += "/" + std::string(40, static_cast<char>('a' + i));
  std::filesystem::create_directories(deep);
  ASSERT_EQ(chdir(deep.c_str()), 0);
  const std::u16string inside = WorkingFolder();
  ASSERT_EQ(chdir(U8(before).c_str()), 0);
  EXPECT_EQ(U8(inside), deep);

  EnvironmentChange env;
  env.Set("OCELO_TEST_VAR", std::nullopt);
  EXPECT_EQ(Environment(u"OCELO_TEST_VAR"), u"");
  SetEnvironment(u"OCELO_TEST_VAR", u"\u65E5\u672C");
  EXPECT_EQ(Environment(u"OCELO_TEST_VAR"), u"\u65E5\u672C");
  SetEnvironment(u"OCELO_TEST_VAR", u"");
  EXPECT_EQ(std::getenv("OCELO_TEST_VAR"), nullptr);
}

}  // namespace
}  // namespace ocelo::sys
