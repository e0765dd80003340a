// uCom72800: the family B link library.
//
// The port, its line settings and the attention handshake are those of the
// family A library: the shared port core (link/LinkCore.h) is linked into this
// library with its own copy of the port state; only the frames differ
// (FamilyBFrames.h). Every export catches everything: a failure of the serial
// layer becomes -2, and nothing escapes across the C boundary.
#include "com72800.h"

#include <cstring>
#include <string>

#include "FamilyBFrames.h"
#include "LinkCore.h"
#include "UtilCapt.h"

namespace {

constexpr int MeasurementAttempts = 2;

// Reads up to count bytes within the line's read timeouts.
std::string ReadAnswerBytes(std::size_t count) {
  std::string bytes(count, '\0');
  const int got = LinkPort->ReadBytes(&bytes[0], static_cast<int>(count));
  bytes.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  return bytes;
}

// One exchange of a parsed command on the selected, open port: handshake,
// request, answer, judging. receivedCount gets every byte that came back after
// the handshake. Raises EPortSerie.
int32_t ExchangeOnce(const std::string &commandBytes, int32_t expectedDigits,
                     std::string &payloadHex, int32_t &receivedCount) {
  payloadHex.clear();
  receivedCount = 0;
  if (WakeSensor() != CodeOk) return LINK_NO_ACK;

  const std::string request = frameb::BuildRequest(commandBytes, Rs232Mode, SensorAddress);
  if (LinkPort->WriteText(request) != static_cast<int>(request.size())) return LINK_PORT_FAILURE;

  std::string answer = ReadAnswerBytes(frameb::AnswerLength(expectedDigits, Rs232Mode));
  // A write is acknowledged in fewer bytes than a refusal takes.
  if (frameb::ErrorFrameContinues(answer, Rs232Mode))
    answer += ReadAnswerBytes(frameb::ErrorFrameLength(Rs232Mode) - answer.size());

  receivedCount = static_cast<int32_t>(answer.size());
  return frameb::JudgeAnswer(request, answer, Rs232Mode, expectedDigits, payloadHex);
}

void WriteAnswerText(char *answer, const std::string &text) {
  std::memcpy(answer, text.c_str(), text.size() + 1);
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) TLinkResult Com72800_OpenPort(int32_t port) {
  return OpenPortCall(port);
}

__attribute__((visibility("default"))) void Com72800_ClosePort(void) { ClosePortCall(); }

__attribute__((visibility("default"))) TLinkResult Com72800_Presence(int32_t port, int32_t mode,
                                                                    int32_t address) {
  return PresenceCall(port, mode, address);
}

__attribute__((visibility("default"))) TLinkResult Com72800_EchangeTrames(
    const char *command, char *answer, int32_t expectedLength, int32_t *receivedCount,
    int32_t port, int32_t mode, int32_t address) {
  int32_t count = 0;
  std::string payloadHex;
  int32_t result = LINK_INVALID;
  std::string commandBytes;
  if (answer != nullptr && receivedCount != nullptr && frameb::ParseCommand(command, commandBytes) &&
      frameb::ExpectedDigitsValid(expectedLength)) {
    try {
      EnsurePort();
      SelectPort(port, mode, address);
      PortForCall portForCall;
      result = CodeToLinkResult(portForCall.Open());
      if (result == LINK_OK) result = ExchangeOnce(commandBytes, expectedLength, payloadHex, count);
    } catch (...) {
      result = LINK_PORT_FAILURE;
    }
  }
  if (result != LINK_OK) payloadHex.clear();
  if (answer != nullptr) WriteAnswerText(answer, payloadHex);
  if (receivedCount != nullptr) *receivedCount = count;
  return result;
}

__attribute__((visibility("default"))) TLinkResult Com72800_LitMesure(double *measurement,
                                                                     int32_t port, int32_t mode,
                                                                     int32_t address) {
  if (measurement == nullptr) return LINK_INVALID;
  *measurement = 0.0;
  std::string commandBytes;
  frameb::ParseCommand(frameb::MeasurementCommand, commandBytes);
  try {
    EnsurePort();
    SelectPort(port, mode, address);
    PortForCall portForCall;
    int32_t result = CodeToLinkResult(portForCall.Open());
    if (result != LINK_OK) return result;
    std::string floatCode;
    int32_t count = 0;
    for (int attempt = 0; attempt < MeasurementAttempts; ++attempt) {
      result = ExchangeOnce(commandBytes, frameb::MeasurementDigits, floatCode, count);
      if (result == LINK_OK) break;
    }
    if (result == LINK_OK) *measurement = Hex8ToFloat(floatCode);
    return result;
  } catch (...) {
    *measurement = 0.0;
    return LINK_PORT_FAILURE;
  }
}

}  // extern "C"
