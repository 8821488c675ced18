// Command lines for the system's command processor: quoting words, one-line scripts, the system's
// programs that find a program and compare two text files, and running a line while waiting for it.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "platform/process.h"

namespace ocelo::sys {

/// A word that the command processor reads back unchanged: on POSIX in single quotes, each "'" written
/// as '\'' (so blanks, "$", "`", "\" and double quotes stay literal).
///   a b => 'a b'      it's => 'it'\''s'      (empty) => ''
std::u16string QuoteWord(std::u16string_view word);

/// The bytes of a script file that runs one command line: on POSIX the line in the system's form (UTF-8,
/// in which every file name round-trips) ending in LF alone, since a CR would become part of the last word.
std::string CommandScript(std::u16string_view command);

/// The command line that writes the full path of the program `name`, as found along the search path, to
/// the file `out` and anything else to the file `errors`. One of them always gets content: a program not
/// found is reported in `errors` (`which` itself says nothing then).
///   { which 'tool' || echo 'tool: not found' >&2; } > 'out' 2> 'errors'
std::u16string LocateCommand(std::u16string_view name, std::u16string_view out, std::u16string_view errors);

/// The program that compares two text files line by line ("diff").
std::u16string CompareProgram();

/// The command line that writes the comparison of two UTF-16 files (with mark) into `listing`; the
/// listing shows their lines as UTF-8.
std::u16string CompareCommand(std::u16string_view old_file, std::u16string_view new_file, std::u16string_view listing);

/// Runs a command line with the command processor (/bin/sh -c), as `_wsystem` does, but waits at most
/// `watch` for it to end; a line still running then goes on unwatched.
[[nodiscard]] StartResult RunCommandLine(std::u16string_view command, std::chrono::milliseconds watch);

}  // namespace ocelo::sys
