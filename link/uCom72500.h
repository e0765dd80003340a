// uCom72500: the inside of the family A link library.
//
// The exported functions (com72500.h) are built from the steps declared here.
// They are declared for the library's own tests and fuzzer, which link the
// static core (com72500_core) instead of the shared library.
#ifndef NIVELIX_UCOM72500_H
#define NIVELIX_UCOM72500_H

#include <cstdint>
#include <string>

#include "PortSerie.h"
#include "com72500.h"

// Internal failure codes, turned into link result codes by CodeToLinkResult.
enum InternalCode : uint8_t {
  CodeOk = 0,
  CodeSerial = 1,       // -2
  CodeNoAnswer = 2,     // -3
  CodeNoAck = 3,        // -4
  CodeInvalid = 5,      // -6
  CodeChecksum = 6,     // -7
};

// ---- Global state -------------------------------------------------------------

extern TPortSerie *LinkPort;   // created by the first call (EnsurePort), then kept
extern bool Rs232Mode;         // frames without address byte
extern uint8_t SensorAddress;  // address of the sensor spoken to on RS485

extern const char *const VersionNumber;  // "3.0"
extern const char *const VersionDate;    // "fev 2007"

// Largest expected answer length whose payload, as hexadecimal text, fits
// the caller's 256-byte answer buffer with its terminating zero.
constexpr int32_t MaxExpectedLength = 131;

// ---- Port state ---------------------------------------------------------------

// Creates LinkPort with the sensors' line settings when it does not exist.
void EnsurePort();

// "\\.\COM" followed by n in decimal.
std::string PortName(int32_t port);

// Sets Rs232Mode and SensorAddress from the low bytes of mode and address, and
// renames LinkPort when the port name differs (reopening it when it is open).
void SelectPort(int32_t port, int32_t mode, int32_t address);

// Opens LinkPort when closed: CodeOk, or CodeSerial when the serial layer fails.
uint8_t ConnectPort();

// Closes LinkPort when open.
void DisconnectPort();

// ---- Frames -------------------------------------------------------------------

// XOR of every byte; 0 for no bytes.
uint8_t FrameChecksum(const std::string &bytes);

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

// Attention handshake, up to four tries: CodeOk or CodeNoAck. Raises EPortSerie.
uint8_t WakeSensor();

// One exchange of a command frame. command is replaced by the payload text on
// success and by the empty text on a failure after sending; it is left as it
// was when nothing was sent: CodeInvalid for an empty command or an expected
// length below 0 or above MaxExpectedLength, CodeNoAck from the handshake.
// count receives the bytes received. Raises EPortSerie.
uint8_t ExchangeFrame(std::string &command, int32_t expectedLength, int32_t &count);

#endif
