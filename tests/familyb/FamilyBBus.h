// FamilyBBus: the tests of libcom72800.so run on a simulated sensor line
// behind COM5 (tests/support/LinkBusFixture.h).
#ifndef NIVELIX_TESTS_FAMILYBBUS_H
#define NIVELIX_TESTS_FAMILYBBUS_H

#include "LinkBusFixture.h"
#include "com72800.h"

namespace familyb_test {

using namespace linkbus;

constexpr int32_t ComPort = 5;
constexpr int32_t Rs485 = ModeRs485;
constexpr int32_t Rs232 = ModeRs232;

// Whether this process can take the device's exclusive lock, that is, whether
// no port of the library holds it open.
inline bool CanLockExclusively(const std::string &path) { return DeviceIsFree(path); }

struct FamilyBLink {
  static constexpr int32_t Port = ComPort;
  static void ClosePort() { Com72800_ClosePort(); }
  static int AddSensor(nivsim::SimBus &bus, uint8_t identifier, bool rs232) {
    nivsim::SensorBConfig config;
    config.identifier = identifier;
    config.rs232 = rs232;
    return bus.AddSensorB(config);
  }
  static TLinkResult EchangeTrames(const char *command, char *answer, int32_t expectedLength,
                                   int32_t *receivedCount, int32_t port, int32_t mode,
                                   int32_t address) {
    return Com72800_EchangeTrames(command, answer, expectedLength, receivedCount, port, mode, address);
  }
};

using FamilyBBus = LinkBusFixture<FamilyBLink>;
using ExchangeResult = ExchangeOutcome;

}  // namespace familyb_test

#endif
