// TextePort: the status text that names a port's trouble, from the string
// table (the sensor model's DiagnosticPort says what, this says it).
#ifndef NIVELIX_TEXTEPORT_H
#define NIVELIX_TEXTEPORT_H

#include <QString>

#include "DiagnosticPort.h"
#include "ThScrute.h"

// The device path and the cause: "permission denied (add the user to the
// dialout group)", "in use by another program", "not a serial port", "not
// found", or the system's error text. Empty for a port that is available.
QString PortTroubleText(const DiagnosticPort &port);

// The scan's words for one of its messages, for every shell that scans (the
// configuration dialog, nivelix-record --scan).
QString ScanMessageText(ScanText text);

#endif
