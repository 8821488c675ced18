// What the block readers of each system (version_info_elf.cpp, version_info_win32.cpp) share.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ocelo {

/// Writes one diagnostic line of the version reader to the standard error stream (when diagnostics
/// are shown).
void ReportVersionError(std::u16string_view line);

/// The string-table prefix of a translation: "\StringFileInfo\041104b0\".
std::u16string VersionTablePrefix(std::uint16_t language, std::uint16_t code_page);

}  // namespace ocelo
