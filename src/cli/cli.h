// ocelo-cli: converting files into a folder or a stream and reporting encodings from a terminal.
#pragma once

#include <istream>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace ocelo {

/// Runs ocelo-cli with its arguments (without the program name); the source "-" reads `in`; writes
/// results (and --stdout's text) to `out` and problems to `err`. Returns the exit status: 0 when every
/// file succeeded, 1 when any failed, 2 for bad arguments, 3 when a file was copied unchanged because
/// the target cannot hold its characters and none failed.
int RunCli(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err);

/// A text as a JSON string, quotes included: UTF-8, with quote, backslash and control characters
/// escaped; a lone surrogate (a byte of a file name that is not UTF-8) as its escape.
///   a"b => "a\"b"      tab => "\t"      U+DCFF => "\uDCFF"
std::string JsonString(std::u16string_view text);

}  // namespace ocelo
