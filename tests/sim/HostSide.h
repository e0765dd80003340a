// HostSide: the host end of the simulated line, driven with plain read and
// write on the slave device, as a link library would.
#ifndef NIVELIX_TESTS_HOSTSIDE_H
#define NIVELIX_TESTS_HOSTSIDE_H

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "SimFixture.h"

class HostSide {
 public:
  explicit HostSide(const std::string &path) {
    SimFixture::PreferRealTime();  // timing tests must survive a busy machine
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd_ < 0) throw std::runtime_error("cannot open " + path);
    termios tio{};
    tcgetattr(fd_, &tio);
    cfmakeraw(&tio);
    cfsetispeed(&tio, B9600);
    cfsetospeed(&tio, B9600);
    tcsetattr(fd_, TCSANOW, &tio);
  }
  ~HostSide() { close(fd_); }
  HostSide(const HostSide &) = delete;
  HostSide &operator=(const HostSide &) = delete;

  int Fd() const { return fd_; }

  bool Write(const std::vector<uint8_t> &bytes) {
    return write(fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  }

  // Up to `count` bytes: stops after `totalMs`, or `gapMs` after a byte when
  // no next byte comes. Each byte's receive time goes to `timesMs` if given.
  std::vector<uint8_t> Read(size_t count, int totalMs, int gapMs = 40, std::vector<double> *timesMs = nullptr) {
    std::vector<uint8_t> bytes;
    const double start = Now();
    double last = -1.0;
    while (bytes.size() < count) {
      const double now = Now();
      double left = totalMs - (now - start);
      if (last >= 0.0) left = std::min(left, gapMs - (now - last));
      if (left <= 0) break;
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left) + 1) <= 0) break;
      if (p.revents & (POLLHUP | POLLERR)) {
        hungUp_ = true;
        break;
      }
      uint8_t b;
      if (read(fd_, &b, 1) != 1) break;
      last = Now();
      bytes.push_back(b);
      if (timesMs) timesMs->push_back(last);
    }
    return bytes;
  }

  // Writes the attention byte and reads one byte back within 22 ms.
  std::vector<uint8_t> Attention(uint8_t byte) {
    tcflush(fd_, TCIOFLUSH);
    Write({byte});
    return Read(1, 22);
  }

  // Wakes the sensor, sends the frame (checksum appended) and reads `count` bytes.
  std::vector<uint8_t> Exchange(uint8_t attention, std::vector<uint8_t> frame, size_t count, int totalMs = 200) {
    if (Attention(attention).size() != 1) return {};
    frame.push_back(Xor(frame));
    Write(frame);
    return Read(count, totalMs);
  }

  bool HungUp() const { return hungUp_; }

  static uint8_t Xor(const std::vector<uint8_t> &bytes) {
    uint8_t x = 0;
    for (uint8_t b : bytes) x ^= b;
    return x;
  }

  static double Now() { return std::chrono::duration<double, std::milli>(Clock::now().time_since_epoch()).count(); }

 private:
  using Clock = std::chrono::steady_clock;
  int fd_ = -1;
  bool hungUp_ = false;
};

// The bytes of a text, for comparing answers.
inline std::vector<uint8_t> Bytes(const std::string &text) { return std::vector<uint8_t>(text.begin(), text.end()); }

// A frame with its checksum appended.
inline std::vector<uint8_t> WithChecksum(std::vector<uint8_t> frame) {
  frame.push_back(HostSide::Xor(frame));
  return frame;
}

#endif
