#include "Annonce.h"

#include <QString>
#include <QWidget>

void AnnounceText(QWidget *widget, const QString &text) {
  if (widget->accessibleName() == text) return;
  // QWidget::setAccessibleName sends QAccessible::NameChanged itself.
  widget->setAccessibleName(text);
}
