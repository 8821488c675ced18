// The window placement's view of the desktop and of a window, over QScreen and QWidget.
#include "gui/qt/qt_placement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWindow>

namespace ocelo {
namespace {

int ScreenDpi(const QScreen* screen) {
  if (screen == nullptr) return 96;
  // Qt's coordinates are device-independent; the scale a window really has is its screen's logical
  // resolution times the device pixel ratio (96 at 100 %).
  const int dpi = qRound(screen->logicalDotsPerInch() * screen->devicePixelRatio());
  return dpi > 0 ? dpi : 96;
}

}  // namespace

Rect ToRect(const QRect& rect) { return Rect{rect.x(), rect.y(), rect.x() + rect.width(), rect.y() + rect.height()}; }

QRect ToQRect(const Rect& rect) { return QRect(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top); }

std::vector<Monitor> QtDisplays::Monitors() const {
  std::vector<Monitor> monitors;
  const QScreen* primary = QGuiApplication::primaryScreen();
  for (const QScreen* screen : QGuiApplication::screens()) {
    monitors.push_back(Monitor{ToRect(screen->geometry()), ToRect(screen->availableGeometry()), screen == primary});
  }
  return monitors;
}

int QtDisplays::DesktopDpi() const { return ScreenDpi(QGuiApplication::primaryScreen()); }

bool QtPlacementWindow::HasNativeHandle() const { return widget_ != nullptr && widget_->windowHandle() != nullptr; }

// The window's place is its client area, saved and restored alike: before the window is first shown
// it has no frame yet, so a frame rectangle saved at close would come back as the client area's and
// the window would creep by the frame's size each time it opens.
Rect QtPlacementWindow::ScreenRect() const { return ToRect(widget_->geometry()); }

bool QtPlacementWindow::IsMinimized() const { return widget_->isMinimized(); }

int QtPlacementWindow::Dpi() const { return ScreenDpi(widget_->screen()); }

WindowPlacement QtPlacementWindow::Placement() const {
  WindowPlacement placement;
  placement.show_state = widget_->isMinimized()   ? kShowMinimized
                         : widget_->isMaximized() ? kShowMaximized
                                                  : kShowNormal;
  const QRect normal = widget_->normalGeometry().isValid() ? widget_->normalGeometry() : widget_->geometry();
  placement.normal = ToRect(normal);
  return placement;
}

void QtPlacementWindow::SetPlacement(const WindowPlacement& placement) {
  if (placement.normal.right > placement.normal.left && placement.normal.bottom > placement.normal.top) {
    widget_->setGeometry(ToQRect(placement.normal));
  }
  switch (placement.show_state) {
    case kShowMinimized: widget_->showMinimized(); break;
    case kShowMaximized: widget_->showMaximized(); break;
    case kShowRestore:
      if (placement.flags & kRestoreToMaximized) widget_->showMaximized();
      else
        widget_->showNormal();
      break;
    default: break;
  }
}

void QtPlacementWindow::MoveTo(const Rect& rect) {
  // The client area, as ScreenRect reports it (a fixed-size dialog keeps its own size).
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  QSize size = widget_->size();
  if (width > 0 && height > 0 && widget_->minimumSize() != widget_->maximumSize()) size = QSize(width, height);
  widget_->setGeometry(QRect(QPoint(rect.left, rect.top), size));
  widget_->update();
}

}  // namespace ocelo
