// ocelo-cli: converting files into a folder and reporting encodings from a terminal.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace ocelo {

/// Runs ocelo-cli with its arguments (without the program name); writes results to `out` and
/// diagnostics to `err`. Returns the exit status: 0 when every file succeeded, 1 when any failed,
/// 2 for bad arguments.
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace ocelo
