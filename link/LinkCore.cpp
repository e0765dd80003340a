// LinkCore: the port state and port steps of both link libraries.
#include "LinkCore.h"

#include <chrono>
#include <random>
#include <thread>

#include "UtilCapt.h"

TPortSerie *LinkPort = nullptr;
bool Rs232Mode = false;
uint8_t SensorAddress = 0;
bool PortWanted = false;

namespace {

// Attention bytes of the point-to-point line.
constexpr uint8_t Rs232Attention = 0x02;
constexpr uint8_t Rs232Acknowledge = 0x06;

constexpr int WakeTries = 4;
constexpr int WakePauseMs = 50;
constexpr int WakePauseSpreadMs = 20;  // random 0..19 ms on top, so that two masters drift apart

int RandomPauseSpreadMs() {
  static std::minstd_rand generator(
      static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()));
  return static_cast<int>(generator() % WakePauseSpreadMs);
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

bool LinkPortHeld() { return LinkPort != nullptr && LinkPort->Connected(); }

void PauseMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

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

void DisconnectQuietly() {
  try {
    DisconnectPort();
  } catch (...) {
  }
}

uint8_t ReviveHungUpPort() {
  if (!LinkPort->HungUp()) return CodeOk;
  DisconnectQuietly();
  return ConnectPort();
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

PortForCall::~PortForCall() {
  if (openedHere_) DisconnectQuietly();
}

uint8_t PortForCall::Open() {
  if (LinkPort->Connected()) return ReviveHungUpPort();
  if (ConnectPort() != CodeOk) return CodeSerial;
  openedHere_ = !PortWanted;
  return CodeOk;
}

TLinkResult OpenPortCall(int32_t port) {
  try {
    EnsurePort();
    PortWanted = false;
    const std::string name = PortName(port);
    if (name != LinkPort->Port()) {
      DisconnectPort();
      LinkPort->SetPort(name);
    }
    if (ReviveHungUpPort() != CodeOk) return CodeToLinkResult(CodeSerial);
    const uint8_t code = ConnectPort();
    PortWanted = code == CodeOk;
    return CodeToLinkResult(code);
  } catch (...) {
    return CodeToLinkResult(CodeSerial);
  }
}

void ClosePortCall() {
  try {
    EnsurePort();
    PortWanted = false;
    DisconnectPort();
  } catch (...) {
  }
}

TLinkResult PresenceCall(int32_t port, int32_t mode, int32_t address) {
  try {
    EnsurePort();
    SelectPort(port, mode, address);
    if (!LinkPort->Connected()) {
      if (!PortWanted || ConnectPort() != CodeOk) return CodeToLinkResult(CodeSerial);
    } else if (ReviveHungUpPort() != CodeOk) {
      return CodeToLinkResult(CodeSerial);
    }
    return CodeToLinkResult(WakeSensor());
  } catch (...) {
    return CodeToLinkResult(CodeSerial);
  }
}
