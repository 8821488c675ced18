// The dialog program's entry: the string pair table first, then the main dialog, run until it closes.
#include <QApplication>
#include <QFontDatabase>
#include <cstdio>
#include <cstdlib>

#include "app/drop_run.h"
#include "app/string_pairs.h"
#include "app/update_check_run.h"
#include "gui/qt/OceloDg.h"
#include "platform/fs.h"

namespace {

constexpr const char* kNoDisplay =
    "ocelo: cannot open a display; the dialog needs a graphical desktop (ocelo-cli converts files from a "
    "terminal)\n";

// Whether a desktop could be there at all: on X11 and Wayland systems a session names its display in the
// environment. Without one, Qt would end the process abnormally.
bool DisplayNamed() {
#if defined(_WIN32) || defined(__APPLE__)
  return true;
#else
  for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
#endif
}

// While the application object starts, a display that cannot be reached is a fatal message of Qt's,
// which would abort the process: it becomes a plain error and exit status 1 instead.
void StartupMessages(QtMsgType type, const QMessageLogContext&, const QString& message) {
  std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
  if (type == QtFatalMsg) {
    std::fputs(kNoDisplay, stderr);
    std::fflush(stderr);
    std::_Exit(1);
  }
}

// The Japanese texts need IPA's gothic faces; without them they show as boxes.
void NoteMissingJapaneseFont() {
  for (const char* family : {"IPAGothic", "IPAゴシック", "IPAPGothic", "IPA Pゴシック"}) {
    if (QFontDatabase::hasFamily(QString::fromUtf8(family))) return;
  }
  std::fputs("ocelo: no Japanese font found; install the package fonts-ipafont-gothic\n", stderr);
}

}  // namespace

int main(int argc, char** argv) {
  ocelo::sys::IgnoreFileSizeSignal();  // a file-size limit is a failed save, not the end of the program
  if (!DisplayNamed()) {
    std::fputs(kNoDisplay, stderr);
    return 1;
  }
  QtMessageHandler previous = qInstallMessageHandler(StartupMessages);
  QApplication app(argc, argv);
  qInstallMessageHandler(previous);

  // The table holds its rows before the dialog is built, so its texts are Japanese from the first paint.
  ocelo::AddProgramStringPairs();
  NoteMissingJapaneseFont();
  {
    ocelo::OceloDg dialog;
    dialog.exec();  // every way of closing ends the program the same way
  }
  ocelo::FinishDropRuns();
  if (ocelo::UpdateCheckRun::AnyRunning()) {
    // The update check still waits for the network on its own thread; the process ends without tearing
    // down the objects that thread may use. Everything the exit does for the user is done above.
    std::fflush(nullptr);
    std::_Exit(0);
  }
  return 0;
}
