// A message box of the message service shown with MessageBoxW.
#pragma once

#include <windows.h>

#include <string_view>

namespace ocelo {

/// Shows a modal box owned by `owner` with the type word as it is (buttons, icon, default button) and the
/// owner's caption, or the program's localised caption without an owner; returns the button chosen
/// (IDOK 1 .. IDNO 7, the message service's answers). A box that cannot be shown answers with the type's
/// default button.
int ShowMessageBox(HWND owner, std::u16string_view text, unsigned type);

}  // namespace ocelo
