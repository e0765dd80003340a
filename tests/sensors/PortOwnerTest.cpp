// The port lock, on a simulator's pseudo-terminal. (What the diagnosis names
// for each kind of device is checked through the scan, tests/config and
// tests/e2e.)
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <functional>
#include <string>

#include "AsUnprivileged.h"
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
  static void ExpectHeldByThisTest(const ResultatVerrou &refused) {
    EXPECT_EQ(refused.Etat, EtatVerrou::TenuAilleurs);
    EXPECT_EQ(refused.Detenteur, ::getpid());
    EXPECT_EQ(refused.Programme, "test_sensors");
  }
  // body's exit code in a process of its own with a private /run/lock (and
  // /tmp): 77 when this machine cannot give it one, -1 when it was killed.
  static int InPrivateRunLock(bool privateTmp, const std::function<int()> &body) {
    const pid_t child = ::fork();
    if (child == 0)
      ::_exit(::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                      ::mount("tmpfs", "/run/lock", "tmpfs", 0, "mode=1777") != 0 ||
                      (privateTmp && ::mount("tmpfs", "/tmp", "tmpfs", 0, "mode=1777") != 0)
                  ? 77
                  : body());
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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
  ExpectHeldByThisTest(second.Prendre(Com));
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

// A user who cannot open the port (nobody, on the simulator's terminal, which
// is root's and closed to others) tries to take or forge its lock, while the
// program holds it or before: every try is refused, and afterwards the
// program holds the port and a second program is told the program's
// process, not a name the intruder wrote.
struct Intrusion {
  const char *what;
  bool programHoldsIt;
  // The intruder's try at the lock file of the port; true when the system
  // let it through.
  bool (*attempt)(const std::string &lockFile);
};
bool TakeTheLock(const std::string &) {
  TVerrouPort intruder;
  const ResultatVerrou r = intruder.Prendre(Com);
  return r.Etat == EtatVerrou::Pris || intruder.Tenu();
}
bool WriteAFalseHolder(const std::string &lockFile) {
  const int fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT, 0666);
  if (fd < 0) return false;
  const bool written = ::pwrite(fd, "1 systemd\n", 10, 0) == 10;
  ::close(fd);
  return written;
}
bool MakeTheFileFirst(const std::string &lockFile) {
  const int fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
  if (fd >= 0) ::close(fd);
  return fd >= 0;
}
bool LockItForReading(const std::string &lockFile) {
  const int fd = ::open(lockFile.c_str(), O_RDONLY);
  if (fd < 0) return false;
  struct flock lock {};
  lock.l_type = F_RDLCK;
  const bool locked = ::fcntl(fd, F_OFD_SETLK, &lock) == 0;
  ::close(fd);
  return locked;
}
bool PlantALink(const std::string &lockFile) {
  ::unlink(lockFile.c_str());
  return ::symlink("/tmp/elsewhere", lockFile.c_str()) == 0;
}
// To put a folder of its own in its place.
bool MoveTheFolderAway(const std::string &) {
  const std::string folder = TVerrouPort::DossierPartage();
  return ::rename(folder.c_str(), (folder + ".away").c_str()) == 0 || ::rmdir(folder.c_str()) == 0;
}

class PortIntruderTest : public PortOwnerTest, public ::testing::WithParamInterface<Intrusion> {};

TEST_P(PortIntruderTest, AUserWhoCannotOpenThePortCanNeitherTakeNorForgeItsLock) {
  const Intrusion &intrusion = GetParam();
  const std::string lockFile = TVerrouPort::FichierVerrou(bus.SlavePath());
  if (lockFile.rfind(TVerrouPort::DossierPartage(), 0) != 0)
    GTEST_SKIP() << "the shared lock folder cannot be used here (not root?)";
  ::unlink(lockFile.c_str());
  TVerrouPort program, another;
  if (intrusion.programHoldsIt) {
    ASSERT_EQ(program.Prendre(Com).Etat, EtatVerrou::Pris);
  }
  bool through;
  {
    AsUnprivileged nobody;
    if (!nobody.Active()) GTEST_SKIP() << "file access cannot be checked as nobody here";
    const int port = ::open(bus.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (port >= 0) ::close(port);
    ASSERT_LT(port, 0) << "nobody cannot open the port";
    through = intrusion.attempt(lockFile);
  }
  EXPECT_FALSE(through) << intrusion.what;
  EXPECT_EQ(program.Prendre(Com).Etat, EtatVerrou::Pris);
  ExpectHeldByThisTest(another.Prendre(Com));
}

INSTANTIATE_TEST_SUITE_P(
    Nobody, PortIntruderTest,
    ::testing::Values(Intrusion{"takes the free lock", false, TakeTheLock},
                      Intrusion{"takes the held lock", true, TakeTheLock},
                      Intrusion{"writes 1 systemd into the lock file", true, WriteAFalseHolder},
                      Intrusion{"makes the lock file first, mode 0600", false, MakeTheFileFirst},
                      Intrusion{"read-locks the lock file", false, LockItForReading},
                      Intrusion{"plants a link at the lock's name", false, PlantALink},
                      Intrusion{"moves the lock folder away", false, MoveTheFolderAway}),
    [](const ::testing::TestParamInfo<Intrusion> &info) {
      std::string name;
      for (const char *c = info.param.what; *c; ++c)
        if (std::isalnum(static_cast<unsigned char>(*c))) name += *c;
      return name;
    });

// A lock file the program did not make (by hand, by another member of the
// ports' group) is never trusted, and never taken as no lock at all: the
// port counts as held by another program until it is removed.
TEST_F(PortOwnerTest, ALockFileThatOthersCouldOpenOrNobodyCanIsHeldNotIgnored) {
  const std::string lockFile = TVerrouPort::FichierVerrou(bus.SlavePath());
  if (lockFile.rfind(TVerrouPort::DossierPartage(), 0) != 0)
    GTEST_SKIP() << "the shared lock folder cannot be used here (not root?)";
  const struct {
    const char *what;
    mode_t mode;  // 0: a link to a file elsewhere
    uid_t owner;
  } files[] = {{"another user's, mode 0600", 0600, AsUnprivileged::Nobody},
               {"open to everyone, mode 0666", 0666, 0},
               {"a link to a file elsewhere", 0, 0}};
  const std::string elsewhere = ::testing::TempDir() + "nivelix-elsewhere";
  for (const auto &f : files) {
    SCOPED_TRACE(f.what);
    ::unlink(lockFile.c_str());
    if (f.mode == 0) {
      ASSERT_EQ(::close(::open(elsewhere.c_str(), O_RDWR | O_CREAT, 0660)), 0);
      ASSERT_EQ(::symlink(elsewhere.c_str(), lockFile.c_str()), 0);
    } else {
      const int fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_EXCL, f.mode);
      ASSERT_GE(fd, 0);
      ASSERT_EQ(::fchmod(fd, f.mode), 0);
      ASSERT_EQ(::fchown(fd, f.owner, static_cast<gid_t>(-1)), 0);
      ::close(fd);
    }
    TVerrouPort program;
    const ResultatVerrou r = program.Prendre(Com);
    EXPECT_EQ(r.Etat, EtatVerrou::TenuAilleurs);
    EXPECT_EQ(r.Detenteur, 0);
    EXPECT_FALSE(program.Tenu());
  }
  ::unlink(lockFile.c_str());
  ::unlink(elsewhere.c_str());
  TVerrouPort program;
  EXPECT_EQ(program.Prendre(Com).Etat, EtatVerrou::Pris) << "made anew once it is gone";
  struct stat st {};
  ASSERT_EQ(::stat(lockFile.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0660u);
}

// What stands at /run/lock/nivelix decides where the lock goes: a folder
// that someone other than root made, or that everyone may write, or a link,
// is never used (the lock falls back to a folder of the user's own, and
// nothing is put in the untrusted one); a missing one is made by root as the
// service's tmpfiles entry would. Played in a process of its own with a
// private /run/lock, so that no other test sees the folder change.
TEST_F(PortOwnerTest, OnlyAFolderOfRootsOwnWithTheRightModeHoldsTheLocks) {
  enum What { Missing, AnotherUsers, WritableByAll, ALink };
  const struct {
    const char *what;
    What stands;
    bool used;  // the lock goes in it
  } rows[] = {{"missing: made root:dialout 2775", Missing, true},
              {"made by another user", AnotherUsers, false},
              {"root's but writable by all", WritableByAll, false},
              {"a link to a folder elsewhere", ALink, false}};
  const std::string shared = TVerrouPort::DossierPartage();
  for (const auto &row : rows) {
    SCOPED_TRACE(row.what);
    const int status = InPrivateRunLock(false, [&] {
      if (row.stands == AnotherUsers || row.stands == WritableByAll) {
        if (::mkdir(shared.c_str(), 0777) != 0 || ::chmod(shared.c_str(), 0777) != 0) return 2;
        if (row.stands == AnotherUsers && ::chown(shared.c_str(), AsUnprivileged::Nobody, AsUnprivileged::Nobody) != 0)
          return 2;
      } else if (row.stands == ALink) {
        if (::mkdir("/run/lock/elsewhere", 0777) != 0 || ::symlink("/run/lock/elsewhere", shared.c_str()) != 0)
          return 2;
      }
      TVerrouPort program;
      if (program.Prendre(Com).Etat != EtatVerrou::Pris) return 3;
      const bool inShared = TVerrouPort::FichierVerrou(bus.SlavePath()).rfind(shared + "/", 0) == 0;
      if (inShared != row.used) return 4;
      struct stat st {};
      if (row.stands == Missing) {
        const group *dialout = ::getgrnam("dialout");
        if (::lstat(shared.c_str(), &st) != 0 || st.st_uid != 0 || (st.st_mode & 07777) != 02775 ||
            (dialout && st.st_gid != dialout->gr_gid))
          return 5;
      }
      // Nothing of the lock put in an untrusted folder.
      const char *untrusted = row.stands == ALink ? "/run/lock/elsewhere" : shared.c_str();
      if (!row.used && ::rmdir(untrusted) != 0) return 6;
      return 0;
    });
    ASSERT_GE(status, 0) << "the child ended by a signal";
    if (status == 77) GTEST_SKIP() << "no private /run/lock can be mounted here (not root?)";
    EXPECT_EQ(status, 0)
        << "2: set-up, 3: lock not taken, 4: lock in the wrong folder, 5: folder made wrong, "
           "6: something put in the untrusted folder";
  }
}

// A user outside the ports' group who may still open a port (a terminal of
// its own here) cannot lock in the shared folder: the lock goes to a folder
// of the user's own, where it keeps the user's programs apart; one that
// another user made in its place is never used, and the lock is then simply
// not taken (nobody refused, nothing held). In a process of its own, as
// nobody, with a private /run/lock.
TEST_F(PortOwnerTest, AUserOutsideThePortsGroupLocksInAFolderOfItsOwn) {
  const std::string own = "/tmp/nivelix-" + std::to_string(AsUnprivileged::Nobody);
  for (const bool plantedByRoot : {false, true}) {
    SCOPED_TRACE(plantedByRoot ? "its folder made first by root, mode 0777" : "no folder yet");
    const int status = InPrivateRunLock(true, [&] {
      TVerrouPort::FichierVerrou(bus.SlavePath());  // root makes the shared folder
      if (plantedByRoot && (::mkdir(own.c_str(), 0777) != 0 || ::chmod(own.c_str(), 0777) != 0)) return 2;
      const gid_t nogroup = AsUnprivileged::Nobody;
      if (::setgroups(0, nullptr) != 0 || ::setgid(nogroup) != 0 || ::setuid(AsUnprivileged::Nobody) != 0)
        return 2;
      const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
      if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return 2;
      PointAt(::ptsname(master));
      TVerrouPort mine, another;
      const ResultatVerrou r = mine.Prendre(Com);
      if (plantedByRoot) return r.Etat == EtatVerrou::ErreurSysteme && !mine.Tenu() ? 0 : 3;
      if (r.Etat != EtatVerrou::Pris) return 3;
      if (another.Prendre(Com).Etat != EtatVerrou::TenuAilleurs) return 4;
      struct stat st {};
      if (::lstat(own.c_str(), &st) != 0 || st.st_uid != AsUnprivileged::Nobody || (st.st_mode & 0777) != 0700)
        return 5;
      return 0;
    });
    ASSERT_GE(status, 0) << "the child ended by a signal";
    if (status == 77) GTEST_SKIP() << "no private /run/lock can be mounted here (not root?)";
    EXPECT_EQ(status, 0) << "2: set-up, 3: not taken (or taken in another's folder), "
                            "4: a second holder not refused, 5: folder made wrong";
  }
}

}  // namespace
