// The message box service: `ShowMessage` shows a box when the calling thread has a main window, answers
// with the box type's default button when it has none, and leaves a summary of every call in the dump log.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace ocelo {

/// Message-box type words, as on Windows: buttons (type & 0x0F), icon (type & 0xF0), default button
/// (type & 0xF00).
namespace mb {
inline constexpr unsigned kOk = 0x0, kOkCancel = 0x1, kAbortRetryIgnore = 0x2, kYesNoCancel = 0x3, kYesNo = 0x4,
                          kRetryCancel = 0x5;
inline constexpr unsigned kIconStop = 0x10, kIconQuestion = 0x20, kIconExclamation = 0x30, kIconInformation = 0x40;
inline constexpr unsigned kDefButton1 = 0x000, kDefButton2 = 0x100, kDefButton3 = 0x200;
}  // namespace mb

/// Answers: the button the user chose.
namespace answer {
inline constexpr int kOk = 1, kCancel = 2, kAbort = 3, kRetry = 4, kIgnore = 5, kYes = 6, kNo = 7;
}  // namespace answer

/// What shows a box: the main window of a user-interface thread (the Qt dialog implements it).
class MessagePresenter {
 public:
  virtual ~MessagePresenter() = default;
  /// Shows a modal box with the type's icon, buttons and default button; returns the chosen answer.
  virtual int Show(std::u16string_view text, unsigned type, int help_context) = 0;
  /// Runs the task on the window's own thread when that thread next handles its events, without waiting
  /// for it; false when the window cannot.
  virtual bool Post(std::function<void()> /*task*/) { return false; }
};

/// Registers the calling thread's main window (null: none). Only calls from the thread that registered
/// a presenter show boxes through it, as a box needs a window on the caller's thread to own it.
/// Returns the thread's previous presenter.
MessagePresenter* SetMessagePresenter(MessagePresenter* presenter);

/// The calling thread's main window, or null. The newest presenter registered on any thread is also
/// where PostMessageBox sends its boxes, until its thread registers another or none.
MessagePresenter* CurrentMessagePresenter();

/// The answer of the type's default button, the answer given when no box can be shown.
///   0x23 (Yes/No/Cancel) | 0x100 => 7 (No)      0x204 => 6 (Yes)      buttons 6..15 => 1 (OK)
int DefaultAnswer(unsigned type);

/// The dump-log summary of one box: the icon, buttons, default-button and answer labels (39 characters,
/// the last a tab), CR LF, the text, CR LF.
///   type 0, answer 1 => "---- OK              Button1  [OK]    \t\r\n" + text + "\r\n"
std::u16string MessageSummary(std::u16string_view text, unsigned type, int answer);

/// Shows the text in a box (when the calling thread has a main window) and returns the answer, or the
/// default answer without a box; either way the summary goes to the dump log.
int ShowMessage(std::u16string_view text, unsigned type = 0, int help_context = 0);

/// ShowMessage from any thread without waiting for the box: on the thread of the newest presenter when
/// it takes the task (the box comes up when that thread next handles its events), else here and now
/// (with no box when this thread has no main window). The summary goes to the dump log once answered.
void PostMessageBox(std::u16string text, unsigned type = 0);

}  // namespace ocelo
