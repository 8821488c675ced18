// The process and its user on POSIX systems: folders after the XDG base-directory rules, the
// password database, /proc and the environment.
#include "platform/system.h"

#include <pwd.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/fs.h"
#include "platform/posix/native.h"

namespace ocelo::sys {
namespace {

// The password-database entry of the user the process acts as; false when there is none.
bool PasswordEntry(std::string& name, std::string& home) {
  std::vector<char> buffer(1024);
  for (;;) {
    passwd entry{};
    passwd* found = nullptr;
    const int error = getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found);
    if (error == ERANGE && buffer.size() < (1u << 20)) {
      buffer.resize(buffer.size() * 4);
      continue;
    }
    if (error != 0 || !found) return false;
    name = found->pw_name ? found->pw_name : "";
    home = found->pw_dir ? found->pw_dir : "";
    return true;
  }
}

std::string Variable(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

std::string StripTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// $HOME, else the home folder of the password database; empty when neither gives one.
std::string HomeFolder() {
  std::string home = Variable("HOME");
  if (home.empty()) {
    std::string name;
    if (!PasswordEntry(name, home)) return {};
  }
  return StripTrailingSlashes(home);
}

// An XDG base folder: the variable when it holds an absolute path (relative ones are ignored, as the
// XDG rules say), else the default below the home folder; empty without a home folder.
std::string XdgFolder(const char* variable, const char* below_home) {
  const std::string value = Variable(variable);
  if (!value.empty() && value[0] == '/') return StripTrailingSlashes(value);
  const std::string home = HomeFolder();
  if (home.empty()) return {};
  return (home == "/" ? "" : home) + "/" + below_home;
}

// $TMPDIR when it is a folder of the user's own that nobody else can write. A folder that others can
// write (/tmp itself) lets them plant links where our files will go, so inside it the user's own
// "ocelo-<uid>" folder is used, made 0700 and checked to be a real folder of the user's that nobody else
// can write (not a link, not another user's). Empty when neither will do (also when $TMPDIR is unset).
std::string TempFolderFromVariable() {
  const std::string variable = StripTrailingSlashes(Variable("TMPDIR"));
  if (variable.empty()) return {};
  if (posix::IsPrivateNativeFolder(variable)) return variable;
  const std::string own = (variable == "/" ? "" : variable) + "/ocelo-" + std::to_string(geteuid());
  ::mkdir(own.c_str(), 0700);  // it may exist already: what counts is the check
  return posix::IsPrivateNativeFolder(own) ? own : std::string();
}

}  // namespace

std::u16string TempPath() {
  std::string folder = TempFolderFromVariable();
  if (folder.empty()) {
    folder = XdgFolder("XDG_CACHE_HOME", ".cache");
    if (folder.empty()) return {};
    posix::MakeFolderTree(folder, 0700);  // as the system's answer, the path stands even when this fails
  }
  if (folder.back() != '/') folder += '/';
  return FromNativePath(folder);
}

std::u16string SpecialFolderPath(int csidl) {
  std::string folder;
  switch (csidl & 0xFF) {
    case kCsidlCommonDocuments: folder = XdgFolder("XDG_DATA_HOME", ".local/share"); break;
    case kCsidlAppData: folder = XdgFolder("XDG_CONFIG_HOME", ".config"); break;
    case kCsidlLocalAppData: folder = XdgFolder("XDG_CACHE_HOME", ".cache"); break;
    case kCsidlPersonal: folder = HomeFolder(); break;
    default: return {};
  }
  if (folder.empty()) return {};
  // Asked to create it, the caller counts on the folder being there: no folder, no path.
  if ((csidl & kCsidlFlagCreate) && posix::MakeFolderTree(folder, 0700) != 0) return {};
  return FromNativePath(folder);
}

std::u16string LogonName() {
  std::string name, home;
  if (!PasswordEntry(name, home)) return {};
  return FromNativePath(name);
}

std::u16string ExecutablePath() {
  std::string buffer(256, '\0');
  for (;;) {
    const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return {};
    if (static_cast<std::size_t>(n) < buffer.size()) {
      buffer.resize(static_cast<std::size_t>(n));
      return FromNativePath(buffer);
    }
    buffer.resize(buffer.size() * 2);
  }
}

std::u16string WorkingFolder() {
  std::string buffer(256, '\0');
  for (;;) {
    if (getcwd(buffer.data(), buffer.size())) {
      buffer.resize(buffer.find('\0'));
      return FromNativePath(buffer);
    }
    if (errno != ERANGE || buffer.size() >= (1u << 24)) return {};
    buffer.resize(buffer.size() * 2);
  }
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>();
}

void UseBinaryStandardStreams() {}

std::u16string Environment(std::u16string_view name) {
  std::string native;
  if (name.empty() || !posix::NativeArg(name, native)) return {};
  return FromNativePath(Variable(native.c_str()));
}

void SetEnvironment(std::u16string_view name, std::u16string_view value) {
  std::string native_name, native_value;
  if (name.empty() || name.find(u'=') != std::u16string_view::npos || !posix::NativeArg(name, native_name)) {
    return;
  }
  if (value.empty()) {
    unsetenv(native_name.c_str());
  } else if (posix::NativeArg(value, native_value)) {
    setenv(native_name.c_str(), native_value.c_str(), 1);
  }
}

std::u16string LongPath(std::u16string_view path) { return std::u16string(path); }

int LocalTime(std::int64_t time, std::tm& local) {
  const std::time_t seconds = static_cast<std::time_t>(time);
  if (static_cast<std::int64_t>(seconds) != time) return EOVERFLOW;
  if (localtime_r(&seconds, &local) == nullptr) return errno != 0 ? errno : EOVERFLOW;
  return 0;
}

bool StandardErrorIsTerminal() { return isatty(STDERR_FILENO) == 1; }

std::uint64_t PhysicalMemory() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || page_size <= 0) return 0;
  return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page_size);
}

SystemRelease SystemNameAndRelease() {
  utsname names{};
  if (uname(&names) != 0) return {};
  return {FromNativePath(names.sysname), FromNativePath(names.release)};
}

}  // namespace ocelo::sys
