// Placement: where a secondary window appears.
#ifndef NIVELIX_PLACEMENT_H
#define NIVELIX_PLACEMENT_H

class QWidget;

// Moves window so that it is centred on its parent window, but kept whole on
// the parent's screen. A window without parent stays where it is.
void CentreOnOwner(QWidget *window);

#endif
