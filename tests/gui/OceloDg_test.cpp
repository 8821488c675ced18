// The main dialog on Qt's offscreen platform: its texts and targets, closing with and without saving the
// position, the restored position, drops converted into the output folder, and the message boxes.
#include "gui/qt/OceloDg.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDropEvent>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "app/string_pairs.h"
#include "app/update_check_run.h"
#include "gui/qt/qt_drop.h"
#include "gui/qt/qt_message_box.h"
#include "settings/placement.h"
#include "settings/profile_cache.h"
#include "support/sandbox.h"
#include "support/update_gate.h"
#include "util/message.h"
#include "version/version_info.h"

namespace ocelo {
namespace {

using test::Hex;
using test::U16;
using test::U8;

constexpr std::u16string_view kSection = u"Position\\Dialog";
constexpr std::u16string_view kEntry = u"Position_OceloDg_CDialog";

std::atomic<int> g_update_checks{0};
bool CountingUpdateCheck() {
  ++g_update_checks;
  return false;
}

// Runs the event loop until `done` holds; false when it still does not after a minute, a bound only a lost
// event reaches (a round without events returns at once, so a count of rounds would be no bound on a busy
// machine, where another thread's event may come late).
template <typename Done>
bool ProcessEventsUntil(Done done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  while (!done() && std::chrono::steady_clock::now() < deadline) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    if (!done()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return done();
}

class OceloDgTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (QApplication::instance() != nullptr) return;
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "ocelo_tests";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);  // lives until the process ends
  }
  void SetUp() override {
    ClearStringPairs();
    AddProgramStringPairs();
    Profile(u"").WriteString(kSection, kEntry, std::nullopt);
  }
  void TearDown() override { ClearStringPairs(); }

  static std::u16string Stored() { return Profile(u"").GetString(kSection, kEntry, u""); }
};

TEST_F(OceloDgTest, ShowsJapaneseTextsAndTheFourTargetsWithNoneSelected) {
  const int checks = g_update_checks;
  MessagePresenter* before = CurrentMessagePresenter();
  void (*flush_signal_before)() = profile_cache::FlushSignal();
  {
    OceloDg dialog(&CountingUpdateCheck);
    EXPECT_EQ(g_update_checks, checks) << "the update check waits until the dialog is shown";
    EXPECT_EQ(profile_cache::FlushSignal(), &OceloDg::SignalFlush);
    EXPECT_EQ(dialog.windowTitle(), QString::fromUtf16(u"文字コードを変更"));
    auto* exit = dialog.findChild<QPushButton*>(QStringLiteral("exit"));
    auto* ok = dialog.findChild<QPushButton*>(QStringLiteral("ok"));
    auto* targets = dialog.findChild<QListWidget*>(QStringLiteral("targets"));
    ASSERT_TRUE(exit && ok && targets);
    EXPECT_EQ(exit->text(), QString::fromUtf16(u"終了(&X)"));
    EXPECT_EQ(ok->text(), QStringLiteral("OK"));
    EXPECT_TRUE(ok->isDefault());
    EXPECT_TRUE(exit->x() < targets->x());
    const QStringList expected = {"  0 : Copy", "  8 : UTF-8", " 16 : UTF-16", " 74 : ShiftJIS"};
    QStringList shown;
    for (int i = 0; i < targets->count(); ++i) shown << targets->item(i)->text();
    EXPECT_EQ(shown, expected);
    EXPECT_TRUE(targets->selectedItems().isEmpty());
    EXPECT_EQ(dialog.SelectedText(), u"");
    EXPECT_FALSE(exit->isFlat());
    for (QWidget* control : std::initializer_list<QWidget*>{exit, targets}) {
      EXPECT_FALSE(control->accessibleName().isEmpty());
      EXPECT_FALSE(control->toolTip().isEmpty());
    }
    for (int i = 0; i < targets->count(); ++i) EXPECT_FALSE(targets->item(i)->toolTip().isEmpty()) << i;
    // The caption fits beside the title bar's icon and buttons.
    EXPECT_GT(dialog.width(), QFontMetrics(QApplication::font()).horizontalAdvance(dialog.windowTitle()));
    EXPECT_TRUE(dialog.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(dialog.acceptDrops());
    EXPECT_EQ(CurrentMessagePresenter(), &dialog);

    dialog.show();
    EXPECT_FALSE(ok->isVisible());
    EXPECT_TRUE(exit->isVisible() && targets->isVisible());
    // The list taking the focus makes no entry current: nothing looks chosen before the user picks.
    QFocusEvent focus(QEvent::FocusIn, Qt::TabFocusReason);
    QCoreApplication::sendEvent(targets, &focus);
    EXPECT_EQ(targets->currentRow(), -1);
    EXPECT_TRUE(targets->selectedItems().isEmpty());
    EXPECT_TRUE(ProcessEventsUntil([&] { return !dialog.UpdateCheckRunning(); }));
    EXPECT_EQ(g_update_checks, checks + 1);
  }
  EXPECT_EQ(CurrentMessagePresenter(), before);
  EXPECT_EQ(profile_cache::FlushSignal(), flush_signal_before);
}

TEST_F(OceloDgTest, UpdateCheckRunsAfterTheDialogIsShownWithoutHoldingItUp) {
  test::StallingGate().Reset();
  {
    OceloDg dialog(&test::StallingUpdateCheck);
    bool finished = false;
    QObject::connect(&dialog, &OceloDg::UpdateCheckFinished, [&] { finished = true; });
    EXPECT_FALSE(dialog.UpdateCheckRunning());
    dialog.show();
    test::StallingGate().WaitUntilEntered();
    // The check has started and waits; the dialog is up and its event loop runs.
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_TRUE(dialog.UpdateCheckRunning());
    EXPECT_TRUE(UpdateCheckRun::AnyRunning());
    QCoreApplication::processEvents();
    EXPECT_FALSE(finished);
    test::StallingGate().Open();
    EXPECT_TRUE(ProcessEventsUntil([&] { return finished; }));
    EXPECT_FALSE(dialog.UpdateCheckRunning());
  }
  EXPECT_FALSE(UpdateCheckRun::AnyRunning());
}

TEST_F(OceloDgTest, DialogClosedWhileTheUpdateCheckWaitsLeavesItToEndAlone) {
  test::StallingGate().Reset();
  {
    OceloDg dialog(&test::StallingUpdateCheck);
    dialog.show();
    test::StallingGate().WaitUntilEntered();
  }  // gone while the check still waits
  EXPECT_TRUE(UpdateCheckRun::AnyRunning());
  test::StallingGate().Open();
  EXPECT_TRUE(ProcessEventsUntil([] { return !UpdateCheckRun::AnyRunning(); }));
}

TEST_F(OceloDgTest, EscapeExitAndCloseBoxSaveThePositionEnterDoesNot) {
  struct Case {
    const char* how;
    void (*close)(OceloDg&);
    bool saved;
  };
  const Case cases[] = {
      {"Escape",
       [](OceloDg& d) {
         QKeyEvent key(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
         QCoreApplication::sendEvent(&d, &key);
       },
       true},
      {"exit button", [](OceloDg& d) { d.findChild<QPushButton*>(QStringLiteral("exit"))->click(); }, true},
      {"close box", [](OceloDg& d) { d.close(); }, true},
      {"Enter",
       [](OceloDg& d) {
         QKeyEvent key(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
         QCoreApplication::sendEvent(&d, &key);
       },
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.how);
    Profile(u"").WriteString(kSection, kEntry, std::nullopt);
    OceloDg dialog(nullptr);
    dialog.show();
    c.close(dialog);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), c.saved ? QDialog::Rejected : QDialog::Accepted);
    if (c.saved) {
      EXPECT_EQ(Profile(u"").GetRect(kSection, kEntry, Rect{}), ToRect(dialog.geometry()));
    } else {
      EXPECT_EQ(Stored(), u"");
    }
  }
}

TEST_F(OceloDgTest, OpensAtTheStoredPositionInsideTheScreen) {
  OceloDg first(nullptr);
  const QSize size = first.geometry().size();
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  // Stored inside the screen: kept; stored beyond its right edge: pulled back onto it.
  Profile(u"").WriteRect(kSection, kEntry, ToRect(QRect(QPoint(100, 120), size)));
  EXPECT_EQ(OceloDg(nullptr).geometry().topLeft(), QPoint(100, 120));
  Profile(u"").WriteRect(kSection, kEntry, ToRect(QRect(QPoint(screen.right() + 500, 40), size)));
  EXPECT_EQ(OceloDg(nullptr).geometry().topLeft(), QPoint(screen.right() + 1 - size.width(), 40));
}

TEST_F(OceloDgTest, OpenCloseCyclesLeaveTheWindowWhereItWas) {
  QRect first;
  for (int cycle = 0; cycle < 20; ++cycle) {
    SCOPED_TRACE(cycle);
    OceloDg dialog(nullptr);
    if (cycle == 0) dialog.move(200, 150);
    dialog.show();
    QCoreApplication::processEvents();
    if (cycle == 0) first = dialog.geometry();
    // What is saved is what the window reports, frame or not, and what comes back is the same rectangle.
    EXPECT_EQ(dialog.geometry(), first);
    dialog.reject();
    EXPECT_EQ(Profile(u"").GetRect(kSection, kEntry, Rect{}), ToRect(first));
  }
}

TEST_F(OceloDgTest, SessionEndSignalsCloseTheDialogAsTheCloseBoxDoes) {
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(signal);
    Profile(u"").WriteString(kSection, kEntry, std::nullopt);
    OceloDg dialog(nullptr);
    dialog.show();
    ASSERT_EQ(std::raise(signal), 0);
    EXPECT_TRUE(ProcessEventsUntil([&] { return !dialog.isVisible(); }));
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_EQ(Profile(u"").GetRect(kSection, kEntry, Rect{}), ToRect(dialog.geometry()));
  }
  // With two dialogs the newer one closes; once it is gone, the older one receives the next signal.
  OceloDg older(nullptr);
  older.show();
  {
    OceloDg newer(nullptr);
    newer.show();
    ASSERT_EQ(std::raise(SIGTERM), 0);
    EXPECT_TRUE(ProcessEventsUntil([&] { return !newer.isVisible(); }));
    EXPECT_TRUE(older.isVisible());
  }
  ASSERT_EQ(std::raise(SIGTERM), 0);
  EXPECT_TRUE(ProcessEventsUntil([&] { return !older.isVisible(); }));

  // A signal ignored before the dialog starts (a job started with "&", nohup) stays ignored, during and after.
  struct sigaction ignore = {}, before = {}, now = {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGINT, &ignore, &before);
  {
    OceloDg dialog(nullptr);
    dialog.show();
    ::sigaction(SIGINT, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_IGN);
    ASSERT_EQ(std::raise(SIGINT), 0);
    ASSERT_EQ(std::raise(SIGTERM), 0);
    EXPECT_TRUE(ProcessEventsUntil([&] { return !dialog.isVisible(); }));
  }
  ::sigaction(SIGINT, &before, &now);
  EXPECT_EQ(now.sa_handler, SIG_IGN);
}

// A drag entering the dialog and dropped, as a file manager sends it: the uri-list bytes, percent-encoded.
void Drop(OceloDg& dialog, const std::string& path) {
  QMimeData data;
  data.setData(QStringLiteral("text/uri-list"),
               "file://" + QByteArray::fromStdString(path).toPercentEncoding("/") + "\r\n");
  QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(&dialog, &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(&dialog, &drop);
  EXPECT_TRUE(drop.isAccepted());
  QCoreApplication::sendPostedEvents();  // the run starts once the drag has ended
}

class RecordingPresenter : public MessagePresenter {
 public:
  RecordingPresenter() { previous_ = SetMessagePresenter(this); }
  ~RecordingPresenter() override { SetMessagePresenter(previous_); }
  int Show(std::u16string_view text, unsigned, int) override {
    shown.emplace_back(text);
    return answer::kOk;
  }
  std::vector<std::u16string> shown;

 private:
  MessagePresenter* previous_ = nullptr;
};

TEST_F(OceloDgTest, DroppedFileIsConvertedIntoTheDroppedFolderWithTheSelectedTarget) {
  const std::string root = test::TestFolder();
  std::filesystem::create_directories(root + "/out");
  std::filesystem::create_directories(root + "/in");
  // A name that is not UTF-8 ("\xE9t\xE9.txt", Latin-1) must reach the drop run byte for byte.
  const std::string name = "\xE9t\xE9.txt";
  test::WriteBytes(root + "/in/" + name, Hex("41 C3 A9 0A"));  // "Aé\n" in UTF-8

  OceloDg dialog(nullptr);
  RecordingPresenter presenter;  // a box would wait for a click
  auto* targets = dialog.findChild<QListWidget*>(QStringLiteral("targets"));
  targets->item(2)->setSelected(true);
  EXPECT_EQ(dialog.SelectedText(), u" 16 : UTF-16");
  Drop(dialog, root + "/out");
  Drop(dialog, root + "/in/" + name);
  EXPECT_TRUE(presenter.shown.empty()) << U8(presenter.shown.front());
  EXPECT_EQ(test::ToHex(test::ReadBytes(root + "/out/" + name)), "FF FE 41 00 E9 00 0A 00");
  EXPECT_EQ(test::ToHex(test::ReadBytes(root + "/in/" + name)), "41 C3 A9 0A");
}

TEST(DroppedPaths, KeepsLocalFilesInOrderAndEveryByteOfTheirNames) {
  QMimeData data;
  data.setData(QStringLiteral("text/uri-list"),
               "# a comment\r\n"
               "file:///tmp/a%20b.txt\r\n"
               "https://example.org/page\r\n"
               "file://otherhost/etc/passwd\r\n"
               "file://localhost/x/%E9.txt\r\n"
               "FILE:/y?query#part\n");
  const std::vector<std::u16string> expected = {u"/tmp/a b.txt", u"/x/\xDCE9.txt", u"/y"};
  EXPECT_EQ(DroppedPaths(data), expected);

  QMimeData urls;  // without a uri-list: Qt's URLs
  urls.setUrls({QUrl(QStringLiteral("file:///tmp/%E6%97%A5.txt")), QUrl(QStringLiteral("http://h/x"))});
  urls.removeFormat(QStringLiteral("text/uri-list"));
  EXPECT_TRUE(DroppedPaths(urls).empty());  // setUrls keeps its URLs only in that format
}

TEST_F(OceloDgTest, MessageBoxAnswersWithTheButtonChosen) {
  struct Case {
    unsigned type;
    int key;
    int answer;
  };
  const Case cases[] = {
      {mb::kOk | mb::kIconExclamation, Qt::Key_Return, answer::kOk},
      {mb::kYesNoCancel | mb::kDefButton2, Qt::Key_Return, answer::kNo},
      {mb::kYesNo | mb::kIconQuestion, Qt::Key_Return, answer::kYes},
      {mb::kOkCancel, Qt::Key_Escape, answer::kCancel},
      {mb::kAbortRetryIgnore | mb::kDefButton3, Qt::Key_Return, answer::kIgnore},
  };
  OceloDg dialog(nullptr);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    QTimer::singleShot(0, [key = c.key] {
      QWidget* box = QApplication::activeModalWidget();
      ASSERT_NE(box, nullptr);
      // Every box carries the program's caption, with room for it (bold, as title bars draw it) beside the
      // title bar's icon and three buttons, even when its text is short.
      EXPECT_EQ(box->windowTitle(), QString::fromUtf16(u"文字コードを変更"));
      QFont bold = QApplication::font();
      bold.setBold(true);
      EXPECT_GT(box->width(), QFontMetrics(bold).horizontalAdvance(box->windowTitle()) + 96);
      QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
      QCoreApplication::sendEvent(box, &press);
    });
    EXPECT_EQ(ShowMessage(u"same a", c.type), c.answer);
  }
}

TEST_F(OceloDgTest, BoxPostedFromAnotherThreadComesUpOnTheDialogsThread) {
  OceloDg dialog(nullptr);
  dialog.show();
  std::thread([] { PostMessageBox(u"The DDE transaction failed.", 0); }).join();
  QString text;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      text = box->text();
      EXPECT_EQ(box->thread(), dialog.thread());
      box->accept();
    }
  });
  poll.start(5);
  EXPECT_TRUE(ProcessEventsUntil([&] { return !text.isEmpty(); }));
  EXPECT_EQ(text, QStringLiteral("The DDE transaction failed."));
}

TEST_F(OceloDgTest, MenuKeyAndShiftF10OpenTheContextMenu) {
  const struct {
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    bool opens;
  } cases[] = {
      {Qt::Key_Menu, Qt::NoModifier, true},
      {Qt::Key_F10, Qt::ShiftModifier, true},
      {Qt::Key_F10, Qt::NoModifier, false},
  };
  OceloDg dialog(nullptr);
  dialog.show();
  auto* list = dialog.findChild<QListWidget*>(QStringLiteral("targets"));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key);
    bool opened = false;
    QTimer::singleShot(0, [&] {
      if (QWidget* menu = QApplication::activePopupWidget()) {
        opened = true;
        menu->close();
      }
    });
    QKeyEvent key(QEvent::KeyPress, c.key, c.modifiers);
    QCoreApplication::sendEvent(list, &key);
    QCoreApplication::processEvents();
    EXPECT_EQ(opened, c.opens);
  }
}

TEST_F(OceloDgTest, ContextMenuOfTheListOffersTheVersionDialog) {
  OceloDg dialog(nullptr);
  dialog.show();
  QWidget* list = dialog.findChild<QListWidget*>(QStringLiteral("targets"))->viewport();
  QStringList items;
  QString opened;
  QTimer::singleShot(0, [&] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(menu, nullptr);
    for (QAction* action : menu->actions()) items << action->text();
    QTimer::singleShot(0, [&] {
      QWidget* about = QApplication::activeModalWidget();
      ASSERT_NE(about, nullptr);
      opened = about->windowTitle();
      about->close();
    });
    menu->actions().front()->trigger();
    menu->close();
  });
  QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5), list->mapToGlobal(QPoint(5, 5)));
  QCoreApplication::sendEvent(list, &event);
  EXPECT_EQ(items, QStringList{QString::fromUtf16(u"ﾊﾞｰｼﾞｮﾝ情報(&A)...")});
  EXPECT_EQ(opened, QString::fromUtf16(u"ﾊﾞｰｼﾞｮﾝ情報"));
}

TEST_F(OceloDgTest, VersionDialogShowsTheProgramsDescriptionAndCopyright) {
  OceloDg dialog(nullptr);
  AboutDialog about(&dialog, dialog.windowIcon());
  EXPECT_EQ(about.windowTitle(), QString::fromUtf16(u"ﾊﾞｰｼﾞｮﾝ情報"));
  const std::optional<AboutBoxTexts> texts = about_box_texts();
  ASSERT_TRUE(texts.has_value());
  EXPECT_EQ(about.findChild<QLabel*>(QStringLiteral("description"))->text().toStdU16String(), texts->description);
  EXPECT_EQ(about.findChild<QLabel*>(QStringLiteral("copyright"))->text().toStdU16String(), texts->copyright);
}

}  // namespace
}  // namespace ocelo
