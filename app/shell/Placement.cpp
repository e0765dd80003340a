#include "Placement.h"

#include <QFontMetrics>
#include <QLabel>
#include <QRect>
#include <QScreen>
#include <QWidget>

void CentreOnOwner(QWidget *window) {
  QWidget *owner = window->parentWidget();
  if (!owner) return;
  QRect frame(QPoint(), window->frameGeometry().size());
  frame.moveCenter(owner->frameGeometry().center());
  if (const QScreen *screen = owner->screen()) {
    const QRect room = screen->availableGeometry();
    frame.moveLeft(qBound(room.left(), frame.left(), qMax(room.left(), room.right() - frame.width() + 1)));
    frame.moveTop(qBound(room.top(), frame.top(), qMax(room.top(), room.bottom() - frame.height() + 1)));
  }
  window->move(frame.topLeft());
}

int FitLabelFont(QLabel *label, int designPixels, int minPixels, int room) {
  QFont font = label->font();
  font.setPixelSize(designPixels);
  while (font.pixelSize() > minPixels && QFontMetrics(font).horizontalAdvance(label->text()) > room)
    font.setPixelSize(font.pixelSize() - 1);
  label->setFont(font);
  label->setToolTip(label->text());
  label->adjustSize();
  return font.pixelSize();
}
