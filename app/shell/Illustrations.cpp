#include "Illustrations.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include "langue.h"

namespace {

constexpr int PictureWidth = 295;
constexpr int PictureHeight = 62;
const QColor Navy(0x1f, 0x3a, 0x5f);
const QColor Amber(0xf2, 0xa9, 0x00);

// The icon at side pixels: a disc, a level line, a bar tilted above it and
// the arc between them.
QPixmap DrawIcon(int side) {
  QPixmap pixmap(side, side);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  const qreal s = side;
  p.setPen(Qt::NoPen);
  p.setBrush(Navy);
  p.drawEllipse(QRectF(0.03 * s, 0.03 * s, 0.94 * s, 0.94 * s));

  const QPointF pivot(0.22 * s, 0.70 * s);
  p.setPen(QPen(Qt::white, 0.07 * s, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(pivot, QPointF(0.82 * s, 0.70 * s));
  p.setPen(QPen(Amber, 0.11 * s, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(pivot, QPointF(0.75 * s, 0.33 * s));
  p.setPen(QPen(Qt::white, 0.04 * s));
  p.setBrush(Qt::NoBrush);
  const qreal r = 0.38 * s;
  p.drawArc(QRectF(pivot.x() - r, pivot.y() - r, 2 * r, 2 * r), 0, 34 * 16);
  return pixmap;
}

}  // namespace

QPixmap DrawAboutPicture() {
  QPixmap pixmap(PictureWidth, PictureHeight);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);

  QLinearGradient sky(0, 0, 0, PictureHeight);
  sky.setColorAt(0, QColor(0xe8, 0xf1, 0xfa));
  sky.setColorAt(1, QColor(0xbf, 0xd6, 0xec));
  p.fillRect(pixmap.rect(), sky);

  // The spirit level: a rounded vial with its graduation and a bubble
  // resting right of the centre, as on a slightly tilted surface.
  const QRectF vial(10, 20, 100, 22);
  p.setPen(QPen(Navy, 2));
  QLinearGradient liquid(0, vial.top(), 0, vial.bottom());
  liquid.setColorAt(0, QColor(0xd9, 0xf0, 0x8a));
  liquid.setColorAt(1, QColor(0x9c, 0xc7, 0x2c));
  p.setBrush(liquid);
  p.drawRoundedRect(vial, 11, 11);
  p.setPen(QPen(Navy, 1.5));
  for (qreal x : {vial.center().x() - 16, vial.center().x() + 16})
    p.drawLine(QPointF(x, vial.top() + 3), QPointF(x, vial.bottom() - 3));
  const QRectF bubble(vial.center().x() - 6, vial.top() + 4, 26, vial.height() - 8);
  QRadialGradient shine(bubble.center() + QPointF(-4, -3), bubble.width() / 2);
  shine.setColorAt(0, Qt::white);
  shine.setColorAt(1, QColor(0xf4, 0xfb, 0xd8));
  p.setPen(QPen(QColor(0x6b, 0x8e, 0x1a), 1));
  p.setBrush(shine);
  p.drawEllipse(bubble);

  p.drawPixmap(QRect(120, 9, 44, 44), DrawIcon(88));

  QFont name = p.font();
  name.setBold(true);
  name.setPixelSize(28);
  p.setFont(name);
  p.setPen(Navy);
  p.drawText(QRectF(172, 0, PictureWidth - 176, PictureHeight), Qt::AlignLeft | Qt::AlignVCenter,
             Langue(TxtAppTitle));
  return pixmap;
}

QIcon ProgramIcon() {
  QIcon icon;
  for (int side : {16, 24, 32, 48, 64, 128, 256}) icon.addPixmap(DrawIcon(side));
  return icon;
}
