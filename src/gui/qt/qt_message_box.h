// A message box of the message service shown with QMessageBox: buttons, icon and default button from
// the type word, the chosen button as the service's answer.
#pragma once

#include <QWidget>
#include <string_view>

namespace ocelo {

/// Shows a modal box owned by `owner` with the caption "Ocelo"; returns answer::kOk, kCancel, ... for the
/// button chosen, or the type's Escape answer (Cancel, No, or OK for a box with OK alone) when it is closed
/// without one.
int ShowMessageBox(QWidget* owner, std::u16string_view text, unsigned type);

}  // namespace ocelo
