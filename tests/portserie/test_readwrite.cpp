// Reading and writing: the bytes must pass untouched and the waits must end
// when the link protocol expects them to.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <thread>

#include "PortTestUtil.h"

namespace {

using namespace porttest;

std::string EveryByteValue() {
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  return all;
}

class PortSerieTransfer : public ::testing::Test {
 protected:
  void SetUp() override { OpenOn(port, peer); }

  // Reads `count` bytes and returns how many came, with the call's start and end.
  int TimedRead(int count, Clock::time_point &start, Clock::time_point &end) {
    buffer.assign(static_cast<size_t>(count) + 1, '\0');
    start = Clock::now();
    int got = port.ReadBytes(&buffer[0], count);
    end = Clock::now();
    return got;
  }

  // When the peer's bytes went, relative to the read, for failure messages.
  std::string Trace(Clock::time_point start, Clock::time_point end) {
    std::string trace = "read ended at " + std::to_string(MsBetween(start, end)) + " ms; sends at";
    for (const ptytest::SendRecord &sent : peer.SendTimes())
      trace += " " + std::to_string(MsBetween(start, sent.begin));
    return trace;
  }

  ptytest::PtyPeer peer;
  TPortSerie port;
  std::string buffer;
};

TEST_F(PortSerieTransfer, SilentLineReturnsNothingAfterTheTotalTime) {
  Clock::time_point start, end;
  EXPECT_EQ(TimedRead(13, start, end), 0);
  // 2 x 13 + 20 = 46 ms.
  EXPECT_GE(MsBetween(start, end), 44.0);
  EXPECT_LE(MsBetween(start, end), 80.0);

  EXPECT_EQ(TimedRead(1, start, end), 0);  // 22 ms, the attention handshake's window
  EXPECT_GE(MsBetween(start, end), 20.0);
  EXPECT_LE(MsBetween(start, end), 55.0);
}

TEST_F(PortSerieTransfer, SilenceAfterSomeBytesEndsTheRead) {
  peer.Schedule({{milliseconds(1), "12345"}});
  Clock::time_point start, end;
  EXPECT_EQ(TimedRead(13, start, end), 5);
  peer.WaitSchedule();
  EXPECT_EQ(buffer.substr(0, 5), "12345");
  // The gap ends the read unless the total time (46 ms) comes first.
  const ptytest::SendRecord fifth = peer.SendTimes().at(0);
  const double earliest = std::min(MsBetween(start, fifth.begin) + 40.0, 46.0);
  const double latest = std::min(MsBetween(start, fifth.end) + 40.0, 46.0);
  EXPECT_GE(MsBetween(start, end), earliest);
  EXPECT_LE(MsBetween(start, end), latest + 30.0);
}

TEST_F(PortSerieTransfer, AllBytesArrivedReturnsAtOnce) {
  const std::string answer = "ABCDEFGHIJKLM";
  peer.Schedule({{milliseconds(5), answer}});
  Clock::time_point start, end;
  EXPECT_EQ(TimedRead(13, start, end), 13);
  peer.WaitSchedule();
  EXPECT_EQ(buffer.substr(0, 13), answer);
  EXPECT_LT(MsBetween(peer.SendTimes().at(0).end, end), 30.0) << "must not wait for the 40 ms gap";

  // Bytes already waiting before the call are read without any wait.
  peer.Send("xyz");
  std::this_thread::sleep_for(milliseconds(10));
  EXPECT_EQ(TimedRead(3, start, end), 3);
  EXPECT_LT(MsBetween(start, end), 20.0);

  // A longer answer than asked for: the rest stays queued for the next read.
  peer.Send("0123456789");
  std::this_thread::sleep_for(milliseconds(10));
  EXPECT_EQ(TimedRead(4, start, end), 4);
  EXPECT_EQ(buffer.substr(0, 4), "0123");
  EXPECT_EQ(port.WaitingInputCount(), 6);
  EXPECT_EQ(TimedRead(6, start, end), 6);
  EXPECT_EQ(buffer.substr(0, 6), "456789");
}

TEST_F(PortSerieTransfer, TrickleWithShortGapsRunsToTheTotalTime) {
  // 20 bytes asked: 60 ms in all. Gaps of 10 ms never trip the 40 ms limit,
  // and the byte after the total time is left for later.
  std::vector<ptytest::Step> trickle;
  for (int i = 0; i < 6; ++i) trickle.push_back({milliseconds(5 + 10 * i), std::string(1, 'a' + i)});
  trickle.push_back({milliseconds(100), "z"});
  peer.Schedule(trickle);
  Clock::time_point start, end;
  const int got = TimedRead(20, start, end);
  EXPECT_GE(MsBetween(start, end), 58.0) << Trace(start, end);
  EXPECT_LE(MsBetween(start, end), 88.0) << Trace(start, end);
  peer.WaitSchedule();
  // Every byte that went before the end was read, none after it (a loaded
  // machine may delay the peer's sends, so count them from what happened).
  int sentBefore = 0, maybeBefore = 0;
  for (const ptytest::SendRecord &sent : peer.SendTimes()) {
    sentBefore += sent.end < end;
    maybeBefore += sent.begin < end;
  }
  EXPECT_GE(got, sentBefore) << Trace(start, end);
  EXPECT_LE(got, maybeBefore) << Trace(start, end);
  EXPECT_GE(got, 3) << Trace(start, end);
  EXPECT_EQ(buffer.substr(0, static_cast<size_t>(got)), std::string("abcdef").substr(0, static_cast<size_t>(got)));
}

TEST_F(PortSerieTransfer, WithoutTimeoutsAReadWaitsForEveryByte) {
  TDelaisSerie none;
  none.ReadInterval = -1;
  none.ReadTotalMultiplier = 0;
  none.ReadTotalConstant = 0;
  port.SetTimeouts(none);
  peer.Schedule({{milliseconds(10), "a"}, {milliseconds(120), "bc"}});
  Clock::time_point start, end;
  EXPECT_EQ(TimedRead(3, start, end), 3);
  peer.WaitSchedule();
  EXPECT_EQ(buffer.substr(0, 3), "abc");
  EXPECT_GE(end, peer.SendTimes().at(1).begin) << "no gap or total limit ended it early";
}

TEST_F(PortSerieTransfer, BytesPassUntouchedBothWays) {
  const std::string all = EveryByteValue();
  EXPECT_EQ(port.WriteText(all), 256);
  EXPECT_EQ(peer.Receive(), all) << "no translation, no XON/XOFF, no echo";

  TDelaisSerie generous = LinkTimeouts();
  generous.ReadTotalConstant = 500;
  port.SetTimeouts(generous);
  peer.Send(all);
  buffer.assign(256, '\0');
  EXPECT_EQ(port.ReadBytes(&buffer[0], 256), 256);
  EXPECT_EQ(buffer, all) << "null bytes, CR, XON and XOFF arrive as they were sent";

  // Dropping null bytes is the caller's choice, off by default.
  port.SetDiscardNull(true);
  peer.Send(std::string("a\0b\0c", 5));
  buffer.assign(3, '\0');
  EXPECT_EQ(port.ReadBytes(&buffer[0], 3), 3);
  EXPECT_EQ(buffer, "abc");
}

TEST_F(PortSerieTransfer, EmptyWriteTouchesNothing) {
  EXPECT_EQ(port.WriteText(""), 0);
  EXPECT_EQ(peer.Receive(milliseconds(20)), "");
  TPortSerie closed;
  EXPECT_EQ(closed.WriteText(""), 0) << "not even a closed device";
}

TEST_F(PortSerieTransfer, ClosedPortRefusesTransfers) {
  TPortSerie closed;
  char byte;
  EPortSerie write = Raised([&] { closed.WriteText("x"); });
  EXPECT_EQ(write.Code(), ErrAsync);
  EXPECT_EQ(write.SystemError(), -1);
  EXPECT_EQ(Raised([&] { closed.ReadBytes(&byte, 1); }).Code(), ErrAsync);
  EXPECT_EQ(Raised([&] { closed.WaitingInputCount(); }).Code(), ErrClearError);
  EXPECT_EQ(Raised([&] { closed.PurgeQueues(true, true); }).Code(), ErrPurge);
}

TEST_F(PortSerieTransfer, PurgeDiscardsWaitingInput) {
  peer.Send("stale");
  std::this_thread::sleep_for(milliseconds(10));
  EXPECT_EQ(port.WaitingInputCount(), 5);
  port.PurgeQueues(false, true);
  EXPECT_EQ(port.WaitingInputCount(), 5) << "output purge leaves input alone";
  port.PurgeQueues(true, false);
  EXPECT_EQ(port.WaitingInputCount(), 0);
  peer.Send("fresh");
  std::this_thread::sleep_for(milliseconds(10));
  port.PurgeQueues(true, true);
  EXPECT_EQ(port.WaitingInputCount(), 0);
}

TEST_F(PortSerieTransfer, PeerVanishingDuringAReadRaisesInsteadOfHanging) {
  TDelaisSerie patient;  // a read that would otherwise wait 3 s
  patient.ReadInterval = -1;
  patient.ReadTotalMultiplier = 0;
  patient.ReadTotalConstant = 3000;
  port.SetTimeouts(patient);
  peer.Schedule({{milliseconds(5), "ab"}});
  peer.WaitSchedule();
  EXPECT_FALSE(port.HungUp()) << "a live line, with bytes waiting";
  peer.ScheduleHangup(milliseconds(20));
  Clock::time_point start = Clock::now();
  char got[8];
  EPortSerie vanished = Raised([&] { port.ReadBytes(got, 8); });
  EXPECT_EQ(vanished.Code(), ErrRead);
  EXPECT_EQ(vanished.SystemError(), EIO);
  EXPECT_LT(MsBetween(start, Clock::now()), 500.0);
  EXPECT_TRUE(port.Connected()) << "a failed read leaves the port open";
  EXPECT_TRUE(port.HungUp()) << "and tells that only a new open can help";

  // Once gone, every read fails at once rather than waiting out its time.
  start = Clock::now();
  EXPECT_EQ(Raised([&] { port.ReadBytes(got, 1); }).Code(), ErrRead);
  EXPECT_LT(MsBetween(start, Clock::now()), 100.0);
}

TEST_F(PortSerieTransfer, WritingAfterThePeerVanishedRaises) {
  peer.CloseMaster();
  EPortSerie failed = Raised([&] { port.WriteText("hello"); });
  EXPECT_EQ(failed.Code(), ErrWrite);
  EXPECT_EQ(failed.SystemError(), EIO);
  EXPECT_STREQ(failed.what(), "WriteFile function failed (win error code: 5)");
}

TEST_F(PortSerieTransfer, WriteGivesUpAtItsTimeoutAndCountsOnlyWhatWasSent) {
  TDelaisSerie shortWrite = LinkTimeouts();
  shortWrite.WriteTotalMultiplier = 0;
  shortWrite.WriteTotalConstant = 50;
  port.SetTimeouts(shortWrite);
  // The peer does not read: the pseudo-terminal fills up and the write stalls.
  const std::string flood(1 << 20, 'f');
  Clock::time_point start = Clock::now();
  int sent = port.WriteText(flood);
  double elapsed = MsBetween(start, Clock::now());
  EXPECT_GT(sent, 0);
  EXPECT_LT(sent, static_cast<int>(flood.size()));
  EXPECT_GE(elapsed, 48.0);
  EXPECT_LE(elapsed, 200.0);
  EXPECT_EQ(static_cast<int>(peer.Receive(milliseconds(30), milliseconds(3000)).size()), sent);
}

TEST_F(PortSerieTransfer, LinkWriteOfAFrameEndsPromptly) {
  const std::string frame("\x05\x92\x00\x00\x00\x97", 6);
  Clock::time_point start = Clock::now();
  EXPECT_EQ(port.WriteText(frame), 6);
  EXPECT_LT(MsBetween(start, Clock::now()), 17.0) << "2 x 6 + 5 ms at most";
  EXPECT_EQ(peer.Receive(), frame);
}

}  // namespace
