// Console commands without a window: a command written into a one-line script in the family's
// "cmd_bat" folder and started without waiting; on top of it the look-up of a program's full path.
#pragma once

#include <string>
#include <string_view>

namespace ocelo {

/// Writes the command into its script (batch_file_for) and starts the script hidden, without waiting
/// for it. False, without starting anything, when the script cannot be written; false when the start
/// fails (the shell's message box is shown then).
bool run_command(std::u16string_view command);

/// The path of the script for a command, its folder created: family_temp_folder("cmd_bat") + the local
/// date "%Y%m%d" + the command made a file name, + ".bat": ">", ":", blanks, "/", "\" and '"' become "_",
/// runs of them one as NormalizePath drops empty pieces (a quoted piece keeps its blanks), then the
/// name is cut to 50 characters.
///   where x > C:\t\x.chk  =>  .../cmd_bat/20260107/where_x_C_t_x.chk.bat
std::u16string batch_file_for(std::u16string_view command);

/// The full path of a program: the name itself when it is a path to an existing file, else the first
/// path the system's look-up command (`which`) reports, run through run_command and awaited for at
/// most the policy's program-lookup time. Empty when the name is blank or nothing was found.
std::u16string locate_program(std::u16string_view name);

/// locate_program(name) is not empty.
bool has_program(std::u16string_view name);

/// The text in double quotes when it holds ",", tab, blank, CR or LF and is not already enclosed in a
/// pair of "'" or '"'; otherwise unchanged.
///   a b => "a b"      'a b' => 'a b'      ab => ab
std::u16string quote_if_needed(std::u16string_view text);

/// The text without enclosing pairs of "'" or '"', however many.
///   "'a'" => a      "a' => "a'      " => "
std::u16string unquote(std::u16string_view text);

}  // namespace ocelo
