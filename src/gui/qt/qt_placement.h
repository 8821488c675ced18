// The window placement's view of the desktop and of a window, over QScreen and QWidget.
#pragma once

#include <QWidget>

#include "settings/placement.h"

namespace ocelo {

/// The screens Qt knows, as plain rectangles (right and bottom exclusive).
class QtDisplays : public Displays {
 public:
  std::vector<Monitor> Monitors() const override;
  int DesktopDpi() const override;
  Point BorderSize() const override { return {1, 1}; }
};

/// A top-level widget: its client area in screen coordinates (saved and restored alike, whether the
/// window has a frame yet or not) and its screen's scale.
class QtPlacementWindow : public PlacementWindow {
 public:
  QtPlacementWindow(QWidget* widget, std::u16string class_name) : widget_(widget), class_name_(std::move(class_name)) {}

  bool HasNativeHandle() const override;
  std::u16string ClassName() const override { return class_name_; }
  Rect ScreenRect() const override;
  bool IsMinimized() const override;
  int Dpi() const override;
  WindowPlacement Placement() const override;
  void SetPlacement(const WindowPlacement& placement) override;
  void MoveTo(const Rect& rect) override;

 private:
  QWidget* widget_;
  std::u16string class_name_;
};

/// A Qt rectangle as a placement rectangle (right and bottom exclusive) and back.
Rect ToRect(const QRect& rect);
QRect ToQRect(const Rect& rect);

}  // namespace ocelo
