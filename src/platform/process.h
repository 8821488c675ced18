// Starting other programs: detached from this process (the caller never waits for them to finish),
// and opening folders, documents and URLs as the desktop does (the system's "shell execute").
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace ocelo::sys {

/// What became of one start.
struct StartResult {
  int error = 0;          ///< 0 when the program started, else the C error number (of fork, exec, chdir)
  bool finished = false;  ///< the program ended within the watch time
  int exit_code = 0;      ///< its exit status when it finished; 128 + the signal number when a signal ended it
};

/// Starts the program file argv[0] (a path; it is not looked up on $PATH) with the arguments, in its own
/// session, with standard input, output and error on the null device and no other open files, in
/// `folder` (the current folder when empty). Waits at most `watch` for the program to end, to learn its
/// exit status; a program still running then runs on unwatched. No child is left behind to be reaped.
[[nodiscard]] StartResult StartDetached(const std::vector<std::u16string>& argv, std::u16string_view folder,
                                        std::chrono::milliseconds watch);

/// The full path of an executable file of that name in a folder of $PATH (empty entries are skipped);
/// empty when there is none or the name holds a separator.
std::u16string FindProgram(std::u16string_view name);

/// A command line split into arguments as Windows programs split theirs: blanks separate, double quotes
/// group, 2n backslashes before a quote give n backslashes, 2n+1 give n and a literal quote.
///   a "b c" d => [a, b c, d]      "x\"y" => [x"y]      a\\b => [a\\b]
std::vector<std::u16string> SplitCommandLine(std::u16string_view line);

/// Any return value of ShellOpen above this is success.
inline constexpr int kShellOk = 42;

/// What ShellOpen ran, for its messages: the program and the text it was given.
struct ShellRun {
  std::u16string program;
  std::u16string parameters;
};

/// Told the shell error code of an opener that fails after ShellOpen has returned; called at most once,
/// on a thread of its own, with what was run.
using LateShellFailure = std::function<void(int code, const ShellRun& run)>;

/// How long an opener is watched in the background for a late failure.
inline constexpr std::chrono::seconds kLateOpenerWatch{60};

/// Opens a file, folder, URL or program, as ShellExecuteW does. Returns kShellOk, or the shell's error
/// code: 2 not found, 3 path not found, 5 access denied, 8 out of memory, 11 not a valid program,
/// 26 file busy, 31 nothing to open it with, 0 out of resources, 1 any other failure.
///   "explorer.exe" (no such file) opens `parameters` (enclosing quotes removed; the home folder when
///     empty) with xdg-open.
///   An existing folder, an existing file that is not executable, or a URL ("scheme:..."), opens with
///     xdg-open; the parameters are not used. A file ending ".sh", ".bat" or ".cmd" that is not
///     executable runs with /bin/sh and the parameters.
///   An executable file, or a bare name found on $PATH (also without a final ".exe"), starts directly
///     with the parameters split by SplitCommandLine.
/// The verbs "", "open", "explore" and "edit" open; any other verb answers 31. The show mode is not used.
/// xdg-open's verdict: exit 0 is success, 2 not found, 5 access denied, any other failure 31 (no
/// handler); still running at the end of the watch counts as success. A missing xdg-open is 31.
/// Without `late`, xdg-open is watched here for at most the opener wait. With it, ShellOpen answers
/// kShellOk as soon as xdg-open is on its way, and a failing verdict within kLateOpenerWatch goes to
/// `late`: no caller waits for a desktop that takes seconds to say it has no handler.
/// When the file is handed to xdg-open, `run` (unless null) is set to "xdg-open" and the target;
/// otherwise it is left as the caller set it.
[[nodiscard]] int ShellOpen(std::u16string_view verb, std::u16string_view file, std::u16string_view parameters,
                            std::u16string_view folder, int show_mode, ShellRun* run = nullptr,
                            LateShellFailure late = {});

/// How long ShellOpen waits for xdg-open's verdict (1 second unless changed); returns the previous wait.
std::chrono::milliseconds SetOpenerWait(std::chrono::milliseconds wait);

}  // namespace ocelo::sys
