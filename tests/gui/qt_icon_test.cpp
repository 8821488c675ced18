// The window icon: every size is the picture rendered from data/ocelo.svg, built into the program.
#include "gui/qt/qt_icon.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <cstdlib>

namespace ocelo {
namespace {

// A missing resource (the icon library not linked, a size not rendered) gives an empty pixmap that Qt
// scales from another size or leaves null; each size is therefore checked pixel by pixel.
TEST(ProgramIcon, EverySizeIsTheRenderedPicture) {
  if (QGuiApplication::instance() == nullptr) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "ocelo_tests";
    static char* argv[] = {name, nullptr};
    new QGuiApplication(argc, argv);  // lives until the process ends
  }
  const QIcon icon = ProgramIcon();
  for (int size : {16, 24, 32, 48, 64, 128, 256}) {
    SCOPED_TRACE(size);
    const QImage file(QStringLiteral(":/ocelo/hicolor/%1x%1/apps/ocelo.png").arg(size));
    ASSERT_EQ(file.size(), QSize(size, size));
    const QImage image = icon.pixmap(QSize(size, size)).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
    ASSERT_EQ(image.size(), QSize(size, size));
    EXPECT_EQ(image, file.convertToFormat(QImage::Format_ARGB32_Premultiplied));
    // The green arrow's shaft at the lower left, nothing at the upper right corner.
    const QColor arrow = image.pixelColor(static_cast<int>(size * 0.27), static_cast<int>(size * 0.80));
    EXPECT_GT(arrow.green(), arrow.red() + 60);
    EXPECT_GT(arrow.green(), arrow.blue() + 60);
    EXPECT_EQ(image.pixelColor(size - 1, 0).alpha(), 0);
  }
}

}  // namespace
}  // namespace ocelo
