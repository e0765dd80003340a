/* com72500: link library of the family A inclinometers (KV72500).
 *
 * Every function is synchronous and runs on the caller's thread. The library
 * holds one serial port and the link mode and sensor address of the last call;
 * calls must not overlap. Port n is the device named "\\.\COM" followed by n;
 * on Linux it is the path in the environment variable NIVELIX_COM<n> when set,
 * else /dev/ttyS<n-1>.
 *
 * A port held open whose line has hung up (a USB adapter pulled out) is closed
 * and opened again by the next call that needs it, so that the adapter plugged
 * back works at once; when the device is not back, that call gives -2 and
 * leaves the port closed.
 *
 * mode: non-zero for a point-to-point RS232 line (frames without address),
 * zero for an RS485 bus (frames begin with the address). Only the low byte of
 * mode and address is used.
 */
#ifndef NIVELIX_COM72500_H
#define NIVELIX_COM72500_H

#include "TypesCom72500.h"

/* The six functions are the only symbols the shared library exports. */
#if defined(__GNUC__)
#define COM72500_API __attribute__((visibility("default")))
#else
#define COM72500_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Opens COM<port> for the following calls. Opening the port that is already
 * open does nothing; opening another port closes the current one first.
 * Returns:
 *   0   the port is open;
 *  -2   the port cannot be opened (no device, busy, refused); no port is open. */
COM72500_API TLinkResult Com72500_OpenPort(int32_t port);

/* Closes the port; closing a closed port does nothing. */
COM72500_API void Com72500_ClosePort(void);

/* Tells whether a device acknowledges the attention byte at an address (up to
 * four tries, 50 to 69 ms apart). Never opens a closed port (a held port that
 * has hung up is opened again, as by every call).
 * Returns:
 *   0   a device acknowledged;
 *  -2   the port is not open, or the serial layer failed;
 *  -4   nothing acknowledged. */
COM72500_API TLinkResult Com72500_Presence(int32_t port, int32_t mode, int32_t address);

/* Exchanges one command frame: wakes the sensor, sends the bytes of command
 * (hexadecimal text, either case, zero-terminated, any length) with their
 * checksum and reads the answer of expectedLength bytes (echo of 4 bytes and
 * payload, without address and checksum). Two attempts. Opens and closes the
 * port for the call when closed.
 * answer (256 bytes) receives, always zero-terminated and never more than 255
 * characters: the payload as upper-case hexadecimal text on success; the
 * empty text when the last attempt failed after sending, or on a serial-layer
 * failure during the exchange; the command itself (cut to 255 characters)
 * when no request frame was sent (-6, -4, or a port that could not be opened).
 * *receivedCount receives the number of bytes of the last answer, address and
 * checksum included (0 when nothing was sent or the serial layer failed).
 * A null answer or receivedCount gives -6 with nothing sent (the other of the
 * two, when given, is filled as for -6); a null command is the empty command.
 * Returns:
 *   0   valid answer (a shorter answer that passes every check is accepted:
 *       *receivedCount tells its length);
 *  -2   the port cannot be opened, or the serial layer failed;
 *  -3   no valid answer: fewer than 2 bytes, a length the protocol does not
 *       allow, an echo that differs from the request, an error frame with a
 *       bad checksum, an unknown error byte, or error byte 9;
 *  -4   no acknowledgement of the attention byte;
 *  -6   invalid request: empty command, expectedLength negative or above 131
 *       (its answer would not fit the 256-byte answer buffer), null answer or
 *       count pointer; nothing sent;
 *  -7   wrong answer checksum, or error byte 10;
 *  -9   error byte 8;  -10 error byte 7;  -11 error byte 11;  -12 error byte 12. */
COM72500_API TLinkResult Com72500_EchangeTrames(const char *command, char *answer,
                                                int32_t expectedLength, int32_t *receivedCount,
                                                int32_t port, int32_t mode, int32_t address);

/* Reads one measurement (command 92 00 00 00; 8 characters of decimal text in
 * the answer, either decimal mark) into *measurement, in mRad. Two attempts.
 * Opens the port for the call when closed and closes it again on every path.
 * *measurement is 0 on every failure.
 * Returns:
 *   0   *measurement holds the reading;
 *  -2   the port cannot be opened, or the serial layer failed;
 *  -3   no valid answer, or a payload that is not a number;
 *  -6   measurement is a null pointer (nothing sent);
 *  -4, -7, -9 to -12   as Com72500_EchangeTrames. */
COM72500_API TLinkResult Com72500_LitMesure(double *measurement, int32_t port, int32_t mode, int32_t address);

/* Writes the version text "com72500 V3.0 - fev 2007 KORVALIS S.A." (38
 * characters and a terminating zero) into text, which must hold 39 bytes.
 * A null text is ignored. */
COM72500_API void Com72500_DllVersion(char *text);

#ifdef __cplusplus
}
#endif

#endif
