// A simulated sensor line on COM1 for the link library's tests, and small
// helpers to call the library and look at the wire.
#ifndef NIVELIX_TESTS_LINKBUS_H
#define NIVELIX_TESTS_LINKBUS_H

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "SimBus.h"
#include "com72500.h"

using Bytes = std::vector<uint8_t>;

constexpr int32_t LinkPortNumber = 1;
constexpr int32_t ModeRs232 = 1;
constexpr int32_t ModeRs485 = 0;

struct ExchangeOutcome {
  TLinkResult result;
  std::string answer;
  int32_t count;
  double elapsedMs;
};

inline double MsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// True when nobody holds the device: it opens and takes the same exclusive
// lock that the serial layer takes.
inline bool DeviceIsFree(const std::string &path) {
  int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  ::close(fd);
  return free;
}

inline Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes &part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

inline Bytes Repeat(const Bytes &part, int times) {
  Bytes all;
  for (int i = 0; i < times; ++i) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// Every test starts and ends with the library's port closed, so that the next
// test's bus (a new pseudo-terminal behind the same COM1) is opened afresh.
class LinkBusTest : public ::testing::Test {
 protected:
  LinkBusTest() { bus.PointCom(LinkPortNumber); }
  void SetUp() override { Com72500_ClosePort(); }
  void TearDown() override { Com72500_ClosePort(); }

  int AddSensor(uint8_t identifier, bool rs232) {
    nivsim::SensorAConfig config;
    config.identifier = identifier;
    config.rs232 = rs232;
    return bus.AddSensorA(config);
  }

  ExchangeOutcome Exchange(const std::string &command, int32_t expectedLength, int32_t mode,
                           int32_t address) {
    char answer[LINK_BUFFER_SIZE];
    std::memset(answer, '#', sizeof answer);
    int32_t count = -99;
    auto start = std::chrono::steady_clock::now();
    TLinkResult result = Com72500_EchangeTrames(command.c_str(), answer, expectedLength, &count,
                                                LinkPortNumber, mode, address);
    double elapsed = MsSince(start);
    EXPECT_NE(std::memchr(answer, '\0', sizeof answer), nullptr) << "answer not terminated";
    return {result, std::string(answer), count, elapsed};
  }

  nivsim::SimBus bus;
};

#endif
