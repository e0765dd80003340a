// The port rules of libcom72800.so: opening, closing, presence, and the calls
// that open a closed port for themselves and must close it again.
#include "FamilyBBus.h"

#include <cstdlib>

namespace familyb_test {
namespace {

using nivsim::Fault;

class FamilyBPort : public FamilyBBus {};

TEST_F(FamilyBPort, PresenceAtAnsweringAndSilentAddresses) {
  AddSensor(12);
  AddSensor(200);
  ASSERT_EQ(Com72800_OpenPort(ComPort), LINK_OK);

  EXPECT_EQ(Com72800_Presence(ComPort, Rs485, 12), LINK_OK);
  EXPECT_EQ(bus->HostBytes(), (Bytes{0x0C}));
  EXPECT_EQ(bus->SensorBytes(), (Bytes{0x0C}));
  EXPECT_EQ(Com72800_Presence(ComPort, Rs485, 200), LINK_OK);
  // Only the low byte of the address counts.
  EXPECT_EQ(Com72800_Presence(ComPort, Rs485, 0x100 + 12), LINK_OK);

  bus->ClearTrace();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Com72800_Presence(ComPort, Rs485, 13), LINK_NO_ACK);
  const double elapsed = MsSince(start);
  EXPECT_EQ(bus->HostBytes(), (Bytes{0x0D, 0x0D, 0x0D, 0x0D}));  // four tries, no frame
  EXPECT_TRUE(bus->SensorBytes().empty());
  EXPECT_GT(elapsed, 3 * 50.0);
  EXPECT_LT(elapsed, 1500.0);
}

TEST_F(FamilyBPort, PresenceOnRs232) {
  AddSensor(1, true);
  ASSERT_EQ(Com72800_OpenPort(ComPort), LINK_OK);
  EXPECT_EQ(Com72800_Presence(ComPort, Rs232, 99), LINK_OK);
  EXPECT_EQ(bus->HostBytes(), (Bytes{0x02}));
  EXPECT_EQ(bus->SensorBytes(), (Bytes{0x06}));
}

TEST_F(FamilyBPort, PresenceNeverOpensTheClosedPort) {
  AddSensor(12);
  EXPECT_EQ(Com72800_Presence(ComPort, Rs485, 12), LINK_PORT_FAILURE);
  EXPECT_TRUE(bus->HostBytes().empty());
  EXPECT_TRUE(CanLockExclusively(bus->SlavePath()));

  ASSERT_EQ(Com72800_OpenPort(ComPort), LINK_OK);
  EXPECT_EQ(Com72800_Presence(ComPort, Rs485, 12), LINK_OK);
  Com72800_ClosePort();
  EXPECT_EQ(Com72800_Presence(ComPort, Rs485, 12), LINK_PORT_FAILURE);
  EXPECT_TRUE(CanLockExclusively(bus->SlavePath()));
  Com72800_ClosePort();  // closing a closed port does nothing
  EXPECT_EQ(Com72800_Presence(ComPort, Rs485, 12), LINK_PORT_FAILURE);
}

TEST_F(FamilyBPort, AdapterPulledOutAndPluggedBackWhileTheLibraryHoldsThePort) {
  AddSensor(7);
  ASSERT_EQ(Com72800_OpenPort(ComPort), LINK_OK);
  EXPECT_EQ(Exchange("A10200", 2, Rs485, 7).result, LINK_OK);
  bus->Unplug();
  bus->Replug();
  double angle = 0.0;
  EXPECT_EQ(Com72800_LitMesure(&angle, ComPort, Rs485, 7), LINK_OK);
  EXPECT_FALSE(CanLockExclusively(bus->SlavePath()));  // the new device, held
  bus->Unplug();
  bus->Replug();
  EXPECT_EQ(Com72800_OpenPort(ComPort), LINK_OK);
  EXPECT_EQ(Com72800_Presence(ComPort, Rs485, 7), LINK_OK);
}

TEST_F(FamilyBPort, OpeningTheOpenPortLeavesItUndisturbed) {
  AddSensor(7);
  // A free descriptor below the library's: a reopened port would take it.
  const int spare = ::open("/dev/null", O_RDONLY);
  ASSERT_GE(spare, 0);
  ASSERT_EQ(Com72800_OpenPort(ComPort), LINK_OK);
  EXPECT_FALSE(CanLockExclusively(bus->SlavePath()));  // held by the library
  ::close(spare);
  const std::vector<int> before = DescriptorsOn(bus->SlavePath());

  EXPECT_EQ(Com72800_OpenPort(ComPort), LINK_OK);
  EXPECT_EQ(DescriptorsOn(bus->SlavePath()), before);
  EXPECT_FALSE(CanLockExclusively(bus->SlavePath()));
  EXPECT_EQ(Exchange("A10200", 2, Rs485, 7).result, LINK_OK);
  // An exchange on the open port leaves it open, on the same descriptor.
  EXPECT_EQ(DescriptorsOn(bus->SlavePath()), before);
  EXPECT_EQ(Com72800_Presence(ComPort, Rs485, 7), LINK_OK);
  double angle = 1.0;
  EXPECT_EQ(Com72800_LitMesure(&angle, ComPort, Rs485, 7), LINK_OK);
  EXPECT_EQ(Com72800_Presence(ComPort, Rs485, 7), LINK_OK);
}

TEST_F(FamilyBPort, OpeningAnotherPortClosesTheFirst) {
  AddSensor(7);
  nivsim::SimBus other;
  other.PointCom(ComPort + 1);
  nivsim::SensorBConfig config;
  config.identifier = 9;
  other.AddSensorB(config);

  ASSERT_EQ(Com72800_OpenPort(ComPort), LINK_OK);
  ASSERT_EQ(Com72800_OpenPort(ComPort + 1), LINK_OK);
  EXPECT_TRUE(CanLockExclusively(bus->SlavePath()));
  EXPECT_FALSE(CanLockExclusively(other.SlavePath()));
  EXPECT_EQ(Com72800_Presence(ComPort + 1, Rs485, 9), LINK_OK);
  EXPECT_EQ(other.HostBytes(), (Bytes{0x09}));
  EXPECT_TRUE(bus->HostBytes().empty());

  // A port that cannot be opened: -2, and no port stays open.
  ::setenv("NIVELIX_COM9", "/nonexistent/famb-tty", 1);
  EXPECT_EQ(Com72800_OpenPort(9), LINK_PORT_FAILURE);
  EXPECT_TRUE(CanLockExclusively(other.SlavePath()));
  EXPECT_EQ(Com72800_Presence(9, Rs485, 9), LINK_PORT_FAILURE);
  Com72800_ClosePort();
}

// Out for several presence tests of a sweep, then back: the next test
// opens the port again instead of failing until the sweep ends.
TEST_F(FamilyBPort, PresenceReopensAfterAFailedReopenOnceTheAdapterIsBack) {
  AddSensor(7);
  ASSERT_EQ(Com72800_OpenPort(ComPort), LINK_OK);
  bus->Unplug();
  EXPECT_EQ(Com72800_Presence(ComPort, Rs485, 7), LINK_PORT_FAILURE);
  EXPECT_EQ(Com72800_Presence(ComPort, Rs485, 7), LINK_PORT_FAILURE);
  bus->Replug();
  EXPECT_EQ(Com72800_Presence(ComPort, Rs485, 7), LINK_OK);
  EXPECT_FALSE(CanLockExclusively(bus->SlavePath())) << "held for the rest of the sweep";
  Com72800_ClosePort();
}

TEST_F(FamilyBPort, CallsOnAClosedPortOpenItForThemselvesAndCloseItAgain) {
  const int sensor = AddSensor(7);
  bus->SetAngle(sensor, nivsim::AngleSource::constant(2.5));

  ExchangeResult r = Exchange("A10200", 2, Rs485, 7);
  EXPECT_EQ(r.result, LINK_OK);
  EXPECT_EQ(r.answer, "07");
  EXPECT_TRUE(CanLockExclusively(bus->SlavePath()));
  EXPECT_EQ(Com72800_Presence(ComPort, Rs485, 7), LINK_PORT_FAILURE);

  double angle = 0.0;
  EXPECT_EQ(Com72800_LitMesure(&angle, ComPort, Rs485, 7), LINK_OK);
  EXPECT_DOUBLE_EQ(angle, 2.5);
  EXPECT_TRUE(CanLockExclusively(bus->SlavePath()));
  EXPECT_EQ(Com72800_Presence(ComPort, Rs485, 7), LINK_PORT_FAILURE);

  // Also when the exchange fails.
  bus->SetFault(sensor, Fault::NoAck, 0, 4);
  r = Exchange("A10200", 2, Rs485, 7);
  EXPECT_EQ(r.result, LINK_NO_ACK);
  EXPECT_TRUE(CanLockExclusively(bus->SlavePath()));
  bus->SetFault(sensor, Fault::WrongChecksum);
  angle = 5.0;
  EXPECT_EQ(Com72800_LitMesure(&angle, ComPort, Rs485, 7), LINK_CHECKSUM);
  EXPECT_EQ(angle, 0.0);
  EXPECT_TRUE(CanLockExclusively(bus->SlavePath()));
  EXPECT_EQ(Com72800_Presence(ComPort, Rs485, 7), LINK_PORT_FAILURE);

  // A port that cannot be opened for the call.
  ::setenv("NIVELIX_COM9", "/nonexistent/famb-tty", 1);
  r = Exchange("A10200", 2, Rs485, 7, 9);
  EXPECT_EQ(r.result, LINK_PORT_FAILURE);
  EXPECT_EQ(r.answer, "");
  EXPECT_EQ(r.count, 0);
  angle = 5.0;
  EXPECT_EQ(Com72800_LitMesure(&angle, 9, Rs485, 7), LINK_PORT_FAILURE);
  EXPECT_EQ(angle, 0.0);
}

TEST_F(FamilyBPort, ThePortHeldByAnotherProgramCannotBeOpened) {
  AddSensor(7);
  const int fd = ::open(bus->SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
  EXPECT_EQ(Com72800_OpenPort(ComPort), LINK_PORT_FAILURE);
  EXPECT_EQ(Exchange("A10200", 2, Rs485, 7).result, LINK_PORT_FAILURE);
  ::close(fd);
  EXPECT_EQ(Com72800_OpenPort(ComPort), LINK_OK);
}

}  // namespace
}  // namespace familyb_test
