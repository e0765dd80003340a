// bench_acqfile: an acquisition of eight simulated family A sensors at one
// sample a second, written by the acquisition frame as the program does it,
// with or without trouble on the file part way through.
//
// For each sample it measures how long after the clock was read for the
// sample its line was in the file (or waiting, during trouble), and the
// processor time of that writing, per minute of the run. At the end it reads
// the file back: torn lines, lines missing or twice, and the status bar's
// last words.
//
// Each line is on disk (fdatasync) before its tick ends, so the time to the
// line written is the time to the line on disk; the folder is the one
// QTemporaryDir picks (TMPDIR), so TMPDIR=/dev/shm measures tmpfs, where a
// sync costs nothing, against the machine's disk. It also measures the
// sample timing: how far each sample was taken from one second after the
// one before.
//
// Usage: bench_acqfile [seconds=600, in whole minutes] [fault=none] [outage start=15] [outage seconds=30]
//   fault: none, disk-full (a 64 KiB tmpfs filled up by another file, root
//   only; the file's own last page takes lines until it is full), size-limit
//   (RLIMIT_FSIZE), deleted (the file's name removed, then put back),
//   folder (its folder moved away, then back), read-only (write permission
//   taken for the outage; file access checked as user nobody).
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMainWindow>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>

#include "CadreAcquisition.h"
#include "DefCom72500.h"
#include "DialogConfigAcqu.h"
#include "ListeCapteurs.h"
#include "Messages.h"
#include "SimBus.h"
#include "globales.h"

namespace {

constexpr int ComNumber = 7;
constexpr int Sensors = 8;
constexpr uid_t Nobody = 65534;

double ThreadCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0.0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<std::size_t>(p * (v.size() - 1) + 0.5))];
}

// Fills the file system of folder until it refuses a byte.
void Fill(const QString &folder) {
  QFile filler(folder + "/filler");
  if (!filler.open(QIODevice::WriteOnly)) return;
  const QByteArray block(4096, 'x');
  while (filler.write(block) == block.size() && filler.flush()) {
  }
  const QByteArray byte(1, 'x');
  while (filler.write(byte) == 1 && filler.flush()) {
  }
}

}  // namespace

int main(int argc, char **argv) {
  qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen"
                                                                    : qgetenv("QT_QPA_PLATFORM"));
  // As the program's entry does: a size limit is a failed write, not a death.
  std::signal(SIGXFSZ, SIG_IGN);
  QApplication app(argc, argv);
  const int seconds = argc > 1 ? std::max(2, std::atoi(argv[1])) : 600;
  const std::string fault = argc > 2 ? argv[2] : "none";
  const int outageStart = argc > 3 ? std::atoi(argv[3]) : 15;
  const int outageLength = argc > 4 ? std::atoi(argv[4]) : 30;

  QTemporaryDir work;
  QString folder = work.filePath("site");
  QDir().mkpath(folder);
  if (fault == "disk-full" &&
      ::mount("tmpfs", QFile::encodeName(folder).constData(), "tmpfs", 0, "size=64k") != 0) {
    std::printf("disk-full: cannot mount a tmpfs here (%s)\n", std::strerror(errno));
    return 2;
  }
  const QString path = folder + "/run.txt";

  nivsim::SimBus bus;
  bus.PointCom(ComNumber);
  SensorList = new TlistCapteur;
  for (int i = 1; i <= Sensors; ++i) {
    nivsim::SensorAConfig a;
    a.identifier = static_cast<uint8_t>(i);
    a.angle = nivsim::AngleSource::constant(10.0 * i + 0.25);
    bus.AddSensorA(a);
    SensorData data;
    data.Family = 1;
    data.Reference = "BENCH";
    data.SerialNumber = 1000 + i;
    data.Identifier = i;
    data.Protocol = 0;
    data.FullScale = 523.599;
    SensorList->AddSensor(data, ComNumber);
  }
  Settings = SettingsRecord{};
  Settings.DateFormat = DateDayMonthYear;

  int boxes = 0;
  SetMessageAnswerer([&](MessageKind, const QString &, QMessageBox::StandardButtons) {
    ++boxes;
    return QMessageBox::Ok;
  });

  TConfigAcquisition dialog;
  dialog.FormShow();
  dialog.findChild<QLineEdit *>("EditEnregistre")->setText(path);
  dialog.findChild<QLineEdit *>("EditPeriode")->setText("1");
  dialog.findChild<QLineEdit *>("EditDureeMin")->setText("0");
  dialog.findChild<QLineEdit *>("EditDureeHeures")->setText("0");
  dialog.findChild<QLineEdit *>("EditDureeJours")->setText("0");
  // Seconds as minutes and the rest: the count is what the dialog shows.
  dialog.findChild<QLineEdit *>("EditDureeMin")->setText(QString::number((seconds + 59) / 60));

  QMainWindow window;
  auto *panel = new QWidget(&window);
  window.setCentralWidget(panel);
  window.resize(800, 600);
  TFrameAcquisition frame(panel, &dialog);

  // Each sample a second after the one before, whatever the timer's jitter:
  // the first column then numbers the samples, and a line missing or
  // written twice shows.
  const QDateTime base(QDate(2026, 1, 1), QTime(0, 0, 0));
  int samples = 0;
  std::chrono::steady_clock::time_point sampleAt;
  double cpuAt = 0.0;
  std::vector<double> intervalErrors;  // ms from one second after the sample before
  frame.SetClock([&] {
    const auto now = std::chrono::steady_clock::now();
    if (samples > 0)
      intervalErrors.push_back(std::abs(
          std::chrono::duration<double, std::milli>(now - sampleAt).count() - 1000.0));
    sampleAt = now;
    cpuAt = ThreadCpuMs();
    return base.addSecs(samples++);
  });
  std::vector<double> delays;
  // Ticks after which lines were waiting: the file refused them.
  int refused = 0, firstRefused = 0, lastRefused = 0;
  long long mostWaiting = 0;
  std::map<int, std::vector<double>> cpuByMinute;
  std::vector<std::string> statuses;
  // The status bar's texts, each kind once: its first and its last showing.
  QString lastKind;
  QObject::connect(window.statusBar(), &QStatusBar::messageChanged, [&](const QString &text) {
    if (text.isEmpty()) return;
    QString kind = text;
    kind.remove(QRegularExpression("[0-9]+"));
    const std::string line = "tick " + std::to_string(frame.TickCount()) + ": " + text.toStdString();
    if (kind != lastKind || statuses.empty())
      statuses.push_back(line);
    else
      statuses.back() = statuses.back().substr(0, statuses.back().find(" ... ")) + " ... " + line;
    lastKind = kind;
  });

  bool faultOn = false;
  auto setFault = [&](bool on) {
    faultOn = on;
    const QByteArray f = QFile::encodeName(folder), p = QFile::encodeName(path);
    if (fault == "disk-full") {
      if (on) Fill(folder); else QFile::remove(folder + "/filler");
    } else if (fault == "size-limit") {
      rlimit limit{};
      getrlimit(RLIMIT_FSIZE, &limit);
      limit.rlim_cur = on ? static_cast<rlim_t>(QFileInfo(path).size() + 40) : limit.rlim_max;
      setrlimit(RLIMIT_FSIZE, &limit);
    } else if (fault == "deleted") {
      // The user deletes the file and later puts the copy back.
      if (on) std::rename(p.constData(), (p + ".copy").constData());
      else std::rename((p + ".copy").constData(), p.constData());
    } else if (fault == "folder") {
      if (on) std::rename(f.constData(), (f + ".away").constData());
      else std::rename((f + ".away").constData(), f.constData());
    } else if (fault == "read-only") {
      ::chmod(p.constData(), on ? 0444 : 0644);
    }
  };

  QObject::connect(frame.Timer(), &QTimer::timeout, [&] {
    // Runs after the frame's own slot: the sample's line is written or waits.
    const int tick = frame.TickCount();
    delays.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - sampleAt).count());
    cpuByMinute[(tick - 1) / 60].push_back(ThreadCpuMs() - cpuAt);
    mostWaiting = std::max<long long>(mostWaiting, frame.File().Waiting());
    if (frame.File().Waiting() > 0) {
      ++refused;
      if (firstRefused == 0) firstRefused = tick;
      lastRefused = tick;
    }
    if (fault == "read-only" && tick == 2) {
      // Root writes whatever the permissions say: the file is given to
      // nobody and this thread's file access is checked as nobody, once the
      // serial port is open.
      if (::chmod(QFile::encodeName(work.path()).constData(), 0755) != 0 ||
          ::chown(QFile::encodeName(folder).constData(), Nobody, Nobody) != 0 ||
          ::chown(QFile::encodeName(path).constData(), Nobody, Nobody) != 0)
        std::printf("cannot give the file to nobody\n");
      setfsuid(Nobody);
    }
    if (fault != "none" && tick == outageStart) setFault(true);
    if (fault != "none" && tick == outageStart + outageLength) setFault(false);
  });
  QObject::connect(&frame, &TFrameAcquisition::AcquisitionEnded, &app, &QApplication::quit);

  if (frame.WriteHeader()) {
    std::printf("the header could not be written\n");
    return 1;
  }
  app.exec();
  if (faultOn) setFault(false);
  if (fault == "read-only") setfsuid(0);

  // The file read back.
  QFile file(path);
  file.open(QIODevice::ReadOnly);
  const QByteArray all = file.readAll();
  file.close();
  const QList<QByteArray> lines = all.split('\n');
  int sampleLines = 0, torn = 0, twice = 0, outOfOrder = 0;
  std::set<QByteArray> seen;
  QDateTime previous;
  for (int i = 0; i < lines.size(); ++i) {
    const QByteArray &line = lines[i];
    if (i == lines.size() - 1) {
      torn += !line.isEmpty();  // the file ends with a line end
      break;
    }
    if (i < Sensors + 3) continue;  // the header
    ++sampleLines;
    if (!line.endsWith('\r') || line.count('\t') != Sensors || line.count('\r') != 1) ++torn;
    const QByteArray when = line.left(line.indexOf('\t'));
    if (!seen.insert(when).second) ++twice;
    const QDateTime at = QDateTime::fromString(QString::fromLatin1(when), "d/M/yyyy H:m:s");
    if (previous.isValid() && at <= previous) ++outOfOrder;
    previous = at;
  }
  struct statfs fs {};
  const bool known = ::statfs(QFile::encodeName(folder).constData(), &fs) == 0;
  const char *kind = !known ? "unknown" : fs.f_type == 0x01021994 ? "tmpfs"
                                        : fs.f_type == 0xEF53     ? "ext2/3/4"
                                                                  : "other";
  std::printf("file in %s (%s file system)\n", QFile::encodeName(folder).constData(), kind);
  std::printf("fault %s", fault.c_str());
  if (fault != "none") std::printf(" (ticks %d to %d)", outageStart, outageStart + outageLength);
  std::printf(", %d sensors, period 1 s, %d samples taken\n", Sensors, frame.TickCount());
  std::printf("sample lines in the file %d, torn %d, written twice %d, out of order %d, "
              "still waiting %lld, dropped %lld, boxes %d\n",
              sampleLines, torn, twice, outOfOrder, static_cast<long long>(frame.File().Waiting()),
              static_cast<long long>(frame.File().Dropped()), boxes);
  std::printf("ticks whose line had to wait %d (ticks %d to %d), most lines waiting %lld\n", refused,
              firstRefused, lastRefused, static_cast<long long>(mostWaiting));
  std::printf("clock read to line on disk: median %.2f ms, 99th %.2f ms, max %.2f ms\n",
              Percentile(delays, 0.5), Percentile(delays, 0.99), Percentile(delays, 1.0));
  std::printf("sample taken off one second after the one before: median %.2f ms, 99th %.2f ms, "
              "max %.2f ms\n",
              Percentile(intervalErrors, 0.5), Percentile(intervalErrors, 0.99),
              Percentile(intervalErrors, 1.0));
  for (const auto &minute : cpuByMinute) {
    double sum = 0.0;
    for (double v : minute.second) sum += v;
    std::printf("minute %2d: processor time per line %.3f ms (max %.3f ms)\n", minute.first + 1,
                sum / minute.second.size(), Percentile(minute.second, 1.0));
  }
  for (const std::string &s : statuses) std::printf("status %s\n", s.c_str());
  if (fault == "disk-full") ::umount(QFile::encodeName(folder).constData());
  SetMessageAnswerer({});
  delete SensorList;
  SensorList = nullptr;
  Com72500_ClosePort();
  return torn == 0 && twice == 0 && outOfOrder == 0 ? 0 : 1;
}
