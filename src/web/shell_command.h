// Shell open: one call that opens a document, folder or URL, or starts a program, with an English
// message box when it fails; and the look-up of a program given by its bare file name.
#pragma once

#include <string>
#include <string_view>

namespace ocelo {

/// One shell call, set up and run once: optional verb, the file, optional parameters, then `execute`.
class ShellCommand {
 public:
  ShellCommand() = default;
  virtual ~ShellCommand() = default;

  /// The window show command (1, shown normally, unless set; Linux has no use for it). Always true.
  virtual bool set_show_mode(int mode);
  /// "open", "print", "explore", "edit", "find" or any other text, stored unchanged. Always true.
  virtual bool set_verb(std::u16string_view verb);
  /// A name that exists as given is stored unchanged, any other is stored as resolve_program_path
  /// makes it. Always true.
  virtual bool set_file(std::u16string_view name);
  /// Always true.
  virtual bool set_parameters(std::u16string_view text);
  /// Runs the call; without a file, the parameters take its place. On failure shows the shell's message
  /// (shell_error_message) with ShowMessage, type 0, and returns false; it names what was run (on Linux,
  /// xdg-open and its target for what the desktop opens). The desktop's opener is not waited for: it
  /// counts as started, and a failure it reports later is shown then, on the main window's thread.
  virtual bool execute();
  /// Opens a folder in the file manager: set_file("explorer.exe"), set_parameters, execute.
  virtual bool open_in_explorer(std::u16string_view parameters);

  const std::u16string& file() const { return file_; }
  const std::u16string& parameters() const { return parameters_; }

 private:
  int show_mode_ = 1;
  bool verb_set_ = false;
  bool file_set_ = false;
  bool parameters_set_ = false;
  std::u16string verb_;
  std::u16string file_;
  std::u16string parameters_;
  std::u16string folder_;  // the working folder; nothing sets it, so programs start in the current one
};

/// The path of a program given by name: the name itself when it exists as given; else a bare name
/// found along $PATH; else, for a name ending ".exe", its file name or that name without ".exe" found
/// along $PATH; else the name unchanged (so a URL passes through).
///   firefox.exe => /usr/bin/firefox      ./tool => ./tool      https://x.example => https://x.example
std::u16string resolve_program_path(std::u16string_view name);

/// The text shown when the shell call fails with `code`: the code's sentence (or "Error", the file and
/// the parameters on three lines for a code without one), then the lines Operation="verb",
/// File="file" and Paramaters="parameters".
std::u16string shell_error_message(int code, std::u16string_view verb, std::u16string_view file,
                                   std::u16string_view parameters);

}  // namespace ocelo
