// Starting programs on Windows: CreateProcessW with the standard streams on the null device and no
// window, and ShellExecuteW for folders, documents and URLs.
#include "platform/process.h"

// windows.h before the shell's header, which needs its types.
#include <windows.h>

#include <shellapi.h>

#include <cerrno>
#include <cstdio>

#include "base/ascii.h"
#include "base/paths.h"
#include "platform/fs.h"
#include "platform/process_detail.h"
#include "platform/system.h"
#include "platform/win32/native.h"

namespace ocelo::sys {
namespace {

// One argument written so that SplitCommandLine (and every program's C runtime) reads it back unchanged.
void AppendQuoted(std::wstring& line, std::u16string_view argument) {
  if (!argument.empty() && argument.find_first_of(u" \t\"") == std::u16string_view::npos) {
    line += win32::ToWide(argument);
    return;
  }
  line += L'"';
  std::size_t backslashes = 0;
  for (char16_t c : argument) {
    if (c == u'\\') {
      ++backslashes;
      continue;
    }
    // Backslashes before a quote are doubled, and the quote itself escaped.
    line.append(c == u'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    line += static_cast<wchar_t>(c);
  }
  line.append(backslashes * 2, L'\\');  // before the closing quote
  line += L'"';
}

}  // namespace

namespace win32 {

// Starts a command line (the program `application` when given, else the line's first word) detached:
// no window, the standard streams on the null device, nothing else inherited. Waits at most `watch`.
StartResult StartCommandLine(const std::wstring& application, std::wstring line, std::u16string_view folder,
                             std::chrono::milliseconds watch) {
  StartResult result;
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  Handle null_device(::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                   OPEN_EXISTING, 0, nullptr));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  if (null_device.valid()) {
    startup.dwFlags |= STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = null_device.get();
  }
  std::wstring wide_folder;
  if (!folder.empty() && WidePath(folder, wide_folder) != 0) {
    result.error = ENOENT;
    return result;
  }
  // The folder's own error, as chdir gives it: the system answers both a missing folder and a file with
  // ERROR_DIRECTORY.
  std::uint32_t attributes = 0;
  if (!folder.empty() && (result.error = GetAttributes(folder, attributes)) == 0 && !(attributes & kAttrDirectory)) {
    result.error = ENOTDIR;
  }
  if (result.error != 0) return result;
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(application.empty() ? nullptr : application.c_str(), line.data(), nullptr, nullptr,
                        null_device.valid(), CREATE_NO_WINDOW | CREATE_NEW_PROCESS_GROUP | CREATE_UNICODE_ENVIRONMENT,
                        nullptr, wide_folder.empty() ? nullptr : wide_folder.c_str(), &startup, &process)) {
    result.error = LastErrorNumber();
    return result;
  }
  Handle process_handle(process.hProcess);
  Handle thread_handle(process.hThread);
  if (watch.count() > 0) {
    const DWORD wait = static_cast<DWORD>(std::min<long long>(watch.count(), INFINITE - 1));
    if (::WaitForSingleObject(process.hProcess, wait) == WAIT_OBJECT_0) {
      DWORD code = 0;
      if (::GetExitCodeProcess(process.hProcess, &code)) {
        result.finished = true;
        result.exit_code = static_cast<int>(code);
      }
    }
  }
  return result;  // the handles close; a program still running runs on
}

}  // namespace win32

StartResult detail::StartProgramFile(const std::vector<std::u16string>& argv, std::u16string_view folder,
                                     std::chrono::milliseconds watch) {
  StartResult result;
  std::wstring application;
  if (const int error = win32::WidePath(argv[0], application)) {
    result.error = error;
    return result;
  }
  std::wstring line;
  for (const std::u16string& argument : argv) {
    if (!line.empty()) line += L' ';
    AppendQuoted(line, argument);
  }
  return win32::StartCommandLine(application, std::move(line), folder, watch);
}

std::u16string FindProgram(std::u16string_view name) {
  if (name.empty() || name.find_first_of(u"\\/:") != std::u16string_view::npos) return {};
  const std::u16string path = Environment(u"PATH");
  // A name without an extension is looked for as the command processor would run it.
  std::vector<std::u16string> names{std::u16string(name)};
  if (FileExtension(name, PathStyle::kWindows).empty()) {
    for (const char16_t* extension : {u".com", u".exe", u".bat", u".cmd"})
      names.push_back(std::u16string(name) + extension);
  }
  for (const std::u16string& folder : SplitText(path, u";")) {
    if (folder.empty()) continue;
    for (const std::u16string& candidate_name : names) {
      const std::u16string candidate = AddSlash(folder, u'\\', PathStyle::kWindows) + candidate_name;
      std::uint32_t attributes = 0;
      if (GetAttributes(candidate, attributes) == 0 && !(attributes & kAttrDirectory)) return candidate;
    }
  }
  return {};
}

// The shell answers before ShellExecuteW returns: `run` stays as the caller set it, and `late` is never called.
int ShellOpen(std::u16string_view verb, std::u16string_view file, std::u16string_view parameters,
              std::u16string_view folder, int show_mode, ShellRun* /*run*/, LateShellFailure /*late*/) {
  if (file.empty()) return 2;
  // The test suite must not open windows on the test machine's desktop: when OCELO_TEST_SHELL_LOG (which
  // only the test sandbox sets) names a file, what the desktop would show (a folder, a document, a URL, or
  // the parameters of "explorer.exe") is added to it as a line of UTF-8 instead. Programs still start, and
  // a missing file still fails, through the shell itself.
  const std::u16string log = Environment(u"OCELO_TEST_SHELL_LOG");
  if (!log.empty()) {
    const std::u16string name = ToLowerAscii(FileName(file, PathStyle::kWindows));
    const std::u16string extension = ToLowerAscii(FileExtension(file, PathStyle::kWindows));
    std::uint32_t attributes = 0;
    const bool exists = GetAttributes(file, attributes) == 0;
    const bool program = extension == u"exe" || extension == u"com" || extension == u"bat" || extension == u"cmd";
    const std::size_t colon = file.find(u':');
    const bool url = colon != std::u16string_view::npos && colon > 1;  // not a drive letter
    // The file manager by its name, as given or as the program look-up found it on the PATH (the drop
    // run's "explorer.exe" arrives as C:\windows\system32\explorer.exe): its parameters are the folder.
    const bool explorer = (name == u"explorer.exe" || name == u"explorer") && (!exists || program);
    if (explorer || url || (exists && ((attributes & kAttrDirectory) != 0 || !program))) {
      std::u16string line(explorer ? parameters : file);
      if (explorer && line.size() >= 2 && line.front() == u'"' && line.back() == u'"') {
        line = line.substr(1, line.size() - 2);
      }
      const std::string bytes = ToNativePath(line) + "\n";
      OpenResult opened = OpenStream(log, "ab");
      for (int attempt = 0; opened.error == EBUSY && attempt < 100; ++attempt) {  // the test reading it
        ::Sleep(10);
        opened = OpenStream(log, "ab");
      }
      if (opened.error != 0) return 1;
      const bool written = std::fwrite(bytes.data(), 1, bytes.size(), opened.stream) == bytes.size();
      return std::fclose(opened.stream) == 0 && written ? kShellOk : 1;
    }
  }
  const std::wstring wide_verb = win32::ToWide(verb);
  const std::wstring wide_file = win32::ToWide(file);
  const std::wstring wide_parameters = win32::ToWide(parameters);
  const std::wstring wide_folder = win32::ToWide(folder);
  const HINSTANCE done = ::ShellExecuteW(nullptr, verb.empty() ? nullptr : wide_verb.c_str(), wide_file.c_str(),
                                         parameters.empty() ? nullptr : wide_parameters.c_str(),
                                         folder.empty() ? nullptr : wide_folder.c_str(), show_mode);
  const auto code = reinterpret_cast<INT_PTR>(done);
  return code > 32 ? kShellOk : static_cast<int>(code);
}

}  // namespace ocelo::sys
