// SensorLine: a sensor test on a simulated line behind COM5.
//
// Both link libraries keep their port between calls, so every test closes
// both before its bus goes away; the next test starts from closed ports.
#ifndef NIVELIX_TESTS_SENSORLINE_H
#define NIVELIX_TESTS_SENSORLINE_H

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <dirent.h>
#include <unistd.h>

#include "Capteur.h"
#include "DefCom72500.h"
#include "DefCom72800.h"
#include "SimBus.h"
#include "SimFixture.h"
#include "VerrouPort.h"

namespace sensors_test {

constexpr uint8_t Rs232 = 1;
constexpr uint8_t Rs485 = 0;

inline std::string Hex(const std::vector<uint8_t> &bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string text;
  for (uint8_t b : bytes) {
    text += digits[b >> 4];
    text += digits[b & 0x0F];
  }
  return text;
}

// One run of bytes in one direction: bytes that follow each other on the
// line without a pause (attention retries are 50 ms apart, so each stands
// alone).
struct Run {
  bool fromHost;
  double startMs, endMs;
  std::vector<uint8_t> bytes;
};

inline std::vector<Run> Runs(const nivsim::SimBus &bus) {
  std::vector<Run> runs;
  for (const auto &e : bus.Trace()) {
    if (runs.empty() || runs.back().fromHost != e.fromHost || e.timeMs - runs.back().endMs > 10.0)
      runs.push_back({e.fromHost, e.timeMs, e.timeMs, {}});
    runs.back().bytes.push_back(e.byte);
    runs.back().endMs = e.timeMs;
  }
  return runs;
}

// The request frames the host sent, as the hexadecimal text of their command
// bytes (without the address byte of RS485 and without the checksum).
inline std::vector<std::string> Requests(const nivsim::SimBus &bus, uint8_t protocol) {
  std::vector<std::string> requests;
  for (const auto &run : Runs(bus)) {
    if (!run.fromHost || run.bytes.size() < 3) continue;
    const size_t head = protocol == Rs485 ? 1 : 0;
    requests.push_back(Hex({run.bytes.begin() + head, run.bytes.end() - 1}));
  }
  return requests;
}

inline std::vector<Run> HostRequestRuns(const nivsim::SimBus &bus) {
  std::vector<Run> runs;
  for (const auto &run : Runs(bus))
    if (run.fromHost && run.bytes.size() >= 3) runs.push_back(run);
  return runs;
}

// How many descriptors of this process refer to the device at path: tells
// whether a link library still holds the port.
inline int OpenDescriptorsOn(const std::string &path) {
  char target[PATH_MAX];
  char real[PATH_MAX];
  if (!realpath(path.c_str(), real)) return -1;
  int count = 0;
  DIR *dir = opendir("/proc/self/fd");
  if (!dir) return -1;
  while (dirent *entry = readdir(dir)) {
    const std::string link = std::string("/proc/self/fd/") + entry->d_name;
    const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
    if (n <= 0) continue;
    target[n] = '\0';
    if (std::string(target) == real) ++count;
  }
  closedir(dir);
  return count;
}

inline double MsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

class SensorLine : public SimFixture {
 protected:
  // The link libraries run on the test thread: on a loaded machine it must
  // not lose the processor for longer than the line's timeouts.
  void SetUp() override {
    SimFixture::SetUp();
    PreferRealTime();
  }

  void TearDown() override {
    Com72500_ClosePort();
    Com72800_ClosePort();
    // Before the pseudo-terminal goes: its number is free for the next test
    // program, which must not find it locked by this one.
    VerrouProgramme().Liberer();
    SimFixture::TearDown();
  }

  // A sensor object of type T on the simulated port, already set as ReadAll
  // leaves it (Connected true, port closed) unless told otherwise.
  template <class T>
  std::unique_ptr<T> Sensor(uint8_t protocol, int32_t identifier, bool connected = true) {
    auto sensor = std::make_unique<T>();
    sensor->SetPort(static_cast<uint8_t>(comNumber));
    sensor->Data.Protocol = protocol;
    sensor->Data.Identifier = identifier;
    sensor->Connected = connected;
    return sensor;
  }

  // Number of descriptors this process holds on the simulated device (the
  // simulator keeps one of its own: compare with the count before the call).
  int HeldPorts() const { return OpenDescriptorsOn(bus->SlavePath()); }
};

}  // namespace sensors_test

#endif
