// PortSerie: the serial port layer of the link libraries, on a termios device.
//
// A TPortSerie opens one serial device exclusively, gives it its line settings,
// queue sizes and timeouts, writes and reads bytes with bounded waits and
// empties the driver queues. Every system failure is raised as an EPortSerie
// carrying the layer's error number and the system error (errno).
//
// Read and write follow the timeout rules of the Windows communications API,
// which the link protocol relies on (see ReadBytes and WriteText).
#ifndef NIVELIX_PORTSERIE_H
#define NIVELIX_PORTSERIE_H

#include <cstdint>
#include <stdexcept>
#include <string>

// Error numbers of the layer (the text of each is in PortSerie.cpp).
enum EPortSerieCode {
  ErrOpen = 1,           // "Unable to open com port"
  ErrWrite = 2,          // "WriteFile function failed"
  ErrRead = 3,           // "ReadFile function failed"
  ErrAsync = 4,          // "Invalid Async parameter"
  ErrPurge = 5,          // "PurgeComm function failed"
  ErrAsyncStatus = 6,    // "Unable to get async status"
  ErrSetState = 7,       // "SetCommState function failed"
  ErrTimeouts = 8,       // "SetCommTimeouts failed"
  ErrSetup = 9,          // "SetupComm function failed"
  ErrClearError = 10,    // "ClearCommError function failed"
  ErrModemStatus = 11,
  ErrEscape = 12,
  ErrTransmitChar = 13,
  ErrConnected = 14,
  ErrEnumPorts = 15,
  ErrStoreSettings = 16,
  ErrLoadSettings = 17,
  ErrLink = 18,
  ErrLedState = 19,
  ErrThreadCreated = 20,
  ErrWaitForEvent = 21,
  ErrLinkedBuffer = 22,
  ErrRegistry = 23,
};

// A failure of the serial layer. what() is the text of the code followed by
// " (win error code: N)" with the system error number, or the text alone when
// the failure has no system error (SystemError() == -1).
class EPortSerie : public std::runtime_error {
 public:
  EPortSerie(int code, int systemError = -1);
  int Code() const { return code_; }
  int SystemError() const { return systemError_; }

  // The fixed text of an error number 1..23 (empty for others).
  static const char *CodeText(int code);

 private:
  int code_;
  int systemError_;
};

enum class TBitsParite { None, Odd, Even, Mark, Space };
enum class TStopBits { One, OneAndHalf, Two };
enum class TControleDTR { Disable, Enable, Handshake };
enum class TControleRTS { Disable, Enable, Handshake, Toggle };

class TPortSerie;

// Parity group: applied with the line settings.
struct TPariteSerie {
  TBitsParite Bits = TBitsParite::None;
  bool Check = false;
  bool Replace = false;
  char ReplaceChar = 0;
};

// Flow control group: applied with the line settings.
struct TControleFlux {
  TControleDTR ControlDTR = TControleDTR::Disable;
  TControleRTS ControlRTS = TControleRTS::Disable;
  bool OutCTSFlow = false;
  bool OutDSRFlow = false;
  bool XonXoffIn = false;
  bool XonXoffOut = false;
  bool DSRSensitivity = false;
  bool TxContinueOnXoff = false;
  char XonChar = 17;
  char XoffChar = 19;
};

// Timeouts group, in milliseconds; ReadInterval -1 means no interval limit.
struct TDelaisSerie {
  int ReadInterval = -1;
  int ReadTotalMultiplier = 0;
  int ReadTotalConstant = 0;
  int WriteTotalMultiplier = 100;
  int WriteTotalConstant = 1000;
};

// Driver queue sizes in bytes; an odd size is lowered by one.
struct TTamponsSerie {
  int InputSize = 1024;
  int OutputSize = 1024;
};

class TPortSerie {
 public:
  TPortSerie();
  ~TPortSerie();  // closes the device first
  TPortSerie(const TPortSerie &) = delete;
  TPortSerie &operator=(const TPortSerie &) = delete;

  // Device name, "COM1" at creation. Setting the same name (exact comparison)
  // does nothing; another name while open closes the device and opens the new
  // one (raising code 1 and leaving the port closed if that fails).
  const std::string &Port() const { return port_; }
  void SetPort(const std::string &name);

  // true opens the device, false closes it; the current state does nothing.
  // A failed open raises and leaves no descriptor behind.
  bool Connected() const { return fd_ >= 0; }
  void SetConnected(bool connected);

  // Whether the open device has hung up: the line vanished (adapter pulled
  // out, far end of a pseudo-terminal closed) while the port held it. Such a
  // descriptor never works again and keeps the old device node alive; only
  // closing it and opening the device anew helps. False while closed, and
  // for a live line that merely stayed silent.
  bool HungUp();

  // Line group. Each setter applies the group to an open device when the value changes.
  int BaudRate() const { return baudRate_; }
  void SetBaudRate(int baud);
  int DataBits() const { return dataBits_; }
  void SetDataBits(int bits);
  TStopBits StopBits() const { return stopBits_; }
  void SetStopBits(TStopBits bits);
  bool DiscardNull() const { return discardNull_; }
  void SetDiscardNull(bool discard);
  char EventChar() const { return eventChar_; }
  void SetEventChar(char c);
  const TPariteSerie &Parity() const { return parity_; }
  void SetParity(const TPariteSerie &parity);
  const TControleFlux &FlowControl() const { return flow_; }
  void SetFlowControl(const TControleFlux &flow);

  // Timeouts group.
  const TDelaisSerie &Timeouts() const { return timeouts_; }
  void SetTimeouts(const TDelaisSerie &timeouts);

  // Buffer group.
  const TTamponsSerie &Buffers() const { return buffers_; }
  void SetBuffers(const TTamponsSerie &buffers);

  // Discards what waits in the driver's input and/or output queue. Code 5.
  void PurgeQueues(bool input, bool output);

  // Writes every byte and returns once they have left the driver, as a
  // Windows write completes, or when the write timeout
  // (WriteTotalMultiplier x n + WriteTotalConstant ms) runs out; bytes not sent
  // by then are dropped and not counted. Empty text returns 0 at once.
  // Code 2 on failure, 4 when the port is closed.
  int WriteText(const std::string &text);

  // Reads up to count bytes. Returns as soon as count bytes have arrived, or
  // ReadInterval ms after the last byte with no new byte, or after
  // ReadTotalMultiplier x count + ReadTotalConstant ms in all, whichever comes
  // first; 0 bytes after the total time on a silent line. Code 3 on failure
  // (the peer hanging up before count bytes came included), 4 when the port
  // is closed. A read that has all its bytes succeeds even when the line
  // hangs up right after them.
  int ReadBytes(char *buffer, int count);

  // Bytes waiting in the driver's input queue. Code 10.
  int WaitingInputCount();

  // The device path for a port name: "COMn" or "\\.\COMn" maps to the
  // environment variable NIVELIX_COM<n> when set, else to /dev/ttyS<n-1>;
  // any other name is taken as a path.
  static std::string DevicePath(const std::string &portName);

  // The open file descriptor, -1 while closed (for diagnostics and tests).
  int Handle() const { return fd_; }

 private:
  void Open();
  void Close();
  void ApplyLine();
  void ApplyTimeouts();
  void ApplyBuffers();
  void ApplyModemLine(int line, bool active);
  void RequestLowLatency();
  void RestoreLowLatency();
  void ReleaseDescriptor();
  void NoteFailure(int error);
  int DrainOutput(long long deadlineNanos);
  static int DropNulls(char *bytes, int length);

  std::string port_ = "COM1";
  int baudRate_ = 9600;
  int dataBits_ = 8;
  TStopBits stopBits_ = TStopBits::One;
  bool discardNull_ = false;
  char eventChar_ = 0;
  TPariteSerie parity_;
  TControleFlux flow_;
  TDelaisSerie timeouts_;
  TTamponsSerie buffers_;
  int fd_ = -1;
  bool hungUp_ = false;          // an operation saw the line vanish
  bool lowLatencySet_ = false;   // RequestLowLatency turned the flag on; Close turns it off
};

#endif
