// uCom72500: the family A link library - port state, frame exchange, presence
// and measurement reading.
//
// Nothing may cross the C boundary as an exception: every exported function
// catches whatever the serial layer (or the allocator) raises and turns it
// into the port failure code -2.
#include "uCom72500.h"

#include <cstring>

#include "UtilCapt.h"

const char *const VersionNumber = "3.0";
const char *const VersionDate = "fev 2007";

namespace {

// Lets the line settle after the port was (re)opened or the previous call.
constexpr int ExchangePauseMs = 10;
constexpr int ExchangeAttempts = 2;

const char *const MeasurementCommand = "92000000";
constexpr int32_t MeasurementLength = 12;

// Error bytes of a family A error frame.
enum SensorErrorByte : uint8_t {
  ErrorByteRefused7 = 7,
  ErrorByteRefused8 = 8,
  ErrorByteRefused9 = 9,  // a refusal the program cannot tell apart: no valid answer
  ErrorByteChecksum = 10,
  ErrorByteRefused11 = 11,
  ErrorByteRefused12 = 12,
};

// Copies text into a caller's 256-byte buffer, cutting it so that the
// terminating zero always fits.
void CopyToCallerBuffer(const std::string &text, char *buffer) {
  size_t length = text.size() < LINK_BUFFER_SIZE - 1 ? text.size() : LINK_BUFFER_SIZE - 1;
  std::memcpy(buffer, text.data(), length);
  buffer[length] = '\0';
}

// Up to two exchanges, the second at once after a failed first. text is the
// caller's command on entry and what the last attempt left on return.
uint8_t ExchangeWithRetry(const std::string &command, int32_t expectedLength, std::string &text,
                          int32_t &count) {
  uint8_t code = CodeNoAnswer;
  for (int attempt = 0; attempt < ExchangeAttempts; ++attempt) {
    text = command;
    code = ExchangeFrame(text, expectedLength, count);
    if (code == CodeOk) break;
  }
  return code;
}

}  // namespace

// ---- Frames -------------------------------------------------------------------

bool CheckFrame(const std::string &frame) {
  if (frame.size() < 2) return false;
  return FrameChecksum(frame.substr(0, frame.size() - 1)) == static_cast<uint8_t>(frame.back());
}

uint8_t SensorErrorToCode(uint8_t errorByte) {
  switch (errorByte) {
    case ErrorByteRefused7: return CodeRefused7;
    case ErrorByteRefused8: return CodeRefused8;
    case ErrorByteChecksum: return CodeChecksum;
    case ErrorByteRefused11: return CodeRefused11;
    case ErrorByteRefused12: return CodeRefused12;
    case ErrorByteRefused9:
    default: return CodeNoAnswer;
  }
}

uint8_t JudgeAnswer(const std::string &request, const std::string &answer, bool rs232,
                    std::string &payloadHex) {
  payloadHex.clear();
  const size_t k = answer.size();
  if (k <= 1) return CodeNoAnswer;
  if (k == 2) {
    if (!rs232 || !CheckFrame(answer)) return CodeNoAnswer;
    return SensorErrorToCode(static_cast<uint8_t>(answer[0]));
  }
  if (k == 3 && !rs232) {
    if (!CheckFrame(answer)) return CodeNoAnswer;
    return SensorErrorToCode(static_cast<uint8_t>(answer[1]));
  }
  if ((k == 3 && rs232) || (k == 4 && !rs232)) return CodeNoAnswer;
  if (!CheckFrame(answer)) return CodeChecksum;
  const size_t head = rs232 ? 4 : 5;
  if (answer.compare(0, head, request, 0, head) != 0) return CodeNoAnswer;
  // The echoed head must be followed by at least the checksum byte; otherwise
  // the checksum itself was taken for part of the echo.
  if (k < head + 1) return CodeNoAnswer;
  payloadHex = BytesToHex(answer.substr(head, k - head - 1));
  return CodeOk;
}

uint8_t ExchangeFrame(std::string &command, int32_t expectedLength, int32_t &count) {
  count = 0;
  if (expectedLength < 0 || expectedLength > MaxExpectedLength || command.empty()) return CodeInvalid;
  uint8_t wake = WakeSensor();
  if (wake != CodeOk) return wake;

  std::string request;
  if (!Rs232Mode) request.push_back(static_cast<char>(SensorAddress));
  request += HexToBytesAnyCase(command);
  request.push_back(static_cast<char>(FrameChecksum(request)));
  const int wanted = expectedLength + (Rs232Mode ? 1 : 2);

  LinkPort->WriteText(request);
  std::string answer(static_cast<size_t>(wanted), '\0');
  int received = LinkPort->ReadBytes(&answer[0], wanted);
  if (received < 0) received = 0;
  answer.resize(static_cast<size_t>(received));
  count = received;

  command.clear();
  std::string payload;
  uint8_t code = JudgeAnswer(request, answer, Rs232Mode, payload);
  if (code == CodeOk) command = payload;
  return code;
}

// ---- Exported functions ---------------------------------------------------------

extern "C" {

TLinkResult Com72500_OpenPort(int32_t port) { return OpenPortCall(port); }

void Com72500_ClosePort(void) { ClosePortCall(); }

TLinkResult Com72500_Presence(int32_t port, int32_t mode, int32_t address) {
  return PresenceCall(port, mode, address);
}

TLinkResult Com72500_EchangeTrames(const char *command, char *answer, int32_t expectedLength,
                                   int32_t *receivedCount, int32_t port, int32_t mode,
                                   int32_t address) {
  if (answer == nullptr || receivedCount == nullptr) {
    if (receivedCount != nullptr) *receivedCount = 0;
    if (answer != nullptr) CopyToCallerBuffer(command != nullptr ? command : "", answer);
    return CodeToLinkResult(CodeInvalid);
  }
  int32_t count = 0;
  std::string text;
  TLinkResult result;
  try {
    const std::string request = command != nullptr ? command : "";
    text = request;
    EnsurePort();
    SelectPort(port, mode, address);
    PortForCall portForCall;
    if (portForCall.Open() != CodeOk) {
      CopyToCallerBuffer(text, answer);
      *receivedCount = 0;
      return CodeToLinkResult(CodeSerial);
    }
    PauseMs(ExchangePauseMs);
    result = CodeToLinkResult(ExchangeWithRetry(request, expectedLength, text, count));
  } catch (...) {
    text.clear();
    count = 0;
    result = CodeToLinkResult(CodeSerial);
  }
  CopyToCallerBuffer(text, answer);
  *receivedCount = count;
  return result;
}

TLinkResult Com72500_LitMesure(double *measurement, int32_t port, int32_t mode, int32_t address) {
  if (measurement == nullptr) return CodeToLinkResult(CodeInvalid);
  *measurement = 0.0;
  try {
    EnsurePort();
    SelectPort(port, mode, address);
    PortForCall portForCall;
    if (portForCall.Open() != CodeOk) return CodeToLinkResult(CodeSerial);
    std::string text;
    int32_t count = 0;
    uint8_t code = ExchangeWithRetry(MeasurementCommand, MeasurementLength, text, count);
    if (code == CodeOk) {
      double value = 0.0;
      if (TextToReal(LocalizeDecimal(HexToBytesAnyCase(text)), value))
        *measurement = value;
      else
        code = CodeNoAnswer;
    }
    return CodeToLinkResult(code);
  } catch (...) {
    *measurement = 0.0;
    return CodeToLinkResult(CodeSerial);
  }
}

void Com72500_DllVersion(char *text) {
  if (text == nullptr) return;
  std::string version = std::string("com72500 V") + VersionNumber + " - " + VersionDate + " KORVALIS S.A.";
  CopyToCallerBuffer(version, text);
}

}  // extern "C"
