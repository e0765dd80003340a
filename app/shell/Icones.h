// Icones: the style's standard icons, made once for the whole run.
#ifndef NIVELIX_ICONES_H
#define NIVELIX_ICONES_H

#include <QIcon>
#include <QStyle>

// The application style's icon for which, the same icon object at every
// call. Windows made and destroyed many times (live panels, horizon windows,
// acquisition frames) take their icons from here: every fresh standard icon
// adds pixmaps of its own to the application's pixmap cache, so asking the
// style each time made the program grow with every panel opened.
QIcon SharedStandardIcon(QStyle::StandardPixmap which);

#endif
