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

constexpr int kTempPath = -1;  // the query is TempPath, not a special folder

TEST(System, FoldersFromTheEnvironment) {
  const std::string folder = test::TestFolder();
  const std::string home = folder + "/home";
  const std::string own = "/ocelo-" + std::to_string(geteuid());
  // Temporary folders: the user's own closed one, one that others may write (as /tmp), and one that
  // others may write where a link or another's folder already stands at the private name.
  std::filesystem::create_directories(folder + "/closed");
  chmod((folder + "/closed").c_str(), 0700);
  for (const char* open : {"/open", "/open-linked", "/open-taken"}) {
    std::filesystem::create_directories(folder + open);
    chmod((folder + open).c_str(), 0777);
  }
  std::filesystem::create_directory_symlink(folder + "/closed", folder + "/open-linked" + own);
  std::filesystem::create_directories(folder + "/open-taken" + own);
  chmod((folder + "/open-taken" + own).c_str(), 0777);
  struct Case {
    int csidl;
    const char* variable;  // the one variable set besides HOME
    std::string value;
    std::string expected;
    bool created;  // else: the query leaves the folder as it was
  };
  const Case cases[] = {
      {kTempPath, "TMPDIR", folder + "/closed", folder + "/closed/", false},
      {kTempPath, "TMPDIR", folder + "/closed/", folder + "/closed/", false},
      {kTempPath, "TMPDIR", folder + "/open", folder + "/open" + own + "/", true},
      {kTempPath, "TMPDIR", folder + "/open//", folder + "/open" + own + "/", true},
      {kTempPath, "TMPDIR", folder + "/open-linked", home + "/.cache/", true},  // the link is not followed
      {kTempPath, "TMPDIR", folder + "/open-taken", home + "/.cache/", true},
      {kTempPath, "TMPDIR", "/var/x-missing", home + "/.cache/", true},
      {kTempPath, "TMPDIR", "", home + "/.cache/", true},
      {kTempPath, "XDG_CACHE_HOME", folder + "/c/deeper", folder + "/c/deeper/", true},
      {kTempPath, "XDG_CACHE_HOME", "relative", home + "/.cache/", true},  // relative: ignored
      {kCsidlCommonDocuments, "XDG_DATA_HOME", "/d/", "/d", false},
      {kCsidlCommonDocuments, "XDG_DATA_HOME", "./relative", home + "/.local/share", false},
      {kCsidlCommonDocuments | kCsidlFlagCreate, nullptr, "", home + "/.local/share", true},
      {kCsidlAppData, "XDG_CONFIG_HOME", folder + "/conf", folder + "/conf", false},
      {kCsidlAppData | kCsidlFlagCreate, "XDG_CONFIG_HOME", folder + "/conf", folder + "/conf", true},
      {kCsidlLocalAppData, "XDG_CACHE_HOME", "/cache-elsewhere", "/cache-elsewhere", false},
      {kCsidlPersonal, nullptr, "", home, false},
      {0x27, nullptr, "", "", false},  // pictures: no such folder here
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.csidl) + " " + (c.variable ? c.variable : "") + "=" + c.value);
    EnvironmentChange env;
    env.Set("HOME", home);
    for (const char* name : {"TMPDIR", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"}) {
      env.Set(name, std::nullopt);
    }
    if (c.variable) env.Set(c.variable, c.value);
    const bool existed = FolderMode(c.expected) != 0;
    EXPECT_EQ(U8(c.csidl == kTempPath ? TempPath() : SpecialFolderPath(c.csidl)), c.expected);
    if (c.created) {
      EXPECT_EQ(FolderMode(c.expected), 0700u);  // private to the user
    } else {
      EXPECT_EQ(FolderMode(c.expected) != 0, existed);
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
