// PortSerie on a termios device.
//
// The link protocol was designed around the timeout rules of the Windows
// communications API (a read ends on count bytes, on a silent gap after a byte,
// or on a total time), so reads and writes here are loops of non-blocking
// system calls bounded by a monotonic clock that reproduce those rules with
// sub-millisecond precision. VTIME is not used: its 0.1 s steps are far too
// coarse for a 40 ms gap.
//
// There is no event thread: the link library watches no line event, and a port
// without one behaves the same in every operation it uses.
#include "PortSerie.h"

#include "CheminPort.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

const char *const kCodeTexts[] = {
    "Unable to open com port",
    "WriteFile function failed",
    "ReadFile function failed",
    "Invalid Async parameter",
    "PurgeComm function failed",
    "Unable to get async status",
    "SetCommState function failed",
    "SetCommTimeouts failed",
    "SetupComm function failed",
    "ClearCommError function failed",
    "GetCommModemStatus function failed",
    "EscapeCommFunction function failed",
    "TransmitCommChar function failed",
    "Cannot set property while connected",
    "EnumPorts function failed",
    "Failed to store settings",
    "Failed to load settings",
    "Link (un)registration failed",
    "Cannot change led state while a port is selected",
    "Cannot wait for event if event thread is created",
    "WaitForEvent method failed",
    "A component is linked to the receive buffer event",
    "Registry error",
};

std::string MessageFor(int code, int systemError) {
  std::string text = EPortSerie::CodeText(code);
  if (systemError == -1) return text;
  char suffix[48];
  std::snprintf(suffix, sizeof suffix, " (win error code: %d)", systemError);
  return text + suffix;
}

// Nanoseconds on the monotonic clock: deadlines must not move with the wall clock.
using Nanos = long long;
constexpr Nanos kNanosPerMs = 1000000LL;

Nanos Now() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<Nanos>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

timespec ToTimespec(Nanos span) {
  if (span < 0) span = 0;
  timespec ts;
  ts.tv_sec = static_cast<time_t>(span / 1000000000LL);
  ts.tv_nsec = static_cast<long>(span % 1000000000LL);
  return ts;
}

// Waits for the given poll events until the deadline (no deadline when
// deadline < 0). Returns the events seen, 0 on timeout, -1 with errno set.
int WaitFor(int fd, short events, Nanos deadline) {
  for (;;) {
    pollfd pfd{fd, events, 0};
    timespec ts;
    timespec *timeout = nullptr;
    if (deadline >= 0) {
      ts = ToTimespec(deadline - Now());
      timeout = &ts;
    }
    int ready = ppoll(&pfd, 1, timeout, nullptr);
    if (ready > 0) return pfd.revents;
    if (ready == 0) return 0;
    if (errno != EINTR) return -1;
  }
}

// The errors of a descriptor whose device has gone: a hung-up tty gives EIO,
// an unplugged USB adapter ENODEV (or ENXIO while it is being removed).
bool PeerVanishedErrno(int error) { return error == EIO || error == ENXIO || error == ENODEV; }

constexpr short HangUpEvents = POLLHUP | POLLERR | POLLNVAL;

speed_t SpeedFor(int baud) {
  switch (baud) {
    case 110: return B110;
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    case 921600: return B921600;
    default: return B0;  // not a rate that termios can express
  }
}

tcflag_t CharSizeFor(int dataBits) {
  switch (dataBits) {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    case 8: return CS8;
    default: return static_cast<tcflag_t>(-1);
  }
}

tcflag_t ParityFlagsFor(TBitsParite bits) {
  switch (bits) {
    case TBitsParite::None: return 0;
    case TBitsParite::Odd: return PARENB | PARODD;
    case TBitsParite::Even: return PARENB;
    case TBitsParite::Mark: return PARENB | CMSPAR | PARODD;
    case TBitsParite::Space: return PARENB | CMSPAR;
  }
  return 0;
}

// Modem-line ioctls are refused by pseudo-terminals (and some adapters
// without those lines); that is no reason to refuse the port.
bool ModemLinesUnsupported(int error) { return error == ENOTTY || error == EINVAL; }

}  // namespace

// ---------------------------------------------------------------------------

EPortSerie::EPortSerie(int code, int systemError)
    : std::runtime_error(MessageFor(code, systemError)), code_(code), systemError_(systemError) {}

const char *EPortSerie::CodeText(int code) {
  if (code < 1 || code > static_cast<int>(sizeof kCodeTexts / sizeof kCodeTexts[0])) return "";
  return kCodeTexts[code - 1];
}

// ---------------------------------------------------------------------------

TPortSerie::TPortSerie() = default;

TPortSerie::~TPortSerie() {
  try {
    Close();
  } catch (const EPortSerie &) {
    // A destructor cannot report; Close has released the descriptor anyway.
  }
}

std::string TPortSerie::DevicePath(const std::string &portName) {
  static const std::string kWin32Prefix = "\\\\.\\";
  std::string name = portName;
  if (name.compare(0, kWin32Prefix.size(), kWin32Prefix) == 0) name.erase(0, kWin32Prefix.size());
  if (name.size() < 4 || name.compare(0, 3, "COM") != 0) return portName;

  const char *digits = name.c_str() + 3;
  char *end = nullptr;
  errno = 0;
  long number = std::strtol(digits, &end, 10);
  bool wholeNumber = *digits != '\0' && *end == '\0' && errno == 0 &&
                     (*digits == '-' || (*digits >= '0' && *digits <= '9'));
  if (!wholeNumber) return portName;

  return ComDevicePath(number);
}

void TPortSerie::SetPort(const std::string &name) {
  if (name == port_) return;
  port_ = name;
  if (!Connected()) return;
  Close();
  Open();
}

void TPortSerie::SetConnected(bool connected) {
  if (connected == Connected()) return;
  if (connected)
    Open();
  else
    Close();
}

void TPortSerie::Open() {
  const std::string path = DevicePath(port_);
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);  // a signal is no reason to refuse the port
  if (fd < 0) throw EPortSerie(ErrOpen, errno);

  // Not shared with other openers. The lock comes first: a refused second
  // opener must not touch the exclusive flag, which belongs to the device
  // and so to the first opener too. The lock also holds against root, which
  // TIOCEXCL does not stop, and between two opens inside one process.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int error = errno;
    ::close(fd);
    throw EPortSerie(ErrOpen, error);
  }
  ::ioctl(fd, TIOCEXCL);
  fd_ = fd;
  hungUp_ = false;
  lowLatencySet_ = false;

  try {
    ApplyBuffers();
    ApplyLine();
    ApplyTimeouts();
  } catch (...) {
    ReleaseDescriptor();
    throw;
  }

  RequestLowLatency();
  // A Windows port starts with empty queues; a tty that another process
  // keeps open would still hold what arrived before.
  ::tcflush(fd_, TCIOFLUSH);
}

// USB serial adapters hold received bytes in their latency timer, commonly
// 16 ms, before passing them on. The sensor acknowledges the attention byte
// with a single byte within a 22 ms window, so without low latency that
// acknowledgement can arrive too late. Devices without the setting refuse
// the request (pseudo-terminals do); that is not a failure.
void TPortSerie::RequestLowLatency() {
  serial_struct serial;
  if (::ioctl(fd_, TIOCGSERIAL, &serial) != 0) return;
  if (serial.flags & ASYNC_LOW_LATENCY) return;
  serial.flags |= ASYNC_LOW_LATENCY;
  lowLatencySet_ = ::ioctl(fd_, TIOCSSERIAL, &serial) == 0;
}

// The flag belongs to the device, not to our descriptor: a port closed with
// it on would leave every later user of the adapter on low latency (and its
// higher interrupt load). Only a flag this port turned on is turned off.
void TPortSerie::RestoreLowLatency() {
  if (!lowLatencySet_) return;
  lowLatencySet_ = false;
  serial_struct serial;
  if (::ioctl(fd_, TIOCGSERIAL, &serial) != 0) return;  // a vanished device has nothing to restore
  serial.flags &= ~ASYNC_LOW_LATENCY;
  ::ioctl(fd_, TIOCSSERIAL, &serial);
}

bool TPortSerie::HungUp() {
  if (!Connected()) return false;
  if (hungUp_) return true;
  pollfd pfd{fd_, 0, 0};  // hang-up and error events are reported whatever is asked
  if (::poll(&pfd, 1, 0) > 0 && (pfd.revents & HangUpEvents)) hungUp_ = true;
  return hungUp_;
}

void TPortSerie::NoteFailure(int error) {
  if (PeerVanishedErrno(error)) hungUp_ = true;
}

void TPortSerie::Close() {
  if (!Connected()) return;
  int flushError = 0;
  if (::tcflush(fd_, TCIOFLUSH) != 0) flushError = errno;
  // The descriptor is released even when the flush failed: a port that
  // cannot be closed would keep the device locked for everyone.
  ReleaseDescriptor();
  if (flushError != 0 && !PeerVanishedErrno(flushError)) throw EPortSerie(ErrPurge, flushError);
}

void TPortSerie::ReleaseDescriptor() {
  RestoreLowLatency();
  // The exclusive flag stays on the tty after close while anyone else holds
  // it open, which would lock us out of our own next open.
  ::ioctl(fd_, TIOCNXCL);
  ::close(fd_);  // also drops the flock
  fd_ = -1;
  hungUp_ = false;
}

// ---------------------------------------------------------------------------
// Property groups

void TPortSerie::SetBaudRate(int baud) {
  if (baud == baudRate_) return;
  baudRate_ = baud;
  if (Connected()) ApplyLine();
}

void TPortSerie::SetDataBits(int bits) {
  if (bits == dataBits_) return;
  dataBits_ = bits;
  if (Connected()) ApplyLine();
}

void TPortSerie::SetStopBits(TStopBits bits) {
  if (bits == stopBits_) return;
  stopBits_ = bits;
  if (Connected()) ApplyLine();
}

void TPortSerie::SetDiscardNull(bool discard) {
  if (discard == discardNull_) return;
  discardNull_ = discard;
  if (Connected()) ApplyLine();
}

void TPortSerie::SetEventChar(char c) {
  if (c == eventChar_) return;
  eventChar_ = c;
  if (Connected()) ApplyLine();
}

void TPortSerie::SetParity(const TPariteSerie &parity) {
  if (parity.Bits == parity_.Bits && parity.Check == parity_.Check &&
      parity.Replace == parity_.Replace && parity.ReplaceChar == parity_.ReplaceChar)
    return;
  parity_ = parity;
  if (Connected()) ApplyLine();
}

void TPortSerie::SetFlowControl(const TControleFlux &flow) {
  if (flow.ControlDTR == flow_.ControlDTR && flow.ControlRTS == flow_.ControlRTS &&
      flow.OutCTSFlow == flow_.OutCTSFlow && flow.OutDSRFlow == flow_.OutDSRFlow &&
      flow.XonXoffIn == flow_.XonXoffIn && flow.XonXoffOut == flow_.XonXoffOut &&
      flow.DSRSensitivity == flow_.DSRSensitivity && flow.TxContinueOnXoff == flow_.TxContinueOnXoff &&
      flow.XonChar == flow_.XonChar && flow.XoffChar == flow_.XoffChar)
    return;
  flow_ = flow;
  if (Connected()) ApplyLine();
}

void TPortSerie::SetTimeouts(const TDelaisSerie &timeouts) {
  if (timeouts.ReadInterval == timeouts_.ReadInterval &&
      timeouts.ReadTotalMultiplier == timeouts_.ReadTotalMultiplier &&
      timeouts.ReadTotalConstant == timeouts_.ReadTotalConstant &&
      timeouts.WriteTotalMultiplier == timeouts_.WriteTotalMultiplier &&
      timeouts.WriteTotalConstant == timeouts_.WriteTotalConstant)
    return;
  timeouts_ = timeouts;
  if (Connected()) ApplyTimeouts();
}

void TPortSerie::SetBuffers(const TTamponsSerie &buffers) {
  TTamponsSerie even{buffers.InputSize & ~1, buffers.OutputSize & ~1};
  if (even.InputSize == buffers_.InputSize && even.OutputSize == buffers_.OutputSize) return;
  buffers_ = even;
  if (Connected()) ApplyBuffers();
}

// The kernel sizes tty queues itself; the sizes are only checked and kept.
void TPortSerie::ApplyBuffers() {
  if (buffers_.InputSize <= 0 || buffers_.OutputSize <= 0) throw EPortSerie(ErrSetup, EINVAL);
}

void TPortSerie::ApplyLine() {
  speed_t speed = SpeedFor(baudRate_);
  tcflag_t charSize = CharSizeFor(dataBits_);
  if (speed == B0 || charSize == static_cast<tcflag_t>(-1)) throw EPortSerie(ErrSetState, EINVAL);

  termios tio;
  if (::tcgetattr(fd_, &tio) != 0) throw EPortSerie(ErrSetState, errno);
  ::cfmakeraw(&tio);
  tio.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | IGNPAR | PARMRK | ISTRIP);
  tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | HUPCL);
  tio.c_cflag |= CLOCAL | CREAD | charSize | ParityFlagsFor(parity_.Bits);
  if (stopBits_ != TStopBits::One) tio.c_cflag |= CSTOPB;
  if (parity_.Check) tio.c_iflag |= INPCK;
  // termios has one flag for hardware flow control in both directions.
  if (flow_.OutCTSFlow || flow_.ControlRTS == TControleRTS::Handshake) tio.c_cflag |= CRTSCTS;
  if (flow_.XonXoffOut) tio.c_iflag |= IXON;
  if (flow_.XonXoffIn) tio.c_iflag |= IXOFF;
  tio.c_cc[VSTART] = static_cast<cc_t>(flow_.XonChar);
  tio.c_cc[VSTOP] = static_cast<cc_t>(flow_.XoffChar);
  // Reads never block in the driver: ReadBytes does its own timing.
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  ::cfsetispeed(&tio, speed);
  ::cfsetospeed(&tio, speed);
  if (::tcsetattr(fd_, TCSANOW, &tio) != 0) throw EPortSerie(ErrSetState, errno);

  ApplyModemLine(TIOCM_DTR, flow_.ControlDTR == TControleDTR::Enable);
  ApplyModemLine(TIOCM_RTS, flow_.ControlRTS == TControleRTS::Enable);
}

void TPortSerie::ApplyModemLine(int line, bool active) {
  if (::ioctl(fd_, active ? TIOCMBIS : TIOCMBIC, &line) != 0 && !ModemLinesUnsupported(errno))
    throw EPortSerie(ErrSetState, errno);
}

// The timeouts are enforced by the read and write loops; nothing to send to
// the driver, and no value can be refused.
void TPortSerie::ApplyTimeouts() {}

// ---------------------------------------------------------------------------
// Data transfer

void TPortSerie::PurgeQueues(bool input, bool output) {
  if (!input && !output) return;
  int selector = input && output ? TCIOFLUSH : input ? TCIFLUSH : TCOFLUSH;
  if (::tcflush(fd_, selector) != 0) {
    const int error = errno;
    NoteFailure(error);
    throw EPortSerie(ErrPurge, error);
  }
}

int TPortSerie::WriteText(const std::string &text) {
  if (text.empty()) return 0;
  if (!Connected()) throw EPortSerie(ErrAsync);

  const Nanos start = Now();
  const long long limitMs = static_cast<long long>(timeouts_.WriteTotalMultiplier) * text.size() +
                            timeouts_.WriteTotalConstant;
  const bool bounded = timeouts_.WriteTotalMultiplier != 0 || timeouts_.WriteTotalConstant != 0;
  const Nanos deadline = bounded ? start + limitMs * kNanosPerMs : -1;

  size_t written = 0;
  while (written < text.size()) {
    ssize_t n = ::write(fd_, text.data() + written, text.size() - written);
    if (n > 0) {
      written += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) {
      const int error = errno;
      NoteFailure(error);
      throw EPortSerie(ErrWrite, error);
    }
    int events = WaitFor(fd_, POLLOUT, deadline);
    if (events < 0) throw EPortSerie(ErrWrite, errno);
    if (events & HangUpEvents) {
      hungUp_ = true;
      throw EPortSerie(ErrWrite, EIO);
    }
    if (events == 0) break;  // write timeout: the rest is never sent
  }
  return static_cast<int>(written) - DrainOutput(deadline);
}

// Waits until the driver has sent what was written, as a Windows write only
// completes then. Returns how many bytes were still queued at the deadline;
// they are discarded, as the write timeout aborts them.
int TPortSerie::DrainOutput(long long deadline) {
  // One character at the line rate, 10 bits per byte: a natural poll step.
  const Nanos charTime = baudRate_ > 0 ? 10LL * 1000000000LL / baudRate_ : kNanosPerMs;
  for (;;) {
    int queued = 0;
    if (::ioctl(fd_, TIOCOUTQ, &queued) != 0) {
      const int error = errno;
      NoteFailure(error);
      throw EPortSerie(ErrWrite, error);
    }
    if (queued <= 0) return 0;
    Nanos now = Now();
    if (deadline >= 0 && now >= deadline) {
      ::tcflush(fd_, TCOFLUSH);
      return queued;
    }
    Nanos step = charTime * queued / 2;
    if (step < 100000) step = 100000;
    if (deadline >= 0 && now + step > deadline) step = deadline - now;
    timespec ts = ToTimespec(step);
    while (::clock_nanosleep(CLOCK_MONOTONIC, 0, &ts, &ts) == EINTR) {
    }
  }
}

int TPortSerie::ReadBytes(char *buffer, int count) {
  if (!Connected()) throw EPortSerie(ErrAsync);

  const Nanos start = Now();
  const TDelaisSerie t = timeouts_;
  const bool totalLimited = t.ReadTotalMultiplier != 0 || t.ReadTotalConstant != 0;
  const Nanos totalDeadline =
      start + (static_cast<long long>(t.ReadTotalMultiplier) * (count > 0 ? count : 0) +
               t.ReadTotalConstant) * kNanosPerMs;
  // Negative (the default -1) or 0: no limit between bytes.
  const bool intervalLimited = t.ReadInterval > 0;

  int received = 0;
  Nanos lastByte = 0;
  bool peerGone = false;
  while (received < count) {
    ssize_t n = ::read(fd_, buffer + received, static_cast<size_t>(count - received));
    if (n > 0) {
      lastByte = Now();
      received += discardNull_ ? DropNulls(buffer + received, static_cast<int>(n)) : static_cast<int>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) {
      const int error = errno;
      NoteFailure(error);
      throw EPortSerie(ErrRead, error);
    }
    // Nothing to read. With VMIN 0 a read of an empty queue returns 0, so
    // only poll can tell a vanished peer; once it has, an empty read is final.
    if (peerGone) {
      hungUp_ = true;
      throw EPortSerie(ErrRead, EIO);
    }

    Nanos deadline = totalLimited ? totalDeadline : -1;
    if (intervalLimited && received > 0) {
      Nanos gapEnd = lastByte + t.ReadInterval * kNanosPerMs;
      if (deadline < 0 || gapEnd < deadline) deadline = gapEnd;
    }
    if (deadline >= 0 && Now() >= deadline) break;
    int events = WaitFor(fd_, POLLIN, deadline);
    if (events < 0) throw EPortSerie(ErrRead, errno);
    if (events & HangUpEvents) peerGone = true;
    if (events == 0) break;
  }

  // The Windows layer asks the queue state after each read; the answer is not
  // needed, and a line that hung up after the last byte came must not turn
  // bytes already read into a failure (the hang-up is noted for the next call).
  try {
    WaitingInputCount();
  } catch (const EPortSerie &) {
  }
  return received;
}

int TPortSerie::DropNulls(char *bytes, int length) {
  int kept = 0;
  for (int i = 0; i < length; ++i)
    if (bytes[i] != '\0') bytes[kept++] = bytes[i];
  return kept;
}

int TPortSerie::WaitingInputCount() {
  int waiting = 0;
  if (::ioctl(fd_, FIONREAD, &waiting) != 0) {
    const int error = errno;
    NoteFailure(error);
    throw EPortSerie(ErrClearError, error);
  }
  return waiting;
}
