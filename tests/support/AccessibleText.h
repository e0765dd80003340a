// AccessibleText: what a screen reader reads of a widget, through the same
// interface the platform's bridge queries. (Qt sends no change events on
// the offscreen platform, which has no bridge: tests read the text after
// each change instead.)
#ifndef NIVELIX_ACCESSIBLETEXT_H
#define NIVELIX_ACCESSIBLETEXT_H

#include <QAccessible>
#include <QObject>
#include <QString>

inline QString AccessibleText(QObject *object, QAccessible::Text which = QAccessible::Name) {
  QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(object);
  return accessible ? accessible->text(which) : QStringLiteral("(not accessible)");
}

#endif
