// FamilyBFrames: the request and answer frames of the family B inclinometers
// (docs/family-b-protocol.md), without any port.
//
// Every function here is pure, so the whole judging of an answer can be tried
// on made-up bytes. Header only: libcom72800.so compiles it in (hidden), and
// the tests include it directly without needing the library's inside. The hex
// text and the checksum are those of UtilCapt, shared with family A.
#ifndef NIVELIX_FAMILYBFRAMES_H
#define NIVELIX_FAMILYBFRAMES_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "TypesCom72500.h"
#include "UtilCapt.h"

namespace frameb {

// Link result codes for the sensor's error bytes; the others are shared with
// family A (TypesCom72500.h).
constexpr int32_t ResultUnknownCommand = -9;  // error byte 0x01
constexpr int32_t ResultValueRefused = -10;   // error byte 0x03

// Command byte of an error frame, and the error bytes a sensor sends in it.
constexpr uint8_t ErrorMarker = 0x15;
constexpr uint8_t ErrorUnknownCommand = 0x01;
constexpr uint8_t ErrorRequestChecksum = 0x02;
constexpr uint8_t ErrorValueRefused = 0x03;

// A command is three bytes, written as six hexadecimal digits.
constexpr std::size_t CommandDigits = 6;

// Largest number of hexadecimal digits a caller may expect after the echo:
// its payload text, with the terminating zero, still fits the caller's
// 256-byte answer buffer.
constexpr int32_t MaxExpectedDigits = 254;

// The measurement command and the digits of the float code it answers with.
constexpr const char *MeasurementCommand = "900000";
constexpr int32_t MeasurementDigits = 8;

// The three command bytes of a command text of exactly six hexadecimal digits
// (either case). False, with bytes left empty, for a null pointer, an empty
// text, an odd number of digits, any other length or a non-hexadecimal character.
inline bool ParseCommand(const char *text, std::string &bytes) {
  bytes.clear();
  if (text == nullptr) return false;
  std::string parsed;
  std::size_t i = 0;
  for (; text[i] != '\0'; i += 2) {
    if (i >= CommandDigits) return false;
    const int high = HexDigitValue(text[i]);
    const int low = text[i + 1] == '\0' ? -1 : HexDigitValue(text[i + 1]);
    if (high < 0 || low < 0) return false;
    parsed.push_back(static_cast<char>(high * 16 + low));
  }
  if (i != CommandDigits) return false;
  bytes = parsed;
  return true;
}

// Whether the last byte is the checksum of the bytes before it (false when empty).
inline bool ChecksumHolds(const std::string &frame) {
  if (frame.empty()) return false;
  return FrameChecksum(frame.substr(0, frame.size() - 1)) == static_cast<uint8_t>(frame.back());
}

// Bytes in front of an answer's payload: the address on RS485, then the echo
// of the command byte.
inline std::size_t HeadLength(bool rs232) { return rs232 ? 1 : 2; }

// The request: on RS485 the address, then the command bytes, then the checksum.
inline std::string BuildRequest(const std::string &commandBytes, bool rs232, uint8_t address) {
  std::string frame;
  if (!rs232) frame.push_back(static_cast<char>(address));
  frame += commandBytes;
  frame.push_back(static_cast<char>(FrameChecksum(frame)));
  return frame;
}

// Whether expectedDigits is a number of digits the library can take.
inline bool ExpectedDigitsValid(int32_t expectedDigits) {
  return expectedDigits >= 0 && expectedDigits <= MaxExpectedDigits;
}

// Bytes of a full answer when expectedDigits digits follow the echo:
// (expectedDigits + 1) / 2 payload bytes, the head and the checksum.
inline std::size_t AnswerLength(int32_t expectedDigits, bool rs232) {
  return static_cast<std::size_t>((expectedDigits + 1) / 2) + HeadLength(rs232) + 1;
}

// Bytes of an error frame: head, error byte, checksum.
inline std::size_t ErrorFrameLength(bool rs232) { return HeadLength(rs232) + 2; }

// Whether the bytes received so far begin an error frame that is longer than
// the answer that was expected, so that the rest of it must still be read
// (only an acknowledgement is shorter than an error frame).
inline bool ErrorFrameContinues(const std::string &received, bool rs232) {
  const std::size_t head = HeadLength(rs232);
  return received.size() >= head && received.size() < ErrorFrameLength(rs232) &&
         static_cast<uint8_t>(received[head - 1]) == ErrorMarker;
}

// An error byte, as a link result code.
inline int32_t SensorErrorToResult(uint8_t errorByte) {
  switch (errorByte) {
    case ErrorUnknownCommand: return ResultUnknownCommand;
    case ErrorRequestChecksum: return LINK_CHECKSUM;
    case ErrorValueRefused: return ResultValueRefused;
    default: return LINK_NO_ANSWER;
  }
}

// Judges the answer to request (as BuildRequest made it) when expectedDigits
// digits were expected after the echo. On LINK_OK payloadHex holds the bytes
// between the echo and the checksum as upper-case hexadecimal text; on every
// other result it is empty.
// Returns:
//   LINK_OK               an answer of the full length, right checksum, echo of
//                         the request's address and command byte;
//   LINK_NO_ANSWER        any other length (truncated, too long, garbage), an
//                         echo of another address or command, or an error
//                         frame with an error byte the protocol does not know;
//   LINK_NOT_CONFIRMED    nothing at all came back to a write (expectedDigits 0);
//   LINK_CHECKSUM         wrong answer checksum (error frames included), or
//                         error byte 0x02;
//   ResultUnknownCommand  error byte 0x01;
//   ResultValueRefused    error byte 0x03.
inline int32_t JudgeAnswer(const std::string &request, const std::string &answer, bool rs232,
                           int32_t expectedDigits, std::string &payloadHex) {
  payloadHex.clear();
  const std::size_t head = HeadLength(rs232);
  if (answer.empty()) return expectedDigits == 0 ? LINK_NOT_CONFIRMED : LINK_NO_ANSWER;
  if (request.size() < head) return LINK_NO_ANSWER;

  const bool errorFrame = answer.size() == ErrorFrameLength(rs232) &&
                          static_cast<uint8_t>(answer[head - 1]) == ErrorMarker &&
                          static_cast<uint8_t>(request[head - 1]) != ErrorMarker;
  if (errorFrame) {
    if (!ChecksumHolds(answer)) return LINK_CHECKSUM;
    if (!rs232 && answer[0] != request[0]) return LINK_NO_ANSWER;
    return SensorErrorToResult(static_cast<uint8_t>(answer[head]));
  }

  if (answer.size() != AnswerLength(expectedDigits, rs232)) return LINK_NO_ANSWER;
  if (!ChecksumHolds(answer)) return LINK_CHECKSUM;
  if (answer.compare(0, head, request, 0, head) != 0) return LINK_NO_ANSWER;
  payloadHex = BytesToHex(answer.substr(head, answer.size() - head - 1));
  return LINK_OK;
}

}  // namespace frameb

#endif
