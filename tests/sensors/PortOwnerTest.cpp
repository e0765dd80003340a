// The port lock, on a simulator's pseudo-terminal. (What the diagnosis names
// for each kind of device is checked through the scan, tests/config and
// tests/e2e.)
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "SimBus.h"
#include "VerrouPort.h"

namespace {

constexpr int Com = 6;

class PortOwnerTest : public ::testing::Test {
 protected:
  void SetUp() override { bus.PointCom(Com); }
  void TearDown() override { VerrouProgramme().Liberer(); }

  static void PointAt(const std::string &path) {
    ::setenv(("NIVELIX_COM" + std::to_string(Com)).c_str(), path.c_str(), 1);
  }

  nivsim::SimBus bus;
};

// A second holder (another open of the lock file, as another program has)
// is refused and told who holds the port, whatever name it uses for the
// device; once the first lets go, it gets it.
TEST_F(PortOwnerTest, ASecondHolderIsToldWhoHoldsThePort) {
  TVerrouPort first, second;
  ASSERT_EQ(first.Prendre(Com).Etat, EtatVerrou::Pris);
  EXPECT_EQ(first.Prendre(Com).Etat, EtatVerrou::Pris) << "taking it again costs nothing";

  const std::string alias = ::testing::TempDir() + "nivelix-alias-tty";
  ::unlink(alias.c_str());
  ASSERT_EQ(::symlink(bus.SlavePath().c_str(), alias.c_str()), 0);
  PointAt(alias);
  const ResultatVerrou refused = second.Prendre(Com);
  EXPECT_EQ(refused.Etat, EtatVerrou::TenuAilleurs);
  EXPECT_EQ(refused.Detenteur, ::getpid());
  EXPECT_EQ(refused.Programme, "test_sensors");
  EXPECT_FALSE(second.Tenu());

  first.Liberer();
  EXPECT_EQ(second.Prendre(Com).Etat, EtatVerrou::Pris);
  ::unlink(alias.c_str());
}

// A stable link to an adapter (/dev/serial/by-id/...) vanishes while the
// adapter is out: the program keeps the lock of the device meanwhile.
TEST_F(PortOwnerTest, TheLockOutlivesTheLinkOfAnAdapterPulledOut) {
  const std::string link = ::testing::TempDir() + "nivelix-by-id-tty";
  ::unlink(link.c_str());
  ASSERT_EQ(::symlink(bus.SlavePath().c_str(), link.c_str()), 0);
  PointAt(link);
  TVerrouPort program, another;
  ASSERT_EQ(program.Prendre(Com).Etat, EtatVerrou::Pris);
  ::unlink(link.c_str());
  EXPECT_EQ(program.Prendre(Com).Etat, EtatVerrou::Pris);
  PointAt(bus.SlavePath());
  EXPECT_EQ(another.Prendre(Com).Etat, EtatVerrou::TenuAilleurs);
}

// Plugged back, the adapter is a new device behind the same link (the
// simulator's COM path is one): the lock goes with it.
TEST_F(PortOwnerTest, TheLockFollowsTheLinkToTheAdapterPluggedBack) {
  TVerrouPort program, another;
  ASSERT_EQ(program.Prendre(Com).Etat, EtatVerrou::Pris);
  bus.Unplug();
  EXPECT_EQ(program.Prendre(Com).Etat, EtatVerrou::Pris);
  bus.Replug();
  EXPECT_EQ(program.Prendre(Com).Etat, EtatVerrou::Pris);
  EXPECT_EQ(program.Peripherique(), bus.SlavePath());
  EXPECT_EQ(another.Prendre(Com).Etat, EtatVerrou::TenuAilleurs);
}

// Taking another port lets the first one go.
TEST_F(PortOwnerTest, TakingAnotherPortFreesTheFirst) {
  nivsim::SimBus other;
  other.PointCom(Com + 1);
  TVerrouPort program, another;
  ASSERT_EQ(program.Prendre(Com).Etat, EtatVerrou::Pris);
  ASSERT_EQ(program.Prendre(Com + 1).Etat, EtatVerrou::Pris);
  EXPECT_EQ(another.Prendre(Com).Etat, EtatVerrou::Pris);
  EXPECT_EQ(another.Prendre(Com + 1).Etat, EtatVerrou::TenuAilleurs);
}

}  // namespace
