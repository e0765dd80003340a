// ThScrute: the bus scan.
#include "ThScrute.h"

#include <array>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include "ListeCapteurs.h"

bool StopRequested = false;
bool ScanIdle = false;
std::string ScanStatus;
int32_t ScanProgress = 0;
SensorData LastSensorData;

namespace {

ScanShell *shell = nullptr;

constexpr int FirstAddress = 1;
constexpr int LastAddress = 255;

void PauseMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// A sensor object for one try on the line of the settings in force.
std::unique_ptr<TCapteur> SetUpSensor(ScanFamily family, int address) {
  return NewScanSensor(family, shell->ScanPortNumber(), shell->ScanLinkType(), address);
}

void Status(ScanText text, const std::string &suffix = std::string()) {
  ScanStatus = shell->ScanTextOf(text) + suffix;
  ShowScanStatus();
}

void Progress(int32_t percent) {
  ScanProgress = percent;
  ShowScanProgress();
}

// Adds a copy of the sensor read to the list and shows its line.
void Keep(const TCapteur &sensor) {
  shell->ScanSensorList()->AddSensor(sensor.Data, sensor.Port);
  LastSensorData = sensor.Data;
  AddScanLine();
}

// The one sensor of a point-to-point line. Returns whether one was found;
// last is the last sensor object used.
bool ScanRs232(std::unique_ptr<TCapteur> &last) {
  const std::string linkName = "RS232";
  Progress(30);
  last = SetUpSensor(ScanFamily::A, 1);
  uint8_t r = last->ReadAll();
  Progress(60);
  if (r == FailSuccess)
    Status(ScanText::ConnectionA, linkName);
  else if (r == FailConfiguration)
    Status(ScanText::ConfigError);
  if (TryFamilyB(r)) {
    last = SetUpSensor(ScanFamily::B, 1);
    r = last->ReadAll();
    Progress(100);
    if (r == FailSuccess)
      Status(ScanText::ConnectionB, linkName);
    else if (r == FailConfiguration)
      Status(ScanText::ConfigError);
  }
  if (!KeptByScan(r, ScanLinkRs232)) return false;
  Keep(*last);
  return true;
}

enum class Presence { Answered, Silent, PortFailed };

// One presence test of the sweep's sensor object at address, with the pause
// after an address that did not answer.
Presence TestAt(TCapteur &sensor, int address) {
  sensor.Data.Identifier = address;
  const uint8_t r = sensor.TestPresence();
  if (r == FailSuccess) return Presence::Answered;
  PauseMs(ScanSilentPauseMs);
  return r == FailPort ? Presence::PortFailed : Presence::Silent;
}

// Tests the addresses of untried again, in order, until the port fails
// once more; those not tested stay in untried.
void RetryUntried(TCapteur &sensor, std::vector<int> &untried, std::array<bool, LastAddress + 1> &answered,
                  bool &found) {
  std::vector<int> left;
  for (const int address : untried) {
    if (!left.empty() || StopRequested) {
      left.push_back(address);
      continue;
    }
    const Presence p = TestAt(sensor, address);
    if (p == Presence::Answered) {
      answered[static_cast<std::size_t>(address)] = true;
      found = true;
    } else if (p == Presence::PortFailed) {
      left.push_back(address);
    }
    shell->ProcessPendingEvents();
  }
  untried = std::move(left);
}

// Presence sweep over every address, then a read of each address that
// answered. Returns whether any address answered; untried gets the
// addresses that could not be tested because the port failed.
bool ScanRs485(std::unique_ptr<TCapteur> &last, std::vector<int> &untried) {
  const std::string linkName = "RS485";
  bool found = false;
  Status(ScanText::Scanning);
  std::array<bool, LastAddress + 1> answered{};

  last = SetUpSensor(ScanFamily::A, FirstAddress);
  last->OpenPort();  // a port that cannot be opened makes every address fail
  for (int address = FirstAddress; address <= LastAddress; ++address) {
    const Presence p = TestAt(*last, address);
    if (p == Presence::Answered) {
      answered[static_cast<std::size_t>(address)] = true;
      found = true;
    }
    // An address the port failed for is no silent one: a sensor there would
    // be missed without a word. It is tested again once the port serves.
    if (p == Presence::PortFailed)
      untried.push_back(address);
    else if (!untried.empty())
      RetryUntried(*last, untried, answered, found);
    Progress(SweepProgress(address));
    if (StopRequested) break;
  }
  if (!untried.empty() && !StopRequested) {
    Status(ScanText::WaitingForPort);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ScanPortReturnMs);
    while (!untried.empty() && !StopRequested && std::chrono::steady_clock::now() < deadline) {
      PauseMs(ScanPortProbeMs);
      shell->ProcessPendingEvents();
      RetryUntried(*last, untried, answered, found);
    }
    Status(ScanText::Scanning);
  }
  last->ClosePort();

  // The reading does not look at StopRequested: the addresses found so far
  // are always read.
  for (int address = FirstAddress; address <= LastAddress; ++address) {
    if (!answered[static_cast<std::size_t>(address)]) continue;
    PauseMs(ScanReadPauseMs);
    last = SetUpSensor(ScanFamily::A, address);
    uint8_t r = last->ReadAll();
    if (KeptByScan(r, ScanLinkRs485)) {
      Keep(*last);
      Status(ScanText::ConnectionA, linkName);
      continue;
    }
    // A family A sensor with an undecodable configuration is not kept on a
    // bus, and it is no family B sensor either.
    if (!TryFamilyB(r)) {
      Status(ScanText::ConfigError);
      continue;
    }
    last = SetUpSensor(ScanFamily::B, address);
    r = last->ReadAll();
    if (KeptByScan(r, ScanLinkRs485)) {
      Keep(*last);
      Status(ScanText::ConnectionB, linkName);
    } else if (r == FailConfiguration) {
      Status(ScanText::ConfigError);
    } else {
      Status(ScanText::ConnectionError);
      answered[static_cast<std::size_t>(address)] = false;
    }
  }
  return found;
}

}  // namespace

std::unique_ptr<TCapteur> NewScanSensor(ScanFamily family, int32_t port, uint8_t linkType,
                                        int address) {
  std::unique_ptr<TCapteur> sensor;
  if (family == ScanFamily::A)
    sensor = std::make_unique<TCapteur72500>();
  else
    sensor = std::make_unique<TCapteur>();
  sensor->Data.Protocol = linkType;
  sensor->SetPort(static_cast<uint8_t>(port));
  if (linkType == ScanLinkRs485) sensor->Data.Identifier = address;
  return sensor;
}

bool TryFamilyB(uint8_t familyAResult) {
  return familyAResult != FailSuccess && familyAResult != FailConfiguration;
}

bool KeptByScan(uint8_t result, uint8_t linkType) {
  // On a point-to-point line a sensor whose configuration cannot be decoded
  // is still the one sensor there: the user can rewrite its configuration.
  return result == FailSuccess || (linkType == ScanLinkRs232 && result == FailConfiguration);
}

std::string ScanShell::ScanPortTroubleText(const DiagnosticPort &port) const {
  return port.Chemin + ": " + std::strerror(port.Erreur);
}

void SetScanShell(ScanShell *s) { shell = s; }
ScanShell *CurrentScanShell() { return shell; }

int32_t SweepProgress(int address) { return (address * 100 + 127) / 255; }

std::string AddressRanges(const std::vector<int> &addresses) {
  std::string text;
  for (std::size_t i = 0; i < addresses.size();) {
    std::size_t j = i;
    while (j + 1 < addresses.size() && addresses[j + 1] == addresses[j] + 1) ++j;
    if (!text.empty()) text += ", ";
    text += std::to_string(addresses[i]);
    if (j > i) text += "-" + std::to_string(addresses[j]);
    i = j + 1;
  }
  return text;
}

void ScanLine() {
  if (shell == nullptr || shell->ScanSensorList() == nullptr) return;
  StopRequested = false;
  bool found = false;
  std::unique_ptr<TCapteur> last;
  std::vector<int> untried;
  // A port that cannot be used is named, and not swept: 255 silent
  // addresses would only end in "No sensor is connected" after a minute.
  DiagnosticPort port = DiagnostiquerPort(shell->ScanPortNumber());
  if (port.Etat == EtatPort::Disponible) {
    const uint8_t linkType = shell->ScanLinkType();
    if (linkType == ScanLinkRs232)
      found = ScanRs232(last);
    else if (linkType == ScanLinkRs485)
      found = ScanRs485(last, untried);
  }

  // "No sensor is connected" is for a line that opened and stayed silent;
  // a port lost during the scan (adapter pulled out) is named instead. The
  // sweep and the reads have closed the port by now, so the libraries' own
  // lock does not stand in the way of the check.
  if ((!found || !untried.empty()) && port.Etat == EtatPort::Disponible)
    port = DiagnostiquerPort(shell->ScanPortNumber());
  if (!untried.empty()) {
    // The addresses the port failed for and never came back for are named:
    // a sensor there was not looked for.
    ScanStatus = (port.Etat != EtatPort::Disponible ? shell->ScanPortTroubleText(port) + "; " : std::string()) +
                 shell->ScanTextOf(ScanText::NotTried) + AddressRanges(untried);
    ShowScanStatus();
  } else if (port.Etat != EtatPort::Disponible) {
    ScanStatus = shell->ScanPortTroubleText(port);
    ShowScanStatus();
  } else if (!found) {
    Status(ScanText::NoSensor);
  }

  shell->DiscardAcquisitionFrame();
  // The port of the last family used may still be held by its library
  // (family A when nothing was tried at all).
  if (!last) last = std::make_unique<TCapteur72500>();
  last->ClosePort();
  last.reset();

  Progress(0);
  ScanIdle = true;
  ShowScanState();
  PublishSensors();
}

void RequestStop() { StopRequested = true; }

void ShowScanStatus() {
  if (!shell) return;
  shell->SetScanStatus(ScanStatus);
  shell->ProcessPendingEvents();
}

void ShowScanProgress() {
  if (!shell) return;
  shell->SetScanProgress(ScanProgress);
  shell->ProcessPendingEvents();
}

void ShowScanState() {
  if (!shell) return;
  shell->SetScanState(ScanIdle);
  shell->ProcessPendingEvents();
}

void AddScanLine() {
  if (!shell) return;
  shell->AppendScanLine(LastSensorData.Reference + shell->ScanTextOf(ScanText::SerialSeparator) +
                        std::to_string(LastSensorData.SerialNumber));
  shell->ProcessPendingEvents();
}

void PublishSensors() {
  if (!shell || !shell->ScanSensorList()) return;
  TlistCapteur *list = shell->ScanSensorList();
  for (int i = 0; i < list->Count(); ++i) shell->AddSensorReadingItem(list->GetSensor(i));
  shell->ProcessPendingEvents();
}
