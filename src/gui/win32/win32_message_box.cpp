// A message box of the message service shown with MessageBoxW.
#include "gui/win32/win32_message_box.h"

#include <string>

#include "app/string_pairs.h"
#include "gui/win32/win32_text.h"
#include "util/dump.h"
#include "util/message.h"

namespace ocelo {

int ShowMessageBox(HWND owner, std::u16string_view text, unsigned type) {
  std::wstring caption;
  if (owner != nullptr) {
    const int length = ::GetWindowTextLengthW(owner);
    caption.resize(static_cast<std::size_t>(length) + 1);
    caption.resize(static_cast<std::size_t>(::GetWindowTextW(owner, caption.data(), length + 1)));
  }
  if (caption.empty()) caption = win32ui::Wide(Localize("Ocelo"));
  // Only the buttons, the icon and the default button: the type word's other bits (help button, modality,
  // system-modal boxes) are not the service's. Button groups beyond the six it knows show OK, as the
  // answer it gives without a box is OK.
  UINT style = type & 0xFF0;
  if ((type & 0x0F) <= mb::kRetryCancel) style |= type & 0x0F;
  style |= MB_SETFOREGROUND;
  const int chosen = ::MessageBoxW(owner, win32ui::Wide(text).c_str(), caption.c_str(), style);
  if (chosen == 0) {
    DumpText(u"MessageBoxW ... 0\r\n");
    return DefaultAnswer(type);
  }
  return chosen;
}

}  // namespace ocelo
