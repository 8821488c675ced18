// The X-server suite's helper, a Qt program of its own: a plain window to stack against, and screen grabs
// (no image tool to install). The drag source is ocelo_xdnd_source.
//   x11_helper window X Y W H [TITLE]    a plain window filled with magenta, until it is closed.
//   x11_helper shot FILE X Y W H [PREV]  saves that part of the screen as PNG once it has stopped changing
//                                        (and differs from the PNG file PREV, when given).
//   x11_helper pixel X Y                 prints the screen's colour at X,Y as #rrggbb.
#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QThread>
#include <QWidget>
#include <cstdio>

namespace {

constexpr QRgb kMagenta = 0xFFFF00FF;

class Block : public QWidget {
 public:
  explicit Block(const QString& title) {
    setWindowTitle(title);
    setAutoFillBackground(true);
    QPalette palette;
    palette.setColor(QPalette::Window, QColor::fromRgb(kMagenta));
    setPalette(palette);
  }
};

QImage Grab(const QRect& area) {
  QScreen* screen = QGuiApplication::primaryScreen();
  return screen->grabWindow(0, area.x(), area.y(), area.width(), area.height()).toImage();
}

int Shot(const QString& file, const QRect& area, const QString& previous_file) {
  const QImage previous = previous_file.isEmpty() ? QImage() : QImage(previous_file);
  QImage last = Grab(area);
  QElapsedTimer timer;
  timer.start();
  // Stable over two grabs a tenth of a second apart, and no longer the earlier picture: a bound of 20 s
  // keeps a stuck screen from holding the suite.
  while (timer.elapsed() < 20000) {
    QThread::msleep(100);
    const QImage now = Grab(area);
    const bool stable = now == last;
    last = now;
    if (stable && (previous.isNull() || now.convertToFormat(previous.format()) != previous)) break;
  }
  return last.save(file, "PNG") ? 0 : 1;
}

int Usage() {
  std::fputs("usage: x11_helper window X Y W H [TITLE] | shot FILE X Y W H [PREV] | pixel X Y\n", stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const QStringList args = QApplication::arguments();
  if (args.size() < 2) return Usage();
  const QString mode = args[1];
  if (mode == QStringLiteral("window") && (args.size() == 6 || args.size() == 7)) {
    Block block(args.size() == 7 ? args[6] : QStringLiteral("ocelo-other-window"));
    block.setGeometry(args[2].toInt(), args[3].toInt(), args[4].toInt(), args[5].toInt());
    block.show();
    return app.exec();
  }
  if (mode == QStringLiteral("shot") && (args.size() == 7 || args.size() == 8)) {
    return Shot(args[2], QRect(args[3].toInt(), args[4].toInt(), args[5].toInt(), args[6].toInt()),
                args.size() == 8 ? args[7] : QString());
  }
  if (mode == QStringLiteral("pixel") && args.size() == 4) {
    const QImage image = Grab(QRect(args[2].toInt(), args[3].toInt(), 1, 1));
    if (image.isNull()) return 1;
    std::printf("%s\n", QColor(image.pixel(0, 0)).name().toUtf8().constData());
    return 0;
  }
  return Usage();
}
