// The acquisition file's bytes, and what its writer does when the system
// refuses a write: the cause named, whole lines only, the refused lines kept
// waiting and written in order once the file takes them again.
#include <csignal>

#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include <QFileInfo>
#include <QMainWindow>
#include <QStatusBar>

#include "AcquisitionFixture.h"
#include "AsUnprivileged.h"
#include "CadreAcquisition.h"
#include "FichierAcquisition.h"
#include "PowerCutFs.h"
#include "UtilCapt.h"

namespace {

QByteArray Join(const std::vector<QByteArray> &pieces) {
  QByteArray all;
  for (const auto &p : pieces) all += p;
  return all;
}

class AcquisitionFile : public AcquisitionFixture {};

TEST_F(AcquisitionFile, HeaderOfOneSensorWithoutComment) {
  SensorData data;
  data.Reference = "R";
  data.SerialNumber = 12345;
  SensorList->AddSensor(data, 5);
  EXPECT_EQ(Join(HeaderPieces(*SensorList, UnitDeg)),
            QByteArray("Acquisition file generated with Nivelix V3.6.2.\r\n"
                       "Unit : Deg\r\n"
                       "R - 12345 : \tNo comment.\r\n"
                       "Inclinometer\tR - 12345\r\n"));
  // A comment with a line break splits its header line in two, both CRLF.
  SensorList->GetSensor(0)->Comment = "north pier\nlevel 2";
  data.Reference = "KV7280";
  data.SerialNumber = 7;
  SensorList->AddSensor(data, 5);
  EXPECT_EQ(Join(HeaderPieces(*SensorList, UnitPercent)),
            QByteArray("Acquisition file generated with Nivelix V3.6.2.\r\n"
                       "Unit : %\r\n"
                       "R - 12345 : \tnorth pier\r\nlevel 2.\r\n"
                       "KV7280 - 7 : \tNo comment.\r\n"
                       "Inclinometer\tR - 12345\tKV7280 - 7\r\n"));
}

TEST_F(AcquisitionFile, SampleLinesInEveryDateOrder) {
  SensorData data;
  data.Family = 1;
  data.FullScale = 523.599;  // range class 1: 2 decimals in mRad
  for (int i = 0; i < 3; ++i) SensorList->AddSensor(data, 5);
  const QDateTime when(QDate(2007, 3, 5), QTime(9, 4, 7, 830));
  const std::vector<double> values{12.5, FailedReadingMRad, -0.004};
  const struct {
    int format;
    const char *line;
  } rows[] = {
      {DateDayMonthYear, "5/3/2007 9:4:7\t12.50\t\t0.00\r\n"},
      {DateMonthDayYear, "3/5/2007 9:4:7\t12.50\t\t0.00\r\n"},
      {DateYearMonthDay, "2007/3/5 9:4:7\t12.50\t\t0.00\r\n"},
      {7, "5/3/2007 9:4:7\t12.50\t\t0.00\r\n"},
  };
  for (const auto &row : rows)
    EXPECT_EQ(Join(SamplePieces(when, row.format, UnitMRad, *SensorList, values)), row.line)
        << "DateFormat " << row.format;

  // The first sensor failing leaves the second column empty; 99999.0 is a
  // failure, just below is a reading.
  const std::vector<double> first{99999.0, 99998.99, 1.0};
  EXPECT_EQ(Join(SamplePieces(QDateTime(QDate(2026, 12, 31), QTime(23, 59, 59)), DateYearMonthDay,
                              UnitMRad, *SensorList, first)),
            QByteArray("2026/12/31 23:59:59\t\t") + FormatAngle(1, 0, 1, 99998.99).c_str() +
                "\t1.00\r\n");
}

TEST_F(AcquisitionFile, WriteFailuresAreNamedAndNothingIsCreated) {
  TFichierAcquisition file;
  const QByteArray line("a\tb\r\n");
  const struct {
    bool create;
    QString path;
    WriteCause cause;
  } rows[] = {
      {true, Path("missing/acq.txt"), WriteCause::FolderMissing},
      {true, "/dev/full", WriteCause::DiskFull},
      {false, "/dev/full", WriteCause::DiskFull},
      {false, Path("gone.txt"), WriteCause::FileDeleted},
      {false, Path("missing/gone.txt"), WriteCause::FolderMissing},
      // A folder given as the file is named a folder.
      {true, Folder(), WriteCause::Folder},
      {false, Folder(), WriteCause::Folder},
  };
  for (const auto &row : rows) {
    const WriteResult r = row.create ? file.Create(row.path, line) : file.Append(row.path, line);
    EXPECT_EQ(r.cause, row.cause) << row.path.toStdString();
    EXPECT_FALSE(WriteCauseText(r.cause).isEmpty());
  }
  EXPECT_FALSE(QFile::exists(Path("gone.txt"))) << "appending never creates the file";

  ASSERT_FALSE(file.Create(Path("acq.txt"), line).Failed());
  const WriteResult r = file.Append(Path("acq.txt"), line);
  EXPECT_FALSE(r.Failed());
  EXPECT_EQ(r.linesWritten, 1);
  EXPECT_EQ(Contents(Path("acq.txt")), QByteArray("a\tb\r\na\tb\r\n"));
}

// The day's worth of lines kept waiting, and which go when there are more.
TEST_F(AcquisitionFile, BeyondTheWaitingLimitTheNewestAreDroppedAndCounted) {
  const struct {
    int32_t period;
    int64_t lines;
  } days[] = {{1, 86400}, {5, 17280}, {7, 12342}, {86400, 1}, {3 * 86400, 1}, {0, 86400}};
  for (const auto &d : days) EXPECT_EQ(TFichierAcquisition::DayOfLines(d.period), d.lines) << d.period;

  TFichierAcquisition file;
  file.SetWaitingLimit(2);
  const QString path = Path("acq.txt");
  ASSERT_FALSE(file.Create(path, "h\r\n").Failed());
  ASSERT_TRUE(QFile::rename(path, Path("away.txt")));
  for (const char *line : {"1\r\n", "2\r\n", "3\r\n", "4\r\n"}) file.Append(path, line);
  EXPECT_EQ(file.Waiting(), 2);
  EXPECT_EQ(file.Dropped(), 2);
  ASSERT_TRUE(QFile::rename(Path("away.txt"), path));
  const WriteResult r = file.Append(path, "5\r\n");
  EXPECT_FALSE(r.Failed());
  EXPECT_EQ(r.linesWritten, 3);
  EXPECT_EQ(r.linesDropped, 2);
  EXPECT_EQ(Contents(path), QByteArray("h\r\n1\r\n2\r\n5\r\n"));
}

void LimitSize(qint64 bytes) {
  rlimit limit{};
  getrlimit(RLIMIT_FSIZE, &limit);
  limit.rlim_cur = static_cast<rlim_t>(bytes);
  setrlimit(RLIMIT_FSIZE, &limit);
}

// The troubles, each started (on) and ended for the file at path.
void FillDisk(const QString &path, bool on) {
  QFile filler(QFileInfo(path).absolutePath() + "/filler");
  if (!on || !filler.open(QIODevice::WriteOnly)) {
    filler.remove();
    return;
  }
  while (filler.write(QByteArray(1024, 'x')) == 1024 && filler.flush()) continue;
  while (filler.write("x", 1) == 1 && filler.flush()) continue;
}
// The size limit cuts the next line after `bytes` of it.
template <int bytes>
void LimitAt(const QString &path, bool on) {
  LimitSize(on ? QFileInfo(path).size() + bytes : qint64(RLIM_INFINITY));
}
void TakeWriteRight(const QString &path, bool on) {
  ::chmod(QFile::encodeName(path).constData(), on ? 0444 : 0644);
}
void MoveAway(const QString &path, bool on) {
  ASSERT_TRUE(on ? QFile::rename(path, path + ".away") : QFile::rename(path + ".away", path));
}
void MoveFolderAway(const QString &path, bool on) {
  const QString folder = QFileInfo(path).absolutePath();
  ASSERT_TRUE(on ? QDir().rename(folder, folder + ".away") : QDir().rename(folder + ".away", folder));
}
// Gone for good: the file deleted; the folder removed with it and, later,
// an empty one made again at its name.
void Remove(const QString &path, bool on) { ASSERT_TRUE(!on || QFile::remove(path)); }
void RemoveFolder(const QString &path, bool on) {
  QDir folder = QFileInfo(path).absoluteDir();
  ASSERT_TRUE(on ? folder.removeRecursively() : QDir().mkpath(folder.path()));
}

// A file the system refuses for a while: nothing but whole lines is in it at
// any time, and once it takes lines again every waiting one goes, in order.
enum class Setting { Plain, SmallDisk, AsNobody };
struct Outage {
  const char *name;
  void (*trouble)(const QString &path, bool on);
  WriteCause cause;
  Setting setting;
  bool comesBack = true;  // the trouble ended, the file takes lines again
};
void PrintTo(const Outage &o, std::ostream *os) { *os << o.name; }

class AcquisitionFileOutage : public AcquisitionFile, public ::testing::WithParamInterface<Outage> {
 protected:
  void SetUp() override {
    AcquisitionFile::SetUp();
    std::signal(SIGXFSZ, SIG_IGN);  // as the program's entry does
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &savedLimit), 0);
  }
  void TearDown() override {
    setrlimit(RLIMIT_FSIZE, &savedLimit);
    nobody.reset();
    if (!mounted.isEmpty()) ::umount(QFile::encodeName(mounted).constData());
    AcquisitionFile::TearDown();
  }
  // The file in a folder of its own, set as the case needs; empty when it
  // cannot be here.
  QString Prepare(Setting setting) {
    const QString folder = Path("site");
    QDir().mkpath(folder);
    const QByteArray name = QFile::encodeName(folder);
    if (setting == Setting::SmallDisk) {
      if (::mount("tmpfs", name.constData(), "tmpfs", 0, "size=64k") != 0) return QString();
      mounted = folder;
    }
    if (setting == Setting::AsNobody) {
      // Root writes whatever the permissions say.
      ::chmod(QFile::encodeName(Folder()).constData(), 0755);
      const uid_t n = AsUnprivileged::Nobody;
      if (::chown(name.constData(), n, n) != 0) return QString();
      nobody = std::make_unique<AsUnprivileged>();
      if (!nobody->Active()) return QString();
    }
    return folder + "/acq.txt";
  }
  std::unique_ptr<AsUnprivileged> nobody;
  rlimit savedLimit{};
  QString mounted;
};

TEST_P(AcquisitionFileOutage, OnlyWholeLinesAndNoneLost) {
  const Outage &o = GetParam();
  const QString path = Prepare(o.setting);
  if (path.isEmpty()) GTEST_SKIP() << o.name << " cannot be set up here (not root?)";
  const QByteArray lines[] = {"1/2/2007 3:4:5\t1.00\t\r\n", "1/2/2007 3:4:6\t2.00\t\r\n",
                              "1/2/2007 3:4:7\t3.00\t\r\n", "1/2/2007 3:4:8\t\t4.00\r\n"};
  // The first line ends the file's first page: a full disk then has no room
  // left in the file's last page either.
  const QByteArray header =
      "head" + QByteArray(static_cast<int>(sysconf(_SC_PAGESIZE)) - 6 - lines[0].size(), '#') + "\r\n";
  TFichierAcquisition file;
  ASSERT_FALSE(file.Create(path, header).Failed());
  ASSERT_FALSE(file.Append(path, lines[0]).Failed());
  o.trouble(path, true);
  for (int i : {1, 2}) {
    const WriteResult r = file.Append(path, lines[i]);
    EXPECT_EQ(r.cause, o.cause) << "line " << i;
    EXPECT_EQ(r.linesWaiting, i);
    EXPECT_EQ(r.linesWritten, 0);
  }
  o.trouble(path, false);
  if (o.comesBack) {
    EXPECT_EQ(Contents(path), header + lines[0]) << "no piece of a refused line";
  }
  const WriteResult r = file.Append(path, lines[3]);
  EXPECT_EQ(r.Failed(), !o.comesBack);
  EXPECT_EQ(r.linesWaiting, o.comesBack ? 0 : 3);
  if (!o.comesBack) {
    // The file is never made again behind the user's back: the lines wait.
    EXPECT_FALSE(QFileInfo::exists(path));
    EXPECT_EQ(file.WaitingText(), lines[1] + lines[2] + lines[3]);
    return;
  }
  EXPECT_EQ(r.linesWritten, 3);
  EXPECT_EQ(Contents(path), header + lines[0] + lines[1] + lines[2] + lines[3]);
}

// A run whose file refuses two lines, ended by Stop (the lines are saved
// where the user asks) or discarded by the next activity (the user
// discards them): the offer says how many, and once they are saved or gone
// the status bar no longer counts them and the file never gets them later.
TEST_P(AcquisitionFileOutage, WaitingLinesAreOfferedWhenTheRunEndsOrTheFrameGoes) {
  const Outage &o = GetParam();
  AddSensorA(1, 523.599, "KV72500-AB", 111, 12.5);
  if (o.setting == Setting::AsNobody) {  // "nobody" may read the simulated line
    const QString link = QString::fromLocal8Bit(qgetenv("NIVELIX_COM" + QByteArray::number(comNumber)));
    ::chmod(QFile::encodeName(QFileInfo(link).absolutePath()).constData(), 0755);
    ::chmod(QFile::encodeName(QFileInfo(link).canonicalFilePath()).constData(), 0666);
  }
  QDir().mkpath(Path("kept"));
  ::chmod(QFile::encodeName(Path("kept")).constData(), 0777);
  const QString folder = QFileInfo(Prepare(o.setting)).absolutePath();
  if (folder == ".") GTEST_SKIP() << o.name << " cannot be set up here (not root?)";
  // The header and the first line end the file's first page: a full disk
  // then has no room left in the file's last page either.
  const QDateTime when(QDate(2007, 2, 1), QTime(3, 4, 5));
  SensorList->GetSensor(0)->Comment = "c";
  const qsizetype firstPage = HeaderText(*SensorList, UnitMRad).size() +
                              SampleLine(when, Settings.DateFormat, UnitMRad, *SensorList, {12.5}).size() - 1;
  SensorList->GetSensor(0)->Comment.assign(static_cast<std::size_t>(sysconf(_SC_PAGESIZE) - firstPage), 'c');
  QMainWindow window;  // the frame's status goes to its status bar
  TConfigAcquisition dialog;
  dialog.FormShow();
  Type(dialog, "EditPeriode", "1");
  Type(dialog, "EditDureeMin", "1");
  int saves = 0;
  SetSaveFileAnswerer([&](const QString &, const QString &) {
    // The size limit stands for the troubled file's own: the file chosen
    // has none. A save refused all the same ends in Discard, not a loop.
    setrlimit(RLIMIT_FSIZE, &savedLimit);
    if (++saves > 2) answer = QMessageBox::Discard;
    return Path("kept/saved.txt");
  });
  for (const bool discarded : {false, true}) {
    SCOPED_TRACE(discarded ? "frame discarded" : "run ended");
    const QString path = folder + (discarded ? "/discarded.txt" : "/ended.txt");
    const QString shown = QDir::toNativeSeparators(path), cause = WriteCauseText(o.cause);
    Type(dialog, "EditEnregistre", path);
    messages.clear();
    answer = QMessageBox::Ok;
    auto *frame = new TFrameAcquisition(window.centralWidget(), &dialog);
    window.setCentralWidget(frame);
    frame->SetClock([&] { return when; });
    ASSERT_FALSE(frame->WriteHeader());
    frame->Timer()->stop();
    frame->TimerTimer();
    o.trouble(path, true);
    frame->TimerTimer();
    frame->TimerTimer();
    QCoreApplication::processEvents();
    EXPECT_EQ(MessagesWith(TxtAcqWriteProblem), 1);
    EXPECT_EQ(window.statusBar()->currentMessage(), Langue(TxtAcqStatusWaiting).arg(shown, cause).arg(2));
    answer = discarded ? QMessageBox::Discard : QMessageBox::Save;
    if (discarded) {
      frame->SettleWaitingLines();
      delete frame;
    } else {
      frame->BoutStopClick();
      QCoreApplication::processEvents();
      EXPECT_EQ(frame->File().Waiting(), 0);
      const QByteArray saved = Contents(Path("kept/saved.txt"));
      EXPECT_TRUE(saved.startsWith("Acquisition file generated with Nivelix")) << saved.toStdString();
      EXPECT_EQ(saved.count("\t12.50\r\n"), 2) << "the header and the two waiting lines";
    }
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1].second, Langue(discarded ? TxtAcqOfferDiscard : TxtAcqOfferEnded).arg(2).arg(shown, cause));
    EXPECT_EQ(window.statusBar()->currentMessage(),
              discarded ? Langue(TxtAcqStatusDiscarded).arg(2).arg(shown)
                        : Langue(TxtAcqStatusSaved).arg(2).arg(QDir::toNativeSeparators(Path("kept/saved.txt"))));
    o.trouble(path, false);
    WaitUntil([] { return false; }, 1200);  // a retry of the file would have run by now
    EXPECT_LE(Contents(path).count("\t12.50\r\n"), 1) << "nothing came later";
    if (!discarded) delete frame;
    window.setCentralWidget(new QWidget);
  }
  SetSaveFileAnswerer({});
}

INSTANTIATE_TEST_SUITE_P(
    Files, AcquisitionFileOutage,
    ::testing::Values(Outage{"DiskFull", FillDisk, WriteCause::DiskFull, Setting::SmallDisk},
                      // In the date, before the CR, between CR and LF.
                      Outage{"SizeLimitInTheDate", LimitAt<4>, WriteCause::SizeLimit, Setting::Plain},
                      Outage{"SizeLimitBeforeCr", LimitAt<20>, WriteCause::SizeLimit, Setting::Plain},
                      Outage{"SizeLimitBeforeLf", LimitAt<21>, WriteCause::SizeLimit, Setting::Plain},
                      Outage{"ReadOnly", TakeWriteRight, WriteCause::NoPermission, Setting::AsNobody},
                      Outage{"FileDeleted", MoveAway, WriteCause::FileDeleted, Setting::Plain},
                      Outage{"FolderMoved", MoveFolderAway, WriteCause::FolderMissing, Setting::Plain},
                      Outage{"Deleted", Remove, WriteCause::FileDeleted, Setting::Plain, false},
                      Outage{"FolderRemoved", RemoveFolder, WriteCause::FolderMissing, Setting::Plain, false}),
    [](const ::testing::TestParamInfo<Outage> &info) { return std::string(info.param.name); });

// The power goes at each moment of a run in turn (at every change the writer
// asks of the disk, a line that waits while the file is away included): the
// header and every line the writer reported written are on the disk after
// it, whole and in order, and nothing else is. A run whose header was not
// reported written leaves no file, or an empty one.
TEST_F(AcquisitionFile, APowerCutLosesNoLineReportedWritten) {
  PowerCutFs disk;
  if (!disk.Mounted()) GTEST_SKIP() << "cannot mount the power-cut file system here: " << disk.Why();
  const QByteArray header = "Acquisition file\r\nUnit : mRad\r\nInclinometer\tR - 1\tR - 2\r\n";
  const QByteArray lines[] = {"1/2/2007 3:4:5\t1.00\t\r\n", "1/2/2007 3:4:6\t2.00\t7.00\r\n",
                              "1/2/2007 3:4:7\t\t3.00\r\n", "1/2/2007 3:4:8\t4.00\t4.00\r\n",
                              "1/2/2007 3:4:9\t5.00\t5.00\r\n"};
  for (int cut = 1;; ++cut) {
    SCOPED_TRACE("power cut at change " + std::to_string(cut));
    const QString path = QString::fromStdString(disk.Root()) + "/acq" + QString::number(cut) + ".txt";
    const QByteArray name = QFile::encodeName(path);
    disk.CutAtChange(cut);
    TFichierAcquisition file;
    const bool started = !file.Create(path, header).Failed();
    int64_t reported = 0;
    for (int i = 0; started && i < 5; ++i) {
      // The file is away while line 2 is taken: it waits, and goes with line 3.
      if (i == 2) std::rename(name.constData(), (name + ".away").constData());
      if (i == 3) std::rename((name + ".away").constData(), name.constData());
      reported += file.Append(path, lines[i]).linesWritten;
    }
    const bool cutReached = disk.PowerOff();
    disk.PowerBack();
    QByteArray expected;
    if (started) expected = header;
    for (int64_t i = 0; i < reported; ++i) expected += lines[i];
    EXPECT_EQ(Contents(path), expected);
    if (!cutReached) {
      EXPECT_EQ(reported, 5) << "a run without a cut writes every line";
      EXPECT_GT(cut, 10) << "changes of the run: the create, header, syncs, lines, moves";
      break;
    }
  }
}

TEST_F(AcquisitionFile, AHeaderCutShortLeavesAnEmptyFile) {
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  LimitSize(10);
  TFichierAcquisition file;
  const WriteResult r = file.Create(Path("acq.txt"), "Acquisition file\r\nUnit : mRad\r\n");
  setrlimit(RLIMIT_FSIZE, &saved);
  EXPECT_EQ(r.cause, WriteCause::SizeLimit);
  EXPECT_EQ(r.linesWaiting, 0) << "a header is never kept waiting";
  EXPECT_TRUE(QFile::exists(Path("acq.txt")));
  EXPECT_EQ(QFileInfo(Path("acq.txt")).size(), 0);
}

}  // namespace
