// Family B sensors on the simulated line, and buses mixing both families.
#include <gtest/gtest.h>

#include "HostSide.h"
#include "SimFixture.h"
#include "UtilCapt.h"

using nivsim::SensorBConfig;
using V = std::vector<uint8_t>;

namespace {
SensorBConfig B485(uint8_t id) {
  SensorBConfig c;
  c.identifier = id;
  return c;
}
}  // namespace

class FamilyB : public SimFixture {};

TEST_F(FamilyB, ReadsRegistersAndMeasures) {
  SensorBConfig c = B485(7);
  c.reference = "KV7281";
  c.serialNumber = "98765";
  c.angle = nivsim::AngleSource::constant(-12.5);
  bus->AddSensorB(c);
  HostSide host(bus->SlavePath());

  EXPECT_EQ(host.Attention(0x07), V{0x07});
  host.Write({0x07, 0xA1, 0x02, 0x00, 0x07 ^ 0xA1 ^ 0x02});
  EXPECT_EQ(host.Read(4, 80), WithChecksum({0x07, 0xA1, 0x07}));
  EXPECT_EQ(host.Exchange(0x07, {0x07, 0xA1, 0x00, 0x00}, 4), WithChecksum({0x07, 0xA1, 0x04}));
  EXPECT_EQ(host.Exchange(0x07, {0x07, 0xA1, 0x0B, 0x00}, 4), WithChecksum({0x07, 0xA1, 0xFF}));
  EXPECT_EQ(host.Exchange(0x07, {0x07, 0xA1, 0x04, 0x00}, 4), WithChecksum({0x07, 0xA1, 0x01}));
  EXPECT_EQ(host.Exchange(0x07, {0x07, 0xA1, 0x03, 0x00}, 4), WithChecksum({0x07, 0xA1, 0x00}));
  std::string reference, serial;
  for (uint8_t r = 0x10; r <= 0x15; ++r) reference += static_cast<char>(host.Exchange(0x07, {0x07, 0xA1, r, 0x00}, 4).at(2));
  for (uint8_t r = 0x20; r <= 0x24; ++r) serial += static_cast<char>(host.Exchange(0x07, {0x07, 0xA1, r, 0x00}, 4).at(2));
  EXPECT_EQ(reference, "KV7281");
  EXPECT_EQ(serial, "98765");

  const V m = host.Exchange(0x07, {0x07, 0x90, 0x00, 0x00}, 7);
  ASSERT_EQ(m.size(), 7u);
  EXPECT_EQ(m[1], 0x90);
  EXPECT_EQ(BytesToHex(std::string(m.begin() + 2, m.begin() + 6)), FloatToHex8(-12.5));
  EXPECT_EQ(m.back(), HostSide::Xor(V(m.begin(), m.end() - 1)));
}

TEST_F(FamilyB, WritesStayPendingUntilPowerCycle) {
  bus->AddSensorB(B485(7));
  HostSide host(bus->SlavePath());
  EXPECT_EQ(host.Exchange(0x07, {0x07, 0xC2, 0x09, 0x00}, 3), WithChecksum({0x07, 0xC2}));
  EXPECT_EQ(host.Exchange(0x07, {0x07, 0xDA, 0x90, 0x00}, 3), WithChecksum({0x07, 0xDA}));
  EXPECT_EQ(host.Exchange(0x07, {0x07, 0xC5, 0x00, 0x00}, 3), WithChecksum({0x07, 0xC5}));
  EXPECT_EQ(host.Exchange(0x07, {0x07, 0xC1, 0x00, 0x00}, 3), WithChecksum({0x07, 0xC1}));
  // Still the old values, address and framing.
  EXPECT_EQ(host.Exchange(0x07, {0x07, 0xA1, 0x02, 0x00}, 4), WithChecksum({0x07, 0xA1, 0x07}));
  EXPECT_EQ(host.Exchange(0x07, {0x07, 0xA1, 0x0B, 0x00}, 4), WithChecksum({0x07, 0xA1, 0xFF}));
  EXPECT_EQ(bus->Register(0, 0x02), 7);
  EXPECT_EQ(bus->Register(0, 0x04), 1);

  bus->PowerCycle(0);
  EXPECT_EQ(bus->Register(0, 0x02), 9);
  EXPECT_EQ(bus->Register(0, 0x03), 1);
  EXPECT_EQ(bus->Register(0, 0x04), 0);
  EXPECT_EQ(bus->Register(0, 0x0B), 0x90);
  EXPECT_EQ(host.Attention(0x07), V{});
  EXPECT_EQ(host.Attention(0x09), V{});
  EXPECT_EQ(host.Exchange(0x02, {0xA1, 0x0B, 0x00}, 3), WithChecksum({0xA1, 0x90}));
  EXPECT_EQ(host.Exchange(0x02, {0xC0, 0x00, 0x00}, 2), WithChecksum({0xC0}));
  bus->PowerCycle(0);
  EXPECT_EQ(host.Exchange(0x09, {0x09, 0xA1, 0x02, 0x00}, 4), WithChecksum({0x09, 0xA1, 0x09}));
}

TEST_F(FamilyB, RefusesBadRequestsWithErrorFrames) {
  bus->AddSensorB(B485(7));
  HostSide host(bus->SlavePath());
  ASSERT_EQ(host.Attention(0x07), V{0x07});
  host.Write({0x07, 0xA1, 0x02, 0x00, 0x00});
  EXPECT_EQ(host.Read(5, 60), WithChecksum({0x07, 0x15, 0x02}));
  EXPECT_EQ(host.Exchange(0x07, {0x07, 0xB1, 0x00, 0x00}, 5, 60), WithChecksum({0x07, 0x15, 0x01}));
  EXPECT_EQ(host.Exchange(0x07, {0x07, 0xA1, 0x30, 0x00}, 5, 60), WithChecksum({0x07, 0x15, 0x03}));
  EXPECT_EQ(host.Exchange(0x07, {0x07, 0xC2, 0x00, 0x00}, 5, 60), WithChecksum({0x07, 0x15, 0x03}));
  bus->PowerCycle(0);
  EXPECT_EQ(bus->Register(0, 0x02), 7);  // the refused identifier was not kept
}

TEST_F(FamilyB, FamilyAFrameGetsAnErrorFrameAndItsLastByteIsIgnored) {
  bus->AddSensorB(B485(7));
  HostSide host(bus->SlavePath());
  // 07 B1 46 00 01 F1: the first five bytes are judged, their checksum is wrong.
  const V answer = host.Exchange(0x07, {0x07, 0xB1, 0x46, 0x00, 0x01}, 8, 60);
  EXPECT_EQ(answer, WithChecksum({0x07, 0x15, 0x02}));
  // The sensor is ready again at once for a proper exchange.
  EXPECT_EQ(host.Exchange(0x07, {0x07, 0xA1, 0x02, 0x00}, 4), WithChecksum({0x07, 0xA1, 0x07}));

  // Where the first bytes happen to carry a right checksum, the command byte is unknown.
  bus->SetRegister(0, 0x02, 0xF6);
  EXPECT_EQ(host.Exchange(0xF6, {0xF6, 0xB1, 0x46, 0x00, 0x01}, 8, 60), WithChecksum({0xF6, 0x15, 0x01}));
  // RS232: B1 46 00 01 judged as three command bytes and a checksum.
  bus->SetRegister(0, 0x03, 1);
  EXPECT_EQ(host.Exchange(0x02, {0xB1, 0x46, 0x00, 0x01}, 7, 60), WithChecksum({0x15, 0x02}));
}

TEST_F(FamilyB, MixedBusAnswersEachFamilyInItsOwnFrames) {
  nivsim::SensorAConfig a;
  a.identifier = 3;
  bus->AddSensorA(a);
  bus->AddSensorB(B485(7));
  a.identifier = 200;
  bus->AddSensorA(a);
  HostSide host(bus->SlavePath());
  EXPECT_EQ(host.Exchange(0x03, {0x03, 0xB1, 0x46, 0x00, 0x01}, 8), WithChecksum({0x03, 0xB1, 0x46, 0x00, 0x01, 0x00, 0x03}));
  EXPECT_EQ(host.Exchange(0x07, {0x07, 0xA1, 0x02, 0x00}, 4), WithChecksum({0x07, 0xA1, 0x07}));
  EXPECT_EQ(host.Exchange(0xC8, {0xC8, 0xB1, 0x46, 0x00, 0x01}, 8), WithChecksum({0xC8, 0xB1, 0x46, 0x00, 0x01, 0x00, 0xC8}));
  EXPECT_EQ(host.Attention(0x04), V{});
  EXPECT_EQ(bus->SensorCount(), 3);
}
