// Com72800_EchangeTrames and Com72800_LitMesure against simulated family B
// sensors: the bytes on the wire, the answers, and every way an exchange fails.
#include <cmath>

#include "FamilyBBus.h"
#include "FamilyBFrames.h"
#include "UtilCapt.h"

namespace familyb_test {
namespace {

using nivsim::Fault;

class FamilyBExchange : public FamilyBBus {};

TEST_F(FamilyBExchange, ReadOnRs485PutsHandshakeAndFrameOnTheWire) {
  AddSensor(7);
  ASSERT_EQ(Com72800_OpenPort(ComPort), LINK_OK);

  const ExchangeResult r = Exchange("A10200", 2, Rs485, 7);
  EXPECT_EQ(r.result, LINK_OK);
  EXPECT_EQ(r.answer, "07");
  EXPECT_EQ(r.count, 4);
  EXPECT_EQ(bus->HostBytes(), (Bytes{0x07, 0x07, 0xA1, 0x02, 0x00, 0xA4}));
  EXPECT_EQ(bus->SensorBytes(), (Bytes{0x07, 0x07, 0xA1, 0x07, 0xA1}));

  // The request follows the acknowledgement at once and goes out back to back.
  const auto trace = bus->Trace();
  ASSERT_EQ(trace.size(), 11u);
  EXPECT_TRUE(trace[0].fromHost);
  EXPECT_FALSE(trace[1].fromHost);
  EXPECT_LT(trace[2].timeMs - trace[1].timeMs, 100.0) << "within the sensor's wait for its request";
  EXPECT_LT(trace[6].timeMs - trace[2].timeMs, 4 * nivsim::ByteTimeMs + 10.0);
  EXPECT_GT(r.elapsedMs, 8.0);  // the wire time of 11 bytes at least
  EXPECT_LT(r.elapsedMs, 250.0);
}

TEST_F(FamilyBExchange, WriteIsAcknowledgedWithAnEmptyAnswer) {
  AddSensor(7);
  ASSERT_EQ(Com72800_OpenPort(ComPort), LINK_OK);

  const ExchangeResult r = Exchange("C20C00", 0, Rs485, 7);
  EXPECT_EQ(r.result, LINK_OK);
  EXPECT_EQ(r.answer, "");
  EXPECT_EQ(r.count, 3);
  EXPECT_EQ(bus->HostBytes(), (Bytes{0x07, 0x07, 0xC2, 0x0C, 0x00, 0xC9}));
  EXPECT_EQ(bus->SensorBytes(), (Bytes{0x07, 0x07, 0xC2, 0xC5}));
  // The acknowledgement ends the read: no wait for bytes that never come.
  EXPECT_LT(r.elapsedMs, 250.0);

  // Lower-case digits are the same command.
  bus->ClearTrace();
  EXPECT_EQ(Exchange("c20c00", 0, Rs485, 7).result, LINK_OK);
  EXPECT_EQ(bus->HostBytes(), (Bytes{0x07, 0x07, 0xC2, 0x0C, 0x00, 0xC9}));
}

TEST_F(FamilyBExchange, Rs232FramesCarryNoAddress) {
  AddSensor(7, true);
  ASSERT_EQ(Com72800_OpenPort(ComPort), LINK_OK);

  ExchangeResult r = Exchange("A10200", 2, Rs232, 7);
  EXPECT_EQ(r.result, LINK_OK);
  EXPECT_EQ(r.answer, "07");
  EXPECT_EQ(r.count, 3);
  EXPECT_EQ(bus->HostBytes(), (Bytes{0x02, 0xA1, 0x02, 0x00, 0xA3}));
  EXPECT_EQ(bus->SensorBytes(), (Bytes{0x06, 0xA1, 0x07, 0xA6}));

  bus->ClearTrace();
  r = Exchange("C40000", 0, Rs232, 200);  // the address is not used on RS232
  EXPECT_EQ(r.result, LINK_OK);
  EXPECT_EQ(r.answer, "");
  EXPECT_EQ(r.count, 2);
  EXPECT_EQ(bus->HostBytes(), (Bytes{0x02, 0xC4, 0x00, 0x00, 0xC4}));
  EXPECT_EQ(bus->SensorBytes(), (Bytes{0x06, 0xC4, 0xC4}));
}

TEST_F(FamilyBExchange, MeasurementDecodesTheFloatCode) {
  const int rs485Sensor = AddSensor(7);
  bus->SetAngle(rs485Sensor, nivsim::AngleSource::constant(-12.5));
  ASSERT_EQ(Com72800_OpenPort(ComPort), LINK_OK);

  double angle = 99.0;
  EXPECT_EQ(Com72800_LitMesure(&angle, ComPort, Rs485, 7), LINK_OK);
  EXPECT_DOUBLE_EQ(angle, -12.5);
  const Bytes code = [] {
    Bytes b;
    for (char c : HexToBytes(FloatToHex8(-12.5))) b.push_back(static_cast<uint8_t>(c));
    return b;
  }();
  Bytes expectedAnswer{0x07, 0x07, 0x90};
  expectedAnswer.insert(expectedAnswer.end(), code.begin(), code.end());
  uint8_t sum = 0;
  for (size_t i = 1; i < expectedAnswer.size(); ++i) sum ^= expectedAnswer[i];
  expectedAnswer.push_back(sum);
  EXPECT_EQ(bus->HostBytes(), (Bytes{0x07, 0x07, 0x90, 0x00, 0x00, 0x97}));
  EXPECT_EQ(bus->SensorBytes(), expectedAnswer);

  bus->SetAngle(rs485Sensor, nivsim::AngleSource::constant(1221.73));
  EXPECT_EQ(Com72800_LitMesure(&angle, ComPort, Rs485, 7), LINK_OK);
  EXPECT_NEAR(angle, 1221.73, 1221.73 * 1e-6);
  bus->SetAngle(rs485Sensor, nivsim::AngleSource::constant(0.0));
  EXPECT_EQ(Com72800_LitMesure(&angle, ComPort, Rs485, 7), LINK_OK);
  EXPECT_EQ(angle, 0.0);
}

TEST_F(FamilyBExchange, MeasurementOnRs232) {
  const int sensor = AddSensor(3, true);
  bus->SetAngle(sensor, nivsim::AngleSource::constant(0.75));
  ASSERT_EQ(Com72800_OpenPort(ComPort), LINK_OK);
  double angle = 0.0;
  EXPECT_EQ(Com72800_LitMesure(&angle, ComPort, Rs232, 3), LINK_OK);
  EXPECT_DOUBLE_EQ(angle, 0.75);
  const Bytes host = bus->HostBytes();
  EXPECT_EQ(host, (Bytes{0x02, 0x90, 0x00, 0x00, 0x90}));
  EXPECT_EQ(bus->SensorBytes().size(), 1u + 6u);
}

TEST_F(FamilyBExchange, MeasurementTriesTwiceAndGivesZeroOnFailure) {
  const int sensor = AddSensor(7);
  bus->SetAngle(sensor, nivsim::AngleSource::constant(4.5));
  ASSERT_EQ(Com72800_OpenPort(ComPort), LINK_OK);
  double angle = 0.0;

  // One bad answer: the second attempt reads it.
  bus->SetFault(sensor, Fault::WrongChecksum, 0, 1);
  EXPECT_EQ(Com72800_LitMesure(&angle, ComPort, Rs485, 7), LINK_OK);
  EXPECT_DOUBLE_EQ(angle, 4.5);

  // Bad on both attempts: the last failure, and 0.
  angle = 42.0;
  bus->SetFault(sensor, Fault::WrongChecksum);
  EXPECT_EQ(Com72800_LitMesure(&angle, ComPort, Rs485, 7), LINK_CHECKSUM);
  EXPECT_EQ(angle, 0.0);
  bus->ClearTrace();
  angle = 42.0;
  bus->SetFault(sensor, Fault::Truncated, 4);
  EXPECT_EQ(Com72800_LitMesure(&angle, ComPort, Rs485, 7), LINK_NO_ANSWER);
  EXPECT_EQ(angle, 0.0);
  int requests = 0;
  for (uint8_t b : bus->HostBytes()) requests += b == 0x90;
  EXPECT_EQ(requests, 2);

  angle = 42.0;
  bus->SetFault(sensor, Fault::NoAck);
  EXPECT_EQ(Com72800_LitMesure(&angle, ComPort, Rs485, 7), LINK_NO_ACK);
  EXPECT_EQ(angle, 0.0);

  angle = 42.0;
  EXPECT_EQ(Com72800_LitMesure(nullptr, ComPort, Rs485, 7), LINK_INVALID);
}

TEST_F(FamilyBExchange, SensorRefusalsAndDamagedAnswers) {
  const int sensor = AddSensor(7);
  ASSERT_EQ(Com72800_OpenPort(ComPort), LINK_OK);

  // A command the sensor does not know.
  ExchangeResult r = Exchange("770000", 2, Rs485, 7);
  EXPECT_EQ(r.result, frameb::ResultUnknownCommand);
  EXPECT_EQ(r.answer, "");
  EXPECT_EQ(r.count, 4);
  // A register it does not have, and an identifier of 0: refused. The refusal
  // of a write is longer than its acknowledgement and is read whole.
  r = Exchange("A19900", 2, Rs485, 7);
  EXPECT_EQ(r.result, frameb::ResultValueRefused);
  bus->ClearTrace();
  r = Exchange("C20000", 0, Rs485, 7);
  EXPECT_EQ(r.result, frameb::ResultValueRefused);
  EXPECT_EQ(r.answer, "");
  EXPECT_EQ(r.count, 4);
  EXPECT_EQ(bus->SensorBytes(), (Bytes{0x07, 0x07, 0x15, 0x03, 0x11}));
  // The sensor found our checksum wrong.
  bus->SetFault(sensor, Fault::ErrorByte, 0x02, 1);
  EXPECT_EQ(Exchange("A10200", 2, Rs485, 7).result, LINK_CHECKSUM);
  // An error byte the protocol does not know.
  bus->SetFault(sensor, Fault::ErrorByte, 0x09, 1);
  EXPECT_EQ(Exchange("A10200", 2, Rs485, 7).result, LINK_NO_ANSWER);

  // A wrong answer checksum.
  bus->SetFault(sensor, Fault::WrongChecksum, 0, 1);
  r = Exchange("A10200", 2, Rs485, 7);
  EXPECT_EQ(r.result, LINK_CHECKSUM);
  EXPECT_EQ(r.answer, "");
  EXPECT_EQ(r.count, 4);
  bus->SetFault(sensor, Fault::WrongChecksum, 0, 1);
  EXPECT_EQ(Exchange("DA6F00", 0, Rs485, 7).result, LINK_CHECKSUM);

  // A truncated answer.
  bus->SetFault(sensor, Fault::Truncated, 2, 1);
  r = Exchange("A10200", 2, Rs485, 7);
  EXPECT_EQ(r.result, LINK_NO_ANSWER);
  EXPECT_EQ(r.answer, "");
  EXPECT_EQ(r.count, 2);
  // The echo of another command.
  bus->SetFault(sensor, Fault::EchoMismatch, 0, 1);
  EXPECT_EQ(Exchange("A10200", 2, Rs485, 7).result, LINK_NO_ANSWER);
  // Garbage before the answer.
  bus->SetFault(sensor, Fault::LeadingGarbage, 1, 1);
  EXPECT_NE(Exchange("A10200", 2, Rs485, 7).result, LINK_OK);
  // A gap in the middle of the answer longer than the line allows.
  bus->SetFault(sensor, Fault::LongGap, 80, 1);
  EXPECT_EQ(Exchange("A10200", 2, Rs485, 7).result, LINK_NO_ANSWER);

  // Acknowledged, then silent: a read has no answer, a write is not confirmed.
  bus->SetFault(sensor, Fault::Silence, 0, 1);
  r = Exchange("A10200", 2, Rs485, 7);
  EXPECT_EQ(r.result, LINK_NO_ANSWER);
  EXPECT_EQ(r.count, 0);
  bus->SetFault(sensor, Fault::Silence, 0, 1);
  r = Exchange("C40000", 0, Rs485, 7);
  EXPECT_EQ(r.result, LINK_NOT_CONFIRMED);
  EXPECT_EQ(r.answer, "");
  EXPECT_EQ(r.count, 0);

  // Every fault above was for one exchange only: the sensor reads normally again.
  r = Exchange("A10200", 2, Rs485, 7);
  EXPECT_EQ(r.result, LINK_OK);
  EXPECT_EQ(r.answer, "07");
}

TEST_F(FamilyBExchange, OneAttemptOnly) {
  const int sensor = AddSensor(7);
  ASSERT_EQ(Com72800_OpenPort(ComPort), LINK_OK);

  bus->SetFault(sensor, Fault::WrongChecksum, 0, 1);
  EXPECT_EQ(Exchange("C50000", 0, Rs485, 7).result, LINK_CHECKSUM);
  int requests = 0;
  for (uint8_t b : bus->HostBytes()) requests += b == 0xC5;
  EXPECT_EQ(requests, 1);
}

TEST_F(FamilyBExchange, NoAcknowledgement) {
  const int sensor = AddSensor(7);
  ASSERT_EQ(Com72800_OpenPort(ComPort), LINK_OK);

  bus->SetFault(sensor, Fault::NoAck);
  const ExchangeResult r = Exchange("A10200", 2, Rs485, 7);
  EXPECT_EQ(r.result, LINK_NO_ACK);
  EXPECT_EQ(r.answer, "");
  EXPECT_EQ(r.count, 0);
  // Four attention bytes, no request.
  EXPECT_EQ(bus->HostBytes(), (Bytes{0x07, 0x07, 0x07, 0x07}));
  EXPECT_GT(r.elapsedMs, 3 * 50.0);
  EXPECT_LT(r.elapsedMs, 1500.0);

  // Nobody at that address either.
  bus->ClearFault(sensor);
  EXPECT_EQ(Exchange("A10200", 2, Rs485, 8).result, LINK_NO_ACK);
}

TEST_F(FamilyBExchange, InvalidRequestsSendNothing) {
  AddSensor(7);
  ASSERT_EQ(Com72800_OpenPort(ComPort), LINK_OK);

  for (const char *bad : {"", "A1020", "A102000", "A10", "A1020Z", "A1 200", "A1020000"}) {
    const ExchangeResult r = Exchange(bad, 2, Rs485, 7);
    EXPECT_EQ(r.result, LINK_INVALID) << '"' << bad << '"';
    EXPECT_EQ(r.answer, "") << '"' << bad << '"';
    EXPECT_EQ(r.count, 0) << '"' << bad << '"';
  }
  EXPECT_EQ(Exchange("A10200", -1, Rs485, 7).result, LINK_INVALID);
  EXPECT_EQ(Exchange("A10200", frameb::MaxExpectedDigits + 1, Rs485, 7).result, LINK_INVALID);

  char answer[256] = "untouched";
  int32_t count = 5;
  EXPECT_EQ(Com72800_EchangeTrames(nullptr, answer, 2, &count, ComPort, Rs485, 7), LINK_INVALID);
  EXPECT_STREQ(answer, "");
  EXPECT_EQ(count, 0);
  EXPECT_EQ(Com72800_EchangeTrames("A10200", nullptr, 2, &count, ComPort, Rs485, 7), LINK_INVALID);
  // A null count pointer is refused as com72500 refuses it, the answer filled as for -6.
  std::strcpy(answer, "untouched");
  EXPECT_EQ(Com72800_EchangeTrames("A10200", answer, 2, nullptr, ComPort, Rs485, 7), LINK_INVALID);
  EXPECT_STREQ(answer, "");

  EXPECT_EQ(Exchange("xyz", 2, Rs485, 7).result, LINK_INVALID);
  EXPECT_TRUE(bus->HostBytes().empty());
}

TEST_F(FamilyBExchange, UnpluggedAdapterFailsFastWithPortFailure) {
  const int sensor = AddSensor(7);
  ASSERT_EQ(Com72800_OpenPort(ComPort), LINK_OK);

  // Pulled out while the request is under way.
  bus->SetFault(sensor, Fault::Unplug, 0, 1);
  ExchangeResult r = Exchange("A10200", 2, Rs485, 7);
  EXPECT_EQ(r.result, LINK_PORT_FAILURE);
  EXPECT_EQ(r.answer, "");
  EXPECT_LT(r.elapsedMs, 2000.0);
  ASSERT_TRUE(bus->Unplugged());

  // And every later call on the dead line.
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Com72800_Presence(ComPort, Rs485, 7), LINK_PORT_FAILURE);
  double angle = 3.0;
  EXPECT_EQ(Com72800_LitMesure(&angle, ComPort, Rs485, 7), LINK_PORT_FAILURE);
  EXPECT_EQ(angle, 0.0);
  r = Exchange("C40000", 0, Rs485, 7);
  EXPECT_EQ(r.result, LINK_PORT_FAILURE);
  EXPECT_LT(MsSince(start), 3000.0);
}

TEST_F(FamilyBExchange, UnpluggedBeforeAClosedPortIsOpenedForTheCall) {
  AddSensor(7);
  bus->Unplug();
  const auto start = std::chrono::steady_clock::now();
  double angle = 3.0;
  EXPECT_EQ(Com72800_LitMesure(&angle, ComPort, Rs485, 7), LINK_PORT_FAILURE);
  EXPECT_EQ(angle, 0.0);
  const ExchangeResult r = Exchange("A10200", 2, Rs485, 7);
  EXPECT_EQ(r.result, LINK_PORT_FAILURE);
  EXPECT_EQ(r.answer, "");
  EXPECT_EQ(r.count, 0);
  EXPECT_LT(MsSince(start), 3000.0);
  EXPECT_EQ(Com72800_Presence(ComPort, Rs485, 7), LINK_PORT_FAILURE);
}

}  // namespace
}  // namespace familyb_test
