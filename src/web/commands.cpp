// Console commands through one-line scripts, and the program look-up on top of them.
#include "web/commands.h"

#include <chrono>
#include <cstdint>
#include <vector>

#include "base/paths.h"
#include "base/utf.h"
#include "encoding/decode.h"
#include "platform/command_line.h"
#include "platform/fs.h"
#include "util/dump.h"
#include "util/file_list.h"
#include "util/file_status.h"
#include "util/folders.h"
#include "util/policy.h"
#include "web/family_folders.h"
#include "web/shell_command.h"

namespace ocelo {
namespace {

constexpr std::size_t kBatchNameLength = 50;

bool IsQuote(char16_t c) { return c == u'"' || c == u'\''; }

bool IsEnclosedInQuotes(std::u16string_view text) {
  return text.size() >= 2 && IsQuote(text.front()) && text.front() == text.back();
}

// The files of every look-up of the run, removed when the program ends.
TempFileList& LookupFiles() {
  static TempFileList list;
  return list;
}

bool HasContent(std::u16string_view path) {
  FileStatus status(path);
  return !status.Failed() && status.Size() > 0;
}

// The first line of a look-up's output, without surrounding white space.
std::u16string FirstLine(std::u16string_view text) {
  const std::size_t end = text.find_first_of(u"\r\n");
  return trim(text.substr(0, end));
}

}  // namespace

std::u16string quote_if_needed(std::u16string_view text) {
  if (text.find_first_of(u", \t\r\n") == std::u16string_view::npos) return std::u16string(text);
  if (IsEnclosedInQuotes(text)) return std::u16string(text);
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
// GCC 12 warns of an overlapping copy inside the inlined concatenation of a literal, a new string and a
// literal (GCC bug 105651); the strings are distinct buffers.
#pragma GCC diagnostic ignored "-Wrestrict"
#endif
  return u"\"" + std::u16string(text) + u"\"";
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
}

std::u16string unquote(std::u16string_view text) {
  while (IsEnclosedInQuotes(text)) text = text.substr(1, text.size() - 2);
  return std::u16string(text);
}

std::u16string batch_file_for(std::u16string_view command) {
  std::u16string folder = family_temp_folder(u"cmd_bat") + kPathSeparator + FormatNow(u"%Y%m%d");
  CreateFolderTree(folder);
  // The command as a file name: separators, drive colons, blanks and quotes become "_", runs of them one.
  std::u16string name = replace_all(command, u">", u"/");
  name = replace_all(name, u":", u"/");
  name = replace_all(name, u" ", u"/");
  name = NormalizePath(name, u'\\', PathStyle::kWindows);
  name = replace_all(name, u"/", u"_");
  name = replace_all(name, u"\\", u"_");
  name = replace_all(name, u"\"", u"_");
  name = NormalizePath(name, u'\\', PathStyle::kWindows);
  if (name.size() > kBatchNameLength) {
    std::size_t length = kBatchNameLength;
    // A cut between the halves of a surrogate pair would leave half a character in the file name.
    if (IsHighSurrogate(name[length - 1])) --length;
    name.resize(length);
  }
  return folder + kPathSeparator + name + u".bat";
}

bool run_command(std::u16string_view command) {
  const std::u16string path = batch_file_for(command);
  const std::string script = sys::CommandScript(command);
  const std::vector<std::uint8_t> bytes(script.begin(), script.end());
  // A script that could not be written must not run: an older one of the same name may still be there.
  // It is one of our working files, never written through a link someone put at its name.
  if (RetryWhileBusy([&] { return sys::ReplaceFile(path, bytes, sys::WriteKind::kWorkingFile); }) != 0) {
    DumpText(u"Can't open wb  " + path);
    return false;
  }
  ShellCommand shell;
  shell.set_show_mode(0);
  shell.set_file(path);
  return shell.execute();
}

std::u16string locate_program(std::u16string_view name) {
  const std::u16string n = trim(name);
  if (n.empty()) return n;
  const std::u16string f = FileName(n);
  if (n != f && FileExists(n)) return n;

  const std::u16string folder = TodayFolder();
  const std::u16string out = folder + f + u".chk";
  const std::u16string err = folder + f + u".err";
  // Output of an earlier look-up would answer before this one has run, or be cut short while read.
  // Most often there is none to remove.
  (void)sys::RemoveFile(out);
  (void)sys::RemoveFile(err);
  TempFileList& files = LookupFiles();
  files.Add(out);
  files.Add(err);
  files.Add(folder);
  if (!run_command(sys::LocateCommand(f, out, err))) return {};

  const auto deadline = std::chrono::steady_clock::now() + Waits().program_lookup;
  for (;;) {
    if (HasContent(out) || HasContent(err)) break;
    if (std::chrono::steady_clock::now() >= deadline) break;
    Pause(std::chrono::milliseconds(10));
  }
  return FirstLine(ReadTextFile(out));
}

bool has_program(std::u16string_view name) { return !locate_program(name).empty(); }

}  // namespace ocelo
