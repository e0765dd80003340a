// The port lock and the diagnosis of a port, on real devices: a simulator's
// pseudo-terminal, /dev/null, a regular file, a folder, a missing path.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/fsuid.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "DiagnosticPort.h"
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

// What the diagnosis names, device by device.
struct DeviceCase {
  const char *name;
  std::string (*device)(const nivsim::SimBus &bus);  // the path COM points at
  EtatPort expected;
};
void PrintTo(const DeviceCase &c, std::ostream *os) { *os << c.name; }

class DeviceDiagnosis : public PortOwnerTest, public ::testing::WithParamInterface<DeviceCase> {};

TEST_P(DeviceDiagnosis, NamesTheCause) {
  const std::string path = GetParam().device(bus);
  PointAt(path);
  const DiagnosticPort d = DiagnostiquerPort(Com);
  EXPECT_EQ(d.Etat, GetParam().expected) << "errno " << d.Erreur;
  EXPECT_EQ(d.Chemin, path);
}

std::string RegularFile(const nivsim::SimBus &) {
  const std::string path = ::testing::TempDir() + "nivelix-not-a-port";
  const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY, 0644);
  ::close(fd);
  return path;
}

INSTANTIATE_TEST_SUITE_P(
    Devices, DeviceDiagnosis,
    ::testing::Values(
        DeviceCase{"SerialLine", [](const nivsim::SimBus &b) { return b.SlavePath(); }, EtatPort::Disponible},
        DeviceCase{"Missing", [](const nivsim::SimBus &) { return std::string("/dev/nivelix-none"); },
                   EtatPort::Absent},
        // Devices other tests do not use: each test program holds the lock
        // of what it tried until it ends.
        DeviceCase{"DevZero", [](const nivsim::SimBus &) { return std::string("/dev/zero"); },
                   EtatPort::PasUnPortSerie},
        DeviceCase{"RegularFile", RegularFile, EtatPort::PasUnPortSerie},
        DeviceCase{"Folder", [](const nivsim::SimBus &) { return std::string("/usr"); },
                   EtatPort::PasUnPortSerie}),
    [](const ::testing::TestParamInfo<DeviceCase> &info) { return std::string(info.param.name); });

// The line held by a program that locks the device as the link libraries
// do; and a device this user may not open. Root passes every permission
// check, so the file access of this thread is switched to "nobody" first.
TEST_F(PortOwnerTest, BusyAndForbiddenDevices) {
  const int holder = ::open(bus.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
  EXPECT_EQ(DiagnostiquerPort(Com).Etat, EtatPort::OccupeAutre);
  ::close(holder);

  const int old = setfsuid(65534);
  const bool unprivileged = setfsuid(65534) == 65534;
  const DiagnosticPort d = DiagnostiquerPeripherique(bus.SlavePath());
  setfsuid(static_cast<uid_t>(old));
  if (!unprivileged) GTEST_SKIP() << "file access cannot be checked as another user here";
  EXPECT_EQ(d.Etat, EtatPort::AccesRefuse) << "errno " << d.Erreur;
}

}  // namespace
