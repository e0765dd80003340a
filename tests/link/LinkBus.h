// The link library's tests run on a simulated sensor line behind COM1
// (tests/support/LinkBusFixture.h).
#ifndef NIVELIX_TESTS_LINKBUS_H
#define NIVELIX_TESTS_LINKBUS_H

#include "LinkBusFixture.h"
#include "com72500.h"

using namespace linkbus;

constexpr int32_t LinkPortNumber = 1;

struct FamilyALink {
  static constexpr int32_t Port = LinkPortNumber;
  static void ClosePort() { Com72500_ClosePort(); }
  static int AddSensor(nivsim::SimBus &bus, uint8_t identifier, bool rs232) {
    nivsim::SensorAConfig config;
    config.identifier = identifier;
    config.rs232 = rs232;
    return bus.AddSensorA(config);
  }
  static TLinkResult EchangeTrames(const char *command, char *answer, int32_t expectedLength,
                                   int32_t *receivedCount, int32_t port, int32_t mode,
                                   int32_t address) {
    return Com72500_EchangeTrames(command, answer, expectedLength, receivedCount, port, mode, address);
  }
};

using LinkBusTest = LinkBusFixture<FamilyALink>;

#endif
