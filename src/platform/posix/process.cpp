// Starting programs on POSIX: a double fork, so that the started program belongs to no one here and
// leaves no child to reap; xdg-open for folders, documents and URLs.
#include "platform/process.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <system_error>
#include <thread>

#include "base/ascii.h"
#include "base/paths.h"
#include "platform/fs.h"
#include "platform/process_detail.h"

namespace ocelo::sys {
namespace {

// What the middle process tells the caller through the report pipe.
struct Report {
  int error = 0;
  int finished = 0;
  int exit_code = 0;
};

// Only async-signal-safe calls from here on: the child of a threaded process may not allocate.
void WriteAll(int fd, const void* data, std::size_t size) {
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = ::write(fd, bytes, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    bytes += n;
    size -= static_cast<std::size_t>(n);
  }
}

void ResetSignals() {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  for (int sig = 1; sig < NSIG; ++sig) {
    if (sig != SIGKILL && sig != SIGSTOP) ::sigaction(sig, &action, nullptr);
  }
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
}

long long MonotonicMs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

int StatusToCode(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return 0;
}

[[noreturn]] void RunProgram(char* const* argv, const char* folder, int exec_report, int max_fd) {
  ResetSignals();
  int null_fd = ::open("/dev/null", O_RDWR);
  if (null_fd >= 0) {
    ::dup2(null_fd, 0);
    ::dup2(null_fd, 1);
    ::dup2(null_fd, 2);
    if (null_fd > 2) ::close(null_fd);
  }
  if (folder && ::chdir(folder) != 0) {
    int error = errno;
    WriteAll(exec_report, &error, sizeof error);
    ::_exit(127);
  }
  // Nothing of this process's open files goes to the program; the report pipe closes at exec.
#ifdef SYS_close_range
  if (::syscall(SYS_close_range, 3u, ~0u, 4u /* CLOSE_RANGE_CLOEXEC */) != 0)
#endif
  {
    for (int fd = 3; fd < max_fd; ++fd) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
  ::execv(argv[0], argv);
  int error = errno;
  WriteAll(exec_report, &error, sizeof error);
  ::_exit(127);
}

[[noreturn]] void RunMiddle(char* const* argv, const char* folder, int report_fd, long long watch_ms, int max_fd) {
  Report report;
  // The caller may ignore SIGCHLD; this process must see its child end to learn its status.
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGCHLD, &action, nullptr);
  ::setsid();

  int exec_pipe[2];
  if (::pipe2(exec_pipe, O_CLOEXEC) != 0) {
    report.error = errno;
    WriteAll(report_fd, &report, sizeof report);
    ::_exit(0);
  }
  pid_t child = ::fork();
  if (child == 0) {
    ::close(exec_pipe[0]);
    RunProgram(argv, folder, exec_pipe[1], max_fd);
  }
  ::close(exec_pipe[1]);
  if (child < 0) {
    report.error = errno;
    WriteAll(report_fd, &report, sizeof report);
    ::_exit(0);
  }
  // The pipe closes without a word when exec succeeds, and carries the error number when it fails.
  int exec_error = 0;
  ssize_t n;
  do {
    n = ::read(exec_pipe[0], &exec_error, sizeof exec_error);
  } while (n < 0 && errno == EINTR);
  ::close(exec_pipe[0]);
  if (n == static_cast<ssize_t>(sizeof exec_error) && exec_error != 0) {
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    report.error = exec_error;
    WriteAll(report_fd, &report, sizeof report);
    ::_exit(0);
  }
  const long long deadline = MonotonicMs() + watch_ms;
  while (watch_ms > 0) {
    int status = 0;
    pid_t done = ::waitpid(child, &status, WNOHANG);
    if (done == child) {
      report.finished = 1;
      report.exit_code = StatusToCode(status);
      break;
    }
    if (done < 0 && errno != EINTR) break;
    const long long now = MonotonicMs();
    if (now >= deadline) break;
    // Quick answers are seen at once; a long watch looks less often.
    timespec pause{0, (now + watch_ms - deadline < 1000 ? 5 : 50) * 1000 * 1000};
    ::nanosleep(&pause, nullptr);
  }
  WriteAll(report_fd, &report, sizeof report);
  // A program still running is adopted by the system when this process ends.
  ::_exit(0);
}

int ErrorToShellCode(int error) {
  switch (error) {
    case ENOENT: return 2;
    case ENOTDIR:
    case ELOOP:
    case ENAMETOOLONG: return 3;
    case EACCES:
    case EPERM: return 5;
    case ENOMEM:
    case E2BIG: return 8;
    case ENOEXEC:
    case ELIBBAD: return 11;
    case ETXTBSY: return 26;
    case EAGAIN:
    case EMFILE:
    case ENFILE: return 0;
    default: return 1;
  }
}

// "scheme:" with a scheme of two or more letters, digits, "+", "-" or ".", starting with a letter.
bool IsUrl(std::u16string_view text) {
  std::size_t colon = text.find(u':');
  if (colon == std::u16string_view::npos || colon < 2) return false;
  auto letter = [](char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); };
  if (!letter(text[0])) return false;
  for (std::size_t i = 1; i < colon; ++i) {
    char16_t c = text[i];
    if (!letter(c) && !(c >= u'0' && c <= u'9') && c != u'+' && c != u'-' && c != u'.') return false;
  }
  return true;
}

std::u16string StripQuotesAndBlanks(std::u16string_view text) {
  while (!text.empty() && (text.front() == u' ' || text.front() == u'\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == u' ' || text.back() == u'\t')) text.remove_suffix(1);
  if (text.size() >= 2 && text.front() == u'"' && text.back() == u'"') text = text.substr(1, text.size() - 2);
  return std::u16string(text);
}

// xdg-open's answer as a shell code.
int OpenerVerdict(const StartResult& result) {
  if (result.error != 0) return result.error == ENOMEM || result.error == EAGAIN ? 0 : 31;
  if (!result.finished) return kShellOk;
  switch (result.exit_code) {
    case 0: return kShellOk;
    case 2: return 2;
    case 5: return 5;
    default: return 31;
  }
}

int OpenWithDesktop(std::u16string_view target, std::u16string_view folder, ShellRun* run, LateShellFailure& late) {
  std::u16string argument(target);
  // A relative name that starts with "-" would read as an option.
  if (!argument.empty() && argument.front() == u'-') argument = u"./" + argument;
  if (run != nullptr) *run = ShellRun{u"xdg-open", argument};
  const std::u16string opener = FindProgram(u"xdg-open");
  if (opener.empty()) return 31;
  if (late) {
    try {
      std::thread([opener, argument, folder = std::u16string(folder), late = std::move(late)] {
        const int code = OpenerVerdict(StartDetached({opener, argument}, folder, kLateOpenerWatch));
        if (code <= 32) late(code, ShellRun{u"xdg-open", argument});
      }).detach();
      return kShellOk;
    } catch (const std::system_error&) {
      // No thread to spare: the verdict is awaited here instead.
    }
  }
  return OpenerVerdict(StartDetached({opener, argument}, folder, detail::OpenerWait()));
}

int StartProgram(std::vector<std::u16string> argv, std::u16string_view parameters, std::u16string_view folder) {
  for (std::u16string& argument : SplitCommandLine(parameters)) argv.push_back(std::move(argument));
  StartResult result = StartDetached(argv, folder, std::chrono::milliseconds(0));
  return result.error == 0 ? kShellOk : ErrorToShellCode(result.error);
}

}  // namespace

StartResult detail::StartProgramFile(const std::vector<std::u16string>& argv, std::u16string_view folder,
                                     std::chrono::milliseconds watch) {
  StartResult result;
  // Everything the children need is made here, before the fork.
  std::vector<std::string> arguments;
  arguments.reserve(argv.size());
  for (const std::u16string& argument : argv) arguments.push_back(ToNativePath(argument));
  std::vector<char*> pointers;
  for (std::string& argument : arguments) pointers.push_back(argument.data());
  pointers.push_back(nullptr);
  const std::string native_folder = ToNativePath(folder);
  const char* folder_text = native_folder.empty() ? nullptr : native_folder.c_str();
  long open_max = ::sysconf(_SC_OPEN_MAX);
  const int max_fd = open_max > 0 && open_max < 65536 ? static_cast<int>(open_max) : 65536;
  const long long watch_ms = watch.count() > 0 ? static_cast<long long>(watch.count()) : 0;

  int report_pipe[2];
  if (::pipe2(report_pipe, O_CLOEXEC) != 0) {
    result.error = errno;
    return result;
  }
  pid_t middle = ::fork();
  if (middle == 0) {
    ::close(report_pipe[0]);
    RunMiddle(pointers.data(), folder_text, report_pipe[1], watch_ms, max_fd);
  }
  int fork_error = errno;
  ::close(report_pipe[1]);
  if (middle < 0) {
    ::close(report_pipe[0]);
    result.error = fork_error;
    return result;
  }
  Report report;
  char* into = reinterpret_cast<char*>(&report);
  std::size_t got = 0;
  while (got < sizeof report) {
    ssize_t n = ::read(report_pipe[0], into + got, sizeof report - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  ::close(report_pipe[0]);
  int status = 0;
  while (::waitpid(middle, &status, 0) < 0 && errno == EINTR) {
  }
  if (got != sizeof report) {
    result.error = ECHILD;  // the middle process died before it could report
    return result;
  }
  result.error = report.error;
  result.finished = report.finished != 0;
  result.exit_code = report.exit_code;
  return result;
}

std::u16string FindProgram(std::u16string_view name) {
  if (name.empty() || name.find(u'/') != std::u16string_view::npos) return {};
  const char* path = std::getenv("PATH");
  if (!path) return {};
  const std::string native_name = ToNativePath(name);
  std::string_view folders(path);
  while (true) {
    std::size_t colon = folders.find(':');
    std::string_view folder = folders.substr(0, colon);
    if (!folder.empty()) {
      std::string candidate(folder);
      if (candidate.back() != '/') candidate += '/';
      candidate += native_name;
      struct stat info {};
      if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(candidate.c_str(), X_OK) == 0) {
        return FromNativePath(candidate);
      }
    }
    if (colon == std::string_view::npos) break;
    folders.remove_prefix(colon + 1);
  }
  return {};
}

int ShellOpen(std::u16string_view verb, std::u16string_view file, std::u16string_view parameters,
              std::u16string_view folder, int show_mode, ShellRun* run, LateShellFailure late) {
  const std::u16string action = ToLowerAscii(verb);
  if (!action.empty() && action != u"open" && action != u"explore" && action != u"edit") return 31;
  if (file.empty()) return 2;

  StatRecord record;
  const int stat_error = Stat(file, record);
  const std::u16string name = ToLowerAscii(FileName(file, PathStyle::kPosix));
  if (stat_error != 0 && (name == u"explorer.exe" || name == u"explorer")) {
    std::u16string target = StripQuotesAndBlanks(parameters);
    if (target.empty()) {
      const char* home = std::getenv("HOME");
      target = FromNativePath(home && *home ? home : "/");
    }
    return OpenWithDesktop(target, folder, run, late);
  }
  if (stat_error == 0) {
    const bool is_folder = (record.mode & 0xF000) == 0x4000;
    if (is_folder) return OpenWithDesktop(file, folder, run, late);
    if (Access(file, 0) == 0 && ::access(ToNativePath(file).c_str(), X_OK) == 0) {
      return StartProgram({std::u16string(file)}, parameters, folder);
    }
    // A name holding "?" has no extension (FileExtension keeps the Windows rule, where "?" is a
    // wildcard): such a file that cannot be run is opened by the desktop rather than with /bin/sh.
    const std::u16string extension = ToLowerAscii(FileExtension(file, PathStyle::kPosix));
    if (extension == u"sh" || extension == u"bat" || extension == u"cmd") {
      return StartProgram({u"/bin/sh", std::u16string(file)}, parameters, folder);
    }
    return OpenWithDesktop(file, folder, run, late);
  }
  if (IsUrl(file)) return OpenWithDesktop(file, folder, run, late);
  if (file.find(u'/') == std::u16string_view::npos) {
    std::u16string program = FindProgram(file);
    if (program.empty() && ToLowerAscii(FileExtension(file, PathStyle::kPosix)) == u"exe") {
      program = FindProgram(file.substr(0, file.size() - 4));
    }
    if (!program.empty()) return StartProgram({program}, parameters, folder);
    return 2;
  }
  if (stat_error == ENOENT) {
    // A missing file in an existing folder is "not found"; a missing folder is "path not found".
    std::u16string_view parent = file.substr(0, file.rfind(u'/'));
    StatRecord parent_record;
    if (parent.empty() || (Stat(parent, parent_record) == 0 && (parent_record.mode & 0xF000) == 0x4000)) return 2;
    return 3;
  }
  return ErrorToShellCode(stat_error);
}

}  // namespace ocelo::sys
