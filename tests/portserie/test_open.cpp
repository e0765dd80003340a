// Opening, closing, renaming and line settings of the port, on pseudo-terminals.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <cerrno>
#include <cstdlib>
#include <thread>

#include "PortTestUtil.h"

namespace {

using namespace porttest;

int OpenDescriptorCount() {
  int count = 0;
  if (DIR *dir = ::opendir("/proc/self/fd")) {
    while (::readdir(dir)) ++count;
    ::closedir(dir);
  }
  return count;
}

// True when a byte the peer sent before is still waiting for the port:
// closing or reopening the port discards its queues, so this tells whether
// the port stayed open in between.
bool PendingByteSurvives(TPortSerie &port, char expected) {
  char got = 0;
  return port.ReadBytes(&got, 1) == 1 && got == expected;
}

TEST(PortSerieOpen, StartsClosedWithTheDefaults) {
  TPortSerie port;
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(port.Port(), "COM1");
  EXPECT_EQ(port.Handle(), -1);
  EXPECT_EQ(port.BaudRate(), 9600);
  EXPECT_EQ(port.DataBits(), 8);
  EXPECT_EQ(port.Timeouts().ReadInterval, -1);
  EXPECT_EQ(port.Timeouts().WriteTotalMultiplier, 100);
  EXPECT_EQ(port.Timeouts().WriteTotalConstant, 1000);
  EXPECT_EQ(port.Buffers().InputSize, 1024);
  TTamponsSerie odd{1025, 511};
  port.SetBuffers(odd);
  EXPECT_EQ(port.Buffers().InputSize, 1024);
  EXPECT_EQ(port.Buffers().OutputSize, 510);
}

TEST(PortSerieOpen, ConnectedOpensAndClosesOnlyOnChange) {
  ptytest::PtyPeer peer;
  TPortSerie port;
  OpenOn(port, peer);
  ASSERT_TRUE(port.Connected());
  int fd = port.Handle();
  peer.Send("a");
  std::this_thread::sleep_for(milliseconds(10));
  port.SetConnected(true);  // already open: nothing happens
  EXPECT_EQ(port.Handle(), fd);
  EXPECT_TRUE(PendingByteSurvives(port, 'a'));

  port.SetConnected(false);
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(port.Handle(), -1);
  port.SetConnected(false);  // already closed: nothing happens, nothing raised
  EXPECT_FALSE(port.Connected());

  port.SetConnected(true);  // the same device opens again after a close
  EXPECT_TRUE(port.Connected());
}

TEST(PortSerieOpen, LineIsRaw9600EightNoParityWithoutFlowControl) {
  ptytest::PtyPeer peer;
  // Spoil the line first: the port must set every flag it relies on.
  termios spoiled;
  ASSERT_EQ(::tcgetattr(peer.SlaveFd(), &spoiled), 0);
  spoiled.c_iflag |= IXON | IXOFF | ICRNL | ISTRIP;
  spoiled.c_lflag |= ICANON | ECHO | ISIG;
  spoiled.c_oflag |= OPOST | ONLCR;
  spoiled.c_cflag |= PARENB | CRTSCTS | CSTOPB;
  spoiled.c_cc[VMIN] = 5;
  spoiled.c_cc[VTIME] = 3;
  ::cfsetspeed(&spoiled, B38400);
  ASSERT_EQ(::tcsetattr(peer.SlaveFd(), TCSANOW, &spoiled), 0);

  TPortSerie port;
  OpenOn(port, peer);
  termios tio;
  ASSERT_EQ(::tcgetattr(peer.SlaveFd(), &tio), 0);
  EXPECT_EQ(::cfgetospeed(&tio), static_cast<speed_t>(B9600));
  EXPECT_EQ(::cfgetispeed(&tio), static_cast<speed_t>(B9600));
  EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_FALSE(tio.c_cflag & PARENB);
  EXPECT_FALSE(tio.c_cflag & CSTOPB);
  EXPECT_FALSE(tio.c_cflag & CRTSCTS);
  EXPECT_TRUE(tio.c_cflag & CLOCAL);
  EXPECT_TRUE(tio.c_cflag & CREAD);
  EXPECT_FALSE(tio.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP | INPCK));
  EXPECT_FALSE(tio.c_lflag & (ICANON | ECHO | ISIG | IEXTEN));
  EXPECT_FALSE(tio.c_oflag & OPOST);
  EXPECT_EQ(tio.c_cc[VMIN], 0);
  EXPECT_EQ(tio.c_cc[VTIME], 0);
}

TEST(PortSerieOpen, LineSettersApplyAtOnceToAnOpenPort) {
  ptytest::PtyPeer peer;
  TPortSerie port;
  OpenOn(port, peer);
  termios tio;

  // (A pseudo-terminal forces 8 bits without parity, so those are not tried here.)
  port.SetBaudRate(19200);
  port.SetStopBits(TStopBits::Two);
  TControleFlux xonXoff;
  xonXoff.XonXoffIn = true;
  xonXoff.XonXoffOut = true;
  port.SetFlowControl(xonXoff);
  ASSERT_EQ(::tcgetattr(peer.SlaveFd(), &tio), 0);
  EXPECT_EQ(::cfgetospeed(&tio), static_cast<speed_t>(B19200));
  EXPECT_TRUE(tio.c_cflag & CSTOPB);
  EXPECT_TRUE(tio.c_iflag & IXON);
  EXPECT_TRUE(tio.c_iflag & IXOFF);
  port.SetFlowControl(TControleFlux{});

  // A rate termios cannot express is refused as a line failure; the port stays open.
  EPortSerie refused = Raised([&] { port.SetBaudRate(14400); });
  EXPECT_EQ(refused.Code(), ErrSetState);
  EXPECT_EQ(refused.SystemError(), EINVAL);
  EXPECT_TRUE(port.Connected());
  ASSERT_EQ(::tcgetattr(peer.SlaveFd(), &tio), 0);
  EXPECT_EQ(::cfgetospeed(&tio), static_cast<speed_t>(B19200)) << "the device keeps its last good line";

  // While closed the setters only store; the next open applies them.
  port.SetConnected(false);
  port.SetBaudRate(4800);
  port.SetStopBits(TStopBits::One);
  port.SetConnected(true);
  ASSERT_EQ(::tcgetattr(peer.SlaveFd(), &tio), 0);
  EXPECT_EQ(::cfgetospeed(&tio), static_cast<speed_t>(B4800));
  EXPECT_FALSE(tio.c_cflag & CSTOPB);
}

TEST(PortSerieOpen, SecondOpenOfTheSameDeviceFails) {
  ptytest::PtyPeer peer;
  TPortSerie first;
  OpenOn(first, peer);
  TPortSerie second;
  second.SetPort(peer.SlavePath());
  EPortSerie refused = Raised([&] { second.SetConnected(true); });
  EXPECT_EQ(refused.Code(), ErrOpen);
  EXPECT_TRUE(refused.SystemError() == EWOULDBLOCK || refused.SystemError() == EBUSY)
      << refused.what();
  EXPECT_FALSE(second.Connected());

  // The refused opener did not disturb the first one...
  peer.Send("k");
  EXPECT_TRUE(PendingByteSurvives(first, 'k'));
  // ...and once the first lets go, the device is free again.
  first.SetConnected(false);
  second.SetConnected(true);
  EXPECT_TRUE(second.Connected());
}

TEST(PortSerieOpen, FailedOpenReportsTheSystemErrorAndLeavesNothingBehind) {
  const int descriptorsBefore = OpenDescriptorCount();
  TPortSerie port;
  port.SetPort("/dev/nivelix-no-such-device");
  EPortSerie missing = Raised([&] { port.SetConnected(true); });
  EXPECT_EQ(missing.Code(), ErrOpen);
  EXPECT_EQ(missing.SystemError(), ENOENT);
  EXPECT_STREQ(missing.what(), "Unable to open com port (win error code: 2)");
  EXPECT_FALSE(port.Connected());

  // A device that opens but takes no line settings (not a terminal).
  port.SetPort("/dev/null");
  EPortSerie notATerminal = Raised([&] { port.SetConnected(true); });
  EXPECT_EQ(notATerminal.Code(), ErrSetState);
  EXPECT_EQ(notATerminal.SystemError(), ENOTTY);
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(port.Handle(), -1);
  EXPECT_EQ(OpenDescriptorCount(), descriptorsBefore);

  // Bad queue sizes fail in the buffer step, before the line.
  ptytest::PtyPeer peer;
  TPortSerie badBuffers;
  badBuffers.SetBuffers(TTamponsSerie{0, 1024});
  badBuffers.SetPort(peer.SlavePath());
  EXPECT_EQ(Raised([&] { badBuffers.SetConnected(true); }).Code(), ErrSetup);
  EXPECT_FALSE(badBuffers.Connected());
  TPortSerie other;  // and the failed open did not keep the device locked
  other.SetPort(peer.SlavePath());
  other.SetConnected(true);
  EXPECT_TRUE(other.Connected());
}

TEST(PortSerieOpen, ComNameOpensTheConfiguredDevice) {
  ptytest::PtyPeer peer;
  ::setenv("NIVELIX_COM7", peer.SlavePath().c_str(), 1);
  TPortSerie port;
  port.SetTimeouts(LinkTimeouts());
  port.SetPort("\\\\.\\COM7");
  port.SetConnected(true);
  ::unsetenv("NIVELIX_COM7");
  EXPECT_EQ(port.WriteText("ping"), 4);
  EXPECT_EQ(peer.Receive(), "ping");
}

TEST(PortSerieOpen, RenamingAnOpenPort) {
  ptytest::PtyPeer first, second;
  TPortSerie port;
  OpenOn(port, first);

  // Same name: nothing happens, the descriptor and its waiting input stay.
  const int fd = port.Handle();
  first.Send("s");
  std::this_thread::sleep_for(milliseconds(10));
  port.SetPort(first.SlavePath());
  EXPECT_EQ(port.Handle(), fd);
  EXPECT_TRUE(PendingByteSurvives(port, 's'));

  // Another name: the old device is released and the new one is open.
  port.SetPort(second.SlavePath());
  ASSERT_TRUE(port.Connected());
  EXPECT_EQ(port.Port(), second.SlavePath());
  EXPECT_EQ(port.WriteText("to second"), 9);
  EXPECT_EQ(second.Receive(), "to second");
  EXPECT_EQ(first.Receive(milliseconds(20)), "");
  TPortSerie reuse;  // the first device is free for someone else
  reuse.SetPort(first.SlavePath());
  reuse.SetConnected(true);
  EXPECT_TRUE(reuse.Connected());

  // A missing device: the port ends closed under the new name.
  EPortSerie failed = Raised([&] { port.SetPort("/dev/nivelix-gone"); });
  EXPECT_EQ(failed.Code(), ErrOpen);
  EXPECT_EQ(failed.SystemError(), ENOENT);
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(port.Port(), "/dev/nivelix-gone");

  // Renaming a closed port only stores the name.
  port.SetPort(second.SlavePath());
  EXPECT_FALSE(port.Connected());
}

TEST(PortSerieOpen, CloseAfterThePeerVanishedStillReleasesThePort) {
  ptytest::PtyPeer peer;
  TPortSerie port;
  OpenOn(port, peer);
  EXPECT_FALSE(port.HungUp());
  peer.CloseMaster();
  EXPECT_TRUE(port.HungUp()) << "seen without any read or write";
  EXPECT_NO_THROW(port.SetConnected(false));
  EXPECT_FALSE(port.Connected());
  EXPECT_FALSE(port.HungUp());
  EXPECT_EQ(port.Handle(), -1);
}

}  // namespace
