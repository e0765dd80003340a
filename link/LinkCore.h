// LinkCore: the port state and the port steps shared by both link libraries.
//
// libcom72500.so and libcom72800.so each link this static core, and each gets
// its own copy of the state below (their version scripts keep it hidden): the
// two libraries hold a port each, as two separate programs would. What they
// share is the way the port is kept: created once with the sensors' line
// settings, renamed and reopened when another COM is asked for, opened for one
// call when closed, opened again when the line held open has hung up, and
// woken with the attention handshake before every frame.
#ifndef NIVELIX_LINKCORE_H
#define NIVELIX_LINKCORE_H

#include <cstdint>
#include <string>

#include "PortSerie.h"
#include "TypesCom72500.h"

// Internal failure codes of the link libraries; CodeToLinkResult (UtilCapt.h)
// turns each into the link result code named beside it.
enum InternalCode : uint8_t {
  CodeOk = 0,            //  0
  CodeSerial = 1,        // -2  the port cannot be opened, or the serial layer failed
  CodeNoAnswer = 2,      // -3
  CodeNoAck = 3,         // -4
  CodeNotConfirmed = 4,  // -5
  CodeInvalid = 5,       // -6
  CodeChecksum = 6,      // -7
  CodeRefused8 = 9,      // -9   sensor error byte 8
  CodeRefused7 = 10,     // -10  sensor error byte 7
  CodeRefused11 = 11,    // -11  sensor error byte 11
  CodeRefused12 = 12,    // -12  sensor error byte 12
  CodeReserved13 = 13,   // -13
};

// ---- State ---------------------------------------------------------------------

extern TPortSerie *LinkPort;   // created by the first call (EnsurePort), then kept
extern bool Rs232Mode;         // frames without address byte
extern uint8_t SensorAddress;  // address of the sensor spoken to on RS485

// Whether the library holds its port open (false before the first call).
bool LinkPortHeld();

// Whether the caller asked for the port to stay open: set by an OpenPort
// call that opened it, cleared by ClosePort and by a failed OpenPort. While it is set, a port that a hang-up closed,
// or whose reopening failed while the adapter was out, is opened again by
// the next call of any kind and kept open, so that a sweep or a session that
// met an unplugged adapter carries on once it is back.
extern bool PortWanted;

// ---- Port steps ----------------------------------------------------------------

void PauseMs(int ms);

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

// Closes LinkPort, a failure while closing changing nothing for the caller.
void DisconnectQuietly();

// A port held open whose line has hung up is closed and opened again, so that
// an adapter pulled out and plugged back works at the next call (the dead
// descriptor would also keep the old device node alive). CodeOk when the port
// is closed, live, or opened again; CodeSerial, with the port closed, when
// the device is not there (yet).
uint8_t ReviveHungUpPort();

// Attention handshake, up to four tries: CodeOk or CodeNoAck. Raises EPortSerie.
uint8_t WakeSensor();

// The port for one call that needs it: Open() revives a held port that has
// hung up, or opens a closed one, which the destructor closes again on every
// way out of the call unless the caller wants it held (PortWanted). A held
// port stays held.
class PortForCall {
 public:
  PortForCall() = default;
  ~PortForCall();
  PortForCall(const PortForCall &) = delete;
  PortForCall &operator=(const PortForCall &) = delete;

  // CodeOk when the port is open and live; CodeSerial when it cannot be opened.
  uint8_t Open();

 private:
  bool openedHere_ = false;
};

// ---- Bodies of the exported port functions, alike in both libraries -------------

// Opens COM<port>: the open port again does nothing (unless it hung up),
// another port is closed first. LINK_OK or LINK_PORT_FAILURE.
TLinkResult OpenPortCall(int32_t port);
void ClosePortCall();
// The handshake on the open port. A closed port is opened again (and kept)
// only while the caller wants it open; after ClosePort it stays closed.
TLinkResult PresenceCall(int32_t port, int32_t mode, int32_t address);

#endif
