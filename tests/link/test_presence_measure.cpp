// Presence test and measurement reading of the family A link library against
// the simulated sensors.
#include <clocale>
#include <functional>
#include <string>

#include "LinkBus.h"
#include "uCom72500.h"

using nivsim::AngleSource;
using nivsim::Fault;

namespace {

// The measurement text of a sensor's answer: the 8 bytes between the echoed
// head and the checksum of the last answer on the wire.
std::string MeasurementText(const Bytes &sensorBytes) {
  if (sensorBytes.size() < 9) return "";
  return std::string(sensorBytes.end() - 9, sensorBytes.end() - 1);
}

}  // namespace

TEST_F(LinkBusTest, PresenceAtAnsweringAndSilentRs485Addresses) {
  AddSensor(12, false);
  ASSERT_EQ(Com72500_OpenPort(LinkPortNumber), 0);

  EXPECT_EQ(Com72500_Presence(LinkPortNumber, ModeRs485, 12), 0);
  EXPECT_EQ(bus->HostBytes(), Bytes{0x0C});
  EXPECT_EQ(bus->SensorBytes(), Bytes{0x0C});

  bus->ClearTrace();
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Com72500_Presence(LinkPortNumber, ModeRs485, 13), -4);
  double elapsed = MsSince(start);
  EXPECT_EQ(bus->HostBytes(), Bytes(4, 0x0D));
  EXPECT_TRUE(bus->SensorBytes().empty());
  EXPECT_GT(elapsed, 200.0);  // four tries, three pauses of 50 ms and more
  EXPECT_LT(elapsed, 800.0);

  // Only the low byte of the address counts: 0x10C is address 12.
  EXPECT_EQ(Com72500_Presence(LinkPortNumber, ModeRs485, 0x10C), 0);
  EXPECT_TRUE(LinkPortHeld());
}

TEST_F(LinkBusTest, PresenceOnRs232AnswersTheAttentionByteWithAcknowledge) {
  AddSensor(1, true);
  ASSERT_EQ(Com72500_OpenPort(LinkPortNumber), 0);
  // Any non-zero mode byte is RS232; the address plays no part.
  EXPECT_EQ(Com72500_Presence(LinkPortNumber, 7, 99), 0);
  EXPECT_EQ(bus->HostBytes(), Bytes{0x02});
  EXPECT_EQ(bus->SensorBytes(), Bytes{0x06});
}

TEST_F(LinkBusTest, PresenceNeverOpensTheClosedPort) {
  AddSensor(12, false);
  EXPECT_EQ(Com72500_Presence(LinkPortNumber, ModeRs485, 12), -2);
  ASSERT_EQ(Com72500_OpenPort(LinkPortNumber), 0);
  Com72500_ClosePort();
  EXPECT_EQ(Com72500_Presence(LinkPortNumber, ModeRs485, 12), -2);
  EXPECT_TRUE(bus->HostBytes().empty());
  EXPECT_FALSE(LinkPortHeld());
  EXPECT_TRUE(DeviceIsFree(bus->SlavePath()));
}

TEST_F(LinkBusTest, MeasurementTextWithEitherDecimalMark) {
  std::setlocale(LC_NUMERIC, "C");
  for (char mark : {'.', ','}) {
    nivsim::SimBus markBus;
    markBus.PointCom(LinkPortNumber);
    nivsim::SensorAConfig config;
    config.rs232 = true;
    config.angle = AngleSource::constant(-12.5);
    config.decimalMark = mark;
    markBus.AddSensorA(config);

    double measurement = 99.0;
    EXPECT_EQ(Com72500_LitMesure(&measurement, LinkPortNumber, ModeRs232, 0), 0) << mark;
    EXPECT_EQ(measurement, -12.5) << mark;
    EXPECT_EQ(markBus.HostBytes(), (Bytes{0x02, 0x92, 0x00, 0x00, 0x00, 0x92})) << mark;
    Bytes sensorBytes = markBus.SensorBytes();
    ASSERT_EQ(sensorBytes.size(), 14u) << mark;  // acknowledge, then 13 answer bytes
    EXPECT_EQ(Bytes(sensorBytes.begin(), sensorBytes.begin() + 5), (Bytes{0x06, 0x92, 0x00, 0x00, 0x00}));
    EXPECT_NE(MeasurementText(sensorBytes).find(mark), std::string::npos)
        << "text on the wire: " << MeasurementText(sensorBytes);
  }
}

TEST_F(LinkBusTest, MeasurementOnRs485) {
  nivsim::SensorAConfig config;
  config.identifier = 200;
  config.angle = AngleSource::constant(3.25);
  bus->AddSensorA(config);
  double measurement = 0.0;
  EXPECT_EQ(Com72500_LitMesure(&measurement, LinkPortNumber, ModeRs485, 200), 0);
  EXPECT_EQ(measurement, 3.25);
  EXPECT_EQ(bus->HostBytes(), (Bytes{0xC8, 0xC8, 0x92, 0x00, 0x00, 0x00, 0xC8 ^ 0x92}));
  EXPECT_EQ(bus->SensorBytes().size(), 15u);  // address echo, then 14 answer bytes
}

TEST_F(LinkBusTest, MeasurementFailuresLeaveZero) {
  int sensor = AddSensor(5, false);
  bus->SetAngle(sensor, AngleSource::constant(1.5));

  bus->SetFault(sensor, Fault::WrongChecksum);
  double measurement = 99.0;
  EXPECT_EQ(Com72500_LitMesure(&measurement, LinkPortNumber, ModeRs485, 5), -7);
  EXPECT_EQ(measurement, 0.0);
  EXPECT_EQ(bus->HostBytes(), Repeat({0x05, 0x05, 0x92, 0x00, 0x00, 0x00, 0x97}, 2));

  bus->SetFault(sensor, Fault::NoAck);
  measurement = 99.0;
  EXPECT_EQ(Com72500_LitMesure(&measurement, LinkPortNumber, ModeRs485, 5), -4);
  EXPECT_EQ(measurement, 0.0);

  bus->SetFault(sensor, Fault::ErrorByte, 9);
  measurement = 99.0;
  EXPECT_EQ(Com72500_LitMesure(&measurement, LinkPortNumber, ModeRs485, 5), -3);
  EXPECT_EQ(measurement, 0.0);

  // Whatever happened, the port the calls opened for themselves is closed.
  EXPECT_FALSE(LinkPortHeld());
  EXPECT_TRUE(DeviceIsFree(bus->SlavePath()));

  EXPECT_EQ(Com72500_LitMesure(nullptr, LinkPortNumber, ModeRs485, 5), -6);
}

TEST_F(LinkBusTest, MeasurementTextThatIsNoNumber) {
  nivsim::SensorAConfig config;
  config.identifier = 5;
  config.angle = AngleSource::constant(-12.5);
  config.decimalMark = 'x';  // "-12x500": a correct frame with a text that is no number
  bus->AddSensorA(config);
  double measurement = 99.0;
  EXPECT_EQ(Com72500_LitMesure(&measurement, LinkPortNumber, ModeRs485, 5), -3);
  EXPECT_EQ(measurement, 0.0);
  EXPECT_FALSE(LinkPortHeld());
  EXPECT_TRUE(DeviceIsFree(bus->SlavePath()));
}

TEST_F(LinkBusTest, MeasurementKeepsAnOpenPortAndClosesOneItOpened) {
  AddSensor(5, false);
  double measurement = 99.0;
  EXPECT_EQ(Com72500_LitMesure(&measurement, LinkPortNumber, ModeRs485, 5), 0);
  EXPECT_FALSE(LinkPortHeld());
  EXPECT_TRUE(DeviceIsFree(bus->SlavePath()));

  ASSERT_EQ(Com72500_OpenPort(LinkPortNumber), 0);
  EXPECT_EQ(Com72500_LitMesure(&measurement, LinkPortNumber, ModeRs485, 5), 0);
  EXPECT_TRUE(LinkPortHeld());
  EXPECT_FALSE(DeviceIsFree(bus->SlavePath()));
}

TEST_F(LinkBusTest, MeasurementOnUnpluggedAdapterGivesPortFailureAndClosesThePort) {
  int sensor = AddSensor(5, false);
  bus->SetFault(sensor, Fault::Unplug);
  double measurement = 99.0;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Com72500_LitMesure(&measurement, LinkPortNumber, ModeRs485, 5), -2);
  EXPECT_LT(MsSince(start), 2000.0);
  EXPECT_EQ(measurement, 0.0);
  EXPECT_FALSE(LinkPortHeld());
}

TEST_F(LinkBusTest, AdapterPulledOutAndPluggedBackWhileTheLibraryHoldsThePort) {
  AddSensor(5, false);
  double measurement = 99.0;
  ASSERT_EQ(Com72500_OpenPort(LinkPortNumber), 0);
  ASSERT_EQ(Com72500_LitMesure(&measurement, LinkPortNumber, ModeRs485, 5), 0);

  // Plugged back between two readings: the next one works on the new device
  // and keeps it held.
  bus->Unplug();
  bus->Replug();
  EXPECT_EQ(Com72500_LitMesure(&measurement, LinkPortNumber, ModeRs485, 5), 0);
  EXPECT_TRUE(LinkPortHeld());
  EXPECT_FALSE(DeviceIsFree(bus->SlavePath()));

  // Still out: -2; back again: opening works.
  bus->Unplug();
  EXPECT_EQ(Com72500_Presence(LinkPortNumber, ModeRs485, 5), -2);
  bus->Replug();
  EXPECT_EQ(Com72500_OpenPort(LinkPortNumber), 0);
  EXPECT_EQ(Com72500_Presence(LinkPortNumber, ModeRs485, 5), 0);
}

TEST_F(LinkBusTest, MeasurementOnMissingDeviceGivesPortFailure) {
  ::setenv("NIVELIX_COM9", "/nonexistent/nivelix-tty", 1);
  double measurement = 99.0;
  EXPECT_EQ(Com72500_LitMesure(&measurement, 9, ModeRs485, 5), -2);
  EXPECT_EQ(measurement, 0.0);
  EXPECT_FALSE(LinkPortHeld());
  ::unsetenv("NIVELIX_COM9");
}

// An adapter out for several calls in the middle of a held session (a
// sweep): the reopening fails while it is out, and every kind of call tries
// again, so the first call after it is back works and keeps the port held.
struct RevivalCase {
  const char *name;
  std::function<TLinkResult()> call;
};
void PrintTo(const RevivalCase &c, std::ostream *os) { *os << c.name; }

class RevivalAfterFailedReopen : public LinkBusTest, public ::testing::WithParamInterface<RevivalCase> {};

TEST_P(RevivalAfterFailedReopen, NextCallAfterReplugWorks) {
  AddSensor(5, false);
  ASSERT_EQ(Com72500_OpenPort(LinkPortNumber), 0);
  bus->Unplug();
  for (int i = 0; i < 3; ++i) EXPECT_EQ(GetParam().call(), -2) << "out, call " << i;
  EXPECT_FALSE(LinkPortHeld());
  bus->Replug();
  EXPECT_EQ(GetParam().call(), 0);
  EXPECT_TRUE(LinkPortHeld()) << "the session's port stays open";
  Com72500_ClosePort();
  EXPECT_EQ(Com72500_Presence(LinkPortNumber, ModeRs485, 5), -2) << "closed by the caller stays closed";
}

INSTANTIATE_TEST_SUITE_P(
    Calls, RevivalAfterFailedReopen,
    ::testing::Values(
        RevivalCase{"Presence", [] { return Com72500_Presence(LinkPortNumber, ModeRs485, 5); }},
        RevivalCase{"Measurement",
                    [] {
                      double m = 0.0;
                      return Com72500_LitMesure(&m, LinkPortNumber, ModeRs485, 5);
                    }},
        RevivalCase{"Exchange",
                    [] {
                      char answer[LINK_BUFFER_SIZE] = {};
                      int32_t count = 0;
                      return Com72500_EchangeTrames("92000000", answer, 12, &count, LinkPortNumber,
                                                    ModeRs485, 5);
                    }}),
    [](const ::testing::TestParamInfo<RevivalCase> &info) { return std::string(info.param.name); });
