// The main dialog and the version dialog in Win32. The dialog holds no logic of its own: drops go to the
// drop run, texts through the string pair table, the position through the window placement.
#include "gui/win32/OceloDg.h"

#include <shellapi.h>

#include <algorithm>
#include <optional>

#include "app/drop_run.h"
#include "app/string_pairs.h"
#include "gui/win32/dialog_template.h"
#include "gui/win32/win32_drop.h"
#include "gui/win32/win32_font.h"
#include "gui/win32/win32_message_box.h"
#include "gui/win32/win32_text.h"
#include "settings/placement.h"
#include "settings/profile_cache.h"
#include "util/dump.h"
#include "version/version_info.h"
#include "web/u_agent.h"

namespace ocelo {
namespace {

using win32ui::Units;
using win32ui::Wide;

// The dialog's own messages: tasks posted from other threads, the update check's start and end.
constexpr UINT kRunTasks = WM_APP + 1;
constexpr UINT kStartUpdateCheck = WM_APP + 2;
constexpr UINT kUpdateCheckEnded = WM_APP + 3;

// The message that carries a drop's data between processes (WM_COPYGLOBALDATA, not in the headers).
constexpr UINT kCopyGlobalData = 0x0049;

// The icon resource of the program (none in a program built without it).
constexpr WORD kIconResource = 128;

// The targets, in list order.
constexpr std::string_view kTargets[] = {"  0 : Copy", "  8 : UTF-8", " 16 : UTF-16", " 74 : ShiftJIS"};

// Every Japanese text the dialogs show, for choosing a face that has them all.
constexpr std::u16string_view kJapaneseSample = u"文字コードを変更終了ﾊﾞｰｼﾞｮﾝ情報";

// The version dialog's controls.
constexpr int kAboutIconId = 1003;
constexpr int kAboutDescriptionId = 1000;
constexpr int kAboutCopyrightId = 1001;

std::u16string WindowText(HWND window) {
  const int length = ::GetWindowTextLengthW(window);
  std::wstring text(static_cast<std::size_t>(std::max(length, 0)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(::GetWindowTextW(window, text.data(), length + 1)));
  return Units(text);
}

HICON ProgramIcon(int metric_x, int metric_y) {
  return static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kIconResource), IMAGE_ICON,
                                         ::GetSystemMetrics(metric_x), ::GetSystemMetrics(metric_y), LR_SHARED));
}

INT_PTR CALLBACK AboutProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG: {
      if (HICON icon = ProgramIcon(SM_CXICON, SM_CYICON)) {
        ::SendDlgItemMessageW(window, kAboutIconId, STM_SETICON, reinterpret_cast<WPARAM>(icon), 0);
      }
      if (const std::optional<AboutBoxTexts> texts = about_box_texts()) {
        ::SetDlgItemTextW(window, kAboutDescriptionId, Wide(texts->description).c_str());
        ::SetDlgItemTextW(window, kAboutCopyrightId, Wide(texts->copyright).c_str());
      }
      return TRUE;
    }
    case WM_COMMAND:
      if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) {
        ::EndDialog(window, LOWORD(wparam));
        return TRUE;
      }
      return FALSE;
    default: return FALSE;
  }
}

}  // namespace

OceloDg::OceloDg(UpdateCheck update_check) : profile_(u""), update_run_(update_check) {}

OceloDg::~OceloDg() {
  if (presenting_) {
    profile_cache::SetFlushSignal(previous_flush_signal_);
    SetMessagePresenter(previous_presenter_);
  }
  {
    std::lock_guard<std::mutex> lock(tasks_mutex_);
    post_window_ = nullptr;
  }
  update_run_.Detach();  // a check still waiting for the network is left to end alone
  if (window_ != nullptr && ::IsWindow(window_)) ::DestroyWindow(window_);
}

bool OceloDg::Create() {
  if (window_ != nullptr) return true;
  const DialogFont font = UiFont(kJapaneseSample);
  // The dialog's own position lies beyond most screens; PlaceWindow brings it onto the work area.
  DialogTemplate dialog(WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_MODALFRAME,
                        WS_EX_APPWINDOW | WS_EX_ACCEPTFILES, DialogBox{1920, 1080, 123, 36}, u"Ocelo", font);
  dialog.AddItem(kButtonClass, kOkId, u"OK", BS_DEFPUSHBUTTON | WS_TABSTOP, DialogBox{44, 7, 20, 14});
  dialog.AddItem(kButtonClass, kExitId, u"E&xit", BS_PUSHBUTTON | BS_FLAT | WS_TABSTOP | WS_VISIBLE,
                 DialogBox{0, 0, 41, 36});
  dialog.AddItem(kListBoxClass, kTargetsId, u"",
                 LBS_NOTIFY | LBS_SORT | LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_BORDER | WS_TABSTOP | WS_VISIBLE,
                 DialogBox{42, 0, 81, 36});
  HWND window = ::CreateDialogIndirectParamW(::GetModuleHandleW(nullptr), dialog.Get(), nullptr, &OceloDg::DialogProc,
                                             reinterpret_cast<LPARAM>(this));
  if (window == nullptr) {
    DumpText(u"CreateDialogIndirectParamW ... NULL\r\n");
    return false;
  }
  ::ShowWindow(window, SW_SHOWNORMAL);
  ::UpdateWindow(window);
  return true;
}

INT_PTR CALLBACK OceloDg::DialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  OceloDg* dialog = nullptr;
  if (message == WM_INITDIALOG) {
    dialog = reinterpret_cast<OceloDg*>(lparam);
    ::SetWindowLongPtrW(window, DWLP_USER, reinterpret_cast<LONG_PTR>(dialog));
    dialog->window_ = window;
  } else {
    dialog = reinterpret_cast<OceloDg*>(::GetWindowLongPtrW(window, DWLP_USER));
  }
  if (dialog == nullptr) return FALSE;
  if (message == WM_NCDESTROY) {
    ::SetWindowLongPtrW(window, DWLP_USER, 0);
    dialog->window_ = nullptr;
    return FALSE;
  }
  return dialog->HandleMessage(message, wparam, lparam);
}

INT_PTR OceloDg::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG: InitDialog(); return TRUE;  // the system sets the focus
    case WM_COMMAND:
      if (LOWORD(wparam) == kExitId) {
        OnCancel();
        return TRUE;
      }
      if (LOWORD(wparam) == kOkId) {
        End(IDOK);  // Enter: the hidden default button ends the dialog without saving its position
        return TRUE;
      }
      return FALSE;
    case WM_CLOSE: OnCancel(); return TRUE;
    case WM_SYSCOMMAND:
      if ((wparam & 0xFFF0) == kVersionCommand) {
        ShowAboutDialog();
        return TRUE;
      }
      return FALSE;
    case WM_QUERYDRAGICON: return reinterpret_cast<INT_PTR>(icon_);
    case WM_DROPFILES: OnDropFiles(reinterpret_cast<HDROP>(wparam)); return TRUE;
    case WM_ENDSESSION:
      // The session ends with the process: the position is kept as the close box keeps it, and the copies
      // of today's work folder go now, since nothing runs after this.
      if (wparam != FALSE) {
        Win32PlacementWindow placement(window_);
        SaveDialogPosition(profile_, displays_, &placement, kPositionKey);
        FinishDropRuns();
      }
      return TRUE;
    case kRunTasks: RunPostedTasks(); return TRUE;
    case kStartUpdateCheck:
      // The check's end comes back to the dialog's thread as a message.
      update_run_.Start([window = window_] { ::PostMessageW(window, kUpdateCheckEnded, 0, 0); });
      return TRUE;
    case kUpdateCheckEnded: update_run_.Join(); return TRUE;
    default: return FALSE;
  }
}

void OceloDg::InitDialog() {
  targets_ = ::GetDlgItem(window_, kTargetsId);
  {
    std::lock_guard<std::mutex> lock(tasks_mutex_);
    post_window_ = window_;
  }
  previous_presenter_ = SetMessagePresenter(this);
  previous_flush_signal_ = profile_cache::FlushSignal();
  profile_cache::SetFlushSignal(&OceloDg::SignalFlush);
  presenting_ = true;

  // The version item closes the system menu, after a separator.
  if (HMENU menu = ::GetSystemMenu(window_, FALSE)) {
    ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    ::AppendMenuW(menu, MF_STRING, kVersionCommand, Wide(kVersionItem).c_str());
  }
  // Drops come from the shell even when the dialog runs with more rights than the shell (as an
  // administrator): the system would otherwise keep their messages from it.
  for (UINT message : {static_cast<UINT>(WM_DROPFILES), static_cast<UINT>(WM_COPYDATA), kCopyGlobalData}) {
    ::ChangeWindowMessageFilterEx(window_, message, MSGFLT_ALLOW, nullptr);
  }
  icon_ = ProgramIcon(SM_CXICON, SM_CYICON);
  small_icon_ = ProgramIcon(SM_CXSMICON, SM_CYSMICON);
  if (icon_ != nullptr) ::SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
  if (small_icon_ != nullptr) ::SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small_icon_));

  // The caption is always set; a control's text only when its Japanese form differs.
  ::SetWindowTextW(window_, Wide(Localize(NarrowText(WindowText(window_)))).c_str());
  for (HWND child = ::GetWindow(window_, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
    const std::u16string text = WindowText(child);
    if (text.empty()) continue;
    const std::u16string localized = Localize(NarrowText(text));
    if (localized != text) ::SetWindowTextW(child, Wide(localized).c_str());
  }

  // The four targets in the order given (the list sorts; two leading blanks sort before one), none
  // selected, and a sideways extent that fits the widest beside the scroll bar and two edges.
  ::SendMessageW(targets_, WM_SETREDRAW, FALSE, 0);
  ::SendMessageW(targets_, LB_RESETCONTENT, 0, 0);
  int widest = 0;
  HDC dc = ::GetDC(targets_);
  HGDIOBJ old_font = ::SelectObject(dc, reinterpret_cast<HGDIOBJ>(::SendMessageW(targets_, WM_GETFONT, 0, 0)));
  for (std::string_view target : kTargets) {
    const std::wstring text = Wide(Localize(target));
    ::SendMessageW(targets_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    const std::size_t end = text.find_last_not_of(L" \t\r\n");
    SIZE size{};
    ::GetTextExtentPoint32W(dc, text.c_str(), end == std::wstring::npos ? 0 : static_cast<int>(end + 1), &size);
    widest = std::max(widest, static_cast<int>(size.cx));
  }
  ::SelectObject(dc, old_font);
  ::ReleaseDC(targets_, dc);
  ::SendMessageW(targets_, WM_SETREDRAW, TRUE, 0);
  ::SendMessageW(targets_, LB_SETHORIZONTALEXTENT,
                 widest + 2 * ::GetSystemMetrics(SM_CXEDGE) + ::GetSystemMetrics(SM_CXVSCROLL), 0);
  ::SendMessageW(targets_, LB_SETCURSEL, static_cast<WPARAM>(-1), 0);

  // The update check's user-agent text tells the display scale.
  set_display_dpi(DpiOfWindow(window_));

  PlaceWindow();
  ::SetWindowPos(window_, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  // Posted, so the update check starts once the dialog is up and handling its messages.
  ::PostMessageW(window_, kStartUpdateCheck, 0, 0);
}

void OceloDg::PlaceWindow() {
  // Without a stored position the dialog sits in the bottom-right corner of the work area: its own
  // position (1920, 1080 dialog units) lies beyond most screens, and a window off the screen cannot be
  // reached.
  RECT units{1920, 1080, 1920, 1080};
  ::MapDialogRect(window_, &units);
  RECT frame{};
  ::GetWindowRect(window_, &frame);
  const Rect wanted{units.left, units.top, units.left + (frame.right - frame.left),
                    units.top + (frame.bottom - frame.top)};
  const Rect fitted = FitRectInto(wanted, WorkAreaNear(wanted));
  ::SetWindowPos(window_, nullptr, fitted.left, fitted.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  Win32PlacementWindow placement(window_);
  RestoreDialogPosition(profile_, displays_, &placement, kPositionKey);
}

void OceloDg::OnCancel() {
  Win32PlacementWindow placement(window_);
  SaveDialogPosition(profile_, displays_, &placement, kPositionKey);
  End(IDCANCEL);
}

void OceloDg::End(int result) {
  if (ended_) return;
  ended_ = true;
  result_ = result;
  ::ShowWindow(window_, SW_HIDE);
}

bool OceloDg::Dispatch(MSG& msg) {
  if (window_ == nullptr || !::IsDialogMessageW(window_, &msg)) {
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  return !ended_;
}

int OceloDg::Run() {
  MSG msg;
  while (!ended_) {
    const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) {
      ::PostQuitMessage(static_cast<int>(msg.wParam));  // for the loop above this one
      return 0;
    }
    if (got < 0) return 0;
    Dispatch(msg);
  }
  return result_;
}

bool OceloDg::ProcessPendingMessages() {
  MSG msg;
  while (!ended_ && ::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) Dispatch(msg);
  return !ended_;
}

std::u16string OceloDg::SelectedText() const {
  if (targets_ == nullptr) return {};
  const LRESULT index = ::SendMessageW(targets_, LB_GETCURSEL, 0, 0);
  if (index == LB_ERR) return {};
  const LRESULT length = ::SendMessageW(targets_, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length == LB_ERR) return {};
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const LRESULT copied = ::SendMessageW(targets_, LB_GETTEXT, static_cast<WPARAM>(index),
                                        reinterpret_cast<LPARAM>(text.data()));
  text.resize(copied == LB_ERR ? 0 : static_cast<std::size_t>(copied));
  return Units(text);
}

void OceloDg::OnDropFiles(HDROP drop) {
  // The paths are all read before the run starts; the handle is released at once.
  Drop dropped{DroppedPaths(drop), SelectedText()};
  ::DragFinish(drop);
  DropFiles(dropped.paths, dropped.selected);
}

void OceloDg::DropFiles(const std::vector<std::u16string>& paths, const std::u16string& selected_text) {
  // A drop that arrives while a run's message box is up would otherwise start a second run inside the
  // first: it waits, and runs when the first has ended.
  if (dropping_) {
    waiting_drops_.push_back(Drop{paths, selected_text});
    return;
  }
  dropping_ = true;
  ProcessDropRun().OnDropFiles(paths, selected_text);
  while (!waiting_drops_.empty()) {
    const Drop next = std::move(waiting_drops_.front());
    waiting_drops_.erase(waiting_drops_.begin());
    ProcessDropRun().OnDropFiles(next.paths, next.selected);
  }
  dropping_ = false;
}

void OceloDg::ShowAboutDialog() {
  // Centred on the work area: the main dialog sits in a corner, where the version dialog would not fit.
  DialogTemplate about(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER, 0, DialogBox{0, 0, 235, 45},
                       u"ﾊﾞｰｼﾞｮﾝ情報", UiFont(kJapaneseSample));
  about.AddItem(kStaticClass, kAboutIconId, u"", SS_ICON | WS_VISIBLE, DialogBox{7, 13, 18, 21});
  about.AddItem(kStaticClass, kAboutDescriptionId, u"", SS_CENTER | SS_NOPREFIX | WS_VISIBLE,
                DialogBox{40, 10, 161, 8});
  about.AddItem(kStaticClass, kAboutCopyrightId, u"", SS_CENTER | WS_VISIBLE, DialogBox{40, 25, 161, 8});
  about.AddItem(kButtonClass, IDOK, u"OK", BS_DEFPUSHBUTTON | WS_TABSTOP | WS_VISIBLE, DialogBox{206, 13, 20, 21});
  ::DialogBoxIndirectParamW(::GetModuleHandleW(nullptr), about.Get(), window_, &AboutProc, 0);
}

void OceloDg::SignalFlush() {
  // The update check's thread has no main window, and a beep belongs to the dialog's thread.
  if (CurrentMessagePresenter() != nullptr) ::MessageBeep(MB_OK);
}

int OceloDg::Show(std::u16string_view text, unsigned type, int help_context) {
  return ShowMessageBox(window_, text, type);
}

bool OceloDg::Post(std::function<void()> task) {
  std::lock_guard<std::mutex> lock(tasks_mutex_);
  if (post_window_ == nullptr) return false;
  tasks_.push_back(std::move(task));
  if (tasks_.size() == 1 && !::PostMessageW(post_window_, kRunTasks, 0, 0)) {
    tasks_.pop_back();
    return false;
  }
  return true;
}

void OceloDg::RunPostedTasks() {
  std::vector<std::function<void()>> tasks;
  {
    std::lock_guard<std::mutex> lock(tasks_mutex_);
    tasks.swap(tasks_);
  }
  for (std::function<void()>& task : tasks) task();
}

}  // namespace ocelo
