// Faults a simulated sensor shows on request, seen on the host's side.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>

#include "HostSide.h"
#include "SimFixture.h"

using nivsim::Fault;
using V = std::vector<uint8_t>;

namespace {
const V ReadId{0x05, 0xB1, 0x46, 0x00, 0x01};
const V GoodAnswer = WithChecksum({0x05, 0xB1, 0x46, 0x00, 0x01, 0x00, 0x05});
}  // namespace

class Faults : public SimFixture {
 protected:
  void SetUp() override {
    SimFixture::SetUp();
    nivsim::SensorAConfig c;
    c.identifier = 5;
    bus->AddSensorA(c);
    host = std::make_unique<HostSide>(bus->SlavePath());
  }
  std::unique_ptr<HostSide> host;
};

TEST_F(Faults, NoAckAndSilenceCountDownThenRecover) {
  bus->SetFault(0, Fault::NoAck, 0, 2);
  EXPECT_EQ(host->Attention(0x05), V{});
  EXPECT_EQ(host->Attention(0x05), V{});
  EXPECT_EQ(host->Attention(0x05), V{0x05});

  bus->SetFault(0, Fault::Silence, 0, 1);
  ASSERT_EQ(host->Attention(0x05), V{0x05});
  host->Write(WithChecksum(ReadId));
  EXPECT_EQ(host->Read(8, 80), V{});
  EXPECT_EQ(host->Exchange(0x05, ReadId, 8), GoodAnswer);

  bus->SetFault(0, Fault::NoAck);  // for good
  for (int i = 0; i < 3; ++i) EXPECT_EQ(host->Attention(0x05), V{});
  bus->ClearFault(0);
  EXPECT_EQ(host->Attention(0x05), V{0x05});
}

TEST_F(Faults, DamagedAnswers) {
  bus->SetFault(0, Fault::WrongChecksum, 0, 1);
  V bad = GoodAnswer;
  bad.back() ^= 0xFF;
  EXPECT_EQ(host->Exchange(0x05, ReadId, 8), bad);

  bus->SetFault(0, Fault::ErrorByte, 11, 1);
  EXPECT_EQ(host->Exchange(0x05, ReadId, 8, 80), WithChecksum({0x05, 11}));

  bus->SetFault(0, Fault::Truncated, 5, 1);
  EXPECT_EQ(host->Exchange(0x05, ReadId, 8, 80), V(GoodAnswer.begin(), GoodAnswer.begin() + 5));

  bus->SetFault(0, Fault::EchoMismatch, 0, 1);
  EXPECT_EQ(host->Exchange(0x05, ReadId, 8), WithChecksum({0x05, 0xB0, 0x46, 0x00, 0x01, 0x00, 0x05}));

  bus->SetFault(0, Fault::LeadingGarbage, 3, 1);
  V garbage{0x55, 0x55, 0x55};
  garbage.insert(garbage.end(), GoodAnswer.begin(), GoodAnswer.end());
  EXPECT_EQ(host->Exchange(0x05, ReadId, 11), garbage);

  EXPECT_EQ(host->Exchange(0x05, ReadId, 8), GoodAnswer);  // each fault was for one request
}

namespace {
// Write times of the sensor's bytes in the trace.
std::vector<double> SensorTimes(const nivsim::SimBus &bus) {
  std::vector<double> times;
  for (const auto &e : bus.Trace())
    if (!e.fromHost) times.push_back(e.timeMs);
  return times;
}
}  // namespace

TEST_F(Faults, LongGapSplitsTheAnswer) {
  for (int gap : {0, 45}) {
    const double expected = gap == 0 ? 60.0 : gap;
    bus->SetFault(0, Fault::LongGap, gap, 1);
    ASSERT_EQ(host->Attention(0x05), V{0x05});
    bus->ClearTrace();
    host->Write(WithChecksum(ReadId));
    std::vector<double> times;
    EXPECT_EQ(host->Read(8, 300, 200, &times), GoodAnswer);
    ASSERT_EQ(times.size(), 8u);
    EXPECT_GT(times[4] - times[3], expected - 15.0);  // as the host sees it, give or take its scheduling
    const std::vector<double> written = SensorTimes(*bus);
    ASSERT_EQ(written.size(), 8u);
    EXPECT_NEAR(written[4] - written[3], expected + nivsim::ByteTimeMs, 5.0);
    EXPECT_NEAR(written[3] - written[0], 3 * nivsim::ByteTimeMs, 5.0);
  }
}

TEST_F(Faults, UnplugHangsUpTheHostSide) {
  bus->SetFault(0, Fault::Unplug);
  ASSERT_EQ(host->Attention(0x05), V{0x05});
  EXPECT_FALSE(bus->Unplugged());
  host->Write(WithChecksum(ReadId));
  EXPECT_EQ(host->Read(8, 200), V{});
  EXPECT_TRUE(host->HungUp());
  EXPECT_TRUE(bus->Unplugged());
  EXPECT_FALSE(host->Write({0x05}));
}

TEST_F(Faults, UnplugNowAndClosingAndReopeningBeforeIt) {
  // Closing and reopening the device is no hang-up.
  host.reset();
  host = std::make_unique<HostSide>(bus->SlavePath());
  EXPECT_EQ(host->Exchange(0x05, ReadId, 8), GoodAnswer);
  EXPECT_FALSE(host->HungUp());

  // The hang-up is there as soon as Unplug returns: no waiting for it.
  bus->Unplug();
  EXPECT_TRUE(bus->Unplugged());
  pollfd p{host->Fd(), POLLIN, 0};
  EXPECT_EQ(poll(&p, 1, 0), 1);
  EXPECT_TRUE(p.revents & POLLHUP);
  errno = 0;
  EXPECT_FALSE(host->Write({0x05}));
  EXPECT_EQ(errno, EIO);

  // Out, the COM path names nothing (no other line that took the number);
  // plugged back, a new device, named in SlavePath and reached through the
  // same COM path, with the sensor as it was.
  const std::string com = std::getenv("NIVELIX_COM5");
  EXPECT_EQ(::realpath(com.c_str(), nullptr), nullptr);
  const std::string oldPath = bus->SlavePath();
  bus->Replug();
  EXPECT_FALSE(bus->Unplugged());
  EXPECT_NE(bus->SlavePath(), oldPath);
  EXPECT_EQ(std::string(std::getenv("NIVELIX_COM5")), com);
  std::unique_ptr<char, decltype(&std::free)> line(::realpath(com.c_str(), nullptr), &std::free);
  ASSERT_NE(line, nullptr);
  EXPECT_EQ(std::string(line.get()), bus->SlavePath());
  host = std::make_unique<HostSide>(bus->SlavePath());
  EXPECT_EQ(host->Exchange(0x05, ReadId, 8), GoodAnswer);
}

TEST_F(Faults, EveryUnplugHasHungUpWhenItReturns) {
  // The simulator's thread is usually waiting on the line when it is pulled
  // out; the device it held must be hung up all the same, every time.
  for (int cycle = 0; cycle < 40; ++cycle) {
    SCOPED_TRACE(cycle);
    host = std::make_unique<HostSide>(bus->SlavePath());
    ASSERT_EQ(host->Exchange(0x05, ReadId, 8), GoodAnswer);
    if (cycle % 2) bus->Unplug();  // else Replug pulls the adapter out itself
    bus->Replug();
    pollfd p{host->Fd(), POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 0), 1);
    EXPECT_TRUE(p.revents & POLLHUP);
  }
}

TEST_F(Faults, SensorIndexOutOfRangeThrows) {
  EXPECT_THROW(bus->SetFault(1, Fault::NoAck), std::out_of_range);
  EXPECT_THROW(bus->Register(-1, 0x46), std::out_of_range);
  EXPECT_THROW(bus->PowerCycle(3), std::out_of_range);
}

TEST_F(Faults, SensorsThatWouldAnswerTogetherAreRefused) {
  nivsim::SensorAConfig a;
  a.identifier = 5;  // the fixture's sensor is family A at 5
  nivsim::SensorBConfig b;
  b.identifier = 5;
  EXPECT_THROW(bus->AddSensorA(a), std::invalid_argument);
  EXPECT_THROW(bus->AddSensorB(b), std::invalid_argument);
  b.identifier = 6;
  EXPECT_EQ(bus->AddSensorB(b), 1);

  nivsim::SimBus line;
  a.rs232 = true;
  line.AddSensorA(a);
  b.rs232 = true;
  EXPECT_THROW(line.AddSensorB(b), std::invalid_argument);  // both would answer 0x02
  EXPECT_EQ(line.SensorCount(), 1);
}
