// FamilyBBus: a simulated sensor line for the tests of libcom72800.so.
//
// Each test gets a fresh SimBus behind COM5 (SimFixture); the library's port is closed
// after every test so the next one starts from a closed port on a new line.
#ifndef NIVELIX_TESTS_FAMILYBBUS_H
#define NIVELIX_TESTS_FAMILYBBUS_H

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "SimBus.h"
#include "SimFixture.h"
#include "com72800.h"

namespace familyb_test {

constexpr int32_t ComPort = 5;
constexpr int32_t Rs485 = 0;
constexpr int32_t Rs232 = 1;

using Bytes = std::vector<uint8_t>;

struct ExchangeResult {
  int32_t result;
  std::string answer;
  int32_t count;
  double elapsedMs;
};

inline double MsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// One Com72800_EchangeTrames call with buffers the way the program passes
// them: 256 bytes each, the answer buffer prefilled with junk so that a
// missing terminating zero shows, the count prefilled with a wrong value.
inline ExchangeResult Exchange(const char *command, int32_t expectedDigits, int32_t mode,
                               int32_t address, int32_t port = ComPort) {
  char commandBuffer[256] = {};
  std::strncpy(commandBuffer, command, sizeof commandBuffer - 1);
  char answer[256];
  std::memset(answer, 'X', sizeof answer);
  int32_t count = -77;
  const auto start = std::chrono::steady_clock::now();
  const int32_t result =
      Com72800_EchangeTrames(commandBuffer, answer, expectedDigits, &count, port, mode, address);
  const double elapsed = MsSince(start);
  EXPECT_NE(std::memchr(answer, '\0', sizeof answer), nullptr) << "answer not terminated";
  answer[255] = '\0';
  return {result, answer, count, elapsed};
}

// Whether this process can take the device's exclusive lock, that is, whether
// no port of the library holds it open.
inline bool CanLockExclusively(const std::string &path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return false;
  const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  ::close(fd);
  return locked;
}

// The descriptors of this process open on a device, in increasing order.
inline std::vector<int> DescriptorsOn(const std::string &path) {
  std::vector<int> found;
  DIR *dir = ::opendir("/proc/self/fd");
  if (dir == nullptr) return found;
  while (const dirent *entry = ::readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    char target[4096];
    const std::string link = std::string("/proc/self/fd/") + entry->d_name;
    const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
    if (n > 0 && std::string(target, static_cast<size_t>(n)) == path) found.push_back(std::stoi(entry->d_name));
  }
  ::closedir(dir);
  std::sort(found.begin(), found.end());
  return found;
}

class FamilyBBus : public SimFixture {
 protected:
  FamilyBBus() { comNumber = ComPort; }

  void TearDown() override {
    Com72800_ClosePort();
    SimFixture::TearDown();
  }

  // A family B sensor at an address, RS485 unless told otherwise.
  int AddSensor(uint8_t identifier, bool rs232 = false) {
    nivsim::SensorBConfig config;
    config.identifier = identifier;
    config.rs232 = rs232;
    return bus->AddSensorB(config);
  }

};

}  // namespace familyb_test

#endif
