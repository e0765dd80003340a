// What a screen reader reads of a widget, through the interface the
// platform's bridge queries. The offscreen platform has no bridge, so Qt
// sends it no change events: tests read the text after each change.
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
