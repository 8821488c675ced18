// Window placement kept in a Profile: a dialog's rectangle or a main frame's placement is saved with the
// display scale it had, and restored onto the work area of the monitor it belongs to, so that a window
// saved on a monitor that is gone, or larger than the screen, comes back fully visible.
//
// The window and the displays come in through two small interfaces that the user-interface layer
// implements (the Qt dialog over QWidget and QScreen); the logic here is plain rectangle arithmetic.
//
// Stored entries (through the Profile, so in its INI file):
//   [Position]            DPI_=<dots per inch at the last save>
//   [Position\Dialog]     Position_<key>_<class name>=<rectangle>    (SaveDialogPosition)
//                         <key>=<rectangle>                           (SaveDialogRect)
//   [Position\MainFrame]  Iconic=0|1  Maximized=0|1  Position199902=<rectangle>
// Rectangles are written with Profile::WriteRect: the padded "%09d %09d %09d %09d" text and its readable
// copy in the entry + "_LTRB". The main dialog's entry is "Position_OceloDg_CDialog".
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "settings/profile.h"
#include "settings/registry.h"

namespace ocelo {

/// The class name the main dialog gives (PlacementWindow::ClassName), part of its stored entry name.
inline constexpr std::u16string_view kDialogClassName = u"CDialog";

/// Show states of a placement.
inline constexpr int kShowNormal = 1;
inline constexpr int kShowMinimized = 2;
inline constexpr int kShowMaximized = 3;
inline constexpr int kShowRestore = 9;  ///< as restored from the task bar: back to normal or maximized
/// Placement flag: a minimized window comes back maximized.
inline constexpr int kRestoreToMaximized = 2;

/// The placement of a main window.
struct WindowPlacement {
  int show_state = kShowNormal;  ///< kShowNormal, kShowMinimized, kShowMaximized, or kShowRestore to apply
  int flags = 0;                 ///< kRestoreToMaximized or 0
  Point min_position;            ///< where the minimized window sits
  Point max_position;            ///< where the maximized window's top-left corner sits
  /// The normal (restored) rectangle. On the primary monitor it is relative to the top-left corner of the
  /// primary monitor's work area (workspace coordinates); elsewhere in screen coordinates.
  Rect normal;
  friend bool operator==(const WindowPlacement&, const WindowPlacement&) = default;
};

/// One monitor of the desktop, in screen coordinates (right and bottom exclusive).
struct Monitor {
  Rect area;             ///< the whole monitor
  Rect work;             ///< the monitor without panels, docks and task bars
  bool primary = false;  ///< the monitor the desktop's origin belongs to
};

/// The desktop's displays.
class Displays {
 public:
  virtual ~Displays() = default;
  /// Every monitor, one of them flagged primary; empty when nothing is known.
  virtual std::vector<Monitor> Monitors() const = 0;
  /// The desktop's scale in dots per inch (96 at 100 %), for when there is no window.
  virtual int DesktopDpi() const = 0;
  /// The width (x) and height (y) of a thin window border, in pixels (1 on most systems).
  virtual Point BorderSize() const = 0;
};

/// A top-level window whose place is kept.
class PlacementWindow {
 public:
  virtual ~PlacementWindow() = default;
  /// Whether the window exists on screen (has its native window); without it nothing is saved.
  virtual bool HasNativeHandle() const = 0;
  /// A stable text per window class, part of the dialog's entry name (kDialogClassName for the main dialog).
  virtual std::u16string ClassName() const = 0;
  /// The window's frame rectangle in screen coordinates.
  virtual Rect ScreenRect() const = 0;
  virtual bool IsMinimized() const = 0;
  /// The scale of the monitor the window is on, in dots per inch (96 at 100 %).
  virtual int Dpi() const = 0;
  virtual WindowPlacement Placement() const = 0;
  virtual void SetPlacement(const WindowPlacement& placement) = 0;
  /// Moves and resizes the frame to the rectangle (screen coordinates) and repaints it.
  virtual void MoveTo(const Rect& rect) = 0;
};

/// The window's scale, or the desktop's when there is no window or it has no native window.
int WindowDpi(const Displays& displays, const PlacementWindow* window);

/// Records the scale ("Position"/"DPI_"), then stores the dialog's rectangle (or `rect` when given) as
/// "Position_" + key + "_" + class name in "Position\Dialog". False, after recording the scale, without a
/// window, and for a minimized dialog when no rectangle is given (its last normal rectangle stays).
bool SaveDialogPosition(Profile& profile, const Displays& displays, PlacementWindow* window, std::u16string_view key,
                        const std::optional<Rect>& rect = std::nullopt);

/// Records the scale, then stores `rect`, or the frame's placement: the flags "Iconic" and "Maximized"
/// and, unless the frame is minimized, its normal rectangle as "Position199902" in "Position\MainFrame".
/// False for a minimized frame (only the flags are written) or when the rectangle cannot be stored.
bool SaveFramePlacement(Profile& profile, const Displays& displays, PlacementWindow* window,
                        const std::optional<Rect>& rect = std::nullopt);

/// Moves the dialog to its stored rectangle, fitted into the work area of the monitor nearest to the
/// rectangle's centre (one pixel inside it when there are several monitors). Nothing stored (or a
/// rectangle without area) leaves the dialog where it is. False only without a window.
bool RestoreDialogPosition(Profile& profile, const Displays& displays, PlacementWindow* window,
                           std::u16string_view key);

/// Applies the stored frame placement: maximized frames restore maximized, minimized ones as
/// kShowRestore, the normal rectangle fitted into the work area of its monitor (the whole work area when
/// nothing is stored). False only without a window.
bool RestoreFramePlacement(Profile& profile, const Displays& displays, PlacementWindow* window);

/// Stores a caller's rectangle under `key` (used unchanged as the entry name) in "Position\Dialog".
bool SaveDialogRect(Profile& profile, std::u16string_view key, const Rect& rect);

/// Brings a rectangle inside the bounds, axis by axis: one that fits keeps its place, one that sticks out
/// is pushed back inside, one larger than the bounds gets the bounds' size along that axis.
///   (2000,100)-(2200,300) into (0,0)-(1920,1040) => (1720,100)-(1920,300)
Rect FitRectInto(const Rect& rect, const Rect& bounds);

/// The number of monitors; 1 when none is known.
int MonitorCount(const Displays& displays);

/// The monitor and work rectangles for a point: with several monitors, those of the monitor nearest to
/// the point, and whether it is the primary one; with one, the primary monitor's (true). Either output
/// may be null.
bool MonitorRects(const Displays& displays, Point point, Rect* monitor, Rect* work);

/// Whether the point belongs to the primary monitor (true with a single monitor).
bool IsOnPrimaryMonitor(const Displays& displays, Point point);

/// The work area of the monitor a point belongs to.
Rect WorkAreaAt(const Displays& displays, Point point);

/// When the scale stored in the application's own settings ("Position"/"DPI_") differs from the window's,
/// deletes the stored layouts of the registry route (the subkeys of the sections "Position", "Bar" and
/// "WindowLayout" under the application's key). On the INI route there are none, and nothing changes.
void ResetLayoutsOnDpiChange(const Displays& displays, const PlacementWindow* window);

/// The key paths below `path`, parents before their children (breadth first): the subkeys of `path`,
/// then the subkeys of each listed key in turn, for the first 100 listed keys.
///   Software\A with B\C => Software\A\B, Software\A\B\C
std::vector<std::u16string> ListSubkeys(RegistryRoot root, std::u16string_view path);

}  // namespace ocelo
