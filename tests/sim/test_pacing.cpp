// Wire timing of the simulated line: 9600-baud byte pacing and turnaround.
#include <gtest/gtest.h>

#include "HostSide.h"
#include "SimFixture.h"

using V = std::vector<uint8_t>;

class Pacing : public SimFixture {};

TEST_F(Pacing, AnswerBytesComeAtNineThousandSixHundredBaud) {
  nivsim::SensorAConfig c;
  c.identifier = 5;
  bus->AddSensorA(c);
  HostSide host(bus->SlavePath());
  ASSERT_EQ(host.Attention(0x05), V{0x05});
  bus->ClearTrace();
  std::vector<double> times;
  const double sent = HostSide::Now();
  host.Write(WithChecksum({0x05, 0x92, 0x00, 0x00, 0x00}));
  ASSERT_EQ(host.Read(14, 200, 40, &times).size(), 14u);

  // 6 request bytes, 2 ms turnaround, 14 answer bytes. On the host's side
  // only the lower bound is exact: a loaded machine may hand the bytes over
  // late and in bunches. The pacing itself is judged on the simulator's own
  // write times below.
  const double wire = 20 * nivsim::ByteTimeMs + 2.0;
  EXPECT_GT(times.back() - sent, wire - 0.5);
  EXPECT_LT(times.back() - sent, wire + 50.0);

  // The trace holds host arrival times and sensor write times.
  const auto trace = bus->Trace();
  ASSERT_EQ(trace.size(), 20u);
  for (size_t i = 1; i < 6; ++i) EXPECT_NEAR(trace[i].timeMs - trace[i - 1].timeMs, nivsim::ByteTimeMs, 0.01);
  EXPECT_NEAR(trace[6].timeMs - trace[5].timeMs, 2.0 + nivsim::ByteTimeMs, 3.0);
  for (size_t i = 7; i < 20; ++i) EXPECT_NEAR(trace[i].timeMs - trace[i - 1].timeMs, nivsim::ByteTimeMs, 3.0);
  EXPECT_NEAR(trace[19].timeMs - trace[6].timeMs, 13 * nivsim::ByteTimeMs, 4.0);
}

TEST_F(Pacing, TurnaroundIsSettable) {
  nivsim::SensorAConfig c;
  c.identifier = 5;
  bus->AddSensorA(c);
  bus->SetTurnaroundMs(15.0);
  HostSide host(bus->SlavePath());
  const double sent = HostSide::Now();
  std::vector<double> times;
  host.Write({0x05});
  ASSERT_EQ(host.Read(1, 100, 40, &times).size(), 1u);
  EXPECT_GT(times[0] - sent, 15.0 + 2 * nivsim::ByteTimeMs - 0.5);
  EXPECT_LT(times[0] - sent, 15.0 + 2 * nivsim::ByteTimeMs + 50.0);
  // The simulator's own times: the echo leaves one turnaround and one byte
  // time after the attention byte arrived.
  const auto trace = bus->Trace();
  ASSERT_EQ(trace.size(), 2u);
  EXPECT_NEAR(trace[1].timeMs - trace[0].timeMs, 15.0 + nivsim::ByteTimeMs, 3.0);
}
