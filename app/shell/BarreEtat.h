// BarreEtat: a window's own text in the main window's status bar.
#ifndef NIVELIX_BARREETAT_H
#define NIVELIX_BARREETAT_H

#include <QString>

class QWidget;

// Shows text in the status bar of the main window that holds widget, and
// remembers it in shown; an empty text clears the bar, but only while it
// still shows what this caller put there (another panel's trouble stays).
// Does nothing for a widget outside a main window.
void ShowOwnStatus(QWidget *widget, const QString &text, QString &shown);

#endif
