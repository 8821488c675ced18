// System queries: the temporary and special folders from the environment, the user, the process.
#include "platform/system.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>

#include "base/paths.h"
#include "support/program_paths.h"
#include "support/sandbox.h"

namespace ocelo::sys {
namespace {

using test::U16;
using test::U8;

// Sets a variable; no value removes it. On Windows through the system, whose block and the C runtime's
// copy both change.
void SetVariable(const std::string& name, const std::optional<std::string>& value) {
#ifdef _WIN32
  SetEnvironment(U16(name), value ? U16(*value) : u"");
#else
  if (value) {
    setenv(name.c_str(), value->c_str(), 1);
  } else {
    unsetenv(name.c_str());
  }
#endif
}

// Changes environment variables for one test and puts the old values back afterwards.
class EnvironmentChange {
 public:
  ~EnvironmentChange() {
    for (const auto& [name, value] : saved_) SetVariable(name, value);
  }
  void Set(const std::string& name, const std::optional<std::string>& value) {
    if (!saved_.count(name)) {
      const char* old = std::getenv(name.c_str());
      saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    SetVariable(name, value);
  }

 private:
  std::map<std::string, std::optional<std::string>> saved_;
};

// A folder's permission bits; 0 when it is no folder. Windows has no such bits: 0700 for any folder.
unsigned FolderMode(const std::string& path) {
#ifdef _WIN32
  std::error_code error;
  return std::filesystem::is_directory(path, error) ? 0700 : 0;
#else
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return 0;
  return st.st_mode & 07777;
#endif
}

constexpr int kTempPath = -1;  // the query is TempPath, not a special folder

struct FolderCase {
  int csidl;
  const char* variable;  // the one variable set besides HOME
  std::string value;
  std::string expected;
  bool created;  // else: the query leaves the folder as it was
};

TEST(System, FoldersFromTheEnvironment) {
  const std::string folder = test::TestFolder();
  const std::string home = folder + "/home";
  std::filesystem::create_directories(folder + "/closed");
#ifdef _WIN32
  // The system's temporary folder is TMP's, else TEMP's, as it stands; the shared documents folder is
  // OCELO_TEST_DOCUMENTS' when that is absolute, in the system's form, else the system's own.
  const char* variables[] = {"TMP", "TEMP", "OCELO_TEST_DOCUMENTS"};
  std::string system_documents;
  {
    EnvironmentChange env;
    env.Set("OCELO_TEST_DOCUMENTS", std::nullopt);
    system_documents = test::Slashes(U8(SpecialFolderPath(kCsidlCommonDocuments)));
  }
  ASSERT_FALSE(system_documents.empty());
  const FolderCase cases[] = {
      {kTempPath, "TMP", folder + "/closed", folder + "/closed/", false},
      {kTempPath, "TMP", folder + "/closed/", folder + "/closed/", false},
      {kTempPath, "TEMP", folder + "/missing", folder + "/missing/", false},
      {kCsidlCommonDocuments, "OCELO_TEST_DOCUMENTS", folder + "/closed//", folder + "/closed", false},
      {kCsidlCommonDocuments, "OCELO_TEST_DOCUMENTS", folder + "/d", folder + "/d", false},
      {kCsidlCommonDocuments | kCsidlFlagCreate, "OCELO_TEST_DOCUMENTS", folder + "/d/deeper", folder + "/d/deeper",
       true},
      {kCsidlCommonDocuments, "OCELO_TEST_DOCUMENTS", "relative", system_documents, false},
      {kCsidlCommonDocuments, "OCELO_TEST_DOCUMENTS", "", system_documents, false},
  };
#else
  const char* variables[] = {"TMPDIR", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"};
  const std::string own = "/ocelo-" + std::to_string(geteuid());
  // Temporary folders: the user's own closed one, one that others may write (as /tmp), and one that
  // others may write where a link or another's folder already stands at the private name.
  chmod((folder + "/closed").c_str(), 0700);
  for (const char* open : {"/open", "/open-linked", "/open-taken"}) {
    std::filesystem::create_directories(folder + open);
    chmod((folder + open).c_str(), 0777);
  }
  std::filesystem::create_directory_symlink(folder + "/closed", folder + "/open-linked" + own);
  std::filesystem::create_directories(folder + "/open-taken" + own);
  chmod((folder + "/open-taken" + own).c_str(), 0777);
  const FolderCase cases[] = {
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
#endif
  for (const FolderCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.csidl) + " " + (c.variable ? c.variable : "") + "=" + c.value);
    EnvironmentChange env;
    env.Set("HOME", home);
    for (const char* name : variables) env.Set(name, std::nullopt);
    if (c.variable) env.Set(c.variable, c.value);
    const bool existed = FolderMode(c.expected) != 0;
    EXPECT_EQ(test::Slashes(U8(c.csidl == kTempPath ? TempPath() : SpecialFolderPath(c.csidl))), c.expected);
    if (c.created) {
      EXPECT_EQ(FolderMode(c.expected), 0700u);  // private to the user
    } else {
      EXPECT_EQ(FolderMode(c.expected) != 0, existed);
    }
  }
#ifndef _WIN32
  // A folder that cannot be made yields no path.
  test::WriteText(folder + "/file", "");
  EnvironmentChange env;
  env.Set("XDG_CONFIG_HOME", folder + "/file/sub");
  EXPECT_EQ(SpecialFolderPath(kCsidlAppData | kCsidlFlagCreate), u"");
  // Without HOME the password database names the home folder.
  env.Set("HOME", std::nullopt);
  const passwd* entry = getpwuid(geteuid());
  EXPECT_EQ(U8(SpecialFolderPath(kCsidlPersonal)), entry ? entry->pw_dir : "");
#endif
}

TEST(System, UserProcessAndEnvironment) {
#ifdef _WIN32
  const char* user = std::getenv("USERNAME");
  ASSERT_NE(user, nullptr);
  EXPECT_EQ(U8(LogonName()), user);
  const int depth = 3;  // a working folder stays within MAX_PATH on Windows
#else
  const passwd* entry = getpwuid(geteuid());
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(U8(LogonName()), entry->pw_name);
  const int depth = 12;
#endif
  EXPECT_EQ(U8(FileName(ExecutablePath())), test::kProgramName);

  // The working folder is read whatever its length.
  const std::u16string before = WorkingFolder();
  std::string deep = test::TestFolder();
  for (int i = 0; i < depth; ++i) deep += "/" + std::string(40, static_cast<char>('a' + i));
  std::filesystem::create_directories(deep);
  std::error_code error;
  std::filesystem::current_path(deep, error);
  ASSERT_FALSE(error) << error.message();
  const std::u16string inside = WorkingFolder();
  std::filesystem::current_path(std::filesystem::path(std::u16string(before)), error);
  ASSERT_FALSE(error) << error.message();
  EXPECT_EQ(test::Slashes(U8(inside)), deep);

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
