#include "ui/qt/Banner.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace cau {

QPixmap DrawBanner(QSize size) {
  QPixmap picture(size);
  QPainter p(&picture);
  p.setRenderHint(QPainter::Antialiasing);

  QLinearGradient sky(0, 0, size.width(), size.height());
  sky.setColorAt(0, QColor(0x12, 0x3a, 0x6b));
  sky.setColorAt(1, QColor(0x4f, 0x8f, 0xd0));
  p.fillRect(picture.rect(), sky);

  // Waves leaving a point: the push of news from the courts.
  const QPointF source(size.width() - 60.0, size.height() / 2.0);
  p.setBrush(Qt::NoBrush);
  for (int i = 1; i <= 4; ++i) {
    p.setPen(QPen(QColor(255, 255, 255, 200 - 40 * i), 3));
    const double r = 11.0 * i;
    p.drawArc(QRectF(source.x() - r, source.y() - r, 2 * r, 2 * r), -60 * 16, 120 * 16);
    p.drawArc(QRectF(source.x() - r, source.y() - r, 2 * r, 2 * r), 120 * 16, 120 * 16);
  }
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0xff, 0xd0, 0x40));
  p.drawEllipse(source, 5, 5);

  QFont title(QStringLiteral("DejaVu Sans"));
  title.setPixelSize(size.height() * 2 / 5);
  title.setBold(true);
  p.setFont(title);
  p.setPen(Qt::white);
  p.drawText(QRect(16, 4, size.width() - 120, size.height() * 3 / 5),
             Qt::AlignLeft | Qt::AlignBottom, QStringLiteral("Push Causarium"));
  QFont line(QStringLiteral("DejaVu Sans"));
  line.setPixelSize(size.height() / 6);
  p.setFont(line);
  p.setPen(QColor(0xdd, 0xe8, 0xf6));
  p.drawText(QRect(18, size.height() * 3 / 5 + 2, size.width() - 120, size.height() / 3),
             Qt::AlignLeft | Qt::AlignTop, QStringLiteral("Atualizador de Processos via PUSH"));
  return picture;
}

QIcon DrawNoticeIcon() {
  QPixmap picture(16, 16);
  picture.fill(Qt::transparent);
  QPainter p(&picture);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(0x40, 0x40, 0x40), 1));
  p.setBrush(QColor(0xff, 0xf4, 0xc0));
  p.drawRect(QRectF(1.5, 3.5, 13, 9));
  QPainterPath flap;
  flap.moveTo(1.5, 3.5);
  flap.lineTo(8, 9);
  flap.lineTo(14.5, 3.5);
  p.drawPath(flap);
  return QIcon(picture);
}

}  // namespace cau
