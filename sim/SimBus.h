// SimBus: inclinometers played on the master side of a pseudo-terminal.
//
// A SimBus creates a pseudo-terminal and answers, byte by byte and at
// 9600-baud pacing, what a link library writes on its slave side: the attention
// handshake and the frames of family A and family B sensors, one sensor on
// RS232 or several addressed sensors on RS485. It records every byte in both
// directions with its time, so tests can assert the exact bytes on the wire,
// and it injects faults per sensor.
//
// Timing model: a byte written by the host counts as arrived one byte time
// (1.04 ms at 9600 baud) after the later of its reading from the master and the
// previous byte's arrival; a sensor starts answering a complete request (or an
// attention byte) after the turnaround time, and writes answer byte i to the
// host at start + (i + 1) byte times. The bus thread runs at a real-time
// priority where the system allows it, so writes keep to their schedule within
// a fraction of a millisecond.
//
// Line discipline of the sensors: an idle sensor takes a byte for an attention
// byte only after the line has been quiet for two byte times, so the bytes of
// another sensor's frame never wake it; an acknowledged sensor waits 100 ms for
// its request, framed by count (the host writes a request back to back); a
// first request byte followed by silence counts as a new attention byte, so a
// sensor can be woken twice in a row; bytes that arrive while a sensor answers
// are ignored (half duplex). In RS485 a request that does not begin with the
// sensor's address sends it back to idle without an answer.
#ifndef NIVELIX_SIMBUS_H
#define NIVELIX_SIMBUS_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace nivsim {

constexpr double ByteTimeMs = 10.0 / 9.6;  // one start, 8 data and one stop bit at 9600 baud

enum class SensorFamily { A, B };

// What a sensor's angle does over time (in mRad).
struct AngleSource {
  enum Kind { Constant, Sine, RandomWalk };
  Kind kind = Constant;
  double value = 0.0;      // constant value, sine offset, random-walk start
  double amplitude = 0.0;  // sine amplitude
  double periodS = 10.0;   // sine period in seconds
  double step = 0.1;       // random-walk step per reading
  static AngleSource constant(double v) { AngleSource s; s.value = v; return s; }
  static AngleSource sine(double offset, double amplitude, double periodS);
  static AngleSource randomWalk(double start, double step);
};

// Faults a sensor can be told to show.
enum class Fault {
  None,
  NoAck,           // does not acknowledge the attention byte
  WrongChecksum,   // answers with a wrong checksum byte
  ErrorByte,       // answers with an error frame carrying `param` as error byte
  Truncated,       // sends only the first `param` bytes of its answer
  EchoMismatch,    // changes the second answer byte (checksum kept right)
  LeadingGarbage,  // sends `param` garbage bytes (0x55) before its answer
  LongGap,         // pauses `param` ms (default 60) after the first half of its answer
  Silence,         // acknowledges, then never answers the request
  Unplug,          // closes the pseudo-terminal when the request has arrived
};

// Error bytes of a family A error frame (RS485: address, error byte,
// checksum; RS232: error byte, checksum, that is the error byte twice).
namespace SimErrorA {
constexpr uint8_t UnknownCommand = 7;    // command byte not B1, B0, DC or 92
constexpr uint8_t ValueRefused = 8;      // register 0x46 written with a mode byte other than
                                         // 00, FF, 0F or with identifier 0
constexpr uint8_t WrongChecksum = 10;    // the request's checksum byte is wrong
constexpr uint8_t RegisterRefused = 12;  // a register outside 0x40..0x57
}  // namespace SimErrorA

// Error bytes of a family B error frame (address, 0x15, error byte, checksum).
namespace SimErrorB {
constexpr uint8_t UnknownCommand = 0x01;
constexpr uint8_t WrongChecksum = 0x02;
constexpr uint8_t Refused = 0x03;  // identifier 0, or a register not in the map
}  // namespace SimErrorB

// One byte on the wire: fromHost true for what the link library wrote.
struct TraceEntry {
  double timeMs;  // since the bus was created; for host bytes, the arrival time
  bool fromHost;
  uint8_t byte;
};

// A family A sensor: registers 0x40..0x57, B1 read / B0 write frames, DC000000
// closing frame, 92000000 measurement (8 characters of decimal text in mRad,
// right-aligned, as many decimals as fit). Register 0x46's mode byte decides
// its framing (0x00 RS485, else RS232). A B0 write of register 0x46 changes the
// register at once, but the sensor keeps its old identifier and framing until
// it has answered the next DC000000 frame. Mode 0x0F (continuous) is not
// streamed: the sensor still answers requests.
struct SensorAConfig {
  uint8_t identifier = 1;
  bool rs232 = false;            // mode byte 0xFF (on request) when true, 0x00 when false
  std::string reference = "KV72500-AB";  // ten characters, registers 0x53..0x57
  std::string serialNumber = "123456";   // six characters, registers 0x50..0x52
  double rangeCoefficient = 32768000.0 / 523.599;  // register 0x4A/0x4B; k = 32768000 / full scale
  double filterHz = 3.0;         // initial coefficients 0x40..0x45
  bool analogIout = false;       // register 0x47: 0x0000 Iout, 0xFFFF Vout
  AngleSource angle;
  char decimalMark = '.';        // decimal mark of the measurement text
};

// A family B sensor (see docs/family-b-protocol.md). Written values take
// effect only after PowerCycle(). Readable registers: 0x00, 0x02, 0x03, 0x04,
// 0x0B, 0x10..0x15, 0x20..0x24; reading any other is refused (error 0x03).
struct SensorBConfig {
  uint8_t identifier = 1;
  bool rs232 = false;
  uint8_t rangeCode = 4;           // 30 degrees
  uint8_t filterCode = 0xFF;       // factory 3 Hz
  bool onRequest = true;           // communication type register 0x04: 1 on request, 0 continuous
  std::string reference = "KV7280";  // six characters
  std::string serialNumber = "54321";  // five characters
  AngleSource angle;
};

class SimSensor;

class SimBus {
 public:
  // Opens the pseudo-terminal (raw, 9600 8N1) and starts the bus thread.
  // Throws std::runtime_error when no pseudo-terminal can be had.
  SimBus();
  ~SimBus();  // stops the thread and closes the pseudo-terminal
  SimBus(const SimBus &) = delete;
  SimBus &operator=(const SimBus &) = delete;

  // Path of the slave side (/dev/pts/N): the line itself, as it is now.
  std::string SlavePath() const;

  // Sets NIVELIX_COM<n> in this process's environment to the bus's COM
  // link: a symbolic link to SlavePath() in a private temporary folder, made
  // at the first PointCom and removed with the bus. Like an adapter's
  // /dev/serial/by-id/ link it keeps its name across Replug and is gone
  // while the adapter is out, so the program finds no device then. Throws
  // std::runtime_error when the link cannot be made.
  void PointCom(int n) const;

  // Sensors, in the order added; the returned index names the sensor below.
  // Every call taking a sensor index throws std::out_of_range for an index
  // that names no sensor. A sensor that would answer the same attention byte
  // as one already on the bus (the same address on RS485, any second sensor
  // on RS232, or an RS485 sensor at address 2 beside an RS232 one) is refused
  // with std::invalid_argument: both would answer at once, over each other.
  int AddSensorA(const SensorAConfig &config);
  int AddSensorB(const SensorBConfig &config);
  int SensorCount() const;

  // Turnaround between the end of a request and the first answer byte (default 2 ms).
  void SetTurnaroundMs(double ms);

  // Fault of a sensor: `times` < 0 for every exchange, else for that many
  // requests (or handshakes, for NoAck) before behaving again. One fault at a
  // time; a new one replaces the old.
  void SetFault(int sensor, Fault fault, int param = 0, int times = -1);
  void ClearFault(int sensor);

  // Angle source of a sensor.
  void SetAngle(int sensor, const AngleSource &source);

  // Family A: a register's 16-bit word (0 outside 0x40..0x57); family B: a
  // register's byte in force. SetRegister takes effect at once, identifier and
  // framing included (family B: in force and pending alike).
  uint16_t Register(int sensor, uint8_t reg) const;
  void SetRegister(int sensor, uint8_t reg, uint16_t value);

  // Family B: applies the pending written configuration, as switching the
  // sensor's power off and on does. Family A sensors apply writes at once.
  void PowerCycle(int sensor);

  // Closes the master side now, as pulling out a USB adapter does: the
  // host's reads see a hang-up, its writes fail, and the COM link goes. The
  // simulator keeps its own slave descriptor of the dead line until the bus
  // is destroyed, so that its number is not given to another pseudo-terminal
  // meanwhile.
  void Unplug();
  bool Unplugged() const;

  // Plugs the adapter back after Unplug (an unplugged bus is unplugged
  // first): a new pseudo-terminal, as a USB adapter comes back as a new
  // device while the old one is still held open, with its path in SlavePath()
  // and the COM link made again to it (every NIVELIX_COM<n> that PointCom
  // set names the link again). The sensors keep their
  // registers; an exchange under way is forgotten. Throws std::runtime_error
  // when no pseudo-terminal can be had.
  void Replug();

  // Every byte since creation or the last ClearTrace, in time order; of a
  // simulator left running for days, the most recent bytes only (at least
  // TraceKeep of them), so that its memory stays bounded.
  static constexpr std::size_t TraceKeep = std::size_t{1} << 20;
  std::vector<TraceEntry> Trace() const;
  void ClearTrace();

  // Convenience for tests: the bytes of the trace in one direction.
  std::vector<uint8_t> HostBytes() const;
  std::vector<uint8_t> SensorBytes() const;

  // When set, every byte is also written to stderr as a readable log line.
  void SetVerbose(bool verbose);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace nivsim

#endif
