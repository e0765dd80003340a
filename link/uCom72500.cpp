// uCom72500: the family A link library - port state, frame exchange, presence
// and measurement reading.
//
// Nothing may cross the C boundary as an exception: every exported function
// catches whatever the serial layer (or the allocator) raises and turns it
// into the port failure code -2.
#include "uCom72500.h"

#include <chrono>
#include <cstring>
#include <random>
#include <thread>

#include "UtilCapt.h"

TPortSerie *LinkPort = nullptr;
bool Rs232Mode = false;
uint8_t SensorAddress = 0;

const char *const VersionNumber = "3.0";
const char *const VersionDate = "fev 2007";

namespace {

// Attention bytes of the point-to-point line.
constexpr uint8_t Rs232Attention = 0x02;
constexpr uint8_t Rs232Acknowledge = 0x06;

constexpr int WakeTries = 4;
constexpr int WakePauseMs = 50;
constexpr int WakePauseSpreadMs = 20;  // random 0..19 ms on top, so that two masters drift apart

// Lets the line settle after the port was (re)opened or the previous call.
constexpr int ExchangePauseMs = 10;
constexpr int ExchangeAttempts = 2;

const char *const MeasurementCommand = "92000000";
constexpr int32_t MeasurementLength = 12;

void PauseMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

int RandomPauseSpreadMs() {
  static std::minstd_rand generator(
      static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()));
  return static_cast<int>(generator() % WakePauseSpreadMs);
}

// Copies text into a caller's 256-byte buffer, cutting it so that the
// terminating zero always fits.
void CopyToCallerBuffer(const std::string &text, char *buffer) {
  size_t length = text.size() < LINK_BUFFER_SIZE - 1 ? text.size() : LINK_BUFFER_SIZE - 1;
  std::memcpy(buffer, text.data(), length);
  buffer[length] = '\0';
}

// Closes the port that a call opened for itself, also on the way out of a
// failure; a second failure while closing changes nothing for the caller.
void CloseQuietly() {
  try {
    DisconnectPort();
  } catch (...) {
  }
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

// Releases the port object when the library is unloaded (or the program
// ends), so that a program unloading the library does not keep the device
// open and locked.
struct PortReleaser {
  ~PortReleaser() {
    delete LinkPort;
    LinkPort = nullptr;
  }
} portReleaser;

}  // namespace

// ---- Port state ---------------------------------------------------------------

void EnsurePort() {
  if (LinkPort != nullptr) return;
  TPortSerie *port = new TPortSerie();
  TPariteSerie parity = port->Parity();
  parity.Check = false;
  port->SetParity(parity);
  port->SetDiscardNull(false);
  TDelaisSerie timeouts;
  timeouts.ReadInterval = 40;
  timeouts.ReadTotalMultiplier = 2;
  timeouts.ReadTotalConstant = 20;
  timeouts.WriteTotalMultiplier = 2;
  timeouts.WriteTotalConstant = 5;
  port->SetTimeouts(timeouts);
  LinkPort = port;
}

std::string PortName(int32_t port) { return "\\\\.\\COM" + std::to_string(port); }

void SelectPort(int32_t port, int32_t mode, int32_t address) {
  Rs232Mode = (mode & 0xFF) != 0;
  SensorAddress = static_cast<uint8_t>(address & 0xFF);
  std::string name = PortName(port);
  if (name != LinkPort->Port()) LinkPort->SetPort(name);
}

uint8_t ConnectPort() {
  try {
    LinkPort->SetConnected(true);
  } catch (const EPortSerie &) {
    return CodeSerial;
  }
  return CodeOk;
}

void DisconnectPort() {
  if (LinkPort->Connected()) LinkPort->SetConnected(false);
}

// ---- Frames -------------------------------------------------------------------

uint8_t FrameChecksum(const std::string &bytes) {
  uint8_t sum = 0;
  for (char c : bytes) sum ^= static_cast<uint8_t>(c);
  return sum;
}

bool CheckFrame(const std::string &frame) {
  if (frame.size() < 2) return false;
  return FrameChecksum(frame.substr(0, frame.size() - 1)) == static_cast<uint8_t>(frame.back());
}

uint8_t SensorErrorToCode(uint8_t errorByte) {
  switch (errorByte) {
    case 7: return 10;
    case 8: return 9;
    case 10: return CodeChecksum;
    case 11: return 11;
    case 12: return 12;
    default: return CodeNoAnswer;  // byte 9 included: a refusal the program cannot tell apart
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

uint8_t WakeSensor() {
  const char attention = static_cast<char>(Rs232Mode ? Rs232Attention : SensorAddress);
  const char expected = static_cast<char>(Rs232Mode ? Rs232Acknowledge : SensorAddress);
  for (int attempt = 0; attempt < WakeTries; ++attempt) {
    if (attempt > 0) PauseMs(WakePauseMs + RandomPauseSpreadMs());
    LinkPort->PurgeQueues(true, true);
    LinkPort->WriteText(std::string(1, attention));
    char reply = 0;
    if (LinkPort->ReadBytes(&reply, 1) == 1 && reply == expected) return CodeOk;
  }
  return CodeNoAck;
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

TLinkResult Com72500_OpenPort(int32_t port) {
  try {
    EnsurePort();
    std::string name = PortName(port);
    if (name != LinkPort->Port()) {
      DisconnectPort();
      LinkPort->SetPort(name);
    }
    return CodeToLinkResult(ConnectPort());
  } catch (...) {
    return CodeToLinkResult(CodeSerial);
  }
}

void Com72500_ClosePort(void) {
  try {
    EnsurePort();
    DisconnectPort();
  } catch (...) {
  }
}

TLinkResult Com72500_Presence(int32_t port, int32_t mode, int32_t address) {
  try {
    EnsurePort();
    SelectPort(port, mode, address);
    if (!LinkPort->Connected()) return CodeToLinkResult(CodeSerial);
    return CodeToLinkResult(WakeSensor());
  } catch (...) {
    return CodeToLinkResult(CodeSerial);
  }
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
  bool opened = false;
  try {
    const std::string request = command != nullptr ? command : "";
    text = request;
    EnsurePort();
    SelectPort(port, mode, address);
    if (!LinkPort->Connected()) {
      if (ConnectPort() != CodeOk) {
        CopyToCallerBuffer(text, answer);
        *receivedCount = 0;
        return CodeToLinkResult(CodeSerial);
      }
      opened = true;
    }
    PauseMs(ExchangePauseMs);
    uint8_t code = ExchangeWithRetry(request, expectedLength, text, count);
    if (opened) DisconnectPort();
    result = CodeToLinkResult(code);
  } catch (...) {
    if (opened) CloseQuietly();
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
  bool opened = false;
  try {
    EnsurePort();
    SelectPort(port, mode, address);
    if (!LinkPort->Connected()) {
      if (ConnectPort() != CodeOk) return CodeToLinkResult(CodeSerial);
      opened = true;
    }
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
    if (opened) DisconnectPort();
    return CodeToLinkResult(code);
  } catch (...) {
    if (opened) CloseQuietly();
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
