// The message box service: default answers, the summary labels, boxes only with a main window on the
// calling thread, and the dump-log summary.
#include "app/message.h"

#include <gtest/gtest.h>

#include <thread>

#include "support/sandbox.h"

namespace ocelo {
namespace {

using test::U8;

TEST(ShowMessage, DefaultAnswerOfEveryButtonSet) {
  // Per buttons value: the answers for default button 0x000, 0x100, 0x200 and 0x300 (any other).
  const int expected[16][4] = {
      {1, 1, 1, 1}, {1, 2, 1, 1}, {3, 4, 5, 3}, {6, 7, 2, 6}, {6, 7, 6, 6}, {4, 2, 4, 4},
      {1, 1, 1, 1}, {1, 1, 1, 1}, {1, 1, 1, 1}, {1, 1, 1, 1}, {1, 1, 1, 1}, {1, 1, 1, 1},
      {1, 1, 1, 1}, {1, 1, 1, 1}, {1, 1, 1, 1}, {1, 1, 1, 1},
  };
  for (unsigned buttons = 0; buttons < 16; ++buttons) {
    for (unsigned column = 0; column < 4; ++column) {
      const unsigned type = buttons | (column << 8) | 0x30;  // the icon does not matter
      SCOPED_TRACE(type);
      EXPECT_EQ(DefaultAnswer(type), expected[buttons][column]);
    }
  }
  EXPECT_EQ(DefaultAnswer(0xF04), 6);
}

TEST(ShowMessage, SummaryLabels) {
  struct Case {
    unsigned type;
    int answer;
    const char* labels;
  };
  const Case cases[] = {
      {0x000, 1, "---- OK              Button1  [OK]    \t"},
      {0x123, 7, "(?)  Yes No Cancel   Button2  [No]    \t"},
      {0x211, 2, "Stop OK Cancel       Button3  [CANCEL]\t"},
      {0x032, 3, "(!)  AbortRetryInore Button1  [Abort] \t"},
      {0x045, 4, "(i)  Retry Cancel    Button1  [Retry] \t"},
      {0x302, 5, "---- AbortRetryInore Non  (1) [Innore]\t"},
      {0x054, 6, "---- Yes No          Button1  [Yes]   \t"},
      {0x006, 1, "----                 Button1  [OK]    \t"},
      {0x000, 0, "---- OK              Button1  Bug...  \t"},
      {0x000, 8, "---- OK              Button1  Bug...  \t"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.labels);
    const std::u16string summary = MessageSummary(u"text", c.type, c.answer);
    EXPECT_EQ(U8(summary), std::string(c.labels) + "\r\ntext\r\n");
    EXPECT_EQ(summary.find(u"\r\n"), 39u);
  }
}

// A main window that records what it was asked to show and answers as told.
class FakeWindow : public MessagePresenter {
 public:
  explicit FakeWindow(int answer) : answer_(answer) {}
  int Show(std::u16string_view text, unsigned type, int help_context) override {
    text_ = text;
    type_ = type;
    help_ = help_context;
    ++shown_;
    return answer_;
  }
  int answer_;
  std::u16string text_;
  unsigned type_ = 0;
  int help_ = 0;
  int shown_ = 0;
};

TEST(ShowMessage, WithoutMainWindowAnswersTheDefaultAndLogs) {
  ASSERT_EQ(CurrentMessagePresenter(), nullptr);
  EXPECT_EQ(ShowMessage(u"Delete?", 0x123, 0), 7);
  EXPECT_EQ(ShowMessage(u"Keep?", 0x204, 0), 6);
  const std::string log = test::DumpLog();
  // In the log, CR and LF each read as a tab.
  EXPECT_NE(log.find("\t(?)  Yes No Cancel   Button2  [No]    \t\t\tDelete?\t\t\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("\t---- Yes No          Button3  [Yes]   \t\t\tKeep?\t\t\r\n"), std::string::npos) << log;
}

TEST(ShowMessage, MainWindowShowsTheBoxAndItsAnswerIsLogged) {
  FakeWindow window(9);
  SetMessagePresenter(&window);
  EXPECT_EQ(ShowMessage(u"保存できません．\r\nnotes.txt\r\n", 0x30, 42), 9);
  EXPECT_EQ(window.shown_, 1);
  EXPECT_EQ(U8(window.text_), "保存できません．\r\nnotes.txt\r\n");
  EXPECT_EQ(window.type_, 0x30u);
  EXPECT_EQ(window.help_, 42);

  // Another thread has no main window of its own: no box, the default answer.
  int other_answer = 0;
  std::thread([&] { other_answer = ShowMessage(u"from a worker", 0x4, 0); }).join();
  EXPECT_EQ(other_answer, 6);
  EXPECT_EQ(window.shown_, 1);
  EXPECT_EQ(SetMessagePresenter(nullptr), &window);

  const std::string log = test::DumpLog();
  EXPECT_NE(log.find("(!)  OK              Button1  Bug...  \t\t\t保存できません．\t\tnotes.txt\t\t\t\t\r\n"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("---- Yes No          Button1  [Yes]   \t\t\tfrom a worker"), std::string::npos) << log;
}

}  // namespace
}  // namespace ocelo
