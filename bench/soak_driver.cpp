// soak_driver: the whole program for a long time on a noisy simulated bus.
//
// The program's windows run (offscreen unless a display is chosen) on a
// mixed RS485 bus of three sensors with moving angles, behind a relay that
// corrupts a share of the bytes the sensors send (one bit pattern XORed in),
// as a poor cable does. After a scan, the driver alternates phases of live
// reading (three panels) and acquisitions at one sample a second until the
// time is up, and reports the readings taken, the failures shown, the lines
// written, the message boxes and the memory used (resident set) at start and
// end. Not a test: scripts/soak.sh runs it.
//
//   soak_driver [seconds=3600] [round seconds=300: half live, half acquisition] [corrupted
//   share=0.01]
#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <thread>

#include "AfficheAngle.h"
#include "QtWait.h"
#include "CadreAcquisition.h"
#include "DialogConfigAcqu.h"
#include "GraphAcquisition.h"
#include "ListeAfficheAngle.h"
#include "ListeCapteurs.h"
#include "Messages.h"
#include "SimBus.h"
#include "dialogconfig.h"
#include "globales.h"
#include "langue.h"
#include "principale.h"

namespace {

// A pseudo-terminal between the program and the simulated bus that copies
// the program's bytes unchanged and corrupts the given share of the
// sensors' bytes.
class CorruptingRelay {
 public:
  CorruptingRelay(const std::string &busPath, double share) : m_share(share) {
    m_master = posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0) std::abort();
    m_hostPath = ptsname(m_master);
    // Held open so that the master never sees a hang-up between the
    // program's opens of the port.
    m_hold = open(m_hostPath.c_str(), O_RDWR | O_NOCTTY);
    m_bus = open(busPath.c_str(), O_RDWR | O_NOCTTY);
    if (m_hold < 0 || m_bus < 0) std::abort();
    for (int fd : {m_hold, m_bus}) {
      termios t{};
      tcgetattr(fd, &t);
      cfmakeraw(&t);
      cfsetspeed(&t, B9600);
      tcsetattr(fd, TCSANOW, &t);
    }
    m_thread = std::thread([this] { Run(); });
  }
  ~CorruptingRelay() {
    m_stop = true;
    m_thread.join();
    for (int fd : {m_hold, m_bus, m_master}) close(fd);
  }
  const std::string &HostPath() const { return m_hostPath; }
  long Forwarded() const { return m_forwarded; }
  long Corrupted() const { return m_corrupted; }

 private:
  void Run() {
    std::mt19937 random(12345);
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    std::uniform_int_distribution<int> pattern(1, 255);
    unsigned char buffer[256];
    while (!m_stop) {
      pollfd fds[2] = {{m_master, POLLIN, 0}, {m_bus, POLLIN, 0}};
      if (poll(fds, 2, 50) <= 0) continue;
      if (fds[0].revents & POLLIN) {
        const ssize_t n = read(m_master, buffer, sizeof buffer);
        if (n > 0) (void)!write(m_bus, buffer, static_cast<size_t>(n));
      }
      if (fds[1].revents & POLLIN) {
        const ssize_t n = read(m_bus, buffer, sizeof buffer);
        for (ssize_t i = 0; i < n; ++i) {
          ++m_forwarded;
          if (chance(random) < m_share) {
            buffer[i] = static_cast<unsigned char>(buffer[i] ^ pattern(random));
            ++m_corrupted;
          }
        }
        if (n > 0) (void)!write(m_master, buffer, static_cast<size_t>(n));
      }
    }
  }

  double m_share;
  int m_master = -1, m_hold = -1, m_bus = -1;
  std::string m_hostPath;
  std::atomic<bool> m_stop{false};
  std::atomic<long> m_forwarded{0}, m_corrupted{0};
  std::thread m_thread;
};

// Bytes the program holds on the heap, every arena and the blocks mapped
// apart: unlike the resident set, this does not count freed memory that the
// allocator keeps for later.
long HeapKiB() {
  const struct mallinfo2 m = mallinfo2();
  return static_cast<long>((m.uordblks + m.hblkhd) / 1024);
}

long ResidentKiB() {
  QFile f("/proc/self/status");
  if (!f.open(QIODevice::ReadOnly)) return -1;
  for (const QByteArray &line : f.readAll().split('\n'))
    if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').first().toLong();
  return -1;
}

template <class W>
W *Child(const QObject *parent, const char *name) {
  W *w = parent->findChild<W *>(QString::fromLatin1(name));
  if (!w) {
    std::fprintf(stderr, "soak: no control %s\n", name);
    std::exit(2);
  }
  return w;
}

// Runs body from the event loop of dialog's exec(), opened by action.
void InDialog(QWidget *dialog, QAction *action, const std::function<void()> &body) {
  WhenShown(dialog, body);
  action->trigger();
}

QAction *Action(const char *name) { return Child<QAction>(FenetrePrincipale, name); }

}  // namespace

int main(int argc, char **argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const qint64 seconds = argc > 1 ? std::atoll(argv[1]) : 3600;
  const int phase = argc > 2 ? std::atoi(argv[2]) : 300;
  const double share = argc > 3 ? std::atof(argv[3]) : 0.01;
  // NIVELIX_SOAK_PHASES=live or acquisition runs only that kind of phase,
  // to tell which part a growth of memory comes from.
  const QByteArray only = qgetenv("NIVELIX_SOAK_PHASES");
  const bool live = only != "acquisition", acquisition = only != "live";

  QTemporaryDir work;
  QDir::setCurrent(work.path());
  nivsim::SimBus bus;
  nivsim::SensorAConfig a1;
  a1.identifier = 1;
  a1.serialNumber = "100001";
  a1.angle = nivsim::AngleSource::sine(12.5, 40.0, 20.0);
  bus.AddSensorA(a1);
  nivsim::SensorBConfig b2;
  b2.identifier = 2;
  b2.angle = nivsim::AngleSource::sine(-5.0, 20.0, 30.0);
  bus.AddSensorB(b2);
  nivsim::SensorAConfig a3;
  a3.identifier = 3;
  a3.serialNumber = "300003";
  a3.angle = nivsim::AngleSource::randomWalk(0.0, 0.5);
  bus.AddSensorA(a3);
  CorruptingRelay relay(bus.SlavePath(), share);
  setenv("NIVELIX_COM1", relay.HostPath().c_str(), 1);

  long boxes = 0;
  SetMessageAnswerer([&](MessageKind, const QString &text, QMessageBox::StandardButtons) {
    ++boxes;
    std::fprintf(stderr, "soak: box: %s\n", qPrintable(text));
    return QMessageBox::Ok;
  });

  CreateWindows();
  FenetrePrincipale->show();
  InDialog(FenetreConfig, Action("MenuConfig"), [] {
    Child<QRadioButton>(FenetreConfig, "RadioEnvRS485")->click();
    Child<QComboBox>(FenetreConfig, "ComboUnites")->setCurrentIndex(0);
    Child<QPushButton>(FenetreConfig, "BoutConfigOk")->click();
  });
  // Scan the first addresses (Stop after 3) until the three sensors are
  // found: a corrupted byte can hide one from a scan.
  for (int attempt = 0; attempt < 5 && (!SensorList || SensorList->Count() < 3); ++attempt) {
    InDialog(FenetreConfig, Action("MenuConfig"), [] {
      Child<QTabWidget>(FenetreConfig, "PageConfig")->setCurrentIndex(1);
      auto *stop = Child<QPushButton>(FenetreConfig, "BoutStop");
      auto c = QObject::connect(Child<QProgressBar>(FenetreConfig, "BarreProgression"),
                                &QProgressBar::valueChanged, [stop](int v) {
                                  if (v >= 2)
                                    QMetaObject::invokeMethod(stop, "click", Qt::QueuedConnection);
                                });
      Child<QPushButton>(FenetreConfig, "BoutScrute")->click();
      QObject::disconnect(c);
      Child<QPushButton>(FenetreConfig, "BoutConfigOk")->click();
    });
  }
  if (SensorList->Count() < 3) {
    std::fprintf(stderr, "soak: the scan found %d sensors\n", SensorList->Count());
    return 1;
  }

  const long rssStart = ResidentKiB(), heapStart = HeapKiB();
  long rssMax = rssStart;
  long readings = 0, errShown = 0, samples = 0, lines = 0, emptyFields = 0, chartPoints = 0;
  std::size_t chartBytes = 0;
  QElapsedTimer clock;
  clock.start();
  std::printf(
      "soak: %lld s, phases of %d s, %.2f %% of the sensors' bytes corrupted; start %ld KiB\n",
      seconds, phase, share * 100, rssStart);
  std::fflush(stdout);

  for (int round = 0; clock.elapsed() < seconds * 1000; ++round) {
    // Live reading: one panel per sensor.
    if (live) {
      QMenu *items = Child<QMenu>(FenetrePrincipale, "MenuAffiche");
      for (QAction *item : items->actions()) item->trigger();
      TListAfficheAngle &panels = FenetrePrincipale->Panels();
      for (int i = 0; i < panels.Count(); ++i) {
        TAfficheAngleCapteur *panel = panels.Item(i);
        QObject::connect(panel, &TAfficheAngleCapteur::Lu, [&readings, &errShown, panel] {
          ++readings;
          errShown += panel->PanelAngle->text() == Langue(TxtErr);
        });
      }
      const qint64 liveEnd = std::min<qint64>(clock.elapsed() + phase * 500LL, seconds * 1000);
      WaitUntil([&] { return clock.elapsed() >= liveEnd; }, phase * 1000LL);
      while (panels.Count() > 0) {
        const int before = panels.Count();
        panels.Item(0)->BoutStop->click();
        WaitUntil([&] { return panels.Count() < before; }, 10000);
        if (panels.Count() == before) {
          std::fprintf(stderr, "soak: a panel did not stop\n");
          return 1;
        }
      }
    }
    rssMax = std::max(rssMax, ResidentKiB());
    if (clock.elapsed() >= seconds * 1000) break;
    if (acquisition) {
      // An acquisition of one sample a second for the other half of the phase.
      const QString file = QDir(work.path()).filePath(QStringLiteral("soak-%1.txt").arg(round));
      const int acquisitionMinutes = std::max(1, phase / 120);
      InDialog(ConfigAcquisition, Action("MenuAcquisition"), [&] {
        Child<QLineEdit>(ConfigAcquisition, "EditEnregistre")->setText(file);
        Child<QComboBox>(ConfigAcquisition, "ListeUnitePeriode")->setCurrentIndex(UnitSecondes);
        Child<QLineEdit>(ConfigAcquisition, "EditPeriode")->setText("1");
        Child<QLineEdit>(ConfigAcquisition, "EditDureeMin")
            ->setText(QString::number(acquisitionMinutes));
        Child<QPushButton>(ConfigAcquisition, "BoutOK")->click();
      });
      if (!AcquisitionFrame || !AcquisitionFrame->Running()) {
        std::fprintf(stderr, "soak: the acquisition did not start\n");
        return 1;
      }
      WaitUntil([] { return !AcquisitionFrame->Running(); }, acquisitionMinutes * 60000LL + 60000);
      if (AcquisitionFrame->Running()) Child<QPushButton>(AcquisitionFrame, "BoutStop")->click();
      samples += AcquisitionFrame->TickCount();
      chartPoints = 0;
      chartBytes = 0;
      for (int i = 0; TGraphAcquisition *series = AcquisitionFrame->Series(i); ++i) {
        chartPoints += series->Samples();
        chartBytes += series->MemoryBytes();
      }
      QFile f(file);
      if (f.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> rows = f.readAll().split('\n');
        for (int r = 6; r < rows.size(); ++r) {
          if (rows[r].trimmed().isEmpty()) continue;
          ++lines;
          const QList<QByteArray> fields = rows[r].trimmed().split('\t');
          for (int k = 1; k < fields.size(); ++k) emptyFields += fields[k].isEmpty();
          emptyFields += 4 - static_cast<int>(fields.size());  // trailing empty fields trimmed away
        }
      }
    }
    // The simulator in this process keeps every byte of the line; the
    // memory figures are the program's, not that record's.
    bus.ClearTrace();
    rssMax = std::max(rssMax, ResidentKiB());
    std::printf(
        "soak: %5.0f s  live readings %ld (Err %ld)  samples %ld  lines %ld (empty fields %ld)  "
        "boxes %ld  RSS %ld KiB  heap %ld KiB\n",
        clock.elapsed() / 1000.0, readings, errShown, samples, lines, emptyFields, boxes,
        ResidentKiB(), HeapKiB());
    std::fflush(stdout);
  }

  const long rssEnd = ResidentKiB();
  std::printf("soak: done after %.0f s\n", clock.elapsed() / 1000.0);
  std::printf("  live readings taken        %ld, shown as \"Err\" %ld (%.2f %%)\n", readings,
              errShown, readings ? 100.0 * errShown / readings : 0.0);
  std::printf(
      "  acquisition samples        %ld, lines written %ld, empty fields %ld of %ld (%.2f %%)\n",
      samples, lines, emptyFields, lines * 3, lines ? 100.0 * emptyFields / (lines * 3) : 0.0);
  std::printf("  message boxes              %ld\n", boxes);
  std::printf("  sensor bytes relayed       %ld, corrupted %ld\n", relay.Forwarded(),
              relay.Corrupted());
  std::printf(
      "  resident memory            start %ld KiB, end %ld KiB, peak %ld KiB; last chart %ld "
      "points, %zu bytes\n",
      rssStart, rssEnd, rssMax, chartPoints, chartBytes);
  std::printf("  heap in use                start %ld KiB, end %ld KiB\n", heapStart, HeapKiB());
  // What the allocator keeps of freed memory is not a leak: given back to
  // the system, the resident set shows what the program really holds.
  malloc_trim(0);
  std::printf("  resident after malloc_trim %ld KiB\n", ResidentKiB());
  const bool lost = lines != samples;
  if (lost) std::printf("  LINES LOST: %ld samples, %ld lines\n", samples, lines);
  DestroyWindows();
  return lost ? 1 : 0;
}
