// Command lines for cmd.exe: double-quoted words, batch files that switch to UTF-8 and end lines in
// CR LF, `where` and `fc`.
#include "platform/command_line.h"

#include "platform/fs.h"
#include "platform/system.h"
#include "platform/win32/native.h"

namespace ocelo::sys {

std::u16string QuoteWord(std::u16string_view word) {
  // A Windows name holds no double quote; one in other text is doubled, which cmd.exe keeps inside quotes.
  std::u16string quoted = u"\"";
  for (char16_t c : word) {
    quoted += c;
    if (c == u'"') quoted += u'"';
  }
  quoted += u'"';
  return quoted;
}

std::string CommandScript(std::u16string_view command) {
  // The batch file switches the console to UTF-8 first, so every file name in the line is read whole.
  std::string script = "@chcp 65001 >nul\r\n";
  script += ToNativePath(command);
  script += "\r\n";
  return script;
}

std::u16string LocateCommand(std::u16string_view name, std::u16string_view out, std::u16string_view errors) {
  // No "|" in the line: the batch file is named after it, and a Windows file name cannot hold one.
  return u"where " + QuoteWord(name) + u" > " + QuoteWord(out) + u" 2> " + QuoteWord(errors) +
         u" & if errorlevel 1 echo " + std::u16string(name) + u": not found>> " + QuoteWord(errors);
}

std::u16string CompareProgram() { return u"fc"; }

std::u16string CompareCommand(std::u16string_view old_file, std::u16string_view new_file, std::u16string_view listing) {
  // fc /U reads both files as UTF-16, which they are.
  return u"fc /U " + QuoteWord(old_file) + u" " + QuoteWord(new_file) + u" > " + QuoteWord(listing);
}

StartResult RunCommandLine(std::u16string_view command, std::chrono::milliseconds watch) {
  std::u16string processor = Environment(u"ComSpec");
  if (processor.empty()) processor = SpecialFolderPath(0x25 /* CSIDL_SYSTEM */) + u"\\cmd.exe";
  // /S /C "..." hands the line between the outer quotes to cmd.exe as it is.
  std::wstring line = L"\"" + win32::ToWide(processor) + L"\" /D /S /C \"" + win32::ToWide(command) + L"\"";
  return win32::StartCommandLine(win32::ToWide(processor), std::move(line), {}, watch);
}

}  // namespace ocelo::sys
