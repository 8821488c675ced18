// Questions to the operating system about the process and its user: folders, names, environment.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace ocelo::sys {

/// `GetTempPathW`: the folder for temporary files, with a trailing separator, never one that other users
/// can write: `$TMPDIR` when it is a folder of the user's own closed to others, else the user's private
/// `ocelo-<uid>` folder inside it (created 0700); without `$TMPDIR`, or when neither will do, the per-user
/// cache folder `${XDG_CACHE_HOME:-$HOME/.cache}/`.
std::u16string TempPath();

/// Shell folder identifiers the program asks for.
inline constexpr int kCsidlCommonDocuments = 0x2E;  ///< shared documents: `${XDG_DATA_HOME:-$HOME/.local/share}`
inline constexpr int kCsidlAppData = 0x1A;          ///< per-user settings: `${XDG_CONFIG_HOME:-$HOME/.config}`
inline constexpr int kCsidlLocalAppData = 0x1C;     ///< per-user cache: `${XDG_CACHE_HOME:-$HOME/.cache}`
inline constexpr int kCsidlPersonal = 0x05;         ///< documents: `$HOME`
inline constexpr int kCsidlFlagCreate = 0x8000;     ///< create the folder when missing

/// `SHGetSpecialFolderPathW`: the folder for an identifier (the create flag may be added), without a
/// trailing separator; empty when the system has none.
std::u16string SpecialFolderPath(int csidl);

/// `GetUserNameW`: the user's logon name from the password database; empty when it has none.
std::u16string LogonName();

/// `GetModuleFileNameW` of the program: the full path of the running executable.
std::u16string ExecutablePath();

/// `GetCurrentDirectoryW`: the process's current folder.
std::u16string WorkingFolder();

/// The program's arguments after its name, in the form ToNativePath gives: on POSIX `argv` as it is; on
/// Windows the UTF-16 command line (`GetCommandLineW`) split as the C runtime splits it, since `argv` holds
/// the narrow code page's form, which loses every character outside it.
std::vector<std::string> ProgramArguments(int argc, char** argv);

/// Puts the standard streams in binary mode, so that the bytes a program writes are the bytes that arrive
/// (Windows' C runtime would write every LF as CR LF and stop reading at a Ctrl+Z); POSIX streams are
/// binary already. Each terminal program calls it once at start.
void UseBinaryStandardStreams();

/// `_wgetenv`: a variable's value; empty when it is not set.
std::u16string Environment(std::u16string_view name);

/// Sets or, with an empty value, removes an environment variable (tests and child processes).
void SetEnvironment(std::u16string_view name, std::u16string_view value);

/// `GetLongPathNameW`: the long form of a path; POSIX has no short forms, so the path itself.
std::u16string LongPath(std::u16string_view path);

/// The local time of a moment (seconds since 1970), as `localtime` gives it. Returns 0, or the C error
/// number when it cannot be had (EOVERFLOW for a moment the system's time cannot hold).
[[nodiscard]] int LocalTime(std::int64_t time, std::tm& local);

/// True when the standard error stream is a terminal (for progress lines).
bool StandardErrorIsTerminal();

/// The operating system's name and release, as `uname` reports them; empty texts when unknown.
struct SystemRelease {
  std::u16string name;     ///< "Linux"
  std::u16string release;  ///< "6.1.0-18-amd64"
};
SystemRelease SystemNameAndRelease();

/// The machine's physical memory in bytes (0 when unknown): no file larger than this is taken whole
/// into memory.
std::uint64_t PhysicalMemory();

}  // namespace ocelo::sys
