// The Win32 dialog on a real window system (Wine with an X display from xvfb-run in `make test-windows`):
// its texts and targets, on top with the version item in its system menu, drops announced with
// WM_DROPFILES converted with the selected target, closing with and without saving the position, and the
// message boxes it shows for the message service.
#include <windows.h>
// DROPFILES, HDROP (not among the lean headers)
#include <shellapi.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/drop_run.h"
#include "app/string_pairs.h"
#include "app/update_check_run.h"
#include "gui/win32/OceloDg.h"
#include "gui/win32/win32_font.h"
#include "platform/system.h"
#include "settings/profile.h"
#include "support/sandbox.h"
#include "support/update_gate.h"
#include "util/message.h"
#include "version/version_info.h"

namespace ocelo {
namespace {

using test::Hex;
using test::ToHex;
using test::U16;
using test::U8;

constexpr std::u16string_view kSection = u"Position\\Dialog";
constexpr std::u16string_view kEntry = u"Position_OceloDg_CDialog";

std::wstring Wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }

std::u16string TextOf(HWND window) {
  wchar_t text[256] = {};
  const int length = ::GetWindowTextW(window, text, 256);
  return std::u16string(text, text + length);
}

// A file's bytes written and read through the wide calls, so that a name outside the ANSI code page
// reaches the file system whole.
void WriteWide(const std::u16string& path, const test::Bytes& bytes) {
  HANDLE file = ::CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  ::CloseHandle(file);
}

test::Bytes ReadWide(const std::u16string& path) {
  test::Bytes bytes;
  HANDLE file = ::CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  std::uint8_t buffer[4096];
  DWORD read = 0;
  while (::ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0)
    bytes.insert(bytes.end(), buffer, buffer + read);
  ::CloseHandle(file);
  return bytes;
}

// Handles the dialog's messages until `done` holds; false when it still does not after two minutes, a bound
// only a lost message reaches.
template <typename Done>
bool PumpUntil(OceloDg& dialog, Done done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  while (!done() && std::chrono::steady_clock::now() < deadline) {
    dialog.ProcessPendingMessages();
    if (!done()) ::Sleep(1);
  }
  return done();
}

// A drop as the shell announces it: a DROPFILES block with wide, double-NUL-terminated paths, posted to
// the dialog, which releases it. False when it cannot be posted.
bool DropPosted(HWND window, const std::vector<std::u16string>& paths) {
  std::size_t units = 1;
  for (const std::u16string& path : paths) units += path.size() + 1;
  HGLOBAL block = ::GlobalAlloc(GHND, sizeof(DROPFILES) + units * sizeof(wchar_t));
  if (block == nullptr) return false;
  auto* header = static_cast<DROPFILES*>(::GlobalLock(block));
  header->pFiles = sizeof(DROPFILES);
  header->fWide = TRUE;
  auto* text = reinterpret_cast<wchar_t*>(reinterpret_cast<char*>(header) + sizeof(DROPFILES));
  for (const std::u16string& path : paths) {
    std::memcpy(text, path.data(), path.size() * sizeof(wchar_t));
    text += path.size() + 1;  // GHND zeroed the terminators
  }
  ::GlobalUnlock(block);
  return ::PostMessageW(window, WM_DROPFILES, reinterpret_cast<WPARAM>(block), 0) != FALSE;
}

void PostDrop(HWND window, const std::vector<std::u16string>& paths) { ASSERT_TRUE(DropPosted(window, paths)); }

// The folder window the first drop of a process opens is noted in the sandbox's shell log, and no file
// manager comes up on the desktop. (Run as one process, an earlier test's drop was the first.)
void ExpectFolderShownInTheLog(int drops_before, const std::u16string& folder) {
  if (drops_before != 0) return;
  const std::vector<std::string> shown = test::OpenedByShell();
  std::vector<std::string> slashed;
  for (const std::string& line : shown) slashed.push_back(test::Slashes(line));
  EXPECT_NE(std::find(slashed.begin(), slashed.end(), test::Slashes(U8(folder))), slashed.end());
  EXPECT_EQ(::FindWindowW(L"ExplorerWClass", nullptr), nullptr);
}

class Win32DialogTest : public ::testing::Test {
 protected:
  // The stored position is left alone here: under Wine the test processes share one settings folder, and
  // only the test of closing and reopening stores and clears it.
  void SetUp() override {
    ClearStringPairs();
    AddProgramStringPairs();
  }
  void TearDown() override { ClearStringPairs(); }

  // Builds the dialog; without an X display Wine can make no window, and the test is skipped.
  static bool Open(OceloDg& dialog) {
    if (dialog.Create()) return true;
    if (sys::Environment(u"DISPLAY").empty()) {
      [] { GTEST_SKIP() << "no display for Wine's windows (make test-windows runs the suite under xvfb-run)"; }();
      return false;
    }
    ADD_FAILURE() << "the dialog was not created";
    return false;
  }

  static std::u16string Stored() { return Profile(u"").GetString(kSection, kEntry, u""); }
};

TEST_F(Win32DialogTest, ShowsJapaneseTextsTheFourTargetsNoneSelectedOnTopWithTheVersionItem) {
  OceloDg dialog(&test::StallingUpdateCheck);
  if (!Open(dialog)) return;
  HWND window = dialog.Window();
  // The update check starts once the dialog handles its messages, on a thread of its own: the dialog
  // goes on while the check waits for its server.
  EXPECT_FALSE(test::StallingGate().Entered());
  ASSERT_TRUE(PumpUntil(dialog, [] { return test::StallingGate().Entered(); }));
  EXPECT_TRUE(dialog.UpdateCheckRunning());
  EXPECT_TRUE(UpdateCheckRun::AnyRunning());

  EXPECT_EQ(TextOf(window), u"文字コードを変更");
  EXPECT_EQ(TextOf(::GetDlgItem(window, OceloDg::kExitId)), u"終了(&X)");
  HWND ok = ::GetDlgItem(window, OceloDg::kOkId);
  EXPECT_EQ(TextOf(ok), u"OK");
  EXPECT_FALSE(::IsWindowVisible(ok));
  EXPECT_TRUE(::IsWindowVisible(window));

  HWND targets = ::GetDlgItem(window, OceloDg::kTargetsId);
  const std::u16string expected[] = {u"  0 : Copy", u"  8 : UTF-8", u" 16 : UTF-16", u" 74 : ShiftJIS"};
  ASSERT_EQ(::SendMessageW(targets, LB_GETCOUNT, 0, 0), 4);
  for (int i = 0; i < 4; ++i) {
    wchar_t text[64] = {};
    ::SendMessageW(targets, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text));
    EXPECT_EQ(std::u16string(text, text + std::wcslen(text)), expected[i]);
  }
  EXPECT_EQ(::SendMessageW(targets, LB_GETCURSEL, 0, 0), LB_ERR);
  EXPECT_EQ(dialog.SelectedText(), u"");
  ::SendMessageW(targets, LB_SETCURSEL, 3, 0);
  EXPECT_EQ(dialog.SelectedText(), u" 74 : ShiftJIS");

  const LONG_PTR ex_style = ::GetWindowLongPtrW(window, GWL_EXSTYLE);
  EXPECT_TRUE(ex_style & WS_EX_TOPMOST);
  EXPECT_TRUE(ex_style & WS_EX_ACCEPTFILES);

  // The version item closes the system menu, after a separator.
  HMENU menu = ::GetSystemMenu(window, FALSE);
  ASSERT_NE(menu, nullptr);
  const int count = ::GetMenuItemCount(menu);
  ASSERT_GE(count, 2);
  EXPECT_EQ(::GetMenuItemID(menu, count - 1), OceloDg::kVersionCommand);
  EXPECT_EQ(::GetMenuState(menu, count - 2, MF_BYPOSITION) & MF_SEPARATOR, static_cast<UINT>(MF_SEPARATOR));
  wchar_t item[64] = {};
  ::GetMenuStringW(menu, OceloDg::kVersionCommand, item, 64, MF_BYCOMMAND);
  EXPECT_EQ(std::u16string(item, item + std::wcslen(item)), OceloDg::kVersionItem);

  // The controls' font has every glyph of the Japanese texts (boxes otherwise), and the whole window lies
  // on the work area, not at the far-off position of its layout.
  LOGFONTW font{};
  ::GetObjectW(reinterpret_cast<HGDIOBJ>(::SendMessageW(window, WM_GETFONT, 0, 0)), sizeof font, &font);
  const std::u16string face(font.lfFaceName, font.lfFaceName + std::wcslen(font.lfFaceName));
  EXPECT_TRUE(FaceShows(face, u"文字コードを変更終了")) << U8(face);
  RECT frame{}, work{};
  ::GetWindowRect(window, &frame);
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  EXPECT_TRUE(frame.left >= work.left && frame.top >= work.top && frame.right <= work.right &&
              frame.bottom <= work.bottom)
      << frame.left << "," << frame.top << " " << frame.right << "," << frame.bottom;

  test::StallingGate().Open();
  EXPECT_TRUE(PumpUntil(dialog, [&] { return !dialog.UpdateCheckRunning(); }));
}

TEST_F(Win32DialogTest, DroppedFileIsConvertedIntoTheDroppedFolderWithTheSelectedTarget) {
  struct Case {
    const char* name;
    int selected;  // list index; -1 nothing selected
    const char* copy;
  };
  // "日本" CR LF in Shift_JIS.
  const char* source = "93 FA 96 7B 0D 0A";
  const Case cases[] = {
      {"nothing selected: UTF-16 with its mark", -1, "FF FE E5 65 2C 67 0D 00 0A 00"},
      {"  0 : Copy", 0, source},
      {"  8 : UTF-8", 1, "E6 97 A5 E6 9C AC 0D 0A"},
      {" 16 : UTF-16", 2, "FF FE E5 65 2C 67 0D 00 0A 00"},
      {" 74 : ShiftJIS", 3, source},
  };
  const std::u16string root = U16(test::TestFolder()) + u"\\";
  const std::u16string name = u"日本.txt";  // a name outside the ANSI code page
  WriteWide(root + name, Hex(source));

  OceloDg dialog(nullptr);
  if (!Open(dialog)) return;
  HWND targets = ::GetDlgItem(dialog.Window(), OceloDg::kTargetsId);
  int drops = ProcessDropRun().DropCount();
  const int drops_before = drops;
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::u16string out = root + u"out" + U16(std::to_string(index++));
    ASSERT_TRUE(::CreateDirectoryW(Wide(out).c_str(), nullptr));
    ::SendMessageW(targets, LB_SETCURSEL, static_cast<WPARAM>(c.selected), 0);
    PostDrop(dialog.Window(), {out});
    PostDrop(dialog.Window(), {root + name});
    drops += 2;
    ASSERT_TRUE(PumpUntil(dialog, [&] { return ProcessDropRun().DropCount() == drops; }));
    EXPECT_EQ(ToHex(ReadWide(out + u"\\" + name)), c.copy);
  }
  EXPECT_EQ(ToHex(ReadWide(root + name)), source);
  ExpectFolderShownInTheLog(drops_before, root + u"out0");
}

TEST_F(Win32DialogTest, ExitEscapeAndCloseBoxSaveThePositionEnterDoesNotAndItReopensThere) {
  struct Case {
    const char* how;
    int result;
    bool saved;
  };
  const Case cases[] = {
      {"exit button", IDCANCEL, true},
      {"Escape", IDCANCEL, true},
      {"close box", IDCANCEL, true},
      {"Enter", IDOK, false},
  };
  int x = 100;
  RECT closed{};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.how);
    Profile(u"").WriteString(kSection, kEntry, std::nullopt);
    {
      OceloDg dialog(nullptr);
      if (!Open(dialog)) return;
      HWND window = dialog.Window();
      x += 20;
      ::SetWindowPos(window, nullptr, x, 120, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
      ::GetWindowRect(window, &closed);
      HWND targets = ::GetDlgItem(window, OceloDg::kTargetsId);
      ::SetFocus(targets);
      const std::string how = c.how;
      if (how == "exit button") ::PostMessageW(::GetDlgItem(window, OceloDg::kExitId), BM_CLICK, 0, 0);
      if (how == "Escape") ::PostMessageW(targets, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
      if (how == "close box") ::PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
      if (how == "Enter") ::PostMessageW(targets, WM_KEYDOWN, VK_RETURN, 0x001C0001);
      ASSERT_TRUE(PumpUntil(dialog, [&] { return dialog.Ended(); }));
      EXPECT_EQ(dialog.Result(), c.result);
    }
    EXPECT_EQ(!Stored().empty(), c.saved) << U8(Stored());
    if (!c.saved) continue;
    const Rect stored = Profile(u"").GetRect(kSection, kEntry, Rect{});
    EXPECT_EQ(stored, (Rect{closed.left, closed.top, closed.right, closed.bottom}));
    // The frame saved is the frame restored: opened again, the window does not creep.
    OceloDg again(nullptr);
    if (!Open(again)) return;
    RECT reopened{};
    ::GetWindowRect(again.Window(), &reopened);
    EXPECT_EQ((Rect{reopened.left, reopened.top, reopened.right, reopened.bottom}), stored);
  }

  // A position saved on a monitor that has gone, by a dialog of another size (another scale, another
  // font), comes back in the corner of the work area at the dialog's own size.
  Profile(u"").WriteRect(kSection, kEntry, Rect{5000, 4000, 5100, 4050});
  OceloDg dialog(nullptr);
  if (!Open(dialog)) return;
  RECT frame{}, work{};
  ::GetWindowRect(dialog.Window(), &frame);
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const LONG width = closed.right - closed.left, height = closed.bottom - closed.top;
  EXPECT_EQ((Rect{frame.left, frame.top, frame.right, frame.bottom}),
            (Rect{work.right - width, work.bottom - height, work.right, work.bottom}));
}

// Answers the first box the dialog owns (a message box, the version dialog) with `button`, from another
// thread, after noting its caption, its texts and its thread.
struct BoxAnswerer {
  /// `while_up` runs on the answering thread while the box is up, before it is answered.
  BoxAnswerer(HWND owner, int button, std::function<void()> while_up = {})
      : thread([this, owner, button, while_up] {
          const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
          while (std::chrono::steady_clock::now() < deadline) {
            HWND box = ::FindWindowW(L"#32770", nullptr);
            for (; box != nullptr; box = ::FindWindowExW(nullptr, box, L"#32770", nullptr)) {
              if (::GetWindow(box, GW_OWNER) == owner) break;
            }
            if (box != nullptr && ::IsWindowVisible(box)) {
              caption = TextOf(box);
              text = TextOf(::GetDlgItem(box, 0xFFFF));       // a message box's text
              description = TextOf(::GetDlgItem(box, 1000));  // the version dialog's
              same_thread = ::GetWindowThreadProcessId(box, nullptr) == ::GetWindowThreadProcessId(owner, nullptr);
              if (while_up) while_up();
              done = true;
              ::PostMessageW(box, WM_COMMAND, button, 0);
              return;
            }
            ::Sleep(5);
          }
        }) {}
  ~BoxAnswerer() { Join(); }
  void Join() {
    if (thread.joinable()) thread.join();
  }
  std::u16string caption, text, description;  // read once done
  bool same_thread = false;
  std::atomic<bool> done{false};
  std::thread thread;
};

TEST_F(Win32DialogTest, BoxesAndTheVersionDialogComeUpOnTheDialogsThreadWithTheButtonChosen) {
  OceloDg dialog(nullptr);
  if (!Open(dialog)) return;
  struct Case {
    unsigned type;
    int button;
  };
  const Case cases[] = {
      {mb::kOk | mb::kIconExclamation, IDOK},
      {mb::kYesNoCancel | mb::kDefButton2, IDNO},
      {mb::kAbortRetryIgnore, IDIGNORE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    int answer = 0;
    {
      BoxAnswerer answerer(dialog.Window(), c.button);
      answer = ShowMessage(u"same a.txt\r\n", c.type);
    }
    EXPECT_EQ(answer, c.button);
  }

  // A box from a thread without a window comes up on the dialog's thread, owned by the dialog.
  std::atomic<bool> posted{false};
  BoxAnswerer answerer(dialog.Window(), IDOK);
  std::thread([&] {
    PostMessageBox(u"The DDE transaction failed.", 0);
    posted = true;
  }).join();
  EXPECT_TRUE(posted);
  EXPECT_TRUE(PumpUntil(dialog, [&] { return answerer.done.load(); }));
  answerer.Join();
  EXPECT_EQ(answerer.caption, u"文字コードを変更");
  EXPECT_EQ(answerer.text, u"The DDE transaction failed.");
  EXPECT_TRUE(answerer.same_thread);

  // The version item opens the version dialog, also with the low four bits that the system may set.
  BoxAnswerer about(dialog.Window(), IDOK);
  ::PostMessageW(dialog.Window(), WM_SYSCOMMAND, OceloDg::kVersionCommand | 0x3, 0);
  EXPECT_TRUE(PumpUntil(dialog, [&] { return about.done.load(); }));
  about.Join();
  EXPECT_EQ(about.caption, u"ﾊﾞｰｼﾞｮﾝ情報");
  const std::optional<AboutBoxTexts> texts = about_box_texts();
  ASSERT_TRUE(texts.has_value());
  EXPECT_EQ(about.description, texts->description);
  EXPECT_NE(about.description.find(u"  Version "), std::u16string::npos);
}

}  // namespace
}  // namespace ocelo

namespace ocelo {
namespace {

TEST_F(Win32DialogTest, DropWhileAReportIsUpRunsOnceTheRunBeforeItHasEnded) {
  const std::u16string root = U16(test::TestFolder()) + u"\\";
  const std::u16string out = root + u"out";
  ASSERT_TRUE(::CreateDirectoryW(Wide(out).c_str(), nullptr));
  WriteWide(root + u"bin.dat", Hex("50 4B 03 04 00 00"));
  WriteWide(root + u"a.txt", Hex("41 0D 0A"));

  OceloDg dialog(nullptr);
  if (!Open(dialog)) return;
  ::SendDlgItemMessageW(dialog.Window(), OceloDg::kTargetsId, LB_SETCURSEL, 2, 0);
  const int drops = ProcessDropRun().DropCount();
  PostDrop(dialog.Window(), {out});
  ASSERT_TRUE(PumpUntil(dialog, [&] { return ProcessDropRun().DropCount() == drops + 1; }));
  ExpectFolderShownInTheLog(drops, out);

  // While the report of the binary file is up, a text file is dropped: it is not converted inside the run
  // that shows the report, but once that run has ended.
  std::atomic<bool> copied_while_up{false};
  BoxAnswerer answerer(dialog.Window(), IDOK, [&] {
    if (!DropPosted(dialog.Window(), {root + u"a.txt"})) return;
    ::Sleep(300);  // time for the box's own loop to hand the drop to the dialog
    copied_while_up = ::GetFileAttributesW(Wide(out + u"\\a.txt").c_str()) != INVALID_FILE_ATTRIBUTES;
  });
  PostDrop(dialog.Window(), {root + u"bin.dat"});
  ASSERT_TRUE(PumpUntil(dialog, [&] { return ProcessDropRun().DropCount() == drops + 3; }));
  answerer.Join();
  EXPECT_EQ(answerer.text, u"テキストファイルではありません．\r\nbin.dat\r\n");
  EXPECT_FALSE(copied_while_up);
  EXPECT_EQ(ToHex(ReadWide(out + u"\\a.txt")), "FF FE 41 00 0D 00 0A 00");
}

}  // namespace
}  // namespace ocelo
