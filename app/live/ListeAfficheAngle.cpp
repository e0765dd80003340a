#include "ListeAfficheAngle.h"

QWidget *TListAfficheAngle::AddPanel(QWidget *, TCapteur *) { return nullptr; }
void TListAfficheAngle::RemoveByNumber(int) {}
void TListAfficheAngle::RemoveAll() {}
int TListAfficheAngle::Count() const { return 0; }
QWidget *TListAfficheAngle::Item(int) const { return nullptr; }
