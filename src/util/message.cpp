// The message box service: default answers, the summary labels, and the per-thread main window.
#include "util/message.h"

#include <mutex>
#include <thread>

#include "util/dump.h"
#include "util/strings.h"

namespace ocelo {
namespace {

// A box needs an owner on the caller's own thread, so each thread has its own main window.
thread_local MessagePresenter* t_presenter = nullptr;

// Where boxes from threads without a window go: the newest presenter and the thread that registered it.
// Never destroyed, so that a late box from a thread still running at exit finds it intact.
struct PostTarget {
  std::mutex mutex;
  MessagePresenter* presenter = nullptr;
  std::thread::id thread;
};
PostTarget& Target() {
  static PostTarget* target = new PostTarget;
  return *target;
}

std::u16string_view IconLabel(unsigned type) {
  switch (type & 0xF0) {
    case 0x10: return u"Stop ";
    case 0x20: return u"(?)  ";
    case 0x30: return u"(!)  ";
    case 0x40: return u"(i)  ";
    default: return u"---- ";
  }
}

std::u16string_view ButtonsLabel(unsigned type) {
  switch (type & 0x0F) {
    case 0: return u"OK              ";
    case 1: return u"OK Cancel       ";
    case 2: return u"AbortRetryInore ";
    case 3: return u"Yes No Cancel   ";
    case 4: return u"Yes No          ";
    case 5: return u"Retry Cancel    ";
    default: return u"                ";
  }
}

std::u16string_view DefaultButtonLabel(unsigned type) {
  switch (type & 0xF00) {
    case 0x000: return u"Button1  ";
    case 0x100: return u"Button2  ";
    case 0x200: return u"Button3  ";
    default: return u"Non  (1) ";
  }
}

std::u16string_view AnswerLabel(int answer) {
  switch (answer) {
    case 1: return u"[OK]    \t";
    case 2: return u"[CANCEL]\t";
    case 3: return u"[Abort] \t";
    case 4: return u"[Retry] \t";
    case 5: return u"[Innore]\t";
    case 6: return u"[Yes]   \t";
    case 7: return u"[No]    \t";
    default: return u"Bug...  \t";
  }
}

}  // namespace

MessagePresenter* SetMessagePresenter(MessagePresenter* presenter) {
  MessagePresenter* previous = t_presenter;
  t_presenter = presenter;
  PostTarget& target = Target();
  std::lock_guard<std::mutex> lock(target.mutex);
  if (presenter != nullptr) {
    target.presenter = presenter;
    target.thread = std::this_thread::get_id();
  } else if (target.thread == std::this_thread::get_id()) {
    target.presenter = nullptr;
  }
  return previous;
}

MessagePresenter* CurrentMessagePresenter() { return t_presenter; }

int DefaultAnswer(unsigned type) {
  // Rows: buttons 0..5; columns: default button 1, 2, 3. Any other default button takes the first.
  static constexpr int kAnswers[6][3] = {
      {1, 1, 1},  // OK
      {1, 2, 1},  // OK Cancel
      {3, 4, 5},  // Abort Retry Ignore
      {6, 7, 2},  // Yes No Cancel
      {6, 7, 6},  // Yes No
      {4, 2, 4},  // Retry Cancel
  };
  const unsigned buttons = type & 0x0F;
  if (buttons > 5) return answer::kOk;
  const unsigned column = (type & 0xF00) >> 8;
  return kAnswers[buttons][column < 3 ? column : 0];
}

std::u16string MessageSummary(std::u16string_view text, unsigned type, int answer) {
  std::u16string summary;
  summary.reserve(43 + text.size());
  summary += IconLabel(type);
  summary += ButtonsLabel(type);
  summary += DefaultButtonLabel(type);
  summary += AnswerLabel(answer);
  summary += u"\r\n";
  summary += text;
  summary += u"\r\n";
  return summary;
}

int ShowMessage(std::u16string_view text, unsigned type, int help_context) {
  int result = DefaultAnswer(type);
  if (MessagePresenter* presenter = CurrentMessagePresenter()) {
    result = presenter->Show(text, type, help_context);
  }
  // Code built into a library leaves the log to its host program.
  if (LowerExtension(ModulePath()) != u"dll") DumpText(MessageSummary(text, type, result));
  return result;
}

void PostMessageBox(std::u16string text, unsigned type) {
  {
    PostTarget& target = Target();
    // Held while the task is handed over, so that the presenter cannot go meanwhile.
    std::lock_guard<std::mutex> lock(target.mutex);
    if (target.presenter != nullptr && target.presenter->Post([text, type] { ShowMessage(text, type, 0); })) return;
  }
  ShowMessage(text, type, 0);
}

}  // namespace ocelo
