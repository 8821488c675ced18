// Keeping a file or folder to its owner: settings that other users must not read or change.
#pragma once

#include <string_view>

namespace ocelo::sys {

/// Takes every access away from other users: a folder becomes 0700, anything else 0600. A user's own
/// profile folders are private on Windows already, so there it changes nothing. Returns 0 or the C error
/// number.
[[nodiscard]] int MakeOwnerOnly(std::u16string_view path);

}  // namespace ocelo::sys
