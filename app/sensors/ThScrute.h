// ThScrute: the bus scan. Finds the sensors on the serial line of the
// settings in force, reads each one, decides its family (A first, then B) and
// fills the sensor list.
//
// The scan runs on the user-interface thread inside the Scan button's
// handler. It owns no window: it shows its status, progress and list lines,
// and hands the sensors found to the main window, through a ScanShell that
// the program's shell implements (the configuration dialog in the program, a
// recorder in tests and benchmarks). After each update the shell lets the
// interface process its pending events; that is how a Stop click reaches
// RequestStop while the sweep runs.
#ifndef NIVELIX_THSCRUTE_H
#define NIVELIX_THSCRUTE_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Capteur.h"
#include "DiagnosticPort.h"

class TlistCapteur;

// The texts the scan shows; the shell takes them from its string table.
enum class ScanText {
  Scanning,         // "Scanning..."
  ConnectionA,      // "Connection with KV72500 port : " (the link name follows)
  ConnectionB,      // "Connection with KV72800 port : "
  ConfigError,      // "There are errors in the sensor configuration !"
  ConnectionError,  // "An error occured during the connection..."
  NoSensor,         // "No sensor is connected"
  SerialSeparator,  // " n°", between a sensor's reference and serial number
  WaitingForPort,   // the sweep's end waits for a port that failed to come back
  NotTried,         // "Addresses not tried, the port failed: " (the addresses follow)
};

// Values of the link type of the settings (SettingsRecord::LinkType), which
// is also the Protocol byte of the sensor objects the scan sets up.
constexpr uint8_t ScanLinkRs485 = 0;
constexpr uint8_t ScanLinkRs232 = 1;

// What the scan needs from the program around it. Every Show/Add operation
// is followed by ProcessPendingEvents by the scan itself.
class ScanShell {
 public:
  virtual ~ScanShell() = default;

  // The settings in force (not the dialog's pending ones).
  virtual int32_t ScanPortNumber() const = 0;
  virtual uint8_t ScanLinkType() const = 0;
  // The program's sensor list, filled by the scan.
  virtual TlistCapteur *ScanSensorList() = 0;
  // A text of the string table, UTF-8.
  virtual std::string ScanTextOf(ScanText text) const = 0;

  // The configuration dialog: first status panel, progress bar, button
  // states (idle: Scan and environment tab enabled, Stop disabled; busy: the
  // reverse), list of detected sensors.
  virtual void SetScanStatus(const std::string &text) = 0;
  virtual void SetScanProgress(int32_t percent) = 0;
  virtual void SetScanState(bool idle) = 0;
  virtual void AppendScanLine(const std::string &line) = 0;

  // The main window: releases the acquisition frame, if there is one; adds a
  // sensor-reading item for a sensor of the list.
  virtual void DiscardAcquisitionFrame() = 0;
  virtual void AddSensorReadingItem(TCapteur *sensor) = 0;

  // The status that names why the port cannot be used (the device path and
  // the cause); shown instead of the scan's texts. The plain default gives
  // the path and the system's error text.
  virtual std::string ScanPortTroubleText(const DiagnosticPort &port) const;

  // Lets the user interface handle its pending input and painting.
  virtual void ProcessPendingEvents() = 0;
};

// The shell the scan works with; nullptr (the start) makes ScanLine do
// nothing. Not owned.
void SetScanShell(ScanShell *shell);
ScanShell *CurrentScanShell();

// State of the scan, one instance each for the life of the program.
extern bool StopRequested;        // set by RequestStop; only the RS485 sweep looks at it
extern bool ScanIdle;             // false at start, true at the end of every scan
extern std::string ScanStatus;    // text of the dialog's first status panel
extern int32_t ScanProgress;      // 0..100
extern SensorData LastSensorData; // data of the last sensor added to the list

// Pauses of the scan: after each silent address of the sweep, before each
// read of an address that answered.
constexpr int ScanSilentPauseMs = 20;
constexpr int ScanReadPauseMs = 500;
// Addresses whose presence test failed because the port itself failed (an
// adapter pulled out) are tested again as soon as the port serves again; at
// the end of the sweep it is waited for this long, tried every
// ScanPortProbeMs, before they are named as not tried.
constexpr int ScanPortReturnMs = 5000;
constexpr int ScanPortProbeMs = 250;

// The scan's rules for the sensor at one address, shared with every program
// that finds sensors as the scan does.
enum class ScanFamily { A, B };  // in the order they are tried
// A sensor object for one try of family on COM port over linkType: on RS485
// at address, on RS232 at its creation identifier (address unused).
std::unique_ptr<TCapteur> NewScanSensor(ScanFamily family, int32_t port, uint8_t linkType,
                                        int address);
// Whether a sensor whose family A read gave familyAResult is tried as family
// B: not when it answered, even with a configuration that cannot be decoded.
bool TryFamilyB(uint8_t familyAResult);
// Whether a sensor whose read gave result is kept on linkType: one read
// whole, and on RS232 also one whose configuration cannot be decoded.
bool KeptByScan(uint8_t result, uint8_t linkType);

// Runs the whole scan and returns when it is over (RS232: the one sensor;
// RS485: presence sweep over 1..255, then a read of every address that
// answered). Ends with the progress at 0, the idle button states and one
// sensor-reading item per sensor of the list.
void ScanLine();
// Asks the RS485 sweep to end after the address it is testing.
void RequestStop();

// Each shows the scan state named in the shell, then processes pending events.
void ShowScanStatus();
void ShowScanProgress();
void ShowScanState();
// Appends Reference + " n°" + SerialNumber of LastSensorData (the separator
// from the shell's string table, as the main window's menu items have it).
void AddScanLine();
// One sensor-reading item per sensor of the list, in list order.
void PublishSensors();

// Progress of the sweep at address: address x 100 / 255, rounded.
int32_t SweepProgress(int address);

// Addresses in increasing order as runs: "3, 26-82, 90".
std::string AddressRanges(const std::vector<int> &addresses);

#endif
