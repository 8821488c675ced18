// The paths of a drop announced with WM_DROPFILES.
#include "gui/win32/win32_drop.h"

#include <shellapi.h>

#include "gui/win32/win32_text.h"

namespace ocelo {

std::vector<std::u16string> DroppedPaths(HDROP drop) {
  std::vector<std::u16string> paths;
  if (drop == nullptr) return paths;
  const UINT count = ::DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
  for (UINT i = 0; i < count; ++i) {
    const UINT length = ::DragQueryFileW(drop, i, nullptr, 0);
    std::wstring buffer(length + 1, L'\0');
    const UINT copied = ::DragQueryFileW(drop, i, buffer.data(), length + 1);
    buffer.resize(copied);
    // A drop handle from another process, or one the system could not read, names nothing; an empty
    // path would be taken for the current folder.
    if (buffer.empty()) continue;
    paths.push_back(win32ui::Units(buffer));
  }
  return paths;
}

}  // namespace ocelo
