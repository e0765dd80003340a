// The acquisition file's bytes, and what its writer does when the system
// refuses a write: the cause named, whole lines only, the refused lines kept
// waiting and written in order once the file takes them again.
#include <csignal>

#include <sys/fsuid.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include <QFileInfo>

#include "AcquisitionFixture.h"
#include "FichierAcquisition.h"
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

// A file the system refuses for a while: nothing but whole lines is in it at
// any time, and once it takes lines again every waiting one goes, in order.
struct Outage {
  const char *name;
  // The file's path inside the test folder; empty: the test is skipped.
  std::function<QString(AcquisitionFixture &)> prepare;
  std::function<void(const QString &path)> start, end;
  WriteCause cause;
};
void PrintTo(const Outage &o, std::ostream *os) { *os << o.name; }

// The small file system a case mounted, unmounted after it.
QString mountedTmpfs;

class AcquisitionFileOutage : public AcquisitionFile, public ::testing::WithParamInterface<Outage> {
 protected:
  void SetUp() override {
    AcquisitionFile::SetUp();
    std::signal(SIGXFSZ, SIG_IGN);  // as the program's entry does
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &savedLimit), 0);
  }
  void TearDown() override {
    setrlimit(RLIMIT_FSIZE, &savedLimit);
    setfsuid(0);
    if (!mountedTmpfs.isEmpty()) ::umount(QFile::encodeName(mountedTmpfs).constData());
    mountedTmpfs.clear();
    AcquisitionFile::TearDown();
  }
  rlimit savedLimit{};
};

void LimitSize(qint64 bytes) {
  rlimit limit{};
  getrlimit(RLIMIT_FSIZE, &limit);
  limit.rlim_cur = static_cast<rlim_t>(bytes);
  setrlimit(RLIMIT_FSIZE, &limit);
}

TEST_P(AcquisitionFileOutage, OnlyWholeLinesAndNoneLost) {
  const Outage &o = GetParam();
  const QString path = o.prepare(*this);
  if (path.isEmpty()) GTEST_SKIP() << o.name << ": cannot be set up here (not root?)";
  const QByteArray lines[] = {"1/2/2007 3:4:5\t1.00\t\r\n", "1/2/2007 3:4:6\t2.00\t\r\n",
                              "1/2/2007 3:4:7\t3.00\t\r\n", "1/2/2007 3:4:8\t\t4.00\r\n"};
  // The first line ends the file's first page: a full disk then has no room
  // left in the file's last page either.
  const QByteArray header =
      "head" + QByteArray(static_cast<int>(sysconf(_SC_PAGESIZE)) - 6 - lines[0].size(), '#') + "\r\n";
  TFichierAcquisition file;
  ASSERT_FALSE(file.Create(path, header).Failed());
  ASSERT_FALSE(file.Append(path, lines[0]).Failed());
  o.start(path);
  for (int i : {1, 2}) {
    const WriteResult r = file.Append(path, lines[i]);
    EXPECT_EQ(r.cause, o.cause) << "line " << i;
    EXPECT_EQ(r.linesWaiting, i);
    EXPECT_EQ(r.linesWritten, 0);
  }
  o.end(path);
  EXPECT_EQ(Contents(path), header + lines[0]) << "no piece of a refused line";
  const WriteResult r = file.Append(path, lines[3]);
  EXPECT_FALSE(r.Failed());
  EXPECT_EQ(r.linesWritten, 3);
  EXPECT_EQ(r.linesWaiting, 0);
  EXPECT_EQ(Contents(path), header + lines[0] + lines[1] + lines[2] + lines[3]);
}

QString InFolder(AcquisitionFixture &t, const QString &sub) {
  QDir(t.Folder()).mkpath(sub);
  return QDir(t.Folder()).filePath(sub + "/acq.txt");
}

INSTANTIATE_TEST_SUITE_P(
    Files, AcquisitionFileOutage,
    ::testing::Values(
        // A small file system filled up by another file.
        Outage{"DiskFull",
               [](AcquisitionFixture &t) {
                 const QString small = InFolder(t, "small");
                 const QByteArray where = QFile::encodeName(QFileInfo(small).absolutePath());
                 if (::mount("tmpfs", where.constData(), "tmpfs", 0, "size=64k") != 0) return QString();
                 mountedTmpfs = QFileInfo(small).absolutePath();
                 return small;
               },
               [](const QString &path) {
                 QFile filler(QFileInfo(path).absolutePath() + "/filler");
                 ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
                 const QByteArray block(1024, 'x');
                 while (filler.write(block) == block.size() && filler.flush()) {
                 }
                 while (filler.write("x", 1) == 1 && filler.flush()) {
                 }
               },
               [](const QString &path) { QFile::remove(QFileInfo(path).absolutePath() + "/filler"); },
               WriteCause::DiskFull},
        // The size limit cuts each line part way: date, the CR, or between
        // CR and LF.
        Outage{"SizeLimitInTheDate", [](AcquisitionFixture &t) { return InFolder(t, "s1"); },
               [](const QString &path) { LimitSize(QFileInfo(path).size() + 4); },
               [](const QString &) { LimitSize(RLIM_INFINITY); }, WriteCause::SizeLimit},
        Outage{"SizeLimitBeforeTheLineEnd", [](AcquisitionFixture &t) { return InFolder(t, "s2"); },
               [](const QString &path) { LimitSize(QFileInfo(path).size() + 20); },
               [](const QString &) { LimitSize(RLIM_INFINITY); }, WriteCause::SizeLimit},
        Outage{"SizeLimitBetweenCrAndLf", [](AcquisitionFixture &t) { return InFolder(t, "s3"); },
               [](const QString &path) { LimitSize(QFileInfo(path).size() + 21); },
               [](const QString &) { LimitSize(RLIM_INFINITY); }, WriteCause::SizeLimit},
        // Write permission taken away and given back; file access is
        // checked as user nobody (root writes whatever the permissions say).
        Outage{"ReadOnly",
               [](AcquisitionFixture &t) {
                 const QString path = InFolder(t, "ro");
                 ::chmod(QFile::encodeName(t.Folder()).constData(), 0755);
                 ::chown(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), 65534, 65534);
                 setfsuid(65534);
                 return static_cast<uid_t>(setfsuid(65534)) == 65534 ? path : QString();
               },
               [](const QString &path) { ::chmod(QFile::encodeName(path).constData(), 0444); },
               [](const QString &path) { ::chmod(QFile::encodeName(path).constData(), 0644); },
               WriteCause::NoPermission},
        // Deleted, then put back from a copy.
        Outage{"FileDeleted", [](AcquisitionFixture &t) { return InFolder(t, "del"); },
               [](const QString &path) { ASSERT_TRUE(QFile::rename(path, path + ".copy")); },
               [](const QString &path) { ASSERT_TRUE(QFile::rename(path + ".copy", path)); },
               WriteCause::FileDeleted},
        Outage{"FolderMoved", [](AcquisitionFixture &t) { return InFolder(t, "site"); },
               [](const QString &path) {
                 const QString folder = QFileInfo(path).absolutePath();
                 ASSERT_TRUE(QDir().rename(folder, folder + ".away"));
               },
               [](const QString &path) {
                 const QString folder = QFileInfo(path).absolutePath();
                 ASSERT_TRUE(QDir().rename(folder + ".away", folder));
               },
               WriteCause::FolderMissing}),
    [](const ::testing::TestParamInfo<Outage> &info) { return std::string(info.param.name); });

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
