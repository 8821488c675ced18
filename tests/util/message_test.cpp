// The message box service: default answers, the summary labels, boxes only with a main window on the
// calling thread, and the summary in the dump log.
#include "util/message.h"

#include <gtest/gtest.h>

#include <functional>
#include <thread>
#include <vector>

#include "support/sandbox.h"

namespace ocelo {
namespace {

using test::U8;

TEST(ShowMessage, DefaultAnswerOfEveryButtonSet) {
  // Per buttons value 0..6: the answers for default button 0x000, 0x100, 0x200 and 0x300 (any other).
  const int expected[7][4] = {{1, 1, 1, 1}, {1, 2, 1, 1}, {3, 4, 5, 3}, {6, 7, 2, 6},
                              {6, 7, 6, 6}, {4, 2, 4, 4}, {1, 1, 1, 1}};
  for (unsigned buttons = 0; buttons < 16; ++buttons) {
    for (unsigned column = 0; column < 16; ++column) {
      const unsigned type = buttons | (column << 8) | 0x20;  // the icon does not matter
      SCOPED_TRACE(type);
      EXPECT_EQ(DefaultAnswer(type), expected[buttons < 6 ? buttons : 6][column < 3 ? column : 3]);
    }
  }
}

TEST(ShowMessage, SummaryLabels) {
  const struct {
    unsigned type;
    int answer;
    const char* labels;
  } cases[] = {
      {0x000, 1, "---- OK              Button1  [OK]    \t"}, {0x211, 2, "Stop OK Cancel       Button3  [CANCEL]\t"},
      {0x032, 3, "(!)  AbortRetryInore Button1  [Abort] \t"}, {0x045, 4, "(i)  Retry Cancel    Button1  [Retry] \t"},
      {0x302, 5, "---- AbortRetryInore Non  (1) [Innore]\t"}, {0x006, 0, "----                 Button1  Bug...  \t"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.labels);
    EXPECT_EQ(U8(MessageSummary(u"text", c.type, c.answer)), std::string(c.labels) + "\r\ntext\r\n");
  }
}

class FakeWindow : public MessagePresenter {
 public:
  int Show(std::u16string_view text, unsigned type, int help_context) override {
    shown_ = U8(text) + "|" + std::to_string(type) + "|" + std::to_string(help_context);
    return 9;
  }
  bool Post(std::function<void()> task) override {
    posted_.push_back(std::move(task));
    return true;
  }
  std::string shown_;
  std::vector<std::function<void()>> posted_;
};

TEST(ShowMessage, BoxOnlyWithAMainWindowOnTheCallingThreadAndAlwaysLogged) {
  EXPECT_EQ(ShowMessage(u"Delete?", 0x123, 0), 7);  // no main window: the default answer

  FakeWindow window;
  SetMessagePresenter(&window);
  EXPECT_EQ(ShowMessage(u"保存できません．\r\nnotes.txt\r\n", 0x30, 42), 9);  // the box's answer, even 9
  EXPECT_EQ(window.shown_, "保存できません．\r\nnotes.txt\r\n|48|42");
  int other = 0;
  std::thread([&] { other = ShowMessage(u"from a worker", 0x4, 0); }).join();
  EXPECT_EQ(other, 6);
  EXPECT_EQ(SetMessagePresenter(nullptr), &window);

  // In the log, CR and LF each read as a tab.
  const std::string log = test::DumpLog();
  for (const char* line : {"\t(?)  Yes No Cancel   Button2  [No]    \t\t\tDelete?\t\t\r\n",
                           "\t(!)  OK              Button1  Bug...  \t\t\t保存できません．\t\tnotes.txt\t\t\t\t\r\n",
                           "\t---- Yes No          Button1  [Yes]   \t\t\tfrom a worker\t\t\r\n"}) {
    EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
  }
}

TEST(ShowMessage, PostedBoxesGoToTheNewestMainWindowsThread) {
  FakeWindow window;
  SetMessagePresenter(&window);
  std::thread([] { PostMessageBox(u"late", 0x30); }).join();
  EXPECT_EQ(window.shown_, "");  // not shown on the worker, nor waited for
  ASSERT_EQ(window.posted_.size(), 1u);
  window.posted_.front()();  // the window's thread handles its events
  EXPECT_EQ(window.shown_, "late|48|0");
  EXPECT_EQ(SetMessagePresenter(nullptr), &window);

  // Without a main window anywhere, the box's summary is logged on the calling thread at once.
  std::thread([] { PostMessageBox(u"nobody's", 0); }).join();
  EXPECT_EQ(window.posted_.size(), 1u);
  EXPECT_NE(test::DumpLog().find("\t---- OK              Button1  [OK]    \t\t\tnobody's\t\t\r\n"), std::string::npos);
}

}  // namespace
}  // namespace ocelo
