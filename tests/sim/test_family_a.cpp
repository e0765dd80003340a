// Family A sensors on the simulated line: handshake, register frames, the
// identifier change and the measurement text, seen from the host's side.
#include <gtest/gtest.h>

#include <cmath>

#include "HostSide.h"
#include "SimFixture.h"
#include "UtilCapt.h"

using nivsim::SensorAConfig;
using V = std::vector<uint8_t>;

namespace {

SensorAConfig Rs485(uint8_t id) {
  SensorAConfig c;
  c.identifier = id;
  return c;
}

SensorAConfig Rs232() {
  SensorAConfig c;
  c.rs232 = true;
  c.identifier = 7;
  return c;
}

}  // namespace

class FamilyA : public SimFixture {};

TEST_F(FamilyA, HandshakeAnswersOnlyItsOwnAttentionByte) {
  bus->AddSensorA(Rs485(5));
  HostSide host(bus->SlavePath());
  EXPECT_EQ(host.Attention(0x05), V{0x05});
  EXPECT_EQ(host.Attention(0x06), V{});
  EXPECT_EQ(host.Attention(0x02), V{});  // the RS232 attention byte means nothing on RS485
  EXPECT_EQ(host.Attention(0x05), V{0x05});
  EXPECT_EQ(host.Attention(0x05), V{0x05});  // woken again without a request in between
  EXPECT_EQ(bus->HostBytes(), (V{0x05, 0x06, 0x02, 0x05, 0x05}));
  EXPECT_EQ(bus->SensorBytes(), (V{0x05, 0x05, 0x05}));
}

TEST_F(FamilyA, Rs232HandshakeAndFrameHaveNoAddress) {
  bus->AddSensorA(Rs232());
  HostSide host(bus->SlavePath());
  EXPECT_EQ(host.Attention(0x07), V{});
  EXPECT_EQ(host.Attention(0x02), V{0x06});
  host.Write({0xB1, 0x46, 0x00, 0x01, 0xF6});
  EXPECT_EQ(host.Read(7, 100), WithChecksum({0xB1, 0x46, 0x00, 0x01, 0xFF, 0x07}));
  // An error frame in RS232 is the error byte twice.
  EXPECT_EQ(host.Exchange(0x02, {0xB1, 0x30, 0x00, 0x01}, 7, 60), (V{0x0C, 0x0C}));
}

TEST_F(FamilyA, ReadsRegistersWithEchoAndChecksum) {
  SensorAConfig c = Rs485(5);
  c.serialNumber = "654321";
  c.reference = "KV72500-XY";
  c.filterHz = 2.0;
  bus->AddSensorA(c);
  HostSide host(bus->SlavePath());

  ASSERT_EQ(host.Attention(0x05), V{0x05});
  host.Write({0x05, 0xB1, 0x46, 0x00, 0x01, 0xF3});
  EXPECT_EQ(host.Read(8, 100), (V{0x05, 0xB1, 0x46, 0x00, 0x01, 0x00, 0x05, 0xF6}));

  V ref = host.Exchange(0x05, {0x05, 0xB1, 0x53, 0x00, 0x05}, 16);
  ASSERT_EQ(ref.size(), 16u);
  EXPECT_EQ(V(ref.begin() + 5, ref.begin() + 15), Bytes("KV72500-XY"));
  EXPECT_EQ(ref.back(), HostSide::Xor(V(ref.begin(), ref.end() - 1)));

  V serial = host.Exchange(0x05, {0x05, 0xB1, 0x50, 0x00, 0x03}, 12);
  ASSERT_EQ(serial.size(), 12u);
  EXPECT_EQ(V(serial.begin() + 5, serial.begin() + 11), Bytes("654321"));

  V out = host.Exchange(0x05, {0x05, 0xB1, 0x47, 0x00, 0x01}, 8);
  ASSERT_EQ(out.size(), 8u);
  EXPECT_EQ(out[5], 0xFF);
  EXPECT_EQ(out[6], 0xFF);  // Vout

  V range = host.Exchange(0x05, {0x05, 0xB1, 0x4A, 0x00, 0x02}, 10);
  ASSERT_EQ(range.size(), 10u);
  const std::string code = BytesToHex(std::string(range.begin() + 5, range.begin() + 9));
  EXPECT_NEAR(32768000.0 / Hex8ToFloat(code), 523.599, 0.01);

  // The filter coefficient Y gives the cut-off back.
  V filt = host.Exchange(0x05, {0x05, 0xB1, 0x42, 0x00, 0x02}, 10);
  ASSERT_EQ(filt.size(), 10u);
  const double y = Hex8ToFloat(BytesToHex(std::string(filt.begin() + 5, filt.begin() + 9)));
  EXPECT_NEAR(std::atan(1.0 / std::sqrt(y / 2.0 + 1.0)) * 100.0 / M_PI, 2.0, 0.001);
  EXPECT_EQ(bus->Register(0, 0x42), static_cast<uint16_t>(filt[5] << 8 | filt[6]));
}

TEST_F(FamilyA, WritesRegistersAndRefusesBadRequests) {
  bus->AddSensorA(Rs485(5));
  HostSide host(bus->SlavePath());
  EXPECT_EQ(host.Exchange(0x05, {0x05, 0xB0, 0x47, 0x00, 0x00}, 6), WithChecksum({0x05, 0xB0, 0x47, 0x00, 0x00}));
  EXPECT_EQ(bus->Register(0, 0x47), 0x0000);
  EXPECT_EQ(host.Exchange(0x05, {0x05, 0xB1, 0x47, 0x00, 0x01}, 8),
            WithChecksum({0x05, 0xB1, 0x47, 0x00, 0x01, 0x00, 0x00}));
  EXPECT_EQ(host.Exchange(0x05, {0x05, 0xB0, 0x4E, 0x12, 0x34}, 6).size(), 6u);
  EXPECT_EQ(bus->Register(0, 0x4E), 0x1234);

  // Refusals come as address, error byte, checksum.
  ASSERT_EQ(host.Attention(0x05), V{0x05});
  host.Write({0x05, 0xB1, 0x46, 0x00, 0x01, 0x00});  // wrong checksum
  EXPECT_EQ(host.Read(8, 60), WithChecksum({0x05, 10}));
  EXPECT_EQ(host.Exchange(0x05, {0x05, 0x93, 0x00, 0x00, 0x00}, 8, 60), WithChecksum({0x05, 7}));
  EXPECT_EQ(host.Exchange(0x05, {0x05, 0xB1, 0x3F, 0x00, 0x01}, 8, 60), WithChecksum({0x05, 12}));
  EXPECT_EQ(host.Exchange(0x05, {0x05, 0xB1, 0x57, 0x00, 0x02}, 8, 60), WithChecksum({0x05, 12}));
  EXPECT_EQ(host.Exchange(0x05, {0x05, 0xB0, 0x58, 0x00, 0x00}, 8, 60), WithChecksum({0x05, 12}));
  EXPECT_EQ(host.Exchange(0x05, {0x05, 0xB0, 0x46, 0x12, 0x05}, 8, 60), WithChecksum({0x05, 8}));
  EXPECT_EQ(host.Exchange(0x05, {0x05, 0xB0, 0x46, 0x00, 0x00}, 8, 60), WithChecksum({0x05, 8}));
  EXPECT_EQ(bus->Register(0, 0x46), 0x0005);  // nothing lost
}

TEST_F(FamilyA, IdentifierAndFramingChangeOnlyAfterClosingFrame) {
  bus->AddSensorA(Rs485(5));
  HostSide host(bus->SlavePath());
  EXPECT_EQ(host.Exchange(0x05, {0x05, 0xB0, 0x46, 0x00, 0x09}, 6).size(), 6u);
  EXPECT_EQ(bus->Register(0, 0x46), 0x0009);
  EXPECT_EQ(host.Attention(0x09), V{});
  EXPECT_EQ(host.Exchange(0x05, {0x05, 0xDC, 0x00, 0x00, 0x00}, 6), WithChecksum({0x05, 0xDC, 0x00, 0x00, 0x00}));
  EXPECT_EQ(host.Attention(0x05), V{});
  EXPECT_EQ(host.Exchange(0x09, {0x09, 0xB1, 0x46, 0x00, 0x01}, 8),
            WithChecksum({0x09, 0xB1, 0x46, 0x00, 0x01, 0x00, 0x09}));

  // To RS232: the closing frame is still answered with the address.
  EXPECT_EQ(host.Exchange(0x09, {0x09, 0xB0, 0x46, 0xFF, 0x09}, 6).size(), 6u);
  EXPECT_EQ(host.Exchange(0x09, {0x09, 0xDC, 0x00, 0x00, 0x00}, 6).size(), 6u);
  EXPECT_EQ(host.Attention(0x09), V{});
  EXPECT_EQ(host.Exchange(0x02, {0xB1, 0x46, 0x00, 0x01}, 7), WithChecksum({0xB1, 0x46, 0x00, 0x01, 0xFF, 0x09}));
}

TEST_F(FamilyA, MeasurementTextFillsEightCharacters) {
  SensorAConfig c = Rs485(3);
  c.angle = nivsim::AngleSource::constant(-12.5);
  bus->AddSensorA(c);
  c.identifier = 4;
  c.angle = nivsim::AngleSource::constant(1221.73);
  c.decimalMark = ',';
  bus->AddSensorA(c);
  c.identifier = 6;
  c.angle = nivsim::AngleSource::constant(0.0);
  c.decimalMark = '.';
  bus->AddSensorA(c);
  HostSide host(bus->SlavePath());

  const V head3{0x03, 0x92, 0x00, 0x00, 0x00};
  V m = host.Exchange(0x03, head3, 14);
  ASSERT_EQ(m.size(), 14u);
  EXPECT_EQ(V(m.begin(), m.begin() + 5), head3);
  EXPECT_EQ(V(m.begin() + 5, m.begin() + 13), Bytes("-12.5000"));
  EXPECT_EQ(m.back(), HostSide::Xor(V(m.begin(), m.end() - 1)));

  m = host.Exchange(0x04, {0x04, 0x92, 0x00, 0x00, 0x00}, 14);
  ASSERT_EQ(m.size(), 14u);
  EXPECT_EQ(V(m.begin() + 5, m.begin() + 13), Bytes("1221,730"));

  m = host.Exchange(0x06, {0x06, 0x92, 0x00, 0x00, 0x00}, 14);
  ASSERT_EQ(m.size(), 14u);
  EXPECT_EQ(V(m.begin() + 5, m.begin() + 13), Bytes("0.000000"));

  bus->SetAngle(2, nivsim::AngleSource::constant(-1234.56789));
  m = host.Exchange(0x06, {0x06, 0x92, 0x00, 0x00, 0x00}, 14);
  ASSERT_EQ(m.size(), 14u);
  EXPECT_EQ(V(m.begin() + 5, m.begin() + 13), Bytes("-1234.57"));
}

TEST_F(FamilyA, BytesInsideAFrameWakeNoOtherSensor) {
  bus->AddSensorA(Rs485(5));
  bus->AddSensorA(Rs485(0x46));
  bus->AddSensorA(Rs485(0x01));
  HostSide host(bus->SlavePath());
  EXPECT_EQ(host.Exchange(0x05, {0x05, 0xB1, 0x46, 0x00, 0x01}, 9, 80),
            WithChecksum({0x05, 0xB1, 0x46, 0x00, 0x01, 0x00, 0x05}));
  EXPECT_EQ(host.Exchange(0x46, {0x46, 0xB1, 0x46, 0x00, 0x01}, 9, 80),
            WithChecksum({0x46, 0xB1, 0x46, 0x00, 0x01, 0x00, 0x46}));
}

TEST_F(FamilyA, AcknowledgedSensorGivesUpAfterAHundredMilliseconds) {
  bus->AddSensorA(Rs485(5));
  HostSide host(bus->SlavePath());
  ASSERT_EQ(host.Attention(0x05), V{0x05});
  usleep(130 * 1000);
  host.Write({0x05, 0xB1, 0x46, 0x00, 0x01, 0xF3});  // taken as attention byte then a stray frame
  const V answer = host.Read(8, 60);
  EXPECT_EQ(answer, V{0x05});  // the stale frame's first byte woke it again
}
