// Window placement: saving rectangles and placements with their scale, fitting restored ones onto a
// monitor's work area, and clearing registry layouts when the scale changed.
#include "settings/placement.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "settings/ini_path.h"

namespace ocelo {
namespace {

constexpr std::u16string_view kPositionSection = u"Position";
constexpr std::u16string_view kDpiEntry = u"DPI_";
constexpr std::u16string_view kDialogSection = u"Position\\Dialog";
constexpr std::u16string_view kFrameSection = u"Position\\MainFrame";
constexpr std::u16string_view kIconicEntry = u"Iconic";
constexpr std::u16string_view kMaximizedEntry = u"Maximized";
constexpr std::u16string_view kFrameRectEntry = u"Position199902";

std::int32_t Clamp32(std::int64_t value) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, std::numeric_limits<std::int32_t>::min(),
                                                            std::numeric_limits<std::int32_t>::max()));
}

// The centre of a rectangle, each division truncating toward zero.
Point Centre(const Rect& r) {
  return Point{Clamp32((std::int64_t{r.left} + r.right) / 2), Clamp32((std::int64_t{r.top} + r.bottom) / 2)};
}

bool IsZero(const Rect& r) { return r == Rect{}; }

// A rectangle without area (or turned inside out) comes from a damaged file; fitting it would give the
// window a size of nothing or less.
bool HasArea(const Rect& r) { return r.right > r.left && r.bottom > r.top; }

std::u16string DialogEntry(const PlacementWindow& window, std::u16string_view key) {
  return u"Position_" + std::u16string(key) + u"_" + window.ClassName();
}

// One axis of FitRectInto: [low, high) into [bound_low, bound_high).
void FitAxis(std::int32_t& low, std::int32_t& high, std::int32_t bound_low, std::int32_t bound_high) {
  const std::int64_t width = std::min<std::int64_t>(std::int64_t{bound_high} - bound_low, std::int64_t{high} - low);
  const bool before = low < bound_low;
  const std::int64_t new_high = before ? bound_low + width : high;
  if (new_high > bound_high) {
    low = Clamp32(bound_high - width);
    high = bound_high;
  } else {
    low = before ? bound_low : low;
    high = Clamp32(new_high);
  }
}

const Monitor* PrimaryOf(const std::vector<Monitor>& monitors) {
  for (const Monitor& m : monitors) {
    if (m.primary) return &m;
  }
  return monitors.empty() ? nullptr : &monitors.front();
}

// The distance of a point from a rectangle, squared; 0 inside it.
std::int64_t DistanceSquared(const Rect& r, Point p) {
  const std::int64_t dx = p.x < r.left     ? std::int64_t{r.left} - p.x
                          : p.x >= r.right ? std::int64_t{p.x} - r.right + 1
                                           : 0;
  const std::int64_t dy = p.y < r.top       ? std::int64_t{r.top} - p.y
                          : p.y >= r.bottom ? std::int64_t{p.y} - r.bottom + 1
                                            : 0;
  return dx * dx + dy * dy;
}

const Monitor* NearestTo(const std::vector<Monitor>& monitors, Point p) {
  const Monitor* nearest = nullptr;
  std::int64_t best = 0;
  for (const Monitor& m : monitors) {
    const std::int64_t d = DistanceSquared(m.area, p);
    if (!nearest || d < best) {
      nearest = &m;
      best = d;
    }
  }
  return nearest;
}

}  // namespace

int WindowDpi(const Displays& displays, const PlacementWindow* window) {
  return window && window->HasNativeHandle() ? window->Dpi() : displays.DesktopDpi();
}

bool SaveDialogPosition(Profile& profile, const Displays& displays, PlacementWindow* window, std::u16string_view key,
                        const std::optional<Rect>& rect) {
  profile.WriteInt(kPositionSection, kDpiEntry, WindowDpi(displays, window));
  if (!window || !window->HasNativeHandle()) return false;
  const std::u16string entry = DialogEntry(*window, key);
  Rect r;
  if (rect) {
    r = *rect;
  } else {
    if (window->IsMinimized()) return false;
    r = window->ScreenRect();
  }
  return profile.WriteRect(kDialogSection, entry, r);
}

bool SaveFramePlacement(Profile& profile, const Displays& displays, PlacementWindow* window,
                        const std::optional<Rect>& rect) {
  profile.WriteInt(kPositionSection, kDpiEntry, WindowDpi(displays, window));
  Rect r;
  if (rect) {
    r = *rect;
  } else {
    if (!window) return false;
    const WindowPlacement placement = window->Placement();
    const int iconic = placement.show_state == kShowMinimized ? 1 : 0;
    const int maximized = placement.show_state != kShowNormal && placement.show_state != kShowMinimized ? 1 : 0;
    profile.StoreInt(kFrameSection, kIconicEntry, iconic);
    profile.StoreInt(kFrameSection, kMaximizedEntry, maximized);
    if (iconic) return false;
    r = placement.normal;
  }
  return profile.WriteRect(kFrameSection, kFrameRectEntry, r);
}

bool SaveDialogRect(Profile& profile, std::u16string_view key, const Rect& rect) {
  return profile.WriteRect(kDialogSection, key, rect);
}

bool RestoreDialogPosition(Profile& profile, const Displays& displays, PlacementWindow* window,
                           std::u16string_view key) {
  ResetLayoutsOnDpiChange(displays, window);
  if (!window) return false;
  Rect r = profile.GetRect(kDialogSection, DialogEntry(*window, key), Rect{});
  if (IsZero(r) || !HasArea(r)) return true;  // nothing stored (or nothing usable): the dialog stays put
  // Without any known monitor there is no work area to fit into.
  if (displays.Monitors().empty()) return true;
  Rect work;
  MonitorRects(displays, Centre(r), nullptr, &work);
  if (MonitorCount(displays) >= 2) {
    work.left += 1;
    work.top += 1;
    work.right -= 1;
    work.bottom -= 1;
  }
  window->MoveTo(FitRectInto(r, work));
  return true;
}

bool RestoreFramePlacement(Profile& profile, const Displays& displays, PlacementWindow* window) {
  ResetLayoutsOnDpiChange(displays, window);
  if (!window) return false;
  const std::int32_t iconic = profile.ReadInt(kFrameSection, kIconicEntry, 0);
  const std::int32_t maximized = profile.ReadInt(kFrameSection, kMaximizedEntry, 0);
  Rect r = profile.GetRect(kFrameSection, kFrameRectEntry, Rect{});
  if (!HasArea(r)) r = Rect{};  // a damaged rectangle counts as none
  const Point c = Centre(r);
  Rect work = WorkAreaAt(displays, c);
  if (IsOnPrimaryMonitor(displays, c)) {
    // Placement rectangles on the primary monitor are relative to its work area.
    work = Rect{0, 0, work.right - work.left, work.bottom - work.top};
    if (IsZero(r)) {
      r = work;
    } else {
      const std::int64_t w = std::min(std::int64_t{r.right} - r.left, std::int64_t{work.right} - work.left);
      const std::int64_t h = std::min(std::int64_t{r.bottom} - r.top, std::int64_t{work.bottom} - work.top);
      if (r.right > work.right) {
        r.right = work.right;
        r.left = Clamp32(work.right - w);
      }
      if (r.bottom > work.bottom) {
        r.bottom = work.bottom;
        r.top = Clamp32(work.bottom - h);
      }
      if (r.left < work.left) {
        r.left = work.left;
        r.right = Clamp32(work.left + w);
      }
      if (r.top < work.top) {
        r.top = work.top;
        r.bottom = Clamp32(work.top + h);
      }
    }
  } else {
    r = FitRectInto(r, work);
  }
  WindowPlacement placement;
  placement.show_state = iconic ? kShowRestore : maximized ? kShowMaximized : kShowNormal;
  placement.flags = maximized ? kRestoreToMaximized : 0;
  placement.min_position = Point{0, 0};
  const Point border = displays.BorderSize();
  placement.max_position = Point{-border.y, -border.x};
  placement.normal = r;
  window->SetPlacement(placement);
  return true;
}

Rect FitRectInto(const Rect& rect, const Rect& bounds) {
  Rect r = rect;
  FitAxis(r.left, r.right, bounds.left, bounds.right);
  FitAxis(r.top, r.bottom, bounds.top, bounds.bottom);
  return r;
}

int MonitorCount(const Displays& displays) {
  const std::size_t count = displays.Monitors().size();
  return count == 0 ? 1 : static_cast<int>(std::min<std::size_t>(count, 1000));
}

bool MonitorRects(const Displays& displays, Point point, Rect* monitor, Rect* work) {
  const std::vector<Monitor> monitors = displays.Monitors();
  const Monitor* chosen = PrimaryOf(monitors);
  bool primary = true;
  if (monitors.size() >= 2) {
    chosen = NearestTo(monitors, point);
    primary = chosen->primary;
  }
  if (monitor) *monitor = chosen ? chosen->area : Rect{};
  if (work) *work = chosen ? chosen->work : Rect{};
  return primary;
}

bool IsOnPrimaryMonitor(const Displays& displays, Point point) {
  return MonitorRects(displays, point, nullptr, nullptr);
}

Rect WorkAreaAt(const Displays& displays, Point point) {
  Rect work;
  MonitorRects(displays, point, nullptr, &work);
  return work;
}

void ResetLayoutsOnDpiChange(const Displays& displays, const PlacementWindow* window) {
  Profile own(u"");
  const int dpi = WindowDpi(displays, window);
  if (own.GetInt(kPositionSection, kDpiEntry, dpi) == dpi) return;
  // Only the registry route keeps layouts as keys; INI files have none to clear.
  if (ApplicationRegistryKey().empty()) return;
  std::vector<std::u16string> doomed;
  for (std::u16string_view section : {u"Position", u"Bar", u"WindowLayout"}) {
    const std::vector<std::u16string> keys = ListSubkeys(kHkeyCurrentUser,
                                                         ApplicationSectionKey(ApplicationProfileName(), section));
    doomed.insert(doomed.end(), keys.begin(), keys.end());
  }
  // Parents come before their children, so a key that still has subkeys stays.
  for (const std::u16string& key : doomed) {
    RegistryStore().WriteString(kHkeyCurrentUser, key, std::nullopt, std::nullopt);
  }
}

std::vector<std::u16string> ListSubkeys(RegistryRoot root, std::u16string_view path) {
  std::vector<std::u16string> list;
  std::vector<std::u16string> names;
  RegistryStore store;
  store.EnumKeys(root, path, names);
  for (const std::u16string& name : names) list.push_back(std::u16string(path) + u"\\" + name);
  for (std::size_t i = 0; i < list.size() && i < 100; ++i) {
    store.EnumKeys(root, list[i], names);
    const std::u16string parent = list[i];  // copied: the list grows below
    for (const std::u16string& name : names) list.push_back(parent + u"\\" + name);
  }
  return list;
}

}  // namespace ocelo
