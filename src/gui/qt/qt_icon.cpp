// The program's icon: the PNGs that the build renders from data/ocelo.svg, the same pictures the desktop's
// icon theme gets, built into the program as Qt resources.
#include "gui/qt/qt_icon.h"

#include <QString>

namespace ocelo {

QIcon ProgramIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64, 128, 256}) {
    icon.addFile(QStringLiteral(":/ocelo/hicolor/%1x%1/apps/ocelo.png").arg(size), QSize(size, size));
  }
  return icon;
}

}  // namespace ocelo
