// TypesCom72800: the types that cross the boundary of the family B link
// library. Both link libraries share one calling interface, so these are the
// family A types: TLinkResult, the LINK_ result codes and LINK_BUFFER_SIZE.
#ifndef NIVELIX_TYPESCOM72800_H
#define NIVELIX_TYPESCOM72800_H

#include "TypesCom72500.h"

#endif
