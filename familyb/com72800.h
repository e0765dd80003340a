/* com72800: link library of the family B inclinometers (KV72800).
 *
 * The same five functions, argument lists and port rules as com72500 (see
 * com72500.h), a hung-up port opened again by the next call included; the
 * frames are those of docs/family-b-protocol.md. */
#ifndef NIVELIX_COM72800_H
#define NIVELIX_COM72800_H

#include "TypesCom72500.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Opens COM<port> for the following calls.
 * Returns:
 *   0   the port is open; opening the port that is already open succeeds
 *       without closing or reopening it, unless its line has hung up;
 *  -2   the port cannot be opened (no device, held by another program); the
 *       port that was open before, if another, has been closed. */
TLinkResult Com72800_OpenPort(int32_t port);

/* Closes the port; closing a closed port does nothing. */
void Com72800_ClosePort(void);

/* Tells whether a device acknowledges the attention byte at an address (up to
 * four tries, 50 to 69 ms apart). Never opens a closed port (a held port that
 * has hung up is opened again, as by every call).
 * Returns:
 *   0   a device acknowledged;
 *  -2   the port is not open, or the serial layer failed;
 *  -4   nothing acknowledged. */
TLinkResult Com72800_Presence(int32_t port, int32_t mode, int32_t address);

/* One exchange of a command of six hexadecimal digits (either case), one
 * attempt. expectedLength is the number of hexadecimal digits expected after
 * the echoed command byte: 0 for a write, 2 for a read, at most 254. Opens the
 * port for the call when it is closed and closes it again on every path.
 * answer (256 bytes) receives the payload as upper-case hexadecimal text on
 * success and the empty text on every failure; *receivedCount the number of
 * bytes received after the handshake, address and checksum included, 0 when
 * no request was sent. A null answer or receivedCount gives -6 with nothing
 * sent (the other of the two, when given, is filled as for -6).
 * Returns:
 *   0   a full answer with the right checksum and echo;
 *  -2   the port cannot be opened, or the serial layer failed (adapter unplugged);
 *  -3   no valid answer: truncated, too long, the echo of another address or
 *       command, or an error byte the protocol does not know;
 *  -4   no acknowledgement of the attention byte;
 *  -5   a write (expectedLength 0) got nothing back after the handshake;
 *  -6   invalid request: command not exactly six hexadecimal digits,
 *       expectedLength outside 0..254, no answer buffer or no count pointer;
 *       nothing is sent;
 *  -7   wrong answer checksum, or the sensor found the request's checksum wrong;
 *  -9   the sensor does not know the command;
 *  -10  the sensor refused the value or register. */
TLinkResult Com72800_EchangeTrames(const char *command, char *answer, int32_t expectedLength,
                                   int32_t *receivedCount, int32_t port, int32_t mode,
                                   int32_t address);

/* Reads one measurement in mRad (command 90 00 00, the answer's 4-byte float
 * code), two attempts. Opens the port for the call when it is closed and
 * closes it again on every path. *measurement is 0 on every failure.
 * Returns 0, or the result of the last attempt as for Com72800_EchangeTrames;
 * -6 when measurement is null. */
TLinkResult Com72800_LitMesure(double *measurement, int32_t port, int32_t mode, int32_t address);

#ifdef __cplusplus
}
#endif

#endif
