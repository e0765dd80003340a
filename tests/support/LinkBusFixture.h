// LinkBusFixture: a test of a link library on a simulated sensor line.
//
// Each test gets a fresh SimBus behind the library's COM number (SimFixture)
// and starts and ends with the library's port closed, so that the next test's
// bus, a new pseudo-terminal behind the same COM number, is opened afresh.
// The library is named by a small traits type:
//
//   struct Link {
//     static constexpr int32_t Port;                     // the COM number
//     static void ClosePort();
//     static int AddSensor(nivsim::SimBus &, uint8_t identifier, bool rs232);
//     static TLinkResult EchangeTrames(...);             // the library's exchange
//   };
//
// The test thread asks a real-time priority below the simulator's: the
// library runs on it, and on a loaded machine it must not lose the processor
// for longer than the line's timeouts.
#ifndef NIVELIX_TESTS_LINKBUSFIXTURE_H
#define NIVELIX_TESTS_LINKBUSFIXTURE_H

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "SimBus.h"
#include "SimFixture.h"
#include "TypesCom72500.h"

namespace linkbus {

constexpr int32_t ModeRs232 = 1;
constexpr int32_t ModeRs485 = 0;

using Bytes = std::vector<uint8_t>;

inline double MsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// True when nobody holds the device: it opens and takes the same exclusive
// lock that the serial layer takes.
inline bool DeviceIsFree(const std::string &path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  ::close(fd);
  return free;
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

struct ExchangeOutcome {
  TLinkResult result;
  std::string answer;
  int32_t count;
  double elapsedMs;
};

using EchangeTramesFunction = TLinkResult (*)(const char *, char *, int32_t, int32_t *, int32_t,
                                              int32_t, int32_t);

// One exchange call with buffers the way the program passes them: 256 bytes
// each, the answer buffer prefilled with junk so that a missing terminating
// zero shows, the count prefilled with a wrong value.
inline ExchangeOutcome ExchangeWith(EchangeTramesFunction exchange, const std::string &command,
                                    int32_t expectedLength, int32_t port, int32_t mode,
                                    int32_t address) {
  char commandBuffer[LINK_BUFFER_SIZE] = {};
  std::strncpy(commandBuffer, command.c_str(), sizeof commandBuffer - 1);
  char answer[LINK_BUFFER_SIZE];
  std::memset(answer, '#', sizeof answer);
  int32_t count = -99;
  const auto start = std::chrono::steady_clock::now();
  const TLinkResult result = exchange(commandBuffer, answer, expectedLength, &count, port, mode, address);
  const double elapsed = MsSince(start);
  EXPECT_NE(std::memchr(answer, '\0', sizeof answer), nullptr) << "answer not terminated";
  answer[sizeof answer - 1] = '\0';
  return {result, answer, count, elapsed};
}

template <class Link>
class LinkBusFixture : public SimFixture {
 protected:
  LinkBusFixture() { comNumber = Link::Port; }

  void SetUp() override {
    SimFixture::SetUp();
    PreferRealTime();
    Link::ClosePort();
  }

  void TearDown() override {
    Link::ClosePort();
    SimFixture::TearDown();
  }

  // A sensor of the library's family at an address, RS485 unless told otherwise.
  int AddSensor(uint8_t identifier, bool rs232 = false) { return Link::AddSensor(*bus, identifier, rs232); }

  ExchangeOutcome Exchange(const std::string &command, int32_t expectedLength, int32_t mode,
                           int32_t address, int32_t port = Link::Port) {
    return ExchangeWith(&Link::EchangeTrames, command, expectedLength, port, mode, address);
  }
};

}  // namespace linkbus

#endif
