// DefCom72800: the functions the program takes from the family B link
// library libcom72800.so, bound when the program is loaded.
//
// Com72800_OpenPort, Com72800_ClosePort, Com72800_Presence,
// Com72800_EchangeTrames and Com72800_LitMesure, with the same declarations
// as their family A counterparts (DefCom72500.h).
#ifndef NIVELIX_DEFCOM72800_H
#define NIVELIX_DEFCOM72800_H

#include "TypesCom72800.h"
#include "com72800.h"

#endif
