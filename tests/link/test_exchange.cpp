// Frame exchanges of the family A link library against the simulated sensors:
// the bytes on the wire, the judging of every kind of answer, the contents of
// the answer buffer and count on each path, and the timing of a silent line.
#include <string>

#include "LinkBus.h"
#include "UtilCapt.h"
#include "uCom72500.h"

using nivsim::Fault;

namespace {

// The two data bytes that a register read of one word carries, as the sensor sent them.
Bytes LastTwoBeforeChecksum(const Bytes &sensorBytes) {
  return Bytes(sensorBytes.end() - 3, sensorBytes.end() - 1);
}

std::string Hex(const Bytes &bytes) { return BytesToHex(std::string(bytes.begin(), bytes.end())); }

}  // namespace

TEST_F(LinkBusTest, Rs232RegisterReadCarriesAttentionFrameAndChecksum) {
  int sensor = AddSensor(1, true);
  ExchangeOutcome out = Exchange("B1460001", 6, ModeRs232, 0);

  EXPECT_EQ(out.result, 0);
  EXPECT_EQ(out.count, 7);
  EXPECT_EQ(bus->HostBytes(), (Bytes{0x02, 0xB1, 0x46, 0x00, 0x01, 0xF6}));
  Bytes sensorBytes = bus->SensorBytes();
  ASSERT_EQ(sensorBytes.size(), 8u);
  EXPECT_EQ(Bytes(sensorBytes.begin(), sensorBytes.begin() + 5), (Bytes{0x06, 0xB1, 0x46, 0x00, 0x01}));
  EXPECT_EQ(out.answer, Hex(LastTwoBeforeChecksum(sensorBytes)));
  EXPECT_EQ(out.answer, IntToHexWidth(bus->Register(sensor, 0x46), 2));
}

TEST_F(LinkBusTest, Rs485RegisterReadStartsEveryFrameWithTheAddress) {
  int sensor = AddSensor(5, false);
  ExchangeOutcome out = Exchange("B1460001", 6, ModeRs485, 5);

  EXPECT_EQ(out.result, 0);
  EXPECT_EQ(out.count, 8);
  EXPECT_EQ(bus->HostBytes(), (Bytes{0x05, 0x05, 0xB1, 0x46, 0x00, 0x01, 0xF3}));
  Bytes sensorBytes = bus->SensorBytes();
  ASSERT_EQ(sensorBytes.size(), 9u);
  EXPECT_EQ(Bytes(sensorBytes.begin(), sensorBytes.begin() + 6),
            (Bytes{0x05, 0x05, 0xB1, 0x46, 0x00, 0x01}));
  EXPECT_EQ(out.answer, IntToHexWidth(bus->Register(sensor, 0x46), 2));
}

TEST_F(LinkBusTest, LowerCaseCommandDigitsGiveTheSameFrame) {
  AddSensor(5, false);
  ExchangeOutcome upper = Exchange("B1460001", 6, ModeRs485, 5);
  Bytes upperWire = bus->HostBytes();
  bus->ClearTrace();
  ExchangeOutcome lower = Exchange("b1460001", 6, ModeRs485, 5);

  EXPECT_EQ(lower.result, 0);
  EXPECT_EQ(bus->HostBytes(), upperWire);
  EXPECT_EQ(lower.answer, upper.answer);
}

TEST_F(LinkBusTest, ErrorFramesGiveTheSensorsRefusalWithEmptyAnswer) {
  int sensor = AddSensor(5, false);
  bus->SetFault(sensor, Fault::ErrorByte, 11);
  ExchangeOutcome out = Exchange("B1460001", 6, ModeRs485, 5);
  EXPECT_EQ(out.result, -11);
  EXPECT_EQ(out.answer, "");
  EXPECT_EQ(out.count, 3);
  // A refusal is tried again: two full exchanges on the wire.
  Bytes attempt = {0x05, 0x05, 0xB1, 0x46, 0x00, 0x01, 0xF3};
  EXPECT_EQ(bus->HostBytes(), Repeat(attempt, 2));
  EXPECT_EQ(bus->SensorBytes(), Repeat({0x05, 0x05, 0x0B, 0x0E}, 2));

  const struct {
    int errorByte;
    TLinkResult expected;
  } refusals[] = {{7, -10}, {8, -9}, {9, -3}, {10, -7}, {12, -12}, {0x20, -3}};
  for (const auto &refusal : refusals) {
    bus->SetFault(sensor, Fault::ErrorByte, refusal.errorByte);
    ExchangeOutcome r = Exchange("B1460001", 6, ModeRs485, 5);
    EXPECT_EQ(r.result, refusal.expected) << "error byte " << refusal.errorByte;
    EXPECT_EQ(r.answer, "") << "error byte " << refusal.errorByte;
  }
}

TEST_F(LinkBusTest, Rs232TwoByteErrorFrame) {
  int sensor = AddSensor(1, true);
  bus->SetFault(sensor, Fault::ErrorByte, 10);
  ExchangeOutcome out = Exchange("B1460001", 6, ModeRs232, 0);
  EXPECT_EQ(out.result, -7);
  EXPECT_EQ(out.count, 2);
  EXPECT_EQ(out.answer, "");
  EXPECT_EQ(bus->SensorBytes(), Repeat({0x06, 0x0A, 0x0A}, 2));
}

TEST_F(LinkBusTest, WrongEchoAndWrongChecksumAreRejected) {
  int sensor = AddSensor(5, false);
  bus->SetFault(sensor, Fault::EchoMismatch);
  ExchangeOutcome echo = Exchange("B1460001", 6, ModeRs485, 5);
  EXPECT_EQ(echo.result, -3);
  EXPECT_EQ(echo.answer, "");
  EXPECT_EQ(echo.count, 8);

  bus->SetFault(sensor, Fault::WrongChecksum);
  ExchangeOutcome sum = Exchange("B1460001", 6, ModeRs485, 5);
  EXPECT_EQ(sum.result, -7);
  EXPECT_EQ(sum.answer, "");
  EXPECT_EQ(sum.count, 8);

  // Once the sensor behaves again the next exchange is clean: nothing of the
  // failed ones is left in the queues.
  bus->ClearFault(sensor);
  EXPECT_EQ(Exchange("B1460001", 6, ModeRs485, 5).result, 0);
}

TEST_F(LinkBusTest, AnswerOfHeadAndChecksumOnlyIsAcceptedWithEmptyPayload) {
  // The register value is chosen so that the sixth answer byte is the
  // checksum of the first five: cutting the answer there leaves a frame that
  // repeats the request and is correctly summed, but carries no data.
  int sensor = AddSensor(5, false);
  const uint8_t headSum = 0x05 ^ 0xB1 ^ 0x50 ^ 0x00 ^ 0x01;
  bus->SetRegister(sensor, 0x50, static_cast<uint16_t>(headSum << 8 | 0x34));
  bus->SetFault(sensor, Fault::Truncated, 6);
  ExchangeOutcome out = Exchange("B1500001", 6, ModeRs485, 5);
  EXPECT_EQ(out.result, 0);
  EXPECT_EQ(out.answer, "");
  EXPECT_EQ(out.count, 6);

  // Shorter cuts are not valid answers.
  for (int kept : {0, 1, 4}) {
    bus->SetFault(sensor, Fault::Truncated, kept);
    ExchangeOutcome cut = Exchange("B1500001", 6, ModeRs485, 5);
    EXPECT_EQ(cut.result, -3) << kept << " bytes";
    EXPECT_EQ(cut.count, kept);
    EXPECT_EQ(cut.answer, "");
  }
}

TEST_F(LinkBusTest, InvalidRequestsSendNothingAndHandTheCommandBack) {
  AddSensor(5, false);
  ExchangeOutcome empty = Exchange("", 6, ModeRs485, 5);
  EXPECT_EQ(empty.result, -6);
  EXPECT_EQ(empty.answer, "");
  EXPECT_EQ(empty.count, 0);

  ExchangeOutcome negative = Exchange("B1460001", -1, ModeRs485, 5);
  EXPECT_EQ(negative.result, -6);
  EXPECT_EQ(negative.answer, "B1460001");
  EXPECT_EQ(negative.count, 0);

  // An answer this long would not fit the caller's 256-byte answer buffer.
  ExchangeOutcome tooLong = Exchange("b1460001", MaxExpectedLength + 1, ModeRs485, 5);
  EXPECT_EQ(tooLong.result, -6);
  EXPECT_EQ(tooLong.answer, "b1460001");
  EXPECT_EQ(tooLong.count, 0);
  EXPECT_TRUE(bus->HostBytes().empty());

  // The largest length is accepted; the sensor's shorter answer passes.
  ExchangeOutcome longest = Exchange("B1460001", MaxExpectedLength, ModeRs485, 5);
  EXPECT_EQ(longest.result, 0);
  EXPECT_EQ(longest.count, 8);
  EXPECT_EQ(longest.answer.size(), 4u);
}

TEST_F(LinkBusTest, OversizedCommandAndNullPointersNeverOverflow) {
  AddSensor(5, false);
  // 300 digits handed back in a 256-byte buffer: cut to 255 characters.
  std::string command(300, 'A');
  struct {
    char answer[LINK_BUFFER_SIZE];
    char guard[64];
  } buffers;
  std::memset(&buffers, 'G', sizeof buffers);
  int32_t count = -99;
  EXPECT_EQ(Com72500_EchangeTrames(command.c_str(), buffers.answer, -1, &count, LinkPortNumber,
                                   ModeRs485, 5),
            -6);
  EXPECT_EQ(std::string(buffers.answer), command.substr(0, 255));
  EXPECT_EQ(std::string(buffers.guard, sizeof buffers.guard), std::string(64, 'G'));
  EXPECT_EQ(count, 0);

  char answer[LINK_BUFFER_SIZE] = "x";
  EXPECT_EQ(Com72500_EchangeTrames("B1460001", answer, 6, nullptr, LinkPortNumber, ModeRs485, 5), -6);
  EXPECT_STREQ(answer, "B1460001");
  count = -99;
  EXPECT_EQ(Com72500_EchangeTrames("B1460001", nullptr, 6, &count, LinkPortNumber, ModeRs485, 5), -6);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(Com72500_EchangeTrames(nullptr, answer, 6, &count, LinkPortNumber, ModeRs485, 5), -6);
  EXPECT_STREQ(answer, "");
  EXPECT_TRUE(bus->HostBytes().empty());
}

TEST_F(LinkBusTest, SilentSensorIsWokenFourTimesPerAttempt) {
  int sensor = AddSensor(5, false);
  bus->SetFault(sensor, Fault::NoAck);
  ExchangeOutcome out = Exchange("B1460001", 6, ModeRs485, 5);
  EXPECT_EQ(out.result, -4);
  EXPECT_EQ(out.count, 0);
  EXPECT_EQ(out.answer, "B1460001");
  EXPECT_EQ(bus->HostBytes(), Bytes(8, 0x05));
  // Two attempts of four tries, 50 to 69 ms apart plus a 22 ms read each:
  // about half a second.
  EXPECT_GT(out.elapsedMs, 400.0);
  EXPECT_LT(out.elapsedMs, 1500.0);

  std::vector<double> times;
  for (const nivsim::TraceEntry &entry : bus->Trace())
    if (entry.fromHost) times.push_back(entry.timeMs);
  ASSERT_EQ(times.size(), 8u);
  // The simulator stamps a byte when its thread gets to it: on a loaded
  // machine one stamp late shortens the next gap by that much (61.97 ms was
  // seen). A library that did not wait between tries shows about 22 ms.
  for (int i : {1, 2, 3, 5, 6, 7}) {
    double gap = times[i] - times[i - 1];
    EXPECT_GT(gap, 50.0) << "between tries " << i << " and " << i + 1;
    EXPECT_LT(gap, 250.0) << "between tries " << i << " and " << i + 1;
  }
}

TEST_F(LinkBusTest, SensorThatAcknowledgesButNeverAnswers) {
  int sensor = AddSensor(5, false);
  bus->SetFault(sensor, Fault::Silence);
  ExchangeOutcome out = Exchange("B1460001", 6, ModeRs485, 5);
  EXPECT_EQ(out.result, -3);
  EXPECT_EQ(out.count, 0);
  EXPECT_EQ(out.answer, "");
  EXPECT_EQ(bus->HostBytes(), Repeat({0x05, 0x05, 0xB1, 0x46, 0x00, 0x01, 0xF3}, 2));
}

TEST_F(LinkBusTest, LeadingGarbageFillsTheReadAndSpoilsTheChecksum) {
  // The read stops after the expected number of bytes, so two garbage bytes
  // push the real checksum out of it.
  int sensor = AddSensor(5, false);
  bus->SetRegister(sensor, 0x50, 0x1234);
  bus->SetFault(sensor, Fault::LeadingGarbage, 2);
  ExchangeOutcome out = Exchange("B1500001", 6, ModeRs485, 5);
  EXPECT_EQ(out.result, -7);
  EXPECT_EQ(out.count, 8);
  EXPECT_EQ(out.answer, "");

  // The left-over bytes of the failed exchange are purged before the next one.
  bus->ClearFault(sensor);
  ExchangeOutcome next = Exchange("B1500001", 6, ModeRs485, 5);
  EXPECT_EQ(next.result, 0);
  EXPECT_EQ(next.answer, "1234");
}

TEST_F(LinkBusTest, GapInsideAnAnswerEndsTheReadAfterFortyMilliseconds) {
  // A long expected length keeps the total read time out of the way, so only
  // the silence between two bytes ends the read.
  int sensor = AddSensor(5, false);
  bus->SetFault(sensor, Fault::LongGap, 20);
  ExchangeOutcome shortGap = Exchange("B1460001", 100, ModeRs485, 5);
  EXPECT_EQ(shortGap.result, 0);
  EXPECT_EQ(shortGap.count, 8);

  bus->SetFault(sensor, Fault::LongGap, 80);
  ExchangeOutcome longGap = Exchange("B1460001", 100, ModeRs485, 5);
  EXPECT_EQ(longGap.result, -3);
  EXPECT_GT(longGap.count, 0);
  EXPECT_LT(longGap.count, 8);
  EXPECT_EQ(longGap.answer, "");
}

TEST_F(LinkBusTest, UnpluggedAdapterEndsTheExchangeWithPortFailure) {
  int sensor = AddSensor(5, false);
  bus->SetFault(sensor, Fault::Unplug);
  ExchangeOutcome out = Exchange("B1460001", 6, ModeRs485, 5);
  EXPECT_EQ(out.result, -2);
  EXPECT_EQ(out.count, 0);
  EXPECT_EQ(out.answer, "");
  EXPECT_LT(out.elapsedMs, 2000.0);
  // The call opened the port for itself and does not keep the dead device.
  EXPECT_FALSE(LinkPortHeld());
}

TEST_F(LinkBusTest, ExchangeOnClosedPortOpensAndClosesItAndKeepsAnOpenOne) {
  AddSensor(5, false);
  EXPECT_EQ(Exchange("B1460001", 6, ModeRs485, 5).result, 0);
  EXPECT_TRUE(DeviceIsFree(bus->SlavePath()));

  ASSERT_EQ(Com72500_OpenPort(LinkPortNumber), 0);
  EXPECT_EQ(Exchange("B1460001", 6, ModeRs485, 5).result, 0);
  EXPECT_TRUE(LinkPortHeld());
  EXPECT_FALSE(DeviceIsFree(bus->SlavePath()));
}

TEST_F(LinkBusTest, ExchangeOnMissingDeviceGivesPortFailure) {
  ::setenv("NIVELIX_COM9", "/nonexistent/nivelix-tty", 1);
  char answer[LINK_BUFFER_SIZE];
  int32_t count = -99;
  EXPECT_EQ(Com72500_EchangeTrames("B1460001", answer, 6, &count, 9, ModeRs485, 5), -2);
  EXPECT_STREQ(answer, "B1460001");
  EXPECT_EQ(count, 0);
  ::unsetenv("NIVELIX_COM9");
}
