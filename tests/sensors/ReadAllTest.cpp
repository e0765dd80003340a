// Reading a whole sensor and writing its configuration back, both families.
#include <cmath>
#include <cstdlib>

#include "SensorLine.h"
#include "UtilCapt.h"

using namespace sensors_test;

namespace {

class ReadAll : public SensorLine {
 protected:
  // A port number whose device does not exist.
  static constexpr uint8_t MissingPort = 9;
  void SetUp() override {
    SensorLine::SetUp();
    setenv("NIVELIX_COM9", "/nonexistent/nivelix-tty", 1);
    before = -1;
  }
  // Remembers how many descriptors the process holds on the device now.
  void MarkPorts() { before = HeldPorts(); }
  int before;
};

TEST_F(ReadAll, FamilyAReadsEveryFieldAndClosesThePort) {
  nivsim::SensorAConfig config;
  config.identifier = 3;
  config.reference = "KV72500-XY";
  config.serialNumber = "654321";
  config.rangeCoefficient = 32768000.0 / 253.0727;
  config.filterHz = 1.0;
  config.analogIout = true;
  bus->AddSensorA(config);
  auto sensor = Sensor<TCapteur72500>(Rs485, 3, false);
  MarkPorts();

  EXPECT_EQ(sensor->ReadAll(), 0);
  EXPECT_TRUE(sensor->Connected);
  EXPECT_EQ(HeldPorts(), before) << "the port is closed after reading";
  EXPECT_EQ(sensor->Data.Identifier, 3);
  EXPECT_NEAR(sensor->Data.Filter, 1.0, 1e-5);
  EXPECT_NEAR(sensor->Data.FullScale, 253.0727, 253.0727 * 2e-7);
  EXPECT_EQ(sensor->Data.Reference, "KV72500-XY");
  EXPECT_EQ(sensor->Data.SerialNumber, 654321);
  EXPECT_EQ(sensor->Data.CommType, 1);
  EXPECT_EQ(sensor->Data.AnalogOut, 1);
  EXPECT_EQ(sensor->Data.Family, 1);
  EXPECT_EQ(Requests(*bus, Rs485),
            (std::vector<std::string>{"B1460001", "B1420002", "B14A0002", "B1530005", "B1500003",
                                      "B1460001", "B1470001"}));
}

TEST_F(ReadAll, FamilyAWithUnreadableSerialNumberGivesEightWithAllFields) {
  nivsim::SensorAConfig config;
  config.rs232 = true;
  config.serialNumber = "12AB56";
  config.analogIout = true;
  bus->AddSensorA(config);
  auto sensor = Sensor<TCapteur72500>(Rs232, 1, false);
  sensor->Data.SerialNumber = 77;

  EXPECT_EQ(sensor->ReadAll(), 8);
  EXPECT_TRUE(sensor->Connected);
  EXPECT_EQ(sensor->Data.SerialNumber, 0);
  EXPECT_EQ(sensor->Data.Reference, "KV72500-AB");
  EXPECT_NEAR(sensor->Data.FullScale, 523.599, 1e-3);
  EXPECT_EQ(sensor->Data.AnalogOut, 1) << "reads go on after a result of 8";
  EXPECT_EQ(Requests(*bus, Rs232).size(), 7u);
}

TEST_F(ReadAll, FamilyAStopsAtAHardFailureAndClosesThePort) {
  nivsim::SensorAConfig config;
  config.rs232 = true;
  config.identifier = 9;
  const int sim = bus->AddSensorA(config);
  bus->SetRegister(sim, 0x42, 0x0000);  // a Y coefficient of 0 is no filter
  bus->SetRegister(sim, 0x43, 0x0000);
  auto sensor = Sensor<TCapteur72500>(Rs232, 1, false);
  MarkPorts();

  EXPECT_EQ(sensor->ReadAll(), 2);
  EXPECT_FALSE(sensor->Connected);
  EXPECT_EQ(HeldPorts(), before);
  EXPECT_EQ(sensor->Data.Identifier, 9) << "read before the failure";
  EXPECT_EQ(sensor->Data.Filter, 3.0);
  EXPECT_EQ(sensor->Data.FullScale, 0.0);
  EXPECT_EQ(Requests(*bus, Rs232), (std::vector<std::string>{"B1460001", "B1420002"}));
  EXPECT_EQ(Com72500_OpenPort(comNumber), 0) << "the device can be opened again";
  Com72500_ClosePort();
}

TEST_F(ReadAll, FamilyBReadsEveryFieldThroughItsLinkLibrary) {
  nivsim::SensorBConfig config;
  config.identifier = 7;
  config.rangeCode = 2;
  config.filterCode = 0xDB;
  config.onRequest = false;
  config.reference = "KV7281";
  config.serialNumber = "00042";
  bus->AddSensorB(config);
  auto sensor = Sensor<TCapteur>(Rs485, 7, false);
  MarkPorts();

  EXPECT_EQ(sensor->ReadAll(), 0);
  EXPECT_TRUE(sensor->Connected);
  EXPECT_EQ(HeldPorts(), before);
  EXPECT_EQ(sensor->Data.Identifier, 7);
  EXPECT_EQ(sensor->Data.Filter, 1.0);
  EXPECT_EQ(sensor->Data.FullScale, 100.3564);
  EXPECT_EQ(sensor->Data.Reference, "KV7281");
  EXPECT_EQ(sensor->Data.SerialNumber, 42);
  EXPECT_EQ(sensor->Data.CommType, 0);
  EXPECT_EQ(Requests(*bus, Rs485),
            (std::vector<std::string>{"A10200", "A10B00", "A10000", "A11000", "A11100", "A11200",
                                      "A11300", "A11400", "A11500", "A12000", "A12100", "A12200",
                                      "A12300", "A12400", "A10400"}));
}

TEST_F(ReadAll, FamilyBStopsAtAnUnknownRangeAndClosesThePort) {
  nivsim::SensorBConfig config;
  config.rs232 = true;
  config.identifier = 9;
  config.rangeCode = 5;
  config.filterCode = 0xDB;
  bus->AddSensorB(config);
  auto sensor = Sensor<TCapteur>(Rs232, 1, false);
  MarkPorts();

  EXPECT_EQ(sensor->ReadAll(), 2);
  EXPECT_FALSE(sensor->Connected);
  EXPECT_EQ(HeldPorts(), before);
  EXPECT_EQ(sensor->Data.Identifier, 9);
  EXPECT_EQ(sensor->Data.Filter, 1.0);
  EXPECT_EQ(sensor->Data.FullScale, 1221.73);
  EXPECT_EQ(sensor->Data.Reference, "");
  EXPECT_EQ(Requests(*bus, Rs232), (std::vector<std::string>{"A10200", "A10B00", "A10000"}));
  EXPECT_EQ(Com72800_OpenPort(comNumber), 0) << "the device can be opened again";
  Com72800_ClosePort();
}

TEST_F(ReadAll, PortThatCannotBeOpened) {
  TCapteur72500 a;
  a.SetPort(MissingPort);
  EXPECT_EQ(a.ReadAll(), 1);
  EXPECT_FALSE(a.Connected);
  TCapteur b;
  b.SetPort(MissingPort);
  EXPECT_EQ(b.ReadAll(), 1);
  EXPECT_FALSE(b.Connected);

  EXPECT_EQ(b.WriteConfiguration(b.Data), 1);
  EXPECT_FALSE(b.Connected);
  EXPECT_EQ(a.WriteConfiguration(a.Data), 1);
  EXPECT_TRUE(a.Connected) << "family A marks itself connected before opening";
  EXPECT_TRUE(bus->HostBytes().empty());
}

TEST_F(ReadAll, FamilyBConfigurationTakesEffectAfterAPowerCycle) {
  nivsim::SensorBConfig config;
  config.rs232 = true;
  const int sim = bus->AddSensorB(config);
  auto sensor = Sensor<TCapteur>(Rs232, 1, false);
  ASSERT_EQ(sensor->ReadAll(), 0);
  EXPECT_EQ(sensor->Data.Filter, 3.0);
  EXPECT_EQ(sensor->Data.CommType, 1);

  SensorData wanted = sensor->Data;
  wanted.CommType = 0;
  wanted.Filter = 1.0;
  wanted.Identifier = 9;
  bus->ClearTrace();
  MarkPorts();
  EXPECT_EQ(sensor->WriteConfiguration(wanted), 0);
  EXPECT_EQ(HeldPorts(), before) << "the port is closed after writing";
  EXPECT_EQ(Requests(*bus, Rs232), (std::vector<std::string>{"C50000", "DADB00", "C20900"}));
  const auto runs = HostRequestRuns(*bus);
  ASSERT_EQ(runs.size(), 3u);
  // The protocol is unchanged, so two waits separate the filter from the identifier.
  EXPECT_GE(runs[1].startMs - runs[0].endMs, 100.0);
  EXPECT_GE(runs[2].startMs - runs[1].endMs, 200.0);
  EXPECT_LE(runs[2].startMs - runs[0].endMs, 300.0 + 300.0);

  ASSERT_EQ(sensor->ReadAll(), 0);
  EXPECT_EQ(sensor->Data.Filter, 3.0);
  EXPECT_EQ(sensor->Data.CommType, 1);
  EXPECT_EQ(sensor->Data.Identifier, 1);

  bus->PowerCycle(sim);
  ASSERT_EQ(sensor->ReadAll(), 0);
  EXPECT_EQ(sensor->Data.Filter, 1.0);
  EXPECT_EQ(sensor->Data.CommType, 0);
  EXPECT_EQ(sensor->Data.Identifier, 9);
}

TEST_F(ReadAll, FamilyBConfigurationPartlyFailed) {
  nivsim::SensorBConfig config;
  config.rs232 = true;
  const int sim = bus->AddSensorB(config);
  auto sensor = Sensor<TCapteur>(Rs232, 1, false);
  ASSERT_EQ(sensor->ReadAll(), 0);

  SensorData wanted = sensor->Data;
  wanted.Filter = 2.0;  // only the filter frame and nothing else
  bus->SetFault(sim, nivsim::Fault::ErrorByte, 0x03, 1);
  EXPECT_EQ(sensor->WriteConfiguration(wanted), 2);
  EXPECT_EQ(sensor->Data.Filter, 3.0);

  wanted.Identifier = 0;  // refused by the sensor, and the last write
  EXPECT_EQ(sensor->WriteConfiguration(wanted), 2);
  EXPECT_EQ(sensor->Data.Filter, 2.0);
}

TEST_F(ReadAll, FamilyAConfigurationWrittenInOrder) {
  nivsim::SensorAConfig config;
  config.rs232 = true;
  const int sim = bus->AddSensorA(config);
  auto sensor = Sensor<TCapteur72500>(Rs232, 1, false);
  ASSERT_EQ(sensor->ReadAll(), 0);

  SensorData wanted = sensor->Data;
  wanted.CommType = 0;
  wanted.Filter = 1.0;
  wanted.AnalogOut = 1;
  wanted.Identifier = 9;
  bus->ClearTrace();
  MarkPorts();
  EXPECT_EQ(sensor->WriteConfiguration(wanted), 0);
  EXPECT_TRUE(sensor->Connected);
  EXPECT_EQ(HeldPorts(), before) << "the port is closed after writing";
  const auto requests = Requests(*bus, Rs232);
  ASSERT_EQ(requests.size(), 12u);
  EXPECT_EQ(requests[0], "B1460001");
  EXPECT_EQ(requests[1], "B0460F01");
  for (int i = 0; i < 6; ++i) EXPECT_EQ(requests[2 + i].substr(0, 4), "B0" + IntToHexBytes(0x40 + i));
  EXPECT_EQ(requests[8], "B0470000");
  EXPECT_EQ(requests[9], "B1460001");
  EXPECT_EQ(requests[10], "B0460F09");
  EXPECT_EQ(requests[11], "DC000000");
  const auto runs = HostRequestRuns(*bus);
  EXPECT_GE(runs[2].startMs - runs[1].endMs, 50.0);
  EXPECT_GE(runs[8].startMs - runs[7].endMs, 50.0);
  EXPECT_GE(runs[11].startMs - runs[10].endMs, 50.0);
  EXPECT_EQ(bus->Register(sim, 0x46), 0x0F09);
  EXPECT_EQ(sensor->Data.Identifier, 1);
  EXPECT_EQ(sensor->Data.CommType, 0);
  EXPECT_EQ(sensor->Data.AnalogOut, 1);
  EXPECT_EQ(sensor->Data.Filter, 1.0);
}

TEST_F(ReadAll, FamilyBSensorReadsAfterFamilyAConfigurationOnTheSameLine) {
  nivsim::SensorAConfig a;
  a.identifier = 1;
  bus->AddSensorA(a);
  nivsim::SensorBConfig b;
  b.identifier = 2;
  b.angle = nivsim::AngleSource::constant(12.5);
  bus->AddSensorB(b);
  auto familyA = Sensor<TCapteur72500>(Rs485, 1, false);
  auto familyB = Sensor<TCapteur>(Rs485, 2);
  ASSERT_EQ(familyA->ReadAll(), 0);
  SensorData wanted = familyA->Data;
  wanted.Filter = 1.0;
  ASSERT_EQ(familyA->WriteConfiguration(wanted), 0);

  double angle = 0.0;
  EXPECT_EQ(familyB->ReadAngle(angle), 0);
  EXPECT_NEAR(angle, 12.5, 1e-4);
  EXPECT_EQ(familyB->ReadAll(), 0);
  EXPECT_EQ(familyA->ReadAngle(angle), 0);
}

TEST_F(ReadAll, FamilyAConfigurationPartlyFailed) {
  nivsim::SensorAConfig config;
  config.rs232 = true;
  const int sim = bus->AddSensorA(config);
  auto sensor = Sensor<TCapteur72500>(Rs232, 1, false);
  ASSERT_EQ(sensor->ReadAll(), 0);

  SensorData wanted = sensor->Data;
  wanted.Filter = 1.0;
  bus->ClearTrace();
  bus->SetFault(sim, nivsim::Fault::ErrorByte, 11, 6);  // the first coefficient word, three calls
  EXPECT_EQ(sensor->WriteConfiguration(wanted), 2);
  const auto requests = Requests(*bus, Rs232);
  ASSERT_EQ(requests.size(), 7u);
  EXPECT_EQ(requests.back(), "DC000000");

  // The closing frame's own failure wins.
  bus->ClearTrace();
  wanted.Filter = 0.5;
  bus->SetFault(sim, nivsim::Fault::ErrorByte, 11);
  EXPECT_EQ(sensor->WriteConfiguration(wanted), 11);
}

}  // namespace
