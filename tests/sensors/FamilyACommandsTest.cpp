// The family A command set through libcom72500.so, on the simulated line.
#include <algorithm>
#include <cmath>

#include "SensorLine.h"
#include "UtilCapt.h"

using namespace sensors_test;

namespace {

class FamilyA : public SensorLine {
 protected:
  // One family A sensor on the line and a connected object for it, which
  // believes what the sensor holds.
  std::unique_ptr<TCapteur72500> OneSensor(uint8_t protocol = Rs232, uint8_t identifier = 1,
                                           nivsim::SensorAConfig config = {}) {
    config.rs232 = protocol == Rs232;
    config.identifier = identifier;
    sim = bus->AddSensorA(config);
    return Sensor<TCapteur72500>(protocol, identifier);
  }

  // The float code held in two consecutive registers.
  double Code(uint8_t firstRegister) const {
    return Hex8ToFloat(IntToHexWidth(bus->Register(sim, firstRegister), 2) +
                       IntToHexWidth(bus->Register(sim, firstRegister + 1), 2));
  }
  void SetCode(uint8_t firstRegister, const std::string &code) {
    bus->SetRegister(sim, firstRegister, static_cast<uint16_t>(HexToInt(code.substr(0, 4))));
    bus->SetRegister(sim, firstRegister + 1, static_cast<uint16_t>(HexToInt(code.substr(4, 4))));
  }
  // Characters into registers, two per word, padded with zero bytes.
  void SetText(uint8_t firstRegister, int words, const std::string &text) {
    for (int i = 0; i < words; ++i) {
      const size_t c = 2 * static_cast<size_t>(i);
      const uint8_t hi = c < text.size() ? static_cast<uint8_t>(text[c]) : 0;
      const uint8_t lo = c + 1 < text.size() ? static_cast<uint8_t>(text[c + 1]) : 0;
      bus->SetRegister(sim, static_cast<uint8_t>(firstRegister + i), static_cast<uint16_t>(hi << 8 | lo));
    }
  }
  int sim = -1;
};

TEST_F(FamilyA, CreatedAsFamilyOne) {
  TCapteur72500 sensor;
  EXPECT_EQ(sensor.Data.Family, 1);
  EXPECT_EQ(sensor.Port, 1);
  EXPECT_FALSE(sensor.Connected);
  EXPECT_EQ(sensor.Data.Identifier, 1);
  EXPECT_EQ(sensor.Data.Protocol, 1);
  EXPECT_EQ(sensor.Data.Filter, 3.0);
  EXPECT_EQ(sensor.Data.CommType, 1);
  EXPECT_EQ(sensor.Data.FullScale, 0.0);
  EXPECT_EQ(sensor.Data.AnalogOut, 0);
  EXPECT_EQ(sensor.Data.Reference, "");
  EXPECT_EQ(sensor.Data.SerialNumber, 0);
  EXPECT_EQ(sensor.GetStatusFlag(), 0);
  TCapteur base;
  EXPECT_EQ(base.Data.Family, 0);
}

TEST_F(FamilyA, NotConnectedStoresWritesAndRefusesReads) {
  sim = bus->AddSensorA({});
  auto sensor = Sensor<TCapteur72500>(Rs232, 1, false);

  EXPECT_EQ(sensor->WriteIdentifier(5), 7);
  EXPECT_EQ(sensor->Data.Identifier, 5);
  EXPECT_EQ(sensor->WriteProtocol(0), 7);
  EXPECT_EQ(sensor->Data.Protocol, 0);
  EXPECT_EQ(sensor->WriteCommType(0), 7);
  EXPECT_EQ(sensor->Data.CommType, 0);
  EXPECT_EQ(sensor->WriteFilter(1.5), 7);
  EXPECT_EQ(sensor->Data.Filter, 1.5);
  EXPECT_EQ(sensor->WriteAnalogOut(1), 7);
  EXPECT_EQ(sensor->Data.AnalogOut, 1);

  int32_t identifier = 55, serial = 55;
  double filter = 55, range = 55;
  uint8_t type = 55, analog = 55;
  std::string reference = "old";
  EXPECT_EQ(sensor->ReadIdentifier(identifier), 7);
  EXPECT_EQ(identifier, 0);
  EXPECT_EQ(sensor->ReadCommType(type), 7);
  EXPECT_EQ(sensor->ReadAnalogOut(analog), 7);
  EXPECT_EQ(sensor->ReadFilter(filter), 7);
  EXPECT_EQ(sensor->ReadFullScale(range), 7);
  EXPECT_EQ(sensor->ReadReference(reference), 7);
  EXPECT_EQ(sensor->ReadSerialNumber(serial), 7);
  EXPECT_EQ(type, 55);
  EXPECT_EQ(analog, 55);
  EXPECT_EQ(filter, 55);
  EXPECT_EQ(range, 55);
  EXPECT_EQ(reference, "old");
  EXPECT_EQ(serial, 55);
  EXPECT_TRUE(bus->HostBytes().empty());
}

TEST_F(FamilyA, EqualValuesSendNothing) {
  auto sensor = OneSensor();
  EXPECT_EQ(sensor->WriteIdentifier(1), 0);
  EXPECT_EQ(sensor->WriteProtocol(1), 0);
  EXPECT_EQ(sensor->WriteCommType(1), 0);
  EXPECT_EQ(sensor->WriteFilter(3.0), 0);
  EXPECT_EQ(sensor->WriteAnalogOut(0), 0);
  EXPECT_TRUE(bus->HostBytes().empty());
}

TEST_F(FamilyA, ProtocolWritesKeepTheIdentifierHalf) {
  // RS485 to RS232, on request: mode byte FF, identifier 05 kept.
  auto sensor = OneSensor(Rs485, 5);
  EXPECT_EQ(bus->Register(sim, 0x46), 0x0005);
  EXPECT_EQ(sensor->WriteProtocol(1), 0);
  EXPECT_EQ(sensor->Data.Protocol, 1);
  EXPECT_EQ(Requests(*bus, Rs485), (std::vector<std::string>{"B1460001", "B046FF05"}));
  EXPECT_EQ(bus->Register(sim, 0x46), 0xFF05);
}

TEST_F(FamilyA, ProtocolWriteBackToRs485) {
  auto sensor = OneSensor(Rs232, 5);
  EXPECT_EQ(bus->Register(sim, 0x46), 0xFF05);
  EXPECT_EQ(sensor->WriteProtocol(0), 0);
  EXPECT_EQ(sensor->Data.Protocol, 0);
  EXPECT_EQ(Requests(*bus, Rs232), (std::vector<std::string>{"B1460001", "B0460005"}));
  EXPECT_EQ(bus->Register(sim, 0x46), 0x0005);
}

TEST_F(FamilyA, ContinuousRs232ProtocolWrite) {
  auto sensor = OneSensor(Rs485, 5);
  sensor->Data.CommType = 0;
  EXPECT_EQ(sensor->WriteProtocol(1), 0);
  EXPECT_EQ(Requests(*bus, Rs485), (std::vector<std::string>{"B1460001", "B0460F05"}));
}

TEST_F(FamilyA, CommTypeWritesDependOnTheProtocol) {
  auto sensor = OneSensor(Rs232, 7);
  EXPECT_EQ(bus->Register(sim, 0x46), 0xFF07);
  EXPECT_EQ(sensor->WriteCommType(0), 0);
  EXPECT_EQ(sensor->Data.CommType, 0);
  EXPECT_EQ(Requests(*bus, Rs232), (std::vector<std::string>{"B1460001", "B0460F07"}));
  EXPECT_EQ(bus->Register(sim, 0x46), 0x0F07);
  bus->ClearTrace();
  EXPECT_EQ(sensor->WriteCommType(1), 0);
  EXPECT_EQ(Requests(*bus, Rs232), (std::vector<std::string>{"B1460001", "B046FF07"}));
}

TEST_F(FamilyA, CommTypeOnRs485KeepsModeByteZero) {
  auto sensor = OneSensor(Rs485, 5);
  EXPECT_EQ(sensor->WriteCommType(0), 0);
  EXPECT_EQ(Requests(*bus, Rs485), (std::vector<std::string>{"B1460001", "B0460005"}));
}

TEST_F(FamilyA, IdentifierWriteKeepsTheModeByte) {
  auto sensor = OneSensor(Rs232, 5);
  bus->SetRegister(sim, 0x46, 0x0F05);
  EXPECT_EQ(sensor->WriteIdentifier(12), 0);
  EXPECT_EQ(sensor->Data.Identifier, 5) << "the object keeps its identifier";
  EXPECT_EQ(Requests(*bus, Rs232), (std::vector<std::string>{"B1460001", "B0460F0C"}));
  EXPECT_EQ(bus->Register(sim, 0x46), 0x0F0C);
}

TEST_F(FamilyA, RefusedWritesAreRetriedAndKeepTheirRules) {
  // Identifier 0 in register 0x46: the sensor refuses every word that keeps it
  // (error byte 8: failure 9).
  auto sensor = OneSensor(Rs232, 5);
  bus->SetRegister(sim, 0x46, 0xFF00);

  EXPECT_EQ(sensor->WriteCommType(0), 9);
  EXPECT_EQ(sensor->Data.CommType, 0) << "the type asked for is kept even on failure";
  // One read (a second attempt of it on a loaded machine changes nothing),
  // then three calls of two attempts.
  const auto requests = Requests(*bus, Rs232);
  ASSERT_FALSE(requests.empty());
  EXPECT_EQ(requests[0], "B1460001");
  const auto firstWrite = std::find(requests.begin(), requests.end(), "B0460F00");
  EXPECT_TRUE(std::all_of(requests.begin(), firstWrite, [](const std::string &r) { return r == "B1460001"; }));
  EXPECT_EQ(std::vector<std::string>(firstWrite, requests.end()), std::vector<std::string>(6, "B0460F00"));

  EXPECT_EQ(sensor->WriteProtocol(0), 9);
  EXPECT_EQ(sensor->Data.Protocol, 1) << "the protocol changes only on success";
}

TEST_F(FamilyA, FailedRegisterReadStopsTheWrite) {
  auto sensor = OneSensor(Rs232, 5);
  bus->SetFault(sim, nivsim::Fault::ErrorByte, 11);
  EXPECT_EQ(sensor->WriteIdentifier(9), 11);
  EXPECT_EQ(sensor->WriteProtocol(0), 11);
  EXPECT_EQ(sensor->Data.Protocol, 1);
  for (const auto &request : Requests(*bus, Rs232)) EXPECT_EQ(request, "B1460001");
}

TEST_F(FamilyA, AnalogOutput) {
  auto sensor = OneSensor();
  EXPECT_EQ(sensor->WriteAnalogOut(1), 0);
  EXPECT_EQ(bus->Register(sim, 0x47), 0x0000);
  uint8_t value = 9;
  EXPECT_EQ(sensor->ReadAnalogOut(value), 0);
  EXPECT_EQ(value, 1);
  EXPECT_EQ(sensor->WriteAnalogOut(0), 0);
  EXPECT_EQ(bus->Register(sim, 0x47), 0xFFFF);
  EXPECT_EQ(sensor->ReadAnalogOut(value), 0);
  EXPECT_EQ(value, 0);
  EXPECT_EQ(Requests(*bus, Rs232),
            (std::vector<std::string>{"B0470000", "B1470001", "B047FFFF", "B1470001"}));

  bus->SetFault(sim, nivsim::Fault::ErrorByte, 11);
  EXPECT_EQ(sensor->WriteAnalogOut(1), 11);
  EXPECT_EQ(sensor->Data.AnalogOut, 1) << "stored before the write";
}

TEST_F(FamilyA, FilterWrittenAndReadBack) {
  auto sensor = OneSensor();
  const double pi = std::acos(-1.0);
  for (double hz : {0.0, 0.001, 0.1, 1.0, 3.0, 10.0}) {
    SCOPED_TRACE(hz);
    bus->ClearTrace();
    sensor->Data.Filter = -1;
    EXPECT_EQ(sensor->WriteFilter(hz), 0);
    EXPECT_EQ(sensor->Data.Filter, hz);
    const auto requests = Requests(*bus, Rs232);
    ASSERT_EQ(requests.size(), 6u);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(requests[i].substr(0, 4), "B0" + IntToHexBytes(0x40 + i));

    const double a = hz == 0.0 ? 0.001 : hz;
    const double q = 1.0 / std::tan(pi * a / 100.0);
    const double s = std::sqrt(2.0);
    const double x = 1.0 / (q * q + s * q + 1.0), y = (1.0 - q * q) * -2.0, z = -(q * q + (1.0 - s * q));
    EXPECT_NEAR(Code(0x40), x, std::fabs(x) * 3e-7);
    EXPECT_NEAR(Code(0x42), y, std::fabs(y) * 3e-7);
    EXPECT_NEAR(Code(0x44), z, std::fabs(z) * 3e-7);

    double back = -1;
    EXPECT_EQ(sensor->ReadFilter(back), 0);
    EXPECT_NEAR(back, a, a * 1e-6);
  }
  EXPECT_EQ(Requests(*bus, Rs232).back(), "B1420002");
}

TEST_F(FamilyA, FilterCoefficientsThatAreNoFilter) {
  auto sensor = OneSensor();
  double hz = 77;
  SetCode(0x42, "00000000");
  EXPECT_EQ(sensor->ReadFilter(hz), 2);
  SetCode(0x42, "7F800000");  // -1
  EXPECT_EQ(sensor->ReadFilter(hz), 9);
  SetCode(0x42, "80800000");  // -2
  EXPECT_EQ(sensor->ReadFilter(hz), 9);
  EXPECT_EQ(hz, 77);
  SetCode(0x42, "7EC00000");  // -0.75: q^2 = 0.625
  EXPECT_EQ(sensor->ReadFilter(hz), 0);
  EXPECT_NEAR(hz, std::atan(1.0 / std::sqrt(0.625)) * 100.0 / std::acos(-1.0), 1e-12);

  // A frequency that cannot be encoded: 8, nothing sent.
  bus->ClearTrace();
  EXPECT_EQ(sensor->WriteFilter(std::nan("")), 8);
  EXPECT_TRUE(bus->HostBytes().empty());
}

TEST_F(FamilyA, FullScale) {
  auto sensor = OneSensor();
  double range = 0;
  EXPECT_EQ(sensor->ReadFullScale(range), 0);
  EXPECT_NEAR(range, 523.599, 523.599 * 2e-7);
  EXPECT_EQ(Requests(*bus, Rs232).back(), "B14A0002");

  SetCode(0x4A, "00000000");
  EXPECT_EQ(sensor->ReadFullScale(range), 0);
  EXPECT_EQ(range, 1221.7304763960306) << "70 degrees in mRad, like every other range";

  SetCode(0x4A, FloatToHex8(32768.0));
  EXPECT_EQ(sensor->ReadFullScale(range), 0);
  EXPECT_EQ(range, 1000.0);
}

TEST_F(FamilyA, ReferenceCharacters) {
  auto sensor = OneSensor();
  std::string reference;
  EXPECT_EQ(sensor->ReadReference(reference), 0);
  EXPECT_EQ(reference, "KV72500-AB");
  EXPECT_EQ(Requests(*bus, Rs232).back(), "B1530005");

  SetText(0x53, 5, std::string("ABCDEF\0Zyx", 10));
  EXPECT_EQ(sensor->ReadReference(reference), 0);
  EXPECT_EQ(reference, "ABCDEF");
  SetText(0x53, 5, "\x1F" "BCDEFGHIJ");
  EXPECT_EQ(sensor->ReadReference(reference), 0);
  EXPECT_EQ(reference, "");
  SetText(0x53, 5, " ~\x7F" "A\x80" "BCDEF");
  EXPECT_EQ(sensor->ReadReference(reference), 0);
  EXPECT_EQ(reference, " ~\x7F" "A");
}

TEST_F(FamilyA, SerialNumberIsReadStrictly) {
  auto sensor = OneSensor();
  const struct { std::string text; int32_t value; uint8_t result; } cases[] = {
      {"123456", 123456, 0},
      {std::string("12\0" "456", 6), 12, 0},
      {"-42", -42, 0},
      {"+7", 7, 0},
      {"$1F", 31, 0},
      {"A23456", 0, 8},
      {" 12", 0, 8},
      {"12 ", 0, 8},
      {"0x1F", 0, 8},
      {std::string("\0" "23456", 6), 0, 8},
      {"-", 0, 8}};
  for (const auto &c : cases) {
    SetText(0x50, 3, c.text);
    int32_t serial = 99;
    EXPECT_EQ(sensor->ReadSerialNumber(serial), c.result) << c.text;
    EXPECT_EQ(serial, c.value) << c.text;
  }
  EXPECT_EQ(Requests(*bus, Rs232).back(), "B1500003");
}

TEST_F(FamilyA, IdentifierAndTypeFromRegister46) {
  auto sensor = OneSensor(Rs232, 1);
  int32_t identifier = 0;
  uint8_t type = 9;
  bus->SetRegister(sim, 0x46, 0xFF2A);
  EXPECT_EQ(sensor->ReadIdentifier(identifier), 0);
  EXPECT_EQ(identifier, 42);
  EXPECT_EQ(sensor->ReadCommType(type), 0);
  EXPECT_EQ(type, 1);
  bus->SetRegister(sim, 0x46, 0x0F2A);
  EXPECT_EQ(sensor->ReadCommType(type), 0);
  EXPECT_EQ(type, 0);

  bus->SetFault(sim, nivsim::Fault::ErrorByte, 12);
  identifier = 77;
  EXPECT_EQ(sensor->ReadIdentifier(identifier), 12);
  EXPECT_EQ(identifier, 77);
  EXPECT_EQ(sensor->ReadCommType(type), 12);
  EXPECT_EQ(type, 1) << "set before the exchange";
}

TEST_F(FamilyA, AngleIsZeroOnFailure) {
  nivsim::SensorAConfig config;
  config.angle = nivsim::AngleSource::constant(-12.5);
  auto sensor = OneSensor(Rs485, 3, config);
  sensor->Connected = false;  // measurements do not need it
  double angle = 0;
  EXPECT_EQ(sensor->ReadAngle(angle), 0);
  EXPECT_DOUBLE_EQ(angle, -12.5);
  bus->SetFault(sim, nivsim::Fault::WrongChecksum);
  angle = 5;
  EXPECT_EQ(sensor->ReadAngle(angle), 6);
  EXPECT_EQ(angle, 0.0);

  bus->ClearFault(sim);
  EXPECT_EQ(sensor->OpenPort(), 0);
  EXPECT_EQ(sensor->TestPresence(), 0);
  sensor->Data.Identifier = 4;
  EXPECT_EQ(sensor->TestPresence(), 3);
  sensor->ClosePort();
}

TEST_F(FamilyA, ExchangeFailingThreeTimesWaitsAfterEachCall) {
  auto sensor = OneSensor();
  bus->SetFault(sim, nivsim::Fault::ErrorByte, 11);
  std::string frame = "B1460001";
  int32_t received = 0;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(sensor->ExchangeFrames(frame, 6, received), 11);
  const double elapsed = MsSince(start);
  EXPECT_EQ(frame, "");

  const auto runs = HostRequestRuns(*bus);
  ASSERT_EQ(runs.size(), 6u) << "three calls of two attempts each";
  // The library's second attempt follows its first at once: that gap is the
  // library's own answer timeout and handshake. Between two calls come the
  // 20 ms wait and the library's 10 ms pause on top of it.
  double within = 0;
  for (int call = 0; call < 3; ++call) within += (runs[2 * call + 1].startMs - runs[2 * call].endMs) / 3;
  for (int call = 1; call < 3; ++call) {
    const double between = runs[2 * call].startMs - runs[2 * call - 1].endMs;
    EXPECT_GE(between - within, 20.0) << "call " << call;
    EXPECT_LE(between - within, 150.0) << "call " << call;
  }
  // After the third call one more wait comes before returning (and the 10 ms
  // pause came before the first byte).
  const double span = bus->Trace().back().timeMs - bus->Trace().front().timeMs;
  EXPECT_GE(elapsed - span - within, 15.0);

  // A write is retried the same way.
  bus->ClearTrace();
  frame = "B047FFFF";
  EXPECT_EQ(sensor->ExchangeFrames(frame, 4, received), 11);
  EXPECT_EQ(HostRequestRuns(*bus).size(), 6u);
}

TEST_F(FamilyA, WriteRegistersPadsAndStopsAtTheFirstFailure) {
  auto sensor = OneSensor();
  EXPECT_EQ(sensor->WriteRegisters("12345", 0x53), 0);
  EXPECT_EQ(Requests(*bus, Rs232), (std::vector<std::string>{"B0531234", "B0545000"}));
  EXPECT_EQ(bus->Register(sim, 0x54), 0x5000);

  bus->ClearTrace();
  EXPECT_EQ(sensor->WriteRegisters("", 0x53), 0);
  EXPECT_TRUE(bus->HostBytes().empty());

  bus->SetFault(sim, nivsim::Fault::ErrorByte, 7);
  EXPECT_EQ(sensor->WriteRegisters("ABCD1234", 0x53), 10);
  EXPECT_EQ(Requests(*bus, Rs232), std::vector<std::string>(6, "B053ABCD"));
}

}  // namespace
