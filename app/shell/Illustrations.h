// Illustrations: the about window's picture and the program icon, drawn here
// rather than shipped as image files, so that they scale with the screen and
// need no resource of their own.
#ifndef NIVELIX_ILLUSTRATIONS_H
#define NIVELIX_ILLUSTRATIONS_H

#include <QIcon>
#include <QPixmap>

// The picture at the top of the about window: a spirit level with its bubble
// off centre beside the program's name; 295 x 62 pixels.
QPixmap DrawAboutPicture();

// The program icon: a tilted bar over a level line and its angle arc.
QIcon ProgramIcon();

#endif
