// Shell open: the settings of one call, running it, its failure messages, and the program look-up.
#include "web/shell_command.h"

#include "base/paths.h"
#include "platform/fs.h"
#include "platform/process.h"
#include "util/file_list.h"
#include "util/file_status.h"
#include "util/message.h"
#include "util/strings.h"

namespace ocelo {
namespace {

// The name exists as given: a network name when it can be reached, any other when its status reads.
bool ExistsAsGiven(std::u16string_view name) {
  if (IsNetworkPath(name) && sys::Access(name, 0) == 0) return true;
  return !FileStatus(name).Failed();
}

std::u16string_view CodeSentence(int code) {
  switch (code) {
    case 0: return u"The operating system is out of memory or resources.";
    case 2: return u"The specified file was not found.";
    case 3: return u"The specified path was not found.";
    case 5: return u"The operating system denied access to the specified file.";
    case 8: return u"There was not enough memory to complete the operation.";
    case 11: return u"The .EXE file is invalid (non-Win32 .EXE or error in .EXE image).";
    case 26: return u"A sharing violation occurred.";
    case 27: return u"The filename association is incomplete or invalid.";
    case 28: return u"The DDE transaction could not be completed because the request timed out.";
    case 29: return u"The DDE transaction failed.";
    case 30: return u"The DDE transaction could not be completed because other DDE transactions were being processed.";
    case 31: return u"There is no application associated with the given file name extension.";
    case 32: return u"The specified dynamic-link library was not found.";
    default: return {};
  }
}

std::u16string Quoted(std::u16string_view text) { return u"\"" + std::u16string(text) + u"\""; }

}  // namespace

bool ShellCommand::set_show_mode(int mode) {
  show_mode_ = mode;
  return true;
}

bool ShellCommand::set_verb(std::u16string_view verb) {
  verb_ = verb;
  verb_set_ = true;
  return true;
}

bool ShellCommand::set_file(std::u16string_view name) {
  file_ = ExistsAsGiven(name) ? std::u16string(name) : resolve_program_path(name);
  file_set_ = true;
  return true;
}

bool ShellCommand::set_parameters(std::u16string_view text) {
  parameters_ = text;
  parameters_set_ = true;
  return true;
}

bool ShellCommand::execute() {
  std::u16string_view file = file_set_ ? std::u16string_view(file_) : std::u16string_view();
  std::u16string_view parameters = parameters_set_ ? std::u16string_view(parameters_) : std::u16string_view();
  if (!file_set_) {
    file = parameters;
    parameters = {};
  }
  // The message names what was run: the file and parameters as set, or the desktop's opener and its target.
  sys::ShellRun run{file_, parameters_};
  // An opener that fails only after seconds (a desktop without a handler for folders) is still reported,
  // on the main window's thread, while the caller goes on.
  sys::LateShellFailure late = [verb = verb_](int code, const sys::ShellRun& late_run) {
    PostMessageBox(shell_error_message(code, verb, late_run.program, late_run.parameters), 0);
  };
  const int code = sys::ShellOpen(verb_set_ ? std::u16string_view(verb_) : std::u16string_view(), file, parameters,
                                  folder_, show_mode_, &run, std::move(late));
  if (code > 32) return true;
  const std::u16string message = shell_error_message(code, verb_, run.program, run.parameters);
  // A thread without a window of its own (the update check's) reports on the main window's.
  if (CurrentMessagePresenter() != nullptr) {
    ShowMessage(message, 0, 0);
  } else {
    PostMessageBox(message, 0);
  }
  return false;
}

bool ShellCommand::open_in_explorer(std::u16string_view parameters) {
  set_file(u"explorer.exe");
  set_parameters(parameters);
  return execute();
}

std::u16string resolve_program_path(std::u16string_view name) {
  if (ExistsAsGiven(name)) return std::u16string(name);
  const std::u16string base = FileName(name);
  if (base == name) {
    std::u16string found = sys::FindProgram(name);
    if (!found.empty()) return found;
  }
  if (LowerExtension(name) == u"exe") {
    std::u16string found = sys::FindProgram(base);
    if (found.empty()) found = sys::FindProgram(std::u16string_view(base).substr(0, base.size() - 4));
    if (!found.empty()) return found;
  }
  return std::u16string(name);
}

std::u16string shell_error_message(int code, std::u16string_view verb, std::u16string_view file,
                                   std::u16string_view parameters) {
  std::u16string message(CodeSentence(code));
  if (message.empty()) message = u"Error\n" + std::u16string(file) + u"\n" + std::u16string(parameters);
  message += u"\nOperation=" + Quoted(verb);
  message += u"\nFile=" + Quoted(file);
  message += u"\nParamaters=" + Quoted(parameters);
  return message;
}

}  // namespace ocelo
