// uCom72500: the inside of the family A link library.
//
// The exported functions (com72500.h) are built from the frame steps declared
// here and the port steps of LinkCore.h. They are declared for the library's
// own tests and fuzzer, which link the static core (com72500_core) instead of
// the shared library.
#ifndef NIVELIX_UCOM72500_H
#define NIVELIX_UCOM72500_H

#include <cstdint>
#include <string>

#include "LinkCore.h"
#include "com72500.h"

extern const char *const VersionNumber;  // "3.0"
extern const char *const VersionDate;    // "fev 2007"

// Largest expected answer length whose payload, as hexadecimal text, fits
// the caller's 256-byte answer buffer with its terminating zero.
constexpr int32_t MaxExpectedLength = 131;

// ---- Frames -------------------------------------------------------------------

// False below 2 bytes; else whether the last byte is the checksum of the others.
bool CheckFrame(const std::string &frame);

// The sensor's error byte to an internal failure code (unknown bytes, and
// byte 9, give CodeNoAnswer).
uint8_t SensorErrorToCode(uint8_t errorByte);

// Judges an answer against the request frame it answers, in the protocol's
// order (length, error frame, checksum, echo). On CodeOk, payloadHex holds the
// bytes between the echoed head and the checksum as hexadecimal text; an
// answer no longer than the head (whose checksum byte would be part of the
// echo) is CodeNoAnswer. Pure: the fuzzer feeds it arbitrary answers.
uint8_t JudgeAnswer(const std::string &request, const std::string &answer, bool rs232,
                    std::string &payloadHex);

// One exchange of a command frame. command is replaced by the payload text on
// success and by the empty text on a failure after sending; it is left as it
// was when nothing was sent: CodeInvalid for an empty command or an expected
// length below 0 or above MaxExpectedLength, CodeNoAck from the handshake.
// count receives the bytes received. Raises EPortSerie.
uint8_t ExchangeFrame(std::string &command, int32_t expectedLength, int32_t &count);

#endif
