// The paths of a drop announced with WM_DROPFILES.
#pragma once

#include <windows.h>
// HDROP (not among the lean headers)
#include <shellapi.h>

#include <string>
#include <vector>

namespace ocelo {

/// The dropped paths in drop order, each whole whatever its length (DragQueryFileW); nothing is filtered
/// out. The handle stays the caller's to release.
std::vector<std::u16string> DroppedPaths(HDROP drop);

}  // namespace ocelo
