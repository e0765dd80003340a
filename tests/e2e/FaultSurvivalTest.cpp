// The program against a bad cable, a busy port, a misbehaving device, a
// damaged settings file and an acquisition file that cannot be written:
// each case ends with the program answering the user again and every line
// that could be recorded on disk.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>

#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStatusBar>

#include "CheminPort.h"
#include "DiagnosticPort.h"
#include "E2eFixture.h"
#include "TextePort.h"
#include "VerrouPort.h"

namespace e2e {
namespace {

// A mixed RS485 bus at addresses 1 (family A), 2 (family B) and 3 (family A)
// with steady angles, scanned and applied as a user does before any reading.
class FaultSurvival : public E2eFixture {
 protected:
  void SetUp() override {
    E2eFixture::SetUp();
    first = bus->AddSensorA(Steady<nivsim::SensorAConfig>(1, "100001", 10.0));
    bus->AddSensorB(Steady<nivsim::SensorBConfig>(2, "20002", -5.0));
    third = bus->AddSensorA(Steady<nivsim::SensorAConfig>(3, "300003", 30.0));
  }

  // The n sample lines of file: the sensors at 10, -5 and 30, the first
  // dead(k) of them with an empty field in sample k.
  static void ExpectSampleLines(const QString &file, int n, const std::function<int(int)> &dead) {
    const QStringList lines = FileLines(file);
    ASSERT_EQ(lines.size(), 6 + n) << lines.join("\n").toStdString();
    const double angles[] = {10.0, -5.0, 30.0};
    for (int k = 0; k < n; ++k) {
      const QStringList fields = lines[6 + k].split('\t');
      ASSERT_EQ(fields.size(), 4);
      for (int s = 0; s < 3; ++s) {
        if (s < dead(k)) EXPECT_EQ(fields[1 + s], "") << "sample " << k;
        else EXPECT_NEAR(Number(fields[1 + s]), angles[s], 0.02) << "sample " << k;
      }
    }
  }

  // RS485 and "mRad", Apply; then Scan (stopped after address 3) and Apply.
  void StartAndScan() {
    Start();
    Configure([] {
      Child<QRadioButton>(Config(), "RadioEnvRS485")->click();
      Child<QComboBox>(Config(), "ComboUnites")->setCurrentIndex(0);
      Child<QPushButton>(Config(), "BoutConfigOk")->click();
    });
    QStringList found;
    Configure([&] {
      found = Scan(3);
      Child<QPushButton>(Config(), "BoutConfigOk")->click();
    });
    ASSERT_EQ(found.size(), 3) << found.join(", ").toStdString();
  }

  static QString ScanStatus() { return Child<QLabel>(Config(), "StatusPanel0")->text(); }

  // The program answers: the configuration opens and closes again.
  static void ExpectResponsive() {
    bool opened = false;
    Configure([&] { opened = true; });
    EXPECT_TRUE(opened);
    EXPECT_TRUE(FenetrePrincipale->isVisible());
  }

  int first = 0, third = 0;
};

// The adapter pulled out in the middle of a sweep: the sweep goes on over a
// dead line and ends; plugged back, the next scan finds every sensor.
TEST_F(FaultSurvival, AdapterUnpluggedDuringScanThenPluggedBack) {
  StartAndScan();
  QStringList during, after;
  QString duringStatus;
  Configure([&] {
    auto *progress = Child<QProgressBar>(Config(), "BarreProgression");
    auto c = QObject::connect(progress, &QProgressBar::valueChanged, [&](int value) {
      if (value == 1 && !bus->Unplugged()) bus->Unplug();  // address 2 or 3
    });
    QElapsedTimer clock;
    clock.start();
    during = Scan(6);
    duringStatus = ScanStatus();
    QObject::disconnect(c);
    EXPECT_LT(clock.elapsed(), 20000) << "the sweep never hangs on a dead line";
    bus->Replug();
    after = Scan(3);
    Child<QPushButton>(Config(), "BoutConfigOk")->click();
  });
  EXPECT_LT(during.size(), 3);
  EXPECT_TRUE(duringStatus.contains(Langue(TxtScanNotTried))) << "the addresses not tried are named: "
                                                              << duringStatus.toStdString();
  EXPECT_EQ(after, (QStringList{"KV72500-AB n°100001", "KV7280 n°20002", "KV72500-AB n°300003"}));
  EXPECT_EQ(Child<QMenu>(FenetrePrincipale, "MenuAffiche")->actions().size(), 3);
  EXPECT_TRUE(asked.empty());
}

// Pulled out while two panels read: both show "Err" and keep trying, with
// no box; plugged back, both read again and Stop still works.
TEST_F(FaultSurvival, AdapterUnpluggedDuringLiveReadingThenPluggedBack) {
  StartAndScan();
  QMenu *reading = Child<QMenu>(FenetrePrincipale, "MenuAffiche");
  reading->actions()[0]->trigger();
  reading->actions()[1]->trigger();
  EXPECT_NEAR(Number(NextReading(Panel(0))), 10.0, 0.02);
  EXPECT_NEAR(Number(NextReading(Panel(1))), -5.0, 0.02);

  bus->Unplug();
  NextReading(Panel(0));
  NextReading(Panel(1));
  EXPECT_EQ(NextReading(Panel(0)), Langue(TxtErr));
  EXPECT_EQ(NextReading(Panel(1)), Langue(TxtErr));

  bus->Replug();
  EXPECT_TRUE(WaitUntil([] { return Number(Panel(0)->PanelAngle->text()) == 10.0; }, 8000))
      << Panel(0)->PanelAngle->text().toStdString();
  EXPECT_TRUE(WaitUntil([] { return std::fabs(Number(Panel(1)->PanelAngle->text()) + 5.0) < 0.02; }, 8000))
      << Panel(1)->PanelAngle->text().toStdString();
  EXPECT_TRUE(asked.empty());
  Panel(0)->BoutStop->click();
  Panel(1)->BoutStop->click();
  EXPECT_TRUE(WaitUntil([] { return FenetrePrincipale->Panels().Count() == 0; }, 5000));
  EXPECT_TRUE(Action("MenuAcquisition")->isEnabled());
}

// Pulled out during an acquisition: every tick still writes its line, with
// empty fields while the line is dead; plugged back, values come back.
TEST_F(FaultSurvival, AdapterUnpluggedDuringAcquisitionThenPluggedBack) {
  StartAndScan();
  const QString file = Path("run.txt");
  ASSERT_TRUE(StartAcquisition(file));
  ASSERT_TRUE(RunTicks(5, [&](int tick) {
    if (tick == 1) bus->Unplug();
    if (tick == 3) bus->Replug();
    if (tick == 5) Child<QPushButton>(AcquisitionFrame, "BoutStop")->click();
  }));
  ExpectSampleLines(file, 5, [](int k) { return k == 1 || k == 2 ? 3 : 0; });
  EXPECT_TRUE(asked.empty());
  ExpectResponsive();
}

// Another program holds the port: the scan finds nothing and names the
// cause, live reading shows "Err" and the status bar says why; once the port
// is free everything works. The port's
// lock belongs to an open of the device, not to a process, so an open made
// here stands for the other program exactly (and no child process can hang
// the test).
TEST_F(FaultSurvival, PortHeldByAnotherProcess) {
  StartAndScan();
  const int holder = ::open(bus->SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);

  const QString inUse = Langue(TxtPortInUse).arg(QString::fromStdString(ComDevicePath(comNumber)));
  QMenu *reading = Child<QMenu>(FenetrePrincipale, "MenuAffiche");
  reading->actions()[2]->trigger();
  EXPECT_EQ(NextReading(Panel(0)), Langue(TxtErr));
  EXPECT_EQ(FenetrePrincipale->statusBar()->currentMessage(), inUse) << "the status bar says why";
  Panel(0)->BoutStop->click();
  ASSERT_TRUE(WaitUntil([] { return FenetrePrincipale->Panels().Count() == 0; }, 5000));

  QStringList busy, freed;
  QString busyStatus;
  Configure([&] {
    busy = Scan(3);
    busyStatus = ScanStatus();
    ::close(holder);  // the other program ends
    freed = Scan(3);
    Child<QPushButton>(Config(), "BoutConfigOk")->click();
  });
  EXPECT_TRUE(busy.isEmpty());
  EXPECT_EQ(busyStatus, inUse);
  EXPECT_EQ(freed.size(), 3);
  reading->actions()[2]->trigger();
  EXPECT_NEAR(Number(NextReading(Panel(0))), 30.0, 0.02);
  EXPECT_TRUE(asked.empty());
}

// The adapter pulled out for a second at 40 % of a sweep: the addresses
// the port failed for are tested again once it is back, so the sensors in
// the gap are found as well as those after it.
TEST_F(FaultSurvival, SweepFindsTheSensorsAfterAnUnpluggedStretch) {
  bus->AddSensorA(Steady<nivsim::SensorAConfig>(105, "105105", 0.0));
  bus->AddSensorB(Steady<nivsim::SensorBConfig>(110, "20110", 0.0));
  bus->AddSensorA(Steady<nivsim::SensorAConfig>(120, "120120", 0.0));
  bus->AddSensorB(Steady<nivsim::SensorBConfig>(200, "20200", 0.0));
  Start();
  Configure([] {
    Child<QRadioButton>(Config(), "RadioEnvRS485")->click();
    Child<QPushButton>(Config(), "BoutConfigOk")->click();
  });
  QStringList found;
  qint64 ms = 0;
  QString status;
  Configure([&] {
    auto *progress = Child<QProgressBar>(Config(), "BarreProgression");
    auto c = QObject::connect(progress, &QProgressBar::valueChanged, [&](int value) {
      if (value == 40 && !bus->Unplugged()) {
        bus->Unplug();
        QTimer::singleShot(1000, [&] { bus->Replug(); });
      }
    });
    QElapsedTimer clock;
    clock.start();
    found = Scan(205);
    ms = clock.elapsed();
    status = ScanStatus();
    QObject::disconnect(c);
  });
  EXPECT_FALSE(status.contains(Langue(TxtScanNotTried))) << status.toStdString();
  EXPECT_TRUE(found.contains("KV72500-AB n°105105"));
  EXPECT_TRUE(found.contains("KV7280 n°20110"));
  EXPECT_EQ(found.size(), 7) << found.join(", ").toStdString();
  EXPECT_TRUE(found.contains("KV72500-AB n°120120"));
  EXPECT_TRUE(found.contains("KV7280 n°20200"));
  // About 0.3 s per silent address over a live line; a sweep that gave up
  // on the port ends in a few seconds.
  EXPECT_GT(ms, 30000);
  EXPECT_LT(ms, 110000);
  EXPECT_TRUE(asked.empty());
}

// Under a user who may not open the device: the scan names the device and
// the cure instead of "No sensor is connected". The file access of this
// thread is switched to "nobody" (root passes every permission check).
TEST_F(FaultSurvival, PermissionDeniedIsNamed) {
  Start();
  QString status;
  {
    AsUnprivileged as;
    if (!as.Active()) GTEST_SKIP() << "file access cannot be checked as another user here";
    Configure([&] {
      EXPECT_TRUE(Scan(3).isEmpty());
      status = ScanStatus();
    });
  }
  EXPECT_EQ(status, Langue(TxtPortAccessDenied).arg(QString::fromStdString(ComDevicePath(comNumber))));
  EXPECT_TRUE(bus->HostBytes().empty()) << "nothing was sent";
}

// A second copy of the program wants the port while the first records: it
// is told which process holds the port and reads nothing, and the first
// loses no sample. The second copy is this test program started again,
// running the SecondProgram case below: a separate process, as a second
// nivelix3 would be.
TEST_F(FaultSurvival, SecondProgramIsRefusedAndTheFirstLosesNothing) {
  StartAndScan();
  const QString file = Path("first.txt");
  ASSERT_TRUE(StartAcquisition(file));
  QProcess second;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("NIVELIX_SECOND_PROGRAM_OF", QString::number(::getpid()));
  second.setProcessEnvironment(env);
  second.setProcessChannelMode(QProcess::MergedChannels);
  ASSERT_TRUE(RunTicks(5, [&](int tick) {
    if (tick == 1)
      second.start(QCoreApplication::applicationFilePath(),
                   {"--gtest_filter=SecondProgram.IsRefusedThePort"});
    if (tick == 4) second.waitForFinished(20000);
    if (tick == 5) Child<QPushButton>(AcquisitionFrame, "BoutStop")->click();
  }));
  const QString output = QString::fromLocal8Bit(second.readAll());
  EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second.exitCode(), 0) << output.toStdString();
  EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.toStdString();
  ExpectSampleLines(file, 5, [](int) { return 0; });
  EXPECT_TRUE(asked.empty());
}

// The program holds its port from the scan on, and lets it go as soon as
// the user applies another one.
TEST_F(FaultSurvival, ApplyingAnotherPortLetsTheFirstGo) {
  StartAndScan();
  TVerrouPort another;  // another program's open of the lock
  EXPECT_EQ(another.Prendre(1).Etat, EtatVerrou::TenuAilleurs);
  Configure([] {
    Child<QComboBox>(Config(), "ComboNumCom")->setCurrentIndex(1);
    Child<QPushButton>(Config(), "BoutConfigOk")->click();
  });
  EXPECT_EQ(another.Prendre(1).Etat, EtatVerrou::Pris);
}

// A misbehaving device on the bus: the sensor at 1 answers with garbage in
// a different way at every sample. Its field is empty for those samples,
// the others are read as ever, and nothing is shown in a box.
TEST_F(FaultSurvival, GarbageOnTheBusDuringAcquisition) {
  StartAndScan();
  struct Garbage {
    nivsim::Fault fault;
    int param;
  };
  const std::vector<Garbage> garbage = {
      {nivsim::Fault::LeadingGarbage, 12}, {nivsim::Fault::WrongChecksum, 0},
      {nivsim::Fault::Truncated, 5},       {nivsim::Fault::EchoMismatch, 0},
      {nivsim::Fault::LongGap, 400},       {nivsim::Fault::Silence, 0},
      {nivsim::Fault::ErrorByte, 7},
  };
  const int ticks = static_cast<int>(garbage.size()) + 1;
  const QString file = Path("garbage.txt");
  bus->SetFault(first, garbage[0].fault, garbage[0].param);
  ASSERT_TRUE(StartAcquisition(file));
  ASSERT_TRUE(RunTicks(ticks, [&](int tick) {
    if (tick < ticks - 1)
      bus->SetFault(first, garbage[tick].fault, garbage[tick].param);
    else
      bus->ClearFault(first);
    if (tick == ticks) Child<QPushButton>(AcquisitionFrame, "BoutStop")->click();
  }));
  // The last sample: the device behaves again.
  ExpectSampleLines(file, ticks, [&](int k) { return k < ticks - 1 ? 1 : 0; });
  EXPECT_TRUE(asked.empty());
  ExpectResponsive();
}

// Damaged settings files, found at start-up. The program starts every time,
// says what it found, and never overwrites a file it could not read whole.
struct SettingsCase {
  const char *name;
  QByteArray content;
  bool readOnly;
  bool linked;       // the settings file is a symbolic link to a file holding content
  LangueId atStart;  // TxtAppTitle: no message
  LangueId atApply;  // the same
  bool keptAsIs;     // the file is left as it was after Apply
};
void PrintTo(const SettingsCase &c, std::ostream *os) { *os << c.name; }

QByteArray Rs485Record() {
  SettingsRecord r = DefaultSettings();
  r.LinkType = LinkRs485;
  r.AngleUnit = 0;
  return QByteArray(reinterpret_cast<const char *>(&r), sizeof r);
}

QByteArray Garbled() {
  QByteArray b(532, '\0');
  for (int i = 0; i < b.size(); ++i) b[i] = static_cast<char>((i * 131 + 17) & 0xFF);
  return b;
}

class SettingsFault : public FaultSurvival, public ::testing::WithParamInterface<SettingsCase> {};

TEST_P(SettingsFault, ProgramStartsAndFileIsNotLost) {
  const SettingsCase &c = GetParam();
  {
    QFile f(QString::fromLatin1(c.linked ? "elsewhere" : SettingsFileName));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(c.content);
  }
  if (c.linked) {
    ASSERT_EQ(symlink("elsewhere", SettingsFileName), 0);
  }
  std::unique_ptr<AsUnprivileged> unprivileged;
  if (c.readOnly) {
    ASSERT_EQ(chmod(SettingsFileName, 0444), 0);
    ASSERT_EQ(chmod(".", 0777), 0);  // "nobody" must reach the file
    unprivileged = std::make_unique<AsUnprivileged>();
    if (!unprivileged->Active()) GTEST_SKIP() << "file access cannot be checked as another user here";
  }
  Start();
  if (c.atStart == TxtAppTitle)
    EXPECT_TRUE(asked.empty()) << asked.front().text.toStdString();
  else
    EXPECT_EQ(AskedWith(c.atStart), 1) << (asked.empty() ? "no box" : asked.front().text.toStdString());
  asked.clear();

  // The configuration still opens and applies; the line can be scanned.
  QStringList found;
  Configure([&] {
    Child<QRadioButton>(Config(), "RadioEnvRS485")->click();
    Child<QComboBox>(Config(), "ComboNumCom")->setCurrentIndex(0);
    // A damaged record's unit shows no selection: the user picks one.
    auto *units = Child<QComboBox>(Config(), "ComboUnites");
    if (units->currentIndex() < 0) units->setCurrentIndex(0);
    Child<QPushButton>(Config(), "BoutConfigOk")->click();
  });
  if (c.atApply == TxtAppTitle)
    EXPECT_TRUE(asked.empty()) << asked.front().text.toStdString();
  else
    EXPECT_EQ(AskedWith(c.atApply), 1) << (asked.empty() ? "no box" : asked.front().text.toStdString());
  {
    QFile f(QString::fromLatin1(SettingsFileName));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray after = f.readAll();
    if (c.keptAsIs)
      EXPECT_EQ(after, c.content) << "a file the program could not read whole is never overwritten";
    else
      EXPECT_EQ(after.size(), 2 * 532);
  }
  unprivileged.reset();  // as root again, which may open the port device
  Configure([&] {
    found = Scan(3);
    Child<QPushButton>(Config(), "BoutConfigOk")->click();
  });
  EXPECT_EQ(found.size(), 3) << "the settings applied are in force though not stored";
  // The sensors read in the unit in force.
  Child<QMenu>(FenetrePrincipale, "MenuAffiche")->actions()[0]->trigger();
  const QString shown = NextReading(Panel(0));
  EXPECT_TRUE(QRegularExpression(R"(^-?[0-9.,]+ (mRad|Deg|%|mm/m)$)").match(shown).hasMatch())
      << shown.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Files, SettingsFault,
    ::testing::Values(SettingsCase{"Short", QByteArray(100, 'x'), false, false, TxtSettingsShortFile,
                                   TxtSettingsShortFileSave, true},
                      SettingsCase{"Garbled", Garbled(), false, false, TxtAppTitle, TxtAppTitle, false},
                      // Loads; only Apply says that it cannot store.
                      SettingsCase{"ReadOnly", Rs485Record(), true, false, TxtAppTitle,
                                   TxtSettingsCannotSave, true},
                      // Neither read nor written through (run as root, this
                      // is how /etc/passwd was overwritten).
                      SettingsCase{"SymbolicLink", Rs485Record(), false, true, TxtSettingsNotRegular,
                                   TxtSettingsNotRegularSave, true}),
    [](const ::testing::TestParamInfo<SettingsCase> &info) { return std::string(info.param.name); });

// Acquisition files that cannot be written: a missing folder stops the run
// before it starts; a full disk, a size limit or a file deleted mid-run is
// reported (the box, and the file, cause and lines waiting in the status
// bar) and the run goes on; every line is written once the file takes lines
// again, and only whole lines ever are.
struct FileCase {
  const char *name;
  bool startsRun;
  // Run after tick 2 and after tick 3 of five (dir is the working folder).
  std::function<void(const QString &dir, int tick)> midRun;
  int linesKept;  // sample lines in run.txt at the end; -1: no file
  LangueId cause;  // named in the status bar
};
void PrintTo(const FileCase &c, std::ostream *os) { *os << c.name; }

class AcquisitionFileFault : public FaultSurvival, public ::testing::WithParamInterface<FileCase> {
 protected:
  void SetUp() override {
    FaultSurvival::SetUp();
    std::signal(SIGXFSZ, SIG_IGN);  // as the program's entry does
    getrlimit(RLIMIT_FSIZE, &savedLimit);
  }
  void TearDown() override {
    setrlimit(RLIMIT_FSIZE, &savedLimit);
    FaultSurvival::TearDown();
  }
  rlimit savedLimit{};
};

TEST_P(AcquisitionFileFault, ReportedAndLinesKept) {
  const FileCase &c = GetParam();
  StartAndScan();
  QStringList statuses;
  QObject::connect(FenetrePrincipale->statusBar(), &QStatusBar::messageChanged,
                   [&](const QString &text) { statuses << text; });
  const QString real = Path("run.txt");
  QString target = real;
  if (!c.startsRun) target = Path("no/such/folder/run.txt");
  if (c.midRun) {
    // The run writes through a link that the test can turn elsewhere.
    target = Path("link.txt");
    ASSERT_TRUE(QFile::link(real, target));
  }
  const bool started = StartAcquisition(target);
  ASSERT_EQ(started, c.startsRun);
  const QString cause = "(" + Langue(c.cause) + ")";
  if (!started) {
    EXPECT_EQ(AskedWith(TxtAcqWriteProblem), 1);
    EXPECT_EQ(AcquisitionFrame, nullptr);
    EXPECT_TRUE(Child<QMenu>(FenetrePrincipale, "MenuSys")->menuAction()->isEnabled());
    EXPECT_TRUE(Action("MenuAcquisition")->isEnabled());
    EXPECT_TRUE(statuses.join('\n').contains(cause)) << statuses.join('\n').toStdString();
    ExpectResponsive();
    return;
  }
  ASSERT_TRUE(RunTicks(5, [&](int tick) {
    if (tick == 2 || tick == 3) c.midRun(QFileInfo(real).absolutePath(), tick);
    if (tick == 5) Child<QPushButton>(AcquisitionFrame, "BoutStop")->click();
  }));
  EXPECT_GE(AskedWith(TxtAcqWriteProblem), 1);
  EXPECT_EQ(AcquisitionFrame->TickCount(), 5) << "the run went on";
  EXPECT_TRUE(statuses.join('\n').contains(cause)) << statuses.join('\n').toStdString();
  if (c.linesKept < 0) {
    EXPECT_FALSE(QFileInfo::exists(real)) << "a deleted file is not made again behind the user's back";
    // Stop offers the waiting lines once the tick is over; this answer
    // (none) keeps them, and the frame goes on trying the file.
    EXPECT_TRUE(WaitUntil([&] { return AskedWith(TxtAcqOfferEnded) == 1; }, 5000));
    EXPECT_EQ(AskedWith(TxtAcqWriteProblem), 1) << "one box for the trouble, not one per sample";
    EXPECT_EQ(statuses.last(), Langue(TxtAcqStatusWaiting).arg(target, Langue(c.cause)).arg(3))
        << "what waits after the run is said";
    // The frame discarded by the next activity: the lines are offered again
    // and, not saved, the status says they are gone instead of counting them.
    ExpectResponsive();
    ASSERT_FALSE(asked.empty());
    EXPECT_EQ(asked.back().text, Langue(TxtAcqOfferDiscard).arg(3).arg(target, Langue(c.cause)));
    EXPECT_EQ(statuses.last(), Langue(TxtAcqStatusDiscarded).arg(3).arg(target));
    EXPECT_NE(FenetrePrincipale->statusBar()->currentMessage(),
              Langue(TxtAcqStatusWaiting).arg(target, Langue(c.cause)).arg(3));
    return;
  }
  EXPECT_EQ(statuses.last(), Langue(TxtAcqStatusCaughtUpOne).arg(target));
  const QStringList lines = FileLines(real);
  EXPECT_EQ(lines.size(), 6 + c.linesKept) << lines.join("\n").toStdString();
  for (int k = 6; k < lines.size(); ++k)
    EXPECT_EQ(lines[k].split('\t').size(), 4) << "whole lines only: " << lines[k].toStdString();
  ExpectResponsive();
}

void Retarget(const QString &dir, const QString &to) {
  QFile::remove(dir + "/link.txt");
  QFile::link(to, dir + "/link.txt");
}

INSTANTIATE_TEST_SUITE_P(
    Files, AcquisitionFileFault,
    ::testing::Values(
        FileCase{"MissingFolder", false, {}, 0, TxtAcqCauseFolderMissing},
        // The disk is full for the third sample only: its line waits and
        // goes with the fourth.
        FileCase{"FullDisk", true,
                 [](const QString &dir, int tick) {
                   Retarget(dir, tick == 2 ? "/dev/full" : dir + "/run.txt");
                 },
                 5, TxtAcqCauseDiskFull},
        // The file may not grow for the third sample: the line is cut part
        // way by the system and cut back to the previous line's end.
        FileCase{"SizeLimit", true,
                 [](const QString &dir, int tick) {
                   rlimit limit{};
                   getrlimit(RLIMIT_FSIZE, &limit);
                   limit.rlim_cur = tick == 2 ? QFileInfo(dir + "/run.txt").size() + 10 : limit.rlim_max;
                   setrlimit(RLIMIT_FSIZE, &limit);
                 },
                 5, TxtAcqCauseSizeLimit},
        FileCase{"DeletedMidRun", true,
                 [](const QString &dir, int tick) {
                   if (tick == 2) QFile::remove(dir + "/run.txt");
                 },
                 -1, TxtAcqCauseFileDeleted},
        FileCase{"DeletedAndPutBack", true,
                 [](const QString &dir, int tick) {
                   if (tick == 2) QFile::rename(dir + "/run.txt", dir + "/run.copy");
                   if (tick == 3) QFile::rename(dir + "/run.copy", dir + "/run.txt");
                 },
                 5, TxtAcqCauseFileDeleted}),
    [](const ::testing::TestParamInfo<FileCase> &info) { return std::string(info.param.name); });

// The second program of SecondProgramIsRefusedAndTheFirstLosesNothing;
// skipped unless that test starts it.
TEST(SecondProgram, IsRefusedThePort) {
  const char *first = std::getenv("NIVELIX_SECOND_PROGRAM_OF");
  if (first == nullptr) GTEST_SKIP() << "run by SecondProgramIsRefusedAndTheFirstLosesNothing";
  const DiagnosticPort port = DiagnostiquerPort(1);
  EXPECT_EQ(port.Etat, EtatPort::OccupeNivelix);
  EXPECT_EQ(port.Detenteur, std::atoi(first));
  EXPECT_TRUE(PortTroubleText(port).contains(QString::number(port.Detenteur)))
      << PortTroubleText(port).toStdString();
  TCapteur72500 sensor;
  sensor.SetPort(1);
  sensor.Data.Protocol = 0;
  sensor.Data.Identifier = 1;
  double angle = 99.0;
  EXPECT_EQ(sensor.ReadAngle(angle), FailPort);
  EXPECT_EQ(angle, 0.0);
  EXPECT_EQ(sensor.TestPresence(), FailPort);
}

}  // namespace
}  // namespace e2e
