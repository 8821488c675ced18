// The window placement's view of the desktop and of a window, over the monitors' work areas and a window
// handle.
#include "gui/win32/win32_placement.h"

namespace ocelo {
namespace {

BOOL CALLBACK AddMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM data) {
  MONITORINFO info{};
  info.cbSize = sizeof info;
  if (::GetMonitorInfoW(monitor, &info)) {
    reinterpret_cast<std::vector<Monitor>*>(data)->push_back(
        Monitor{ToRect(info.rcMonitor), ToRect(info.rcWork), (info.dwFlags & MONITORINFOF_PRIMARY) != 0});
  }
  return TRUE;
}

int ScreenDpi() {
  HDC screen = ::GetDC(nullptr);
  if (screen == nullptr) return 96;
  const int dpi = ::GetDeviceCaps(screen, LOGPIXELSX);
  ::ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : 96;
}

}  // namespace

Rect ToRect(const RECT& rect) {
  return Rect{static_cast<std::int32_t>(rect.left), static_cast<std::int32_t>(rect.top),
              static_cast<std::int32_t>(rect.right), static_cast<std::int32_t>(rect.bottom)};
}

RECT ToRECT(const Rect& rect) { return RECT{rect.left, rect.top, rect.right, rect.bottom}; }

Rect WorkAreaNear(const Rect& rect) {
  const RECT wanted = ToRECT(rect);
  MONITORINFO info{};
  info.cbSize = sizeof info;
  if (::GetMonitorInfoW(::MonitorFromRect(&wanted, MONITOR_DEFAULTTOPRIMARY), &info)) return ToRect(info.rcWork);
  RECT work{};
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  return ToRect(work);
}

int DpiOfWindow(HWND window) {
  // GetDpiForWindow came with Windows 10; the program runs on Windows 7 too.
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  static const auto get_dpi = [] {
    HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
    return user32 != nullptr ? reinterpret_cast<GetDpiForWindowFn>(
                                   reinterpret_cast<void*>(::GetProcAddress(user32, "GetDpiForWindow")))
                             : nullptr;
  }();
  if (get_dpi != nullptr && window != nullptr) {
    const UINT dpi = get_dpi(window);
    if (dpi > 0) return static_cast<int>(dpi);
  }
  return ScreenDpi();
}

std::vector<Monitor> Win32Displays::Monitors() const {
  std::vector<Monitor> monitors;
  ::EnumDisplayMonitors(nullptr, nullptr, &AddMonitor, reinterpret_cast<LPARAM>(&monitors));
  return monitors;
}

int Win32Displays::DesktopDpi() const { return ScreenDpi(); }

Point Win32Displays::BorderSize() const {
  return Point{::GetSystemMetrics(SM_CXBORDER), ::GetSystemMetrics(SM_CYBORDER)};
}

bool Win32PlacementWindow::HasNativeHandle() const { return window_ != nullptr && ::IsWindow(window_); }

Rect Win32PlacementWindow::ScreenRect() const {
  RECT rect{};
  ::GetWindowRect(window_, &rect);
  return ToRect(rect);
}

bool Win32PlacementWindow::IsMinimized() const { return ::IsIconic(window_) != FALSE; }

int Win32PlacementWindow::Dpi() const { return DpiOfWindow(window_); }

WindowPlacement Win32PlacementWindow::Placement() const {
  WINDOWPLACEMENT system{};
  system.length = sizeof system;
  WindowPlacement placement;
  if (!::GetWindowPlacement(window_, &system)) return placement;
  placement.show_state = static_cast<int>(system.showCmd);
  placement.flags = static_cast<int>(system.flags);
  placement.min_position = Point{system.ptMinPosition.x, system.ptMinPosition.y};
  placement.max_position = Point{system.ptMaxPosition.x, system.ptMaxPosition.y};
  placement.normal = ToRect(system.rcNormalPosition);
  return placement;
}

void Win32PlacementWindow::SetPlacement(const WindowPlacement& placement) {
  WINDOWPLACEMENT system{};
  system.length = sizeof system;
  system.showCmd = static_cast<UINT>(placement.show_state);
  system.flags = static_cast<UINT>(placement.flags);
  system.ptMinPosition = POINT{placement.min_position.x, placement.min_position.y};
  system.ptMaxPosition = POINT{placement.max_position.x, placement.max_position.y};
  system.rcNormalPosition = ToRECT(placement.normal);
  ::SetWindowPlacement(window_, &system);
}

void Win32PlacementWindow::MoveTo(const Rect& rect) {
  // The dialog's size is its layout's: a rectangle saved at another scale or with another font moves it
  // but does not resize it, and a dialog larger than the rectangle still ends on the work area.
  RECT frame{};
  ::GetWindowRect(window_, &frame);
  const std::int32_t width = frame.right - frame.left, height = frame.bottom - frame.top;
  Rect target = rect;
  if (target.right - target.left != width || target.bottom - target.top != height) {
    target = FitRectInto(Rect{rect.left, rect.top, rect.left + width, rect.top + height}, WorkAreaNear(rect));
  }
  ::MoveWindow(window_, target.left, target.top, width, height, TRUE);
}

}  // namespace ocelo
