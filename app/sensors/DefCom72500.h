// DefCom72500: the functions the program takes from the family A link
// library libcom72500.so, bound when the program is loaded.
//
// Com72500_OpenPort, Com72500_ClosePort, Com72500_Presence,
// Com72500_EchangeTrames and Com72500_LitMesure, declared once in the
// library's own header so that caller and library cannot disagree.
// Com72500_DllVersion is exported too but the program does not use it.
#ifndef NIVELIX_DEFCOM72500_H
#define NIVELIX_DEFCOM72500_H

#include "com72500.h"

#endif
