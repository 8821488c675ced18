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

Rect QtPlacementWindow::ScreenRect() const { return ToRect(widget_->frameGeometry()); }

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
  // move() places the frame's top-left corner; the size is the frame's less the decoration around the
  // client area (a fixed-size dialog keeps its own).
  const QRect frame = widget_->frameGeometry();
  const QRect client = widget_->geometry();
  widget_->move(rect.left, rect.top);
  const int width = rect.right - rect.left - (frame.width() - client.width());
  const int height = rect.bottom - rect.top - (frame.height() - client.height());
  if (width > 0 && height > 0) widget_->resize(width, height);
  widget_->update();
}

}  // namespace ocelo
