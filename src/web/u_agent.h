// The environment report: one line naming the program, its version, the operating system, the build,
// the display scale and the user, sent as the user-agent text of every download.
#pragma once

#include <string>
#include <string_view>

namespace ocelo {

/// What the environment report is made of, gathered by u_agent() for the running program.
struct AgentFacts {
  std::u16string program_name;    ///< program_name()
  std::u16string program_file;    ///< the program file's name (with extension)
  std::u16string file_version;    ///< its "FileVersion"; empty when it has none
  std::u16string system_name;     ///< "Linux"
  std::u16string system_release;  ///< windows_version_text(): "6.1.0-18-amd64"
  int dpi = 96;                   ///< the main window's dots per inch
  std::u16string user_name;       ///< UserName()
};

/// The report of the running program, made on the first call and kept for the run (made again while
/// the kept text is empty).
std::u16string u_agent();

/// The report of the facts:
///   program " " system " " number "(" release ")" " " ["(" file ")"] [" Ver." version " "] build
///   ["  DPI " percent "%"] " " user
/// where ["(" file ")"] appears when the program file's name differs (without case) from the program
/// name, the version has its blanks removed and "," read as ".", and build names how the program was
/// built (" UNICODE ", then the standard library and the compiler with their versions).
///   ocelo-cli Linux 6.1 (6.1.0-18-amd64)  Ver.1.0.0  UNICODE  libstdc++ 12  GCC 12.2  maria
std::u16string u_agent_for(const AgentFacts& facts);

/// The operating system's version text (the release `uname` reports); empty when unknown.
std::u16string windows_version_text();

/// The dots per inch of the program's main window; the dialog tells it when it opens. Until then, and in
/// programs without a window, 96 (no scale piece).
void set_display_dpi(int dpi);

/// "  DPI " + the scale in percent (truncated) + "%" when the dots per inch are not 96; else empty.
///   96 => (empty)      144 => "  DPI 150%"      120 => "  DPI 125%"
std::u16string display_scale_piece(int dpi);

/// The value in fixed-point notation with 6 decimals (scientific beyond a magnitude of 1e50), without
/// trailing zeros after the point nor a trailing point. Independent of the locale.
///   12.0 => 12      0.5 => 0.5      600 => 600      6.1 => 6.1      -0.25 => -0.25
std::u16string format_real(double value);

/// The number at the start of the text (after white space); 0 when there is none. Independent of the
/// locale.
///   10.0.19041.1 => 10      6.1.7601 => 6.1      6.1.0-18-amd64 => 6.1      x => 0
double parse_real(std::u16string_view text);

/// The text between the opening character and its partner: ")" for "(", ">" for "<", "]" for "[",
/// "}" for "{", else the same character.
///   x, [ => [x]      x, * => *x*
std::u16string enclose(std::u16string_view text, char16_t opening);

}  // namespace ocelo
