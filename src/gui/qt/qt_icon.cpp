// The program's icon, painted with QPainter so that no image file has to ship with the program.
#include "gui/qt/qt_icon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace ocelo {
namespace {

// One sheet: a white page with a folded corner and three lines of "text" in the given colour.
void DrawSheet(QPainter& p, const QRectF& r, const QColor& ink) {
  const qreal fold = r.width() * 0.28;
  QPainterPath page;
  page.moveTo(r.left(), r.top());
  page.lineTo(r.right() - fold, r.top());
  page.lineTo(r.right(), r.top() + fold);
  page.lineTo(r.right(), r.bottom());
  page.lineTo(r.left(), r.bottom());
  page.closeSubpath();
  p.setPen(QPen(QColor(60, 60, 60), r.width() / 14));
  p.setBrush(Qt::white);
  p.drawPath(page);
  p.setPen(QPen(ink, r.height() / 12, Qt::SolidLine, Qt::RoundCap));
  for (int i = 0; i < 3; ++i) {
    const qreal y = r.top() + r.height() * (0.40 + 0.18 * i);
    p.drawLine(QPointF(r.left() + r.width() * 0.2, y), QPointF(r.right() - r.width() * 0.2, y));
  }
}

QPixmap Draw(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  const qreal s = size;
  DrawSheet(p, QRectF(s * 0.05, s * 0.05, s * 0.50, s * 0.62), QColor(40, 90, 200));
  DrawSheet(p, QRectF(s * 0.45, s * 0.33, s * 0.50, s * 0.62), QColor(200, 70, 40));
  // The arrow from the first sheet to the second.
  p.setPen(QPen(QColor(30, 150, 60), s / 11, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  const QPointF from(s * 0.18, s * 0.80), to(s * 0.40, s * 0.80);
  p.drawLine(from, to);
  p.drawLine(to, QPointF(s * 0.32, s * 0.72));
  p.drawLine(to, QPointF(s * 0.32, s * 0.88));
  return pixmap;
}

}  // namespace

QIcon ProgramIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64}) icon.addPixmap(Draw(size));
  return icon;
}

}  // namespace ocelo
