// The main dialog in Win32: the exit button and the list of targets, files dropped on it, the version item
// of its system menu, its remembered position, and the main window that the message service shows its
// boxes on.
#pragma once

#include <windows.h>
// HDROP (not among the lean headers)
#include <shellapi.h>

#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "app/update_check_run.h"
#include "gui/win32/win32_placement.h"
#include "settings/profile.h"
#include "util/message.h"
#include "web/update_check.h"

namespace ocelo {

/// The main dialog. While it exists it is the calling thread's main window for message boxes.
/// Escape, the exit button and the close box save its position ("Position_OceloDg_CDialog") and end it
/// (IDCANCEL); Enter ends it without saving (IDOK). The end of the Windows session saves it as the close
/// box does.
class OceloDg : public MessagePresenter {
 public:
  using UpdateCheck = UpdateCheckRun::Check;

  /// Control ids: the hidden default button, the exit button, the target list.
  static constexpr int kOkId = IDOK;
  static constexpr int kExitId = IDCANCEL;
  static constexpr int kTargetsId = 1002;
  /// The version item's command in the system menu (the system may set the low four bits).
  static constexpr UINT kVersionCommand = 0x0010;
  /// The version item's text.
  static constexpr std::u16string_view kVersionItem = u"ﾊﾞｰｼﾞｮﾝ情報(&A)...";
  /// The position key: the title of this unit's source file.
  static constexpr std::u16string_view kPositionKey = u"OceloDg";

  /// Nothing is created yet; the update check to run once the dialog shows (none when null).
  explicit OceloDg(UpdateCheck update_check = &check_update);
  ~OceloDg() override;
  OceloDg(const OceloDg&) = delete;
  OceloDg& operator=(const OceloDg&) = delete;

  /// Builds and shows the dialog, modeless: localised texts, the four targets with none selected, the
  /// stored position, on top of other windows, accepting dropped files. The update check starts on a
  /// thread of its own once the dialog's messages are handled; it opens the browser itself when that is
  /// due. False (with a dump line) when the window cannot be made.
  bool Create();
  /// Handles the thread's messages until the dialog ends; returns how it ended (IDOK or IDCANCEL), or 0
  /// when the thread's message loop was told to quit first.
  int Run();
  /// Handles the messages that are waiting, without waiting for more; false once the dialog has ended.
  bool ProcessPendingMessages();

  HWND Window() const { return window_; }
  bool Ended() const { return ended_; }
  /// How the dialog ended: IDOK (Enter) or IDCANCEL (exit button, Escape, close box); 0 while it runs.
  int Result() const { return result_; }

  /// The selected target's text; empty when none is selected.
  std::u16string SelectedText() const;
  /// Runs one drop: the paths and the text of the entry selected at the moment of the drop. A drop that
  /// arrives while a run shows its message box waits until that run has ended.
  void DropFiles(const std::vector<std::u16string>& paths, const std::u16string& selected_text);
  /// Runs the version dialog modally.
  void ShowAboutDialog();

  /// Whether this dialog's update check has started and not yet ended.
  bool UpdateCheckRunning() const { return update_run_.Running(); }
  /// The settings cache's flush signal while a dialog exists: a short system beep, on a thread that has a
  /// main window only.
  static void SignalFlush();

  /// MessagePresenter: a MessageBoxW owned by the dialog.
  int Show(std::u16string_view text, unsigned type, int help_context) override;
  /// MessagePresenter: the task runs on the dialog's thread when it next handles its messages; tasks still
  /// waiting when the dialog goes are dropped.
  bool Post(std::function<void()> task) override;

 private:
  struct Drop {
    std::vector<std::u16string> paths;
    std::u16string selected;
  };

  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  INT_PTR HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);
  void InitDialog();
  void PlaceWindow();
  void OnCancel();
  void End(int result);
  void OnDropFiles(HDROP drop);
  void RunPostedTasks();
  bool Dispatch(MSG& msg);

  HWND window_ = nullptr;
  HWND targets_ = nullptr;
  HICON icon_ = nullptr;
  HICON small_icon_ = nullptr;
  Profile profile_;
  Win32Displays displays_;
  bool ended_ = false;
  int result_ = 0;
  bool dropping_ = false;
  std::vector<Drop> waiting_drops_;
  std::mutex tasks_mutex_;
  HWND post_window_ = nullptr;  // where Post sends its tasks (guarded by tasks_mutex_)
  std::vector<std::function<void()>> tasks_;
  bool presenting_ = false;
  MessagePresenter* previous_presenter_ = nullptr;
  void (*previous_flush_signal_)() = nullptr;
  UpdateCheckRun update_run_;
};

}  // namespace ocelo
