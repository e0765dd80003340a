// langue: the numbered table of user-interface strings (langue.def).
#ifndef NIVELIX_LANGUE_H
#define NIVELIX_LANGUE_H

#include <QString>

// The name of every string of the table, with its number as value.
enum LangueId : int {
#define LANGUE(number, name, text) name = number,
#include "langue.def"
#undef LANGUE
};

// The string of the table numbered id; an empty string for a number the
// table does not hold.
QString Langue(LangueId id);

#endif
