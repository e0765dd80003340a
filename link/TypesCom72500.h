/* TypesCom72500: the types that cross the boundary of the link libraries.
 * Shared by com72500 and by every caller of it; plain C so any program can bind it. */
#ifndef NIVELIX_TYPESCOM72500_H
#define NIVELIX_TYPESCOM72500_H

#include <stdint.h>

/* Signed 32-bit result of a link library function: 0 success, negative failure. */
typedef int32_t TLinkResult;

enum {
  LINK_OK = 0,              /* success */
  LINK_PORT_FAILURE = -2,   /* port cannot be opened, or the serial layer failed */
  LINK_NO_ANSWER = -3,      /* no valid answer: too short, bad length, echo mismatch, unknown error byte */
  LINK_NO_ACK = -4,         /* the sensor did not acknowledge the attention byte in four tries */
  LINK_NOT_CONFIRMED = -5,  /* not returned by com72500 */
  LINK_INVALID = -6,        /* invalid request: negative or too large expected length, empty command */
  LINK_CHECKSUM = -7,       /* wrong answer checksum, or sensor error byte 10 */
  LINK_REFUSED_8 = -9,      /* sensor error byte 8 */
  LINK_REFUSED_7 = -10,     /* sensor error byte 7 */
  LINK_REFUSED_11 = -11,    /* sensor error byte 11 */
  LINK_REFUSED_12 = -12,    /* sensor error byte 12 */
  LINK_RESERVED_13 = -13    /* not returned by com72500 */
};

/* Size of the caller's command and answer buffers. */
#define LINK_BUFFER_SIZE 256

#endif
