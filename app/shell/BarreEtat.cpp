// BarreEtat: a window's own text in the main window's status bar.
#include "BarreEtat.h"

#include <QMainWindow>
#include <QStatusBar>

void ShowOwnStatus(QWidget *widget, const QString &text, QString &shown) {
  auto *main = widget ? qobject_cast<QMainWindow *>(widget->window()) : nullptr;
  if (main == nullptr) return;
  if (!text.isEmpty()) {
    main->statusBar()->showMessage(text);
    shown = text;
  } else if (!shown.isEmpty()) {
    if (main->statusBar()->currentMessage() == shown) main->statusBar()->clearMessage();
    shown.clear();
  }
}
