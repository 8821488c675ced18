// Inside the platform layer only: what the shared part of platform/process.h (process_common.cpp) and each
// system's implementation of it give each other.
#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "platform/process.h"

namespace ocelo::sys::detail {

/// StartDetached once its arguments have passed the checks every system makes (argv[0] is a path, not
/// empty). Each system starts the program in its own file.
StartResult StartProgramFile(const std::vector<std::u16string>& argv, std::u16string_view folder,
                             std::chrono::milliseconds watch);

/// How long ShellOpen waits for an opener's verdict, as SetOpenerWait last set it.
std::chrono::milliseconds OpenerWait();

}  // namespace ocelo::sys::detail
