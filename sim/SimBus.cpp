// SimBus: the bus thread, the wire timing and the two sensor families.
//
// The bus thread owns the master side of the pseudo-terminal. Every byte the
// host writes gets an arrival time (its wire time after the previous byte),
// and every answer byte a write time; the thread sleeps until the earliest of
// these and hands host bytes to the sensors in arrival order, so a sensor sees
// the line as a real one would, including the gaps between frames.
#include "SimBus.h"

#include "UtilCapt.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <pty.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <limits>
#include <random>
#include <stdexcept>
#include <thread>

namespace nivsim {

AngleSource AngleSource::sine(double offset, double amplitude, double periodS) {
  AngleSource s;
  s.kind = Sine;
  s.value = offset;
  s.amplitude = amplitude;
  s.periodS = periodS;
  return s;
}

AngleSource AngleSource::randomWalk(double start, double step) {
  AngleSource s;
  s.kind = RandomWalk;
  s.value = start;
  s.step = step;
  return s;
}

namespace {

constexpr double Never = std::numeric_limits<double>::infinity();
// A sensor takes a byte for an attention byte only after the line has been
// quiet for a while, so bytes inside another sensor's frame never wake it.
constexpr double QuietBeforeAttentionMs = 2.0 * ByteTimeMs;
// How long an acknowledged sensor waits for its request frame.
constexpr double RequestWaitMs = 100.0;
constexpr double DefaultLongGapMs = 60.0;

uint8_t Checksum(const std::vector<uint8_t> &bytes, size_t count) {
  uint8_t sum = 0;
  for (size_t i = 0; i < count && i < bytes.size(); ++i) sum ^= bytes[i];
  return sum;
}

void AppendChecksum(std::vector<uint8_t> &frame) { frame.push_back(Checksum(frame, frame.size())); }

// The four bytes of the sensor float code of a value.
std::array<uint8_t, 4> FloatCodeBytes(double value) {
  const std::string hex = FloatToHex8(value);
  std::array<uint8_t, 4> bytes{};
  for (size_t i = 0; i < 4 && 2 * i + 1 < hex.size(); ++i)
    bytes[i] = static_cast<uint8_t>(HexToInt(hex.substr(2 * i, 2)) & 0xFF);
  return bytes;
}

// The reading as 8 characters of decimal text: right-aligned, with as many
// decimals as fit.
std::string MeasurementText(double mrad, char decimalMark) {
  char text[64];
  int decimals = 7;
  for (;; --decimals) {
    std::snprintf(text, sizeof text, "%.*f", std::max(decimals, 0), mrad);
    if (std::string(text).size() <= 8 || decimals <= 0) break;
  }
  std::string s(text);
  if (s.size() > 8) s = s.substr(0, 8);
  for (char &c : s)
    if (c == '.') c = decimalMark;
  return std::string(8 - s.size(), ' ') + s;
}

struct FaultSetting {
  Fault fault = Fault::None;
  int param = 0;
  int times = -1;

  // True when the fault shows this time; counts the use down.
  bool Take(Fault kind) {
    if (fault != kind || times == 0) return false;
    if (times > 0 && --times == 0) fault = Fault::None;
    return true;
  }
};

struct ScheduledByte {
  double timeMs;
  uint8_t byte;
};

}  // namespace

// One sensor on the line: the attention handshake, request framing and answer
// pacing shared by both families; the families add their frames.
class SimSensor {
 public:
  enum class State { Idle, Acknowledging, WaitingRequest, Answering };

  explicit SimSensor(const AngleSource &source) { SetAngle(source); }
  virtual ~SimSensor() = default;

  virtual SensorFamily Family() const = 0;
  virtual bool Rs232() const = 0;
  virtual uint8_t Address() const = 0;
  // Request length with address (RS485) and checksum.
  virtual size_t RequestLength() const = 0;
  // The answer to a complete request; sets applyAfterAnswer when line
  // settings change once the answer is out.
  virtual std::vector<uint8_t> Answer(const std::vector<uint8_t> &request, bool &applyAfterAnswer) = 0;
  virtual std::vector<uint8_t> ErrorFrame(uint8_t error) const = 0;
  virtual void ApplyLineSettings() {}
  virtual void PowerCycle() {}
  virtual uint16_t Register(uint8_t reg) const = 0;
  virtual void SetRegister(uint8_t reg, uint16_t value) = 0;

  void SetAngle(const AngleSource &source) {
    angle_ = source;
    walkValue_ = source.value;
  }

  double ReadAngle(double nowMs) {
    switch (angle_.kind) {
      case AngleSource::Sine:
        return angle_.value + angle_.amplitude * std::sin(2.0 * M_PI * (nowMs / 1000.0) / angle_.periodS);
      case AngleSource::RandomWalk: {
        const double value = walkValue_;
        walkValue_ += (rng_() & 1) ? angle_.step : -angle_.step;
        return value;
      }
      case AngleSource::Constant:
      default:
        return angle_.value;
    }
  }

  FaultSetting fault;
  State state = State::Idle;
  std::vector<uint8_t> request;
  std::deque<ScheduledByte> outgoing;
  double doneAtMs = Never;      // end of the acknowledgement or answer
  double deadlineMs = Never;    // end of the wait for a request
  double loneByteMs = Never;    // when a lone first request byte counts as a new attention byte
  bool applyAfterAnswer = false;
  double requestMs = 0.0;       // arrival of the request being answered

 protected:
  // The leading address byte in RS485 mode.
  std::vector<uint8_t> Head() const {
    return Rs232() ? std::vector<uint8_t>{} : std::vector<uint8_t>{Address()};
  }

 private:
  AngleSource angle_;
  double walkValue_ = 0.0;
  std::minstd_rand rng_{12345};
};

namespace {

constexpr uint8_t FirstRegisterA = 0x40;
constexpr uint8_t LastRegisterA = 0x57;

// Family A: 16-bit registers, four command bytes per request.
class SensorA : public SimSensor {
 public:
  explicit SensorA(const SensorAConfig &config)
      : SimSensor(config.angle), decimalMark_(config.decimalMark) {
    regs_.fill(0);
    StoreFilter(config.filterHz);
    SetWord(0x46, static_cast<uint16_t>((config.rs232 ? 0xFF00 : 0x0000) | config.identifier));
    SetWord(0x47, config.analogIout ? 0x0000 : 0xFFFF);
    StoreCode(0x4A, config.rangeCoefficient);
    StoreText(0x50, 3, config.serialNumber);
    StoreText(0x53, 5, config.reference);
    ApplyLineSettings();
  }

  SensorFamily Family() const override { return SensorFamily::A; }
  bool Rs232() const override { return activeMode_ != 0x00; }
  uint8_t Address() const override { return activeId_; }
  size_t RequestLength() const override { return Rs232() ? 5 : 6; }

  std::vector<uint8_t> ErrorFrame(uint8_t error) const override {
    std::vector<uint8_t> frame = Head();
    frame.push_back(error);
    AppendChecksum(frame);
    return frame;
  }

  void ApplyLineSettings() override {
    activeMode_ = static_cast<uint8_t>(Word(0x46) >> 8);
    activeId_ = static_cast<uint8_t>(Word(0x46) & 0xFF);
  }

  uint16_t Register(uint8_t reg) const override { return InMap(reg) ? Word(reg) : 0; }

  // Changes made from outside take effect at once, line settings included.
  void SetRegister(uint8_t reg, uint16_t value) override {
    if (!InMap(reg)) return;
    SetWord(reg, value);
    if (reg == 0x46) ApplyLineSettings();
  }

  std::vector<uint8_t> Answer(const std::vector<uint8_t> &req, bool &applyAfter) override {
    const size_t h = Rs232() ? 0 : 1;
    if (Checksum(req, req.size() - 1) != req.back()) return ErrorFrame(SimErrorA::WrongChecksum);
    const uint8_t command = req[h], reg = req[h + 1];
    const uint16_t operand = static_cast<uint16_t>(req[h + 2] << 8 | req[h + 3]);
    std::vector<uint8_t> answer(req.begin(), req.begin() + h + 4);
    switch (command) {
      case 0xB1: {
        if (!InMap(reg) || reg + operand - 1 > LastRegisterA) return ErrorFrame(SimErrorA::RegisterRefused);
        for (int i = 0; i < operand; ++i) {
          answer.push_back(static_cast<uint8_t>(Word(reg + i) >> 8));
          answer.push_back(static_cast<uint8_t>(Word(reg + i) & 0xFF));
        }
        break;
      }
      case 0xB0:
        if (!InMap(reg)) return ErrorFrame(SimErrorA::RegisterRefused);
        if (reg == 0x46 && !ValidModeWord(operand)) return ErrorFrame(SimErrorA::ValueRefused);
        SetWord(reg, operand);
        break;
      case 0xDC:
        applyAfter = true;
        break;
      case 0x92: {
        const std::string text = MeasurementText(ReadAngle(requestMs), decimalMark_);
        answer.insert(answer.end(), text.begin(), text.end());
        break;
      }
      default:
        return ErrorFrame(SimErrorA::UnknownCommand);
    }
    AppendChecksum(answer);
    return answer;
  }

 private:
  static bool InMap(int reg) { return reg >= FirstRegisterA && reg <= LastRegisterA; }
  static bool ValidModeWord(uint16_t word) {
    const uint8_t mode = static_cast<uint8_t>(word >> 8);
    return (mode == 0x00 || mode == 0xFF || mode == 0x0F) && (word & 0xFF) != 0;
  }
  uint16_t Word(int reg) const { return regs_[reg - FirstRegisterA]; }
  void SetWord(int reg, uint16_t value) { regs_[reg - FirstRegisterA] = value; }

  void StoreCode(int firstReg, double value) {
    const auto b = FloatCodeBytes(value);
    SetWord(firstReg, static_cast<uint16_t>(b[0] << 8 | b[1]));
    SetWord(firstReg + 1, static_cast<uint16_t>(b[2] << 8 | b[3]));
  }

  // Filter coefficients X, Y, Z of a second-order Butterworth low-pass by the
  // bilinear transform, at the sensor's 100 Hz sampling rate.
  void StoreFilter(double hz) {
    const double a = hz == 0.0 ? 0.001 : hz;
    const double q = 1.0 / std::tan(M_PI * a / 100.0);
    const double s = 2.0 * std::cos(M_PI / 4.0);
    StoreCode(0x40, 1.0 / (q * q + s * q + 1.0));
    StoreCode(0x42, (1.0 - q * q) * -2.0);
    StoreCode(0x44, -(q * q + (1.0 - s * q)));
  }

  void StoreText(int firstReg, int words, const std::string &text) {
    for (int i = 0; i < words; ++i) {
      const size_t c = 2 * static_cast<size_t>(i);
      const uint8_t hi = c < text.size() ? static_cast<uint8_t>(text[c]) : 0;
      const uint8_t lo = c + 1 < text.size() ? static_cast<uint8_t>(text[c + 1]) : 0;
      SetWord(firstReg + i, static_cast<uint16_t>(hi << 8 | lo));
    }
  }

  std::array<uint16_t, LastRegisterA - FirstRegisterA + 1> regs_{};
  uint8_t activeMode_ = 0;
  uint8_t activeId_ = 1;
  char decimalMark_;
};

// Family B: byte registers, three command bytes per request, written values
// pending until the power is switched off and on.
class SensorB : public SimSensor {
 public:
  explicit SensorB(const SensorBConfig &config) : SimSensor(config.angle) {
    inForce_.fill(0);
    inForce_[0x00] = config.rangeCode;
    inForce_[0x02] = config.identifier;
    inForce_[0x03] = config.rs232 ? 1 : 0;
    inForce_[0x04] = config.onRequest ? 1 : 0;
    inForce_[0x0B] = config.filterCode;
    for (size_t i = 0; i < 6; ++i)
      inForce_[0x10 + i] = i < config.reference.size() ? static_cast<uint8_t>(config.reference[i]) : 0;
    for (size_t i = 0; i < 5; ++i)
      inForce_[0x20 + i] = i < config.serialNumber.size() ? static_cast<uint8_t>(config.serialNumber[i]) : 0;
    pending_ = inForce_;
  }

  SensorFamily Family() const override { return SensorFamily::B; }
  bool Rs232() const override { return inForce_[0x03] == 1; }
  uint8_t Address() const override { return inForce_[0x02]; }
  size_t RequestLength() const override { return Rs232() ? 4 : 5; }

  std::vector<uint8_t> ErrorFrame(uint8_t error) const override {
    std::vector<uint8_t> frame = Head();
    frame.push_back(0x15);
    frame.push_back(error);
    AppendChecksum(frame);
    return frame;
  }

  void PowerCycle() override { inForce_ = pending_; }

  uint16_t Register(uint8_t reg) const override { return inForce_[reg]; }
  void SetRegister(uint8_t reg, uint16_t value) override {
    inForce_[reg] = pending_[reg] = static_cast<uint8_t>(value);
  }

  std::vector<uint8_t> Answer(const std::vector<uint8_t> &req, bool &) override {
    const size_t h = Rs232() ? 0 : 1;
    if (Checksum(req, req.size() - 1) != req.back()) return ErrorFrame(SimErrorB::WrongChecksum);
    const uint8_t command = req[h], operand = req[h + 1];
    std::vector<uint8_t> answer = Head();
    answer.push_back(command);
    switch (command) {
      case 0xA1:
        if (!Readable(operand)) return ErrorFrame(SimErrorB::Refused);
        answer.push_back(inForce_[operand]);
        break;
      case 0xC0: pending_[0x03] = 0; break;
      case 0xC1: pending_[0x03] = 1; break;
      case 0xC2:
        if (operand == 0) return ErrorFrame(SimErrorB::Refused);
        pending_[0x02] = operand;
        break;
      case 0xC4: pending_[0x04] = 1; break;
      case 0xC5: pending_[0x04] = 0; break;
      case 0xDA: pending_[0x0B] = operand; break;
      case 0x90: {
        const auto code = FloatCodeBytes(ReadAngle(requestMs));
        answer.insert(answer.end(), code.begin(), code.end());
        break;
      }
      default:
        return ErrorFrame(SimErrorB::UnknownCommand);
    }
    AppendChecksum(answer);
    return answer;
  }

 private:
  static bool Readable(uint8_t reg) {
    return reg == 0x00 || reg == 0x02 || reg == 0x03 || reg == 0x04 || reg == 0x0B ||
           (reg >= 0x10 && reg <= 0x15) || (reg >= 0x20 && reg <= 0x24);
  }

  std::array<uint8_t, 256> inForce_{};
  std::array<uint8_t, 256> pending_{};
};

double MsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

struct SimBus::Impl {
  mutable std::mutex mu;
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  int master = -1;
  int slave = -1;  // kept open so the master never sees a hang-up between the host's opens
  int wakeRead = -1, wakeWrite = -1;
  // Counts the thread's returns from its wait on the line, so that a closing
  // can wait for the thread to let go of the old master (see HangUpNow).
  unsigned long pollReturns = 0;
  std::condition_variable polled;
  std::string slavePath;
  std::vector<int> pointedComs;  // the NIVELIX_COM<n> that name comLink
  // What the COM variables name: a link of this bus's own to the line, gone
  // while the adapter is out, as a /dev/serial/by-id/ link is. Pointing them
  // at /dev/pts/N itself would not do: once the line is closed the system
  // gives N to the next pseudo-terminal made, often another test's running
  // beside this one, and the program would open and lock that stranger's line.
  std::string comFolder;  // private temporary folder holding the link; empty before PointCom
  std::string comLink;
  // Slave descriptors of the lines pulled out, held until the bus goes: a
  // held slave keeps its number from being given to any new pseudo-terminal,
  // so that a lock file the program keeps for the old device (by its real
  // path) can never name another process's line. The host sees its hang-up
  // all the same: that comes with the master's close.
  std::vector<int> heldSlaves;
  bool unplugged = false;
  bool running = true;
  bool verbose = false;
  double turnaroundMs = 2.0;
  double lastHostArrivalMs = -Never;
  std::deque<ScheduledByte> hostBytes;  // read from the master, not yet arrived
  std::vector<std::unique_ptr<SimSensor>> sensors;
  std::vector<TraceEntry> trace;
  std::thread thread;

  double Now() const { return MsSince(start); }

  SimSensor &Sensor(int index) const {
    if (index < 0 || index >= static_cast<int>(sensors.size()))
      throw std::out_of_range("SimBus: no sensor " + std::to_string(index));
    return *sensors[static_cast<size_t>(index)];
  }

  // The attention byte a sensor answers: 0x02 on RS232, its address on RS485.
  static uint8_t AttentionOf(const SimSensor &s) { return s.Rs232() ? 0x02 : s.Address(); }

  // Adds a sensor unless one already on the bus answers the same attention byte.
  int Add(std::unique_ptr<SimSensor> sensor) {
    const uint8_t attention = AttentionOf(*sensor);
    for (size_t i = 0; i < sensors.size(); ++i) {
      if (AttentionOf(*sensors[i]) != attention) continue;
      char message[160];
      if (sensor->Rs232() && sensors[i]->Rs232())
        std::snprintf(message, sizeof message, "SimBus: an RS232 line carries one sensor (sensor %zu is there)", i);
      else
        std::snprintf(message, sizeof message,
                      "SimBus: sensor %zu already answers at address %u on this bus", i, attention);
      throw std::invalid_argument(message);
    }
    sensors.push_back(std::move(sensor));
    return static_cast<int>(sensors.size()) - 1;
  }

  void Wake() const {
    const char c = 1;
    if (write(wakeWrite, &c, 1) < 0) { /* the pipe is full: the thread is awake anyway */ }
  }

  void Record(double timeMs, bool fromHost, uint8_t byte) {
    // Past twice TraceKeep the older half goes: amortized, each byte is
    // moved once.
    if (trace.size() >= 2 * SimBus::TraceKeep)
      trace.erase(trace.begin(), trace.end() - SimBus::TraceKeep);
    trace.push_back({timeMs, fromHost, byte});
    if (verbose)
      std::fprintf(stderr, "%11.3f ms  %s  %02X\n", timeMs, fromHost ? "host   ->" : "sensor <-", byte);
  }

  // Closing the master while the thread waits on it in ppoll only drops the
  // descriptor: the kernel keeps the file, and the host sees no hang-up,
  // until that wait ends. Wakes the thread and waits for it to come back, so
  // that the line has hung up when this returns. Called with lock held on mu.
  void HangUpNow(std::unique_lock<std::mutex> &lock) {
    CloseMaster();
    const unsigned long seen = pollReturns;
    Wake();
    polled.wait(lock, [&] { return pollReturns != seen || !running; });
  }

  void CloseMaster() {
    if (master >= 0) close(master);
    if (slave >= 0) heldSlaves.push_back(slave);
    master = slave = -1;
    unplugged = true;
    if (!comLink.empty()) unlink(comLink.c_str());
  }

  // The COM link, to the line as it is now (none while unplugged).
  void PlaceComLink() {
    if (comLink.empty() || unplugged) return;
    unlink(comLink.c_str());
    if (symlink(slavePath.c_str(), comLink.c_str()) != 0)
      throw std::runtime_error("SimBus: cannot link " + comLink + " to " + slavePath);
  }

  void SetComVariables() const {
    for (int n : pointedComs) setenv(("NIVELIX_COM" + std::to_string(n)).c_str(), comLink.c_str(), 1);
  }

  // Schedules an answer: the first byte one byte time after the turnaround,
  // the others back to back, with the long gap of that fault after the first half.
  void Schedule(SimSensor &s, const std::vector<uint8_t> &bytes, double lastArrivalMs, double gapMs) {
    double t = lastArrivalMs + turnaroundMs;
    const size_t half = bytes.size() / 2;
    for (size_t i = 0; i < bytes.size(); ++i) {
      if (i == half && i > 0) t += gapMs;
      t += ByteTimeMs;
      s.outgoing.push_back({t, bytes[i]});
    }
    s.doneAtMs = s.outgoing.empty() ? lastArrivalMs + turnaroundMs : s.outgoing.back().timeMs;
  }

  void OnRequest(SimSensor &s, double t) {
    s.deadlineMs = Never;
    s.loneByteMs = Never;
    if (s.fault.Take(Fault::Unplug)) {
      s.state = SimSensor::State::Idle;
      CloseMaster();
      return;
    }
    if (s.fault.Take(Fault::Silence)) {
      s.state = SimSensor::State::Idle;
      return;
    }
    s.requestMs = t;
    bool applyAfter = false;
    std::vector<uint8_t> answer = s.Answer(s.request, applyAfter);
    double gapMs = 0.0;
    const int param = s.fault.param;
    if (s.fault.Take(Fault::ErrorByte)) {
      answer = s.ErrorFrame(static_cast<uint8_t>(param));
    } else if (s.fault.Take(Fault::WrongChecksum)) {
      answer.back() ^= 0xFF;
    } else if (s.fault.Take(Fault::EchoMismatch)) {
      if (answer.size() >= 3) {
        answer[1] ^= 0x01;
        answer.back() = Checksum(answer, answer.size() - 1);
      }
    } else if (s.fault.Take(Fault::Truncated)) {
      answer.resize(std::min(answer.size(), static_cast<size_t>(std::max(param, 0))));
    } else if (s.fault.Take(Fault::LeadingGarbage)) {
      answer.insert(answer.begin(), static_cast<size_t>(std::max(param, 0)), 0x55);
    } else if (s.fault.Take(Fault::LongGap)) {
      gapMs = param > 0 ? param : DefaultLongGapMs;
    }
    s.applyAfterAnswer = applyAfter;
    s.state = SimSensor::State::Answering;
    Schedule(s, answer, t, gapMs);
  }

  void OnHostByte(SimSensor &s, uint8_t byte, double t, bool lineWasQuiet) {
    switch (s.state) {
      case SimSensor::State::Acknowledging:
      case SimSensor::State::Answering:
        return;  // half duplex: the sensor is talking
      case SimSensor::State::WaitingRequest:
        if (s.request.empty() && !s.Rs232() && byte != s.Address()) {
          s.state = SimSensor::State::Idle;  // the host has turned to another sensor
          s.deadlineMs = Never;
          if (lineWasQuiet) OnAttention(s, byte, t);
          return;
        }
        s.request.push_back(byte);
        s.loneByteMs = s.request.size() == 1 ? t + QuietBeforeAttentionMs : Never;
        if (s.request.size() == s.RequestLength()) OnRequest(s, t);
        return;
      case SimSensor::State::Idle:
        if (lineWasQuiet) OnAttention(s, byte, t);
        return;
    }
  }

  void OnAttention(SimSensor &s, uint8_t byte, double t) {
    const bool attention = s.Rs232() ? byte == 0x02 : byte == s.Address();
    if (!attention || s.fault.Take(Fault::NoAck)) return;
    s.state = SimSensor::State::Acknowledging;
    s.deadlineMs = Never;
    Schedule(s, {s.Rs232() ? uint8_t{0x06} : s.Address()}, t, 0.0);
  }

  // A request's bytes come back to back; a first byte followed by silence was
  // the host waking the sensor again (its earlier acknowledgement unused).
  void OnLoneByte(SimSensor &s) {
    const uint8_t byte = s.request.front();
    const double arrivalMs = s.loneByteMs - QuietBeforeAttentionMs;
    s.loneByteMs = Never;
    s.request.clear();
    s.state = SimSensor::State::Idle;
    s.deadlineMs = Never;
    OnAttention(s, byte, arrivalMs);
  }

  void OnDone(SimSensor &s) {
    const double doneMs = s.doneAtMs;
    s.doneAtMs = Never;
    if (s.state == SimSensor::State::Acknowledging) {
      s.state = SimSensor::State::WaitingRequest;
      s.request.clear();
      s.deadlineMs = doneMs + RequestWaitMs;
      return;
    }
    s.state = SimSensor::State::Idle;
    if (s.applyAfterAnswer) s.ApplyLineSettings();
    s.applyAfterAnswer = false;
  }

  // The earliest pending event, and which: -1 a host byte, else a sensor index.
  double NextEvent(int &who) const {
    double next = hostBytes.empty() ? Never : hostBytes.front().timeMs;
    who = -1;
    for (size_t i = 0; i < sensors.size(); ++i) {
      const SimSensor &s = *sensors[i];
      const double t = !s.outgoing.empty() ? s.outgoing.front().timeMs
                                           : std::min({s.doneAtMs, s.deadlineMs, s.loneByteMs});
      if (t < next) {
        next = t;
        who = static_cast<int>(i);
      }
    }
    return next;
  }

  void RunDue() {
    for (;;) {
      int who = -1;
      const double next = NextEvent(who);
      if (next == Never || next > Now()) return;
      if (who < 0) {
        const ScheduledByte hb = hostBytes.front();
        hostBytes.pop_front();
        const bool quiet = hb.timeMs - lastHostArrivalMs >= QuietBeforeAttentionMs - 0.01;
        lastHostArrivalMs = hb.timeMs;
        Record(hb.timeMs, true, hb.byte);
        for (auto &s : sensors) OnHostByte(*s, hb.byte, hb.timeMs, quiet);
        continue;
      }
      SimSensor &s = *sensors[static_cast<size_t>(who)];
      if (!s.outgoing.empty()) {
        const uint8_t byte = s.outgoing.front().byte;
        s.outgoing.pop_front();
        if (master >= 0 && write(master, &byte, 1) == 1) Record(Now(), false, byte);
        if (s.outgoing.empty()) OnDone(s);
      } else if (s.loneByteMs <= std::min(s.doneAtMs, s.deadlineMs)) {
        OnLoneByte(s);
      } else if (s.doneAtMs <= s.deadlineMs) {
        OnDone(s);
      } else {
        s.deadlineMs = s.loneByteMs = Never;  // no request came
        s.state = SimSensor::State::Idle;
        s.request.clear();
      }
    }
  }

  void ReadHost() {
    uint8_t buffer[512];
    for (;;) {
      const ssize_t n = read(master, buffer, sizeof buffer);
      if (n <= 0) return;
      const double readMs = Now();
      double previous = hostBytes.empty() ? lastHostArrivalMs : hostBytes.back().timeMs;
      for (ssize_t i = 0; i < n; ++i) {
        previous = std::max(readMs, previous) + ByteTimeMs;
        hostBytes.push_back({previous, buffer[i]});
      }
    }
  }

  // Wire timing must hold within a fraction of a byte time even on a busy
  // machine: ask for a fine timer slack and, where allowed, a real-time
  // priority (the thread sleeps between bytes, so it never hogs a core).
  static void SharpenTiming() {
    prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
    sched_param param{};
    param.sched_priority = 10;
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
  }

  void Loop() {
    SharpenTiming();
    std::unique_lock<std::mutex> lock(mu);
    while (running) {
      RunDue();
      int who = -1;
      const double next = NextEvent(who);
      const int fd = master;
      lock.unlock();
      pollfd fds[2] = {{wakeRead, POLLIN, 0}, {fd, POLLIN, 0}};
      timespec wait{};
      timespec *timeout = nullptr;
      if (next != Never) {
        const double ms = std::max(0.0, next - MsSince(start));
        wait.tv_sec = static_cast<time_t>(ms / 1000.0);
        wait.tv_nsec = static_cast<long>((ms - wait.tv_sec * 1000.0) * 1e6);
        timeout = &wait;
      }
      const int ready = ppoll(fds, fd >= 0 ? 2 : 1, timeout, nullptr);
      lock.lock();
      ++pollReturns;
      polled.notify_all();
      if (ready <= 0) continue;
      if (fds[0].revents & POLLIN) {
        char drain[64];
        while (read(wakeRead, drain, sizeof drain) > 0) {
        }
      }
      if (fd >= 0 && fd == master && (fds[1].revents & POLLIN)) ReadHost();
    }
  }
};

namespace {

// A pseudo-terminal set up as the sensors' line: raw, 9600 baud, the master
// non-blocking. Throws std::runtime_error when none can be had.
void OpenLine(int &master, int &slave, std::string &slavePath) {
  char name[256] = {};
  if (openpty(&master, &slave, name, nullptr, nullptr) != 0)
    throw std::runtime_error("SimBus: no pseudo-terminal available");
  termios tio{};
  tcgetattr(slave, &tio);
  cfmakeraw(&tio);
  cfsetispeed(&tio, B9600);
  cfsetospeed(&tio, B9600);
  tio.c_cflag |= CLOCAL | CREAD;
  tcsetattr(slave, TCSANOW, &tio);
  fcntl(master, F_SETFD, FD_CLOEXEC);
  fcntl(slave, F_SETFD, FD_CLOEXEC);
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
  slavePath = name;
}

}  // namespace

SimBus::SimBus() : impl_(new Impl) {
  int master = -1, slave = -1;
  std::string name;
  OpenLine(master, slave, name);
  int wake[2];
  if (pipe2(wake, O_NONBLOCK | O_CLOEXEC) != 0) {
    close(master);
    close(slave);
    throw std::runtime_error("SimBus: no pipe available");
  }
  impl_->master = master;
  impl_->slave = slave;
  impl_->slavePath = name;
  impl_->wakeRead = wake[0];
  impl_->wakeWrite = wake[1];
  impl_->thread = std::thread([this] { impl_->Loop(); });
}

SimBus::~SimBus() {
  {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->running = false;
  }
  impl_->Wake();
  impl_->thread.join();
  impl_->CloseMaster();
  for (int fd : impl_->heldSlaves) close(fd);
  if (!impl_->comFolder.empty()) rmdir(impl_->comFolder.c_str());
  close(impl_->wakeRead);
  close(impl_->wakeWrite);
}

std::string SimBus::SlavePath() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->slavePath;
}

void SimBus::PointCom(int n) const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  if (impl_->comFolder.empty()) {
    const char *tmp = std::getenv("TMPDIR");
    std::string folder = std::string(tmp && *tmp ? tmp : "/tmp") + "/nivelix-simbus-XXXXXX";
    if (mkdtemp(&folder[0]) == nullptr) throw std::runtime_error("SimBus: cannot make " + folder);
    // Open to every user, as /dev/serial/by-id/ is: whether a user may use
    // the port is the device's own permissions' business.
    chmod(folder.c_str(), 0755);
    impl_->comFolder = folder;
    impl_->comLink = folder + "/tty";
    impl_->PlaceComLink();
  }
  auto &coms = impl_->pointedComs;
  if (std::find(coms.begin(), coms.end(), n) == coms.end()) coms.push_back(n);
  setenv(("NIVELIX_COM" + std::to_string(n)).c_str(), impl_->comLink.c_str(), 1);
}

int SimBus::AddSensorA(const SensorAConfig &config) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->Add(std::make_unique<SensorA>(config));
}

int SimBus::AddSensorB(const SensorBConfig &config) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->Add(std::make_unique<SensorB>(config));
}

int SimBus::SensorCount() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return static_cast<int>(impl_->sensors.size());
}

void SimBus::SetTurnaroundMs(double ms) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->turnaroundMs = std::max(0.0, ms);
}

void SimBus::SetFault(int sensor, Fault fault, int param, int times) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  FaultSetting &f = impl_->Sensor(sensor).fault;
  f.fault = times == 0 ? Fault::None : fault;
  f.param = param;
  f.times = times;
}

void SimBus::ClearFault(int sensor) { SetFault(sensor, Fault::None); }

void SimBus::SetAngle(int sensor, const AngleSource &source) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->Sensor(sensor).SetAngle(source);
}

uint16_t SimBus::Register(int sensor, uint8_t reg) const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->Sensor(sensor).Register(reg);
}

void SimBus::SetRegister(int sensor, uint8_t reg, uint16_t value) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->Sensor(sensor).SetRegister(reg, value);
}

void SimBus::PowerCycle(int sensor) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  SimSensor &s = impl_->Sensor(sensor);
  s.PowerCycle();
  s.state = SimSensor::State::Idle;
  s.outgoing.clear();
  s.request.clear();
  s.doneAtMs = s.deadlineMs = s.loneByteMs = Never;
  s.applyAfterAnswer = false;
}

void SimBus::Unplug() {
  std::unique_lock<std::mutex> lock(impl_->mu);
  impl_->HangUpNow(lock);
}

void SimBus::Replug() {
  int master = -1, slave = -1;
  std::string name;
  OpenLine(master, slave, name);
  {
    std::unique_lock<std::mutex> lock(impl_->mu);
    if (!impl_->unplugged) impl_->HangUpNow(lock);
    impl_->master = master;
    impl_->slave = slave;
    impl_->slavePath = name;
    impl_->unplugged = false;
    impl_->hostBytes.clear();
    for (auto &s : impl_->sensors) {
      s->state = SimSensor::State::Idle;
      s->outgoing.clear();
      s->request.clear();
      s->doneAtMs = s->deadlineMs = s->loneByteMs = Never;
      s->applyAfterAnswer = false;
    }
    impl_->PlaceComLink();
    impl_->SetComVariables();
  }
  impl_->Wake();
}

bool SimBus::Unplugged() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->unplugged;
}

std::vector<TraceEntry> SimBus::Trace() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->trace;
}

void SimBus::ClearTrace() {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->trace.clear();
}

std::vector<uint8_t> SimBus::HostBytes() const {
  std::vector<uint8_t> bytes;
  for (const TraceEntry &e : Trace())
    if (e.fromHost) bytes.push_back(e.byte);
  return bytes;
}

std::vector<uint8_t> SimBus::SensorBytes() const {
  std::vector<uint8_t> bytes;
  for (const TraceEntry &e : Trace())
    if (!e.fromHost) bytes.push_back(e.byte);
  return bytes;
}

void SimBus::SetVerbose(bool verbose) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->verbose = verbose;
}

}  // namespace nivsim
