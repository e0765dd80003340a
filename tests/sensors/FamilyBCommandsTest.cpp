// The family B command set through libcom72800.so, on the simulated line.
#include <cmath>

#include "SensorLine.h"

using namespace sensors_test;

namespace {

class FamilyB : public SensorLine {
 protected:
  // One RS232 family B sensor on the line and a connected object for it.
  std::unique_ptr<TCapteur> OneSensor(nivsim::SensorBConfig config = {}) {
    config.rs232 = true;
    sim = bus->AddSensorB(config);
    return Sensor<TCapteur>(Rs232, 1);
  }
  int sim = -1;
};

TEST_F(FamilyB, NotConnectedSensorSendsNothing) {
  sim = bus->AddSensorB({});
  auto sensor = Sensor<TCapteur>(Rs232, 1, false);

  EXPECT_EQ(sensor->WriteFilter(1.0), 7);
  EXPECT_EQ(sensor->Data.Filter, 3.0);
  EXPECT_EQ(sensor->WriteIdentifier(9), 0);
  EXPECT_EQ(sensor->Data.Identifier, 1);
  EXPECT_EQ(sensor->WriteProtocol(0), 0);
  EXPECT_EQ(sensor->Data.Protocol, 0);
  EXPECT_EQ(sensor->WriteCommType(0), 0);
  EXPECT_EQ(sensor->Data.CommType, 0);

  int32_t identifier = 55, serial = 55;
  double filter = 55, range = 55;
  uint8_t type = 55;
  std::string reference = "old";
  EXPECT_EQ(sensor->ReadIdentifier(identifier), 7);
  EXPECT_EQ(sensor->ReadFilter(filter), 7);
  EXPECT_EQ(sensor->ReadFullScale(range), 7);
  EXPECT_EQ(sensor->ReadCommType(type), 7);
  EXPECT_EQ(sensor->ReadReference(reference), 7);
  EXPECT_EQ(sensor->ReadSerialNumber(serial), 7);
  EXPECT_EQ(identifier, 55);
  EXPECT_EQ(filter, 55);
  EXPECT_EQ(range, 55);
  EXPECT_EQ(type, 55);
  EXPECT_EQ(reference, "");
  EXPECT_EQ(serial, 0);
  EXPECT_TRUE(bus->HostBytes().empty());
}

TEST_F(FamilyB, WritesSendOneFrameAndKeepTheRightValues) {
  auto sensor = OneSensor();

  EXPECT_EQ(sensor->WriteIdentifier(1), 0);  // equal: nothing sent
  EXPECT_EQ(sensor->WriteCommType(1), 0);    // equal: nothing sent
  EXPECT_EQ(sensor->WriteProtocol(1), 0);    // equal: nothing sent
  EXPECT_TRUE(bus->HostBytes().empty());

  EXPECT_EQ(sensor->WriteIdentifier(0x2A), 0);
  EXPECT_EQ(sensor->Data.Identifier, 1) << "the object learns the new identifier on the next ReadAll";
  EXPECT_EQ(sensor->WriteCommType(0), 0);
  EXPECT_EQ(sensor->Data.CommType, 0);
  EXPECT_EQ(sensor->WriteCommType(1), 0);
  EXPECT_EQ(sensor->WriteFilter(0.14), 0);
  EXPECT_EQ(sensor->Data.Filter, 0.14);
  EXPECT_EQ(sensor->WriteFilter(0.25), 0);  // 2.5 tenths go to the even 2
  EXPECT_EQ(sensor->WriteFilter(4.6), 0);
  EXPECT_EQ(sensor->WriteFilter(4.6), 0);   // sent again although equal
  EXPECT_EQ(sensor->WriteFilter(1.04), 0);
  EXPECT_EQ(sensor->WriteFilter(3.0), 0);
  EXPECT_EQ(sensor->WriteProtocol(0), 0);
  EXPECT_EQ(sensor->Data.Protocol, 0);

  const std::vector<std::string> expected = {"C22A00", "C50000", "C40000", "DAFD00", "DAEE00",
                                             "DA4F00", "DA4F00", "DADB00", "DA9000", "C00000"};
  EXPECT_EQ(Requests(*bus, Rs232), expected);

  // The sensor keeps the values pending until its power is switched off and on.
  EXPECT_EQ(bus->Register(sim, 0x0B), 0xFF);
  bus->PowerCycle(sim);
  EXPECT_EQ(bus->Register(sim, 0x0B), 0x90);
  EXPECT_EQ(bus->Register(sim, 0x02), 0x2A);
  EXPECT_EQ(bus->Register(sim, 0x03), 0);
}

TEST_F(FamilyB, WriteProtocolToRs232OnAnRs485Bus) {
  nivsim::SensorBConfig config;
  config.identifier = 7;
  sim = bus->AddSensorB(config);
  auto sensor = Sensor<TCapteur>(Rs485, 7);
  EXPECT_EQ(sensor->WriteProtocol(1), 0);
  EXPECT_EQ(sensor->Data.Protocol, 1);
  const auto runs = HostRequestRuns(*bus);
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(Hex(runs[0].bytes), "07C10000C6") << "address, command, checksum";
}

TEST_F(FamilyB, WriteResultsFollowTheLinkResult) {
  auto sensor = OneSensor();

  // No acknowledgement (failure 3) counts as success for the identifier only.
  bus->SetFault(sim, nivsim::Fault::NoAck, 0, 4);
  EXPECT_EQ(sensor->WriteIdentifier(9), 0);
  bus->SetFault(sim, nivsim::Fault::NoAck, 0, 4);
  EXPECT_EQ(sensor->WriteFilter(2.0), 2);
  EXPECT_EQ(sensor->Data.Filter, 3.0);

  // A write without acknowledgement frame (failure 4) counts as success.
  bus->SetFault(sim, nivsim::Fault::Silence, 0, 1);
  EXPECT_EQ(sensor->WriteProtocol(0), 0);
  EXPECT_EQ(sensor->Data.Protocol, 0);
  sensor->Data.Protocol = 1;
  bus->SetFault(sim, nivsim::Fault::Silence, 0, 1);
  EXPECT_EQ(sensor->WriteFilter(2.0), 0);
  EXPECT_EQ(sensor->Data.Filter, 2.0);
  bus->SetFault(sim, nivsim::Fault::Silence, 0, 1);
  EXPECT_EQ(sensor->WriteIdentifier(9), 0);

  // A refusal (error byte 3: failure 10) is a failure, except for the type.
  bus->ClearTrace();
  bus->SetFault(sim, nivsim::Fault::ErrorByte, 0x03);
  EXPECT_EQ(sensor->WriteIdentifier(9), 2);
  EXPECT_EQ(sensor->WriteProtocol(0), 2);
  EXPECT_EQ(sensor->Data.Protocol, 1);
  EXPECT_EQ(sensor->WriteFilter(0.5), 2);
  EXPECT_EQ(sensor->Data.Filter, 2.0);
  EXPECT_EQ(sensor->WriteCommType(0), 0);
  EXPECT_EQ(sensor->Data.CommType, 0);
  const std::vector<std::string> once = {"C20900", "C00000", "DAEE00", "C50000"};
  EXPECT_EQ(Requests(*bus, Rs232), once) << "a write is never repeated";
}

TEST_F(FamilyB, ReadsDecodeTheRegisters) {
  auto sensor = OneSensor();
  int32_t identifier = 0;
  bus->SetRegister(sim, 0x02, 0x2A);
  EXPECT_EQ(sensor->ReadIdentifier(identifier), 0);
  EXPECT_EQ(identifier, 42);

  const struct { uint8_t code; double hz; } filters[] = {
      {0xFF, 3.0}, {0x94, 3.0}, {0x10, 5.0}, {0xFE, 0.1}, {0xFD, 0.1}, {0xEE, 0.5}, {0xDB, 1.0},
      {0xCB, 1.5}, {0xBC, 2.0}, {0xAA, 2.5}, {0x90, 3.0}, {0x86, 3.5}, {0x6F, 4.0}, {0x5F, 4.5},
      {0x5E, 5.0}, {0x4F, 5.0}};
  for (const auto &row : filters) {
    bus->SetRegister(sim, 0x0B, row.code);
    double hz = -1;
    EXPECT_EQ(sensor->ReadFilter(hz), 0);
    EXPECT_EQ(hz, row.hz) << "code " << int(row.code);
  }

  const struct { uint8_t code; double mrad; uint8_t result; } ranges[] = {
      {0, 17.45329, 0}, {1, 52.35988, 0}, {2, 100.3564, 0}, {3, 253.0727, 0},
      {4, 523.599, 0},  {7, 1221.73, 0},  {5, 1221.73, 2},  {6, 1221.73, 2}, {0x80, 1221.73, 2}};
  for (const auto &row : ranges) {
    bus->SetRegister(sim, 0x00, row.code);
    double range = -1;
    EXPECT_EQ(sensor->ReadFullScale(range), row.result) << "code " << int(row.code);
    EXPECT_EQ(range, row.mrad) << "code " << int(row.code);
  }

  uint8_t type = 9;
  bus->SetRegister(sim, 0x04, 0);
  EXPECT_EQ(sensor->ReadCommType(type), 0);
  EXPECT_EQ(type, 0);
  bus->SetRegister(sim, 0x04, 1);
  EXPECT_EQ(sensor->ReadCommType(type), 0);
  EXPECT_EQ(type, 1);

  bus->ClearTrace();
  std::string reference;
  EXPECT_EQ(sensor->ReadReference(reference), 0);
  EXPECT_EQ(reference, "KV7280");
  const std::vector<std::string> referenceFrames = {"A11000", "A11100", "A11200",
                                                    "A11300", "A11400", "A11500"};
  EXPECT_EQ(Requests(*bus, Rs232), referenceFrames);

  bus->ClearTrace();
  int32_t serial = 0;
  EXPECT_EQ(sensor->ReadSerialNumber(serial), 0);
  EXPECT_EQ(serial, 54321);
  const std::vector<std::string> serialFrames = {"A12000", "A12100", "A12200", "A12300", "A12400"};
  EXPECT_EQ(Requests(*bus, Rs232), serialFrames);
}

TEST_F(FamilyB, SerialNumberIsReadLeniently) {
  auto sensor = OneSensor();
  const struct { const char *text; int32_t value; } cases[] = {
      {"54321", 54321}, {"$1F\0\0", 31},  {"0x1A2", 418}, {"x10\0\0", 16}, {" -12a", -12},
      {"12 34", 12},    {"abcde", 0},     {"\0\0\0\0\0", 0}, {"+0077", 77}};
  for (const auto &c : cases) {
    for (int i = 0; i < 5; ++i) bus->SetRegister(sim, static_cast<uint8_t>(0x20 + i), uint8_t(c.text[i]));
    int32_t serial = -1;
    EXPECT_EQ(sensor->ReadSerialNumber(serial), 0) << c.text;
    EXPECT_EQ(serial, c.value) << c.text;
  }
}

TEST_F(FamilyB, ShortAnswersAndFailedReads) {
  auto sensor = OneSensor();

  // The first reference character fails three times; the others still come.
  bus->SetFault(sim, nivsim::Fault::ErrorByte, 0x01, 3);
  std::string reference = "old";
  EXPECT_EQ(sensor->ReadReference(reference), 0);
  EXPECT_EQ(reference, "V7280");

  // A serial number character that does not come ends the reading with 0.
  bus->ClearTrace();
  bus->SetFault(sim, nivsim::Fault::ErrorByte, 0x01, 3);
  int32_t serial = 77;
  EXPECT_EQ(sensor->ReadSerialNumber(serial), 2);
  EXPECT_EQ(serial, 0);
  EXPECT_EQ(Requests(*bus, Rs232), std::vector<std::string>(3, "A12000"));

  // A read that fails gives no byte to take: 2, output untouched.
  bus->SetFault(sim, nivsim::Fault::ErrorByte, 0x03, 3);
  int32_t identifier = 77;
  EXPECT_EQ(sensor->ReadIdentifier(identifier), 2);
  EXPECT_EQ(identifier, 77);

  // Full scale without a range code: the exchange's own failure, range kept.
  bus->SetFault(sim, nivsim::Fault::ErrorByte, 0x01, 3);
  double range = 77;
  EXPECT_EQ(sensor->ReadFullScale(range), 9);
  EXPECT_EQ(range, 77);
}

TEST_F(FamilyB, ReadIsTriedThreeTimesWithRandomWaitsAndWriteOnce) {
  auto sensor = OneSensor();
  bus->SetFault(sim, nivsim::Fault::ErrorByte, 0x01);

  double filter = 0;
  EXPECT_EQ(sensor->ReadFilter(filter), 2);
  const auto runs = Runs(*bus);
  std::vector<double> requestStarts, answerEnds;
  for (const auto &run : runs) {
    if (run.fromHost && run.bytes.size() >= 3) requestStarts.push_back(run.startMs);
    if (!run.fromHost && run.bytes.size() >= 3) answerEnds.push_back(run.endMs);
  }
  ASSERT_EQ(requestStarts.size(), 3u);
  ASSERT_EQ(answerEnds.size(), 3u);
  for (int i = 0; i < 2; ++i) {
    // From the end of one refusal to the next request: the wait, plus the
    // next call's handshake (a few ms), plus scheduling on a busy machine.
    const double gap = requestStarts[i + 1] - answerEnds[i];
    EXPECT_GE(gap, 224.0);
    EXPECT_LE(gap, 275.0 + 150.0);
  }

  bus->ClearTrace();
  EXPECT_EQ(sensor->WriteFilter(1.0), 2);
  EXPECT_EQ(Requests(*bus, Rs232), std::vector<std::string>{"DADB00"});
}

TEST_F(FamilyB, ExchangeFramesReturnsTheAnswerText) {
  auto sensor = OneSensor();
  std::string frame = "A10000";
  int32_t received = -1;
  EXPECT_EQ(sensor->ExchangeFrames(frame, 2, received), 0);
  EXPECT_EQ(frame, "04");
  EXPECT_EQ(received, 3) << "command echo, value, checksum";

  frame = "C40000";
  EXPECT_EQ(sensor->ExchangeFrames(frame, 0, received), 0);
  EXPECT_EQ(frame, "");

  bus->SetFault(sim, nivsim::Fault::ErrorByte, 0x03);
  frame = "A10000";
  EXPECT_EQ(sensor->ExchangeFrames(frame, 2, received), 10);
  EXPECT_EQ(frame, "") << "the answer text replaces the frame after a failure too";
}

TEST_F(FamilyB, AngleAndPresence) {
  nivsim::SensorBConfig config;
  config.identifier = 12;
  config.angle = nivsim::AngleSource::constant(-12.5);
  sim = bus->AddSensorB(config);
  auto sensor = Sensor<TCapteur>(Rs485, 12, false);

  double angle = 0;
  EXPECT_EQ(sensor->ReadAngle(angle), 0);
  EXPECT_DOUBLE_EQ(angle, -12.5);

  EXPECT_EQ(sensor->OpenPort(), 0);
  EXPECT_EQ(sensor->TestPresence(), 0);
  sensor->Data.Identifier = 13;
  EXPECT_EQ(sensor->TestPresence(), 3);
  sensor->ClosePort();
  EXPECT_EQ(sensor->GetStatusFlag(), 0);
}

}  // namespace
