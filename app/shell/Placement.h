// Placement: where a secondary window appears, and how a caption keeps to
// the room it has.
#ifndef NIVELIX_PLACEMENT_H
#define NIVELIX_PLACEMENT_H

class QLabel;
class QWidget;

// Moves window so that it is centred on its parent window, but kept whole on
// the parent's screen. A window without parent stays where it is.
void CentreOnOwner(QWidget *window);

// Gives label the largest font, from designPixels down to minPixels high,
// in which its text fits room pixels wide, sizes the label to its text and
// shows the whole text as its tool tip (below minPixels it may still run
// past room). Returns the pixel height chosen.
int FitLabelFont(QLabel *label, int designPixels, int minPixels, int room);

#endif
