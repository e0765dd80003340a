/* com72800: link library of the family B inclinometers (KV72800).
 *
 * The same five functions, argument lists and port rules as com72500 (see
 * com72500.h); the frames are those of docs/family-b-protocol.md. */
#ifndef NIVELIX_COM72800_H
#define NIVELIX_COM72800_H

#include "TypesCom72500.h"

#ifdef __cplusplus
extern "C" {
#endif

/* 0, or -2 when the port cannot be opened. Opening the open port succeeds
 * without disturbing it; another port closes the current one first. */
TLinkResult Com72800_OpenPort(int32_t port);

/* Closes the port; closing a closed port does nothing. */
void Com72800_ClosePort(void);

/* 0 when a device acknowledges the attention byte, -4 when none does,
 * -2 when the port is not open or the serial layer failed. */
TLinkResult Com72800_Presence(int32_t port, int32_t mode, int32_t address);

/* One exchange of a six-digit command; expectedLength is the number of
 * hexadecimal digits expected after the echo (0 for a write, 2 for a read).
 * Opens and closes the port for the call when closed. One attempt.
 * Returns 0, -2 (port or serial failure), -3 (no valid answer), -4 (no
 * acknowledgement), -5 (write not acknowledged), -6 (invalid request),
 * -7 (wrong checksum), -9 (unknown command), -10 (value refused). */
TLinkResult Com72800_EchangeTrames(const char *command, char *answer, int32_t expectedLength,
                                   int32_t *receivedCount, int32_t port, int32_t mode,
                                   int32_t address);

/* One measurement in mRad, two attempts; *measurement is 0 on every failure.
 * Opens and closes the port for the call when closed. Results as above. */
TLinkResult Com72800_LitMesure(double *measurement, int32_t port, int32_t mode, int32_t address);

#ifdef __cplusplus
}
#endif

#endif
