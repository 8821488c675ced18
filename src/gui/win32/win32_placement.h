// The window placement's view of the desktop and of a window, over the monitors' work areas and a window
// handle.
#pragma once

#include <windows.h>

#include "settings/placement.h"

namespace ocelo {

/// The monitors of the desktop (EnumDisplayMonitors, GetMonitorInfoW) as plain rectangles.
class Win32Displays : public Displays {
 public:
  std::vector<Monitor> Monitors() const override;
  int DesktopDpi() const override;
  Point BorderSize() const override;
};

/// A dialog: its frame rectangle in screen coordinates (GetWindowRect), saved and restored alike (MoveWindow
/// places the same frame), so the window never creeps from one run to the next. Its size is its layout's:
/// MoveTo with a rectangle of another size keeps the size and the window on the work area.
class Win32PlacementWindow : public PlacementWindow {
 public:
  explicit Win32PlacementWindow(HWND window) : window_(window) {}

  bool HasNativeHandle() const override;
  std::u16string ClassName() const override { return std::u16string(kDialogClassName); }
  Rect ScreenRect() const override;
  bool IsMinimized() const override;
  int Dpi() const override;
  WindowPlacement Placement() const override;
  void SetPlacement(const WindowPlacement& placement) override;
  void MoveTo(const Rect& rect) override;

 private:
  HWND window_;
};

/// A system rectangle as a placement rectangle (right and bottom exclusive, as both are) and back.
Rect ToRect(const RECT& rect);
RECT ToRECT(const Rect& rect);

/// The work area of the monitor nearest to a rectangle (MonitorFromRect); the primary one's without it.
Rect WorkAreaNear(const Rect& rect);

/// The scale of a window's monitor in dots per inch: GetDpiForWindow where the system has it (Windows 10),
/// else the screen's.
int DpiOfWindow(HWND window);

}  // namespace ocelo
