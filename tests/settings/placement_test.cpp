// Window placement with fake displays: saving, restoring, fitting into the work areas.
#include "settings/placement.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "base/paths.h"
#include "platform/system.h"
#include "settings/ini_path.h"
#include "settings/profile_cache.h"
#include "settings/settings_files.h"

namespace ocelo {
namespace {

using namespace test;

std::string Show(const Rect& r) {
  char text[64];
  std::snprintf(text, sizeof text, "(%d,%d)-(%d,%d)", r.left, r.top, r.right, r.bottom);
  return text;
}

class FakeDisplays : public Displays {
 public:
  explicit FakeDisplays(std::vector<Monitor> monitors) : monitors_(std::move(monitors)) {}
  std::vector<Monitor> Monitors() const override { return monitors_; }
  int DesktopDpi() const override { return 96; }
  Point BorderSize() const override { return Point{2, 3}; }

 private:
  std::vector<Monitor> monitors_;
};

// A 1920 x 1080 primary monitor with a task bar of 40 pixels at the bottom.
const Monitor kPrimary{Rect{0, 0, 1920, 1080}, Rect{0, 0, 1920, 1040}, true};
const Monitor kSecond{Rect{1920, 0, 3840, 1080}, Rect{1920, 0, 3840, 1040}, false};

class FakeWindow : public PlacementWindow {
 public:
  bool handle = true;
  bool minimized = false;
  int dpi = 96;
  Rect rect{10, 20, 300, 400};
  WindowPlacement placement;
  int moves = 0;
  int placements = 0;

  bool HasNativeHandle() const override { return handle; }
  std::u16string ClassName() const override { return std::u16string(kDialogClassName); }
  Rect ScreenRect() const override { return rect; }
  bool IsMinimized() const override { return minimized; }
  int Dpi() const override { return dpi; }
  WindowPlacement Placement() const override { return placement; }
  void SetPlacement(const WindowPlacement& p) override {
    placement = p;
    ++placements;
  }
  void MoveTo(const Rect& r) override {
    rect = r;
    ++moves;
  }
};

TEST(Placement, FitRectIntoPushesInsideAndCutsToSize) {
  const Rect bounds{0, 0, 1920, 1040};
  struct Case {
    Rect rect;
    Rect fitted;
  } cases[] = {
      {{100, 100, 300, 300}, {100, 100, 300, 300}}, {{2000, 100, 2200, 300}, {1720, 100, 1920, 300}},
      {{-50, 10, 150, 110}, {0, 10, 200, 110}},     {{10, 1000, 110, 1100}, {10, 940, 110, 1040}},
      {{-100, 0, 2100, 100}, {0, 0, 1920, 100}},    {{10, 500, 110, 2000}, {10, 0, 110, 1040}},
      {{1900, -20, 5000, 20}, {0, 0, 1920, 40}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Show(c.rect));
    EXPECT_EQ(Show(FitRectInto(c.rect, bounds)), Show(c.fitted));
  }
}

TEST(Placement, DialogComesBackOntoTheWorkArea) {
  const std::string folder = TestFolder();
  struct Case {
    const char* what;
    std::vector<Monitor> monitors;
    std::optional<Rect> stored;
    std::optional<Rect> moved_to;  // nullopt: not moved
  } cases[] = {
      {"first run", {kPrimary}, std::nullopt, std::nullopt},
      {"second monitor removed", {kPrimary}, Rect{2000, 100, 2200, 300}, Rect{1720, 100, 1920, 300}},
      {"second monitor present", {kPrimary, kSecond}, Rect{2000, 100, 2200, 300}, Rect{2000, 100, 2200, 300}},
      {"one pixel inside with two monitors", {kPrimary, kSecond}, Rect{1920, 0, 2120, 200}, Rect{1921, 1, 2121, 201}},
      {"larger than the work area", {kPrimary}, Rect{-10, -10, 2000, 500}, Rect{0, 0, 1920, 510}},
      {"damaged rectangle", {kPrimary}, Rect{500, 500, 100, 100}, std::nullopt},
      {"below both monitors: the nearest one",
       {kPrimary, kSecond},
       Rect{3000, 5000, 3100, 5100},
       Rect{3000, 939, 3100, 1039}},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Profile profile(U16(Native(folder + "/dialog" + std::to_string(++n))));
    FakeDisplays displays(c.monitors);
    FakeWindow window;
    if (c.stored) {
      ASSERT_TRUE(SaveDialogPosition(profile, displays, &window, u"OceloDg", *c.stored));
    }
    const Rect before = window.rect;
    EXPECT_TRUE(RestoreDialogPosition(profile, displays, &window, u"OceloDg"));
    EXPECT_EQ(window.moves, c.moved_to ? 1 : 0);
    EXPECT_EQ(Show(window.rect), Show(c.moved_to.value_or(before)));
  }
}

TEST(Placement, MainDialogEntryKeepsItsStoredForm) {
  const std::string folder = TestFolder();
  Profile profile(U16(Native(folder + "/saved")));
  const FakeDisplays displays({kPrimary});
  FakeWindow window;
  ASSERT_TRUE(SaveDialogPosition(profile, displays, &window, u"OceloDg"));
  const Bytes saved = MarkedUtf16(
      u"[Position]\r\nDPI_=96\r\n"
      u"[Position\\Dialog]\r\n"
      u"Position_OceloDg_CDialog_LTRB=\"10 20 300 400\"\r\n"
      u"Position_OceloDg_CDialog=000000010 000000020 000000300 000000400\r\n");
  EXPECT_EQ(ToHex(ReadBytes(folder + "/saved.ini")), ToHex(saved));

  // Minimized, or without its native window, the dialog keeps its last rectangle; the scale is recorded.
  window.minimized = true;
  window.dpi = 120;
  EXPECT_FALSE(SaveDialogPosition(profile, displays, &window, u"OceloDg"));
  window.handle = false;
  EXPECT_FALSE(SaveDialogPosition(profile, displays, &window, u"OceloDg"));
  EXPECT_EQ(profile.GetRect(u"Position\\Dialog", u"Position_OceloDg_CDialog", Rect{}), (Rect{10, 20, 300, 400}));
  EXPECT_EQ(profile.GetInt(u"Position", u"DPI_", 0), 96);  // the desktop's scale, without a native window

  // Restoring at another scale on the INI route changes nothing in the file; the next save records it.
  window = FakeWindow();
  window.dpi = 144;
  window.rect = Rect{0, 0, 50, 50};
  const Bytes before = ReadBytes(folder + "/saved.ini");
  EXPECT_TRUE(RestoreDialogPosition(profile, displays, &window, u"OceloDg"));
  EXPECT_EQ(window.rect, (Rect{10, 20, 300, 400}));
  EXPECT_EQ(ReadBytes(folder + "/saved.ini"), before);
  ASSERT_TRUE(SaveDialogPosition(profile, displays, &window, u"OceloDg"));
  EXPECT_EQ(profile.GetInt(u"Position", u"DPI_", 0), 144);
  EXPECT_TRUE(SaveDialogRect(profile, u"Other", Rect{1, 2, 3, 4}));
  EXPECT_EQ(profile.GetString(u"Position\\Dialog", u"Other", u""), u"000000001 000000002 000000003 000000004");
}

TEST(Placement, FramePlacementRoundTrips) {
  const std::string folder = TestFolder();
  // Task bar at the top: the primary work area starts 40 pixels down.
  const FakeDisplays displays({Monitor{Rect{0, 0, 1920, 1080}, Rect{0, 40, 1920, 1080}, true}});
  Profile profile(U16(Native(folder + "/frame")));
  FakeWindow window;

  // Nothing stored: the whole work area, in coordinates relative to it.
  ASSERT_TRUE(RestoreFramePlacement(profile, displays, &window));
  EXPECT_EQ(Show(window.placement.normal), Show(Rect{0, 0, 1920, 1040}));
  EXPECT_EQ(window.placement.show_state, kShowNormal);

  window.placement = WindowPlacement{kShowMaximized, 0, {}, {}, Rect{100, 100, 700, 500}};
  ASSERT_TRUE(SaveFramePlacement(profile, displays, &window));
  window.placement = WindowPlacement{kShowMinimized, 0, {}, {}, Rect{1, 1, 2, 2}};
  EXPECT_FALSE(SaveFramePlacement(profile, displays, &window));  // only the flags are written
  EXPECT_EQ(profile.GetInt(u"Position\\MainFrame", u"Iconic", -1), 1);
  EXPECT_EQ(profile.GetInt(u"Position\\MainFrame", u"Maximized", -1), 0);
  ASSERT_TRUE(RestoreFramePlacement(profile, displays, &window));
  EXPECT_EQ(window.placement, (WindowPlacement{kShowRestore, 0, Point{0, 0}, Point{-3, -2}, Rect{100, 100, 700, 500}}));

  window.placement = WindowPlacement{kShowMaximized, 0, {}, {}, Rect{-100, 0, 2500, 500}};
  ASSERT_TRUE(SaveFramePlacement(profile, displays, &window));
  ASSERT_TRUE(RestoreFramePlacement(profile, displays, &window));
  EXPECT_EQ(window.placement.show_state, kShowMaximized);
  EXPECT_EQ(window.placement.flags, kRestoreToMaximized);
  EXPECT_EQ(Show(window.placement.normal), Show(Rect{0, 0, 1920, 500}));  // as wide as the work area
}

TEST(Placement, ScaleChangeClearsRegistryLayouts) {
  OwnFolders own;
  SetApplicationRegistryKey(u"TestCo");
  const std::u16string app = u"Software\\TestCo\\" + FileTitle(sys::ExecutablePath());
  RegistryStore store;
  for (const char16_t* key : {u"\\Position\\A", u"\\Position\\Dialog\\X", u"\\Bar\\B"}) {
    ASSERT_TRUE(store.WriteInt(kHkeyCurrentUser, app + key, u"v", 1));
  }
  EXPECT_EQ(ListSubkeys(kHkeyCurrentUser, app + u"\\Position"),
            (std::vector<std::u16string>{app + u"\\Position\\A", app + u"\\Position\\Dialog",
                                         app + u"\\Position\\Dialog\\X"}));
  Profile(u"").WriteInt(u"Position", u"DPI_", 96);
  const FakeDisplays displays({kPrimary});
  FakeWindow window;
  window.dpi = 96;
  ResetLayoutsOnDpiChange(displays, &window);  // same scale: nothing happens
  EXPECT_EQ(ListSubkeys(kHkeyCurrentUser, app + u"\\Bar").size(), 1u);
  window.dpi = 144;
  ResetLayoutsOnDpiChange(displays, &window);
  // Parents are tried before their children, so a key that still had subkeys stays.
  EXPECT_EQ(ListSubkeys(kHkeyCurrentUser, app + u"\\Position"), (std::vector<std::u16string>{app + u"\\Position\\Dialo"
                                                                                                   u"g"}));
  EXPECT_TRUE(ListSubkeys(kHkeyCurrentUser, app + u"\\Bar").empty());

  SetApplicationRegistryKey(u"");
}

}  // namespace
}  // namespace ocelo
