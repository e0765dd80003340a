// nivelix-view's reader: what it makes of every kind of acquisition file,
// good and bad, read whole or while it grows, and what its command line
// prints and returns.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>

#include <QDateTime>
#include <QFileInfo>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "AsUnprivileged.h"
#include "FichierAcquisition.h"
#include "LecteurAcquisition.h"
#include "ListeCapteurs.h"
#include "globales.h"

namespace {

const QByteArray Head2 =
    "Acquisition file generated with Nivelix V3.6.2.\r\nUnit : mRad\r\n"
    "A - 1 : \tNo comment.\r\nB - 2 : \tNo comment.\r\nInclinometer\tA - 1\tB - 2\r\n";

class ViewReader : public ::testing::Test {
 protected:
  QString Write(const QByteArray &bytes, const char *name = "f.txt") {
    const QString path = dir.filePath(QString::fromLatin1(name));
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
    return path;
  }
  void Append(const QString &path, const QByteArray &bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::Append));
    f.write(bytes);
  }
  QTemporaryDir dir;
};

QString Iso(int64_t seconds) {
  return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC).toString(Qt::ISODate);
}

TEST_F(ViewReader, SampleLinesOfEveryForm) {
  const struct {
    const char *what;
    QByteArray body;  // after Head2
    DateOrder order;
    SourceOrdreDate source;
    int64_t samples;
    const char *firstTime, *lastTime;
    float a0, b0;  // values of the first sample (NaN: failed)
    int64_t failedA, failedB;
    ProblemeLecture problem;
    int64_t problemLine;  // 0: no problem of that kind
  } rows[] = {
      {"CRLF, dot", "5/3/2007 9:4:7\t1.25\t-2.5\r\n5/3/2007 9:4:8\t1.5\t-3\r\n", DateDayMonthYear,
       SourceOrdreDate::Assumed, 2, "2007-03-05T09:04:07Z", "2007-03-05T09:04:08Z", 1.25f, -2.5f, 0, 0,
       ProblemeLecture::BadDate, 0},
      {"LF, comma", "13/3/2007 9:4:7\t1,25\t-2,5\n", DateDayMonthYear, SourceOrdreDate::Data, 1,
       "2007-03-13T09:04:07Z", "2007-03-13T09:04:07Z", 1.25f, -2.5f, 0, 0, ProblemeLecture::BadDate, 0},
      {"month first", "3/13/2007 23:59:59\t0\t0\r\n", DateMonthDayYear, SourceOrdreDate::Data, 1,
       "2007-03-13T23:59:59Z", "2007-03-13T23:59:59Z", 0, 0, 0, 0, ProblemeLecture::BadDate, 0},
      {"year first", "2007/3/5 0:0:0\t1\t2\r\n", DateYearMonthDay, SourceOrdreDate::Data, 1,
       "2007-03-05T00:00:00Z", "2007-03-05T00:00:00Z", 1, 2, 0, 0, ProblemeLecture::BadDate, 0},
      // Assumed day first, shown wrong by a later line: read afresh, month first.
      {"order seen late", "3/5/2007 9:0:0\t1\t2\r\n3/13/2007 9:0:0\t1\t2\r\n", DateMonthDayYear,
       SourceOrdreDate::Data, 2, "2007-03-05T09:00:00Z", "2007-03-13T09:00:00Z", 1, 2, 0, 0,
       ProblemeLecture::BadDate, 0},
      {"empty fields are failed readings", "5/3/2007 9:4:7\t\t2\r\n5/3/2007 9:4:7\t\t\r\n",
       DateDayMonthYear, SourceOrdreDate::Assumed, 2, "2007-03-05T09:04:07Z", "2007-03-05T09:04:07Z", NAN,
       2, 2, 1, ProblemeLecture::BadDate, 0},
      {"truncated last line waits", "5/3/2007 9:4:7\t1\t2\r\n5/3/2007 9:4:8\t1", DateDayMonthYear,
       SourceOrdreDate::Assumed, 1, "2007-03-05T09:04:07Z", "2007-03-05T09:04:07Z", 1, 2, 0, 0,
       ProblemeLecture::Incomplete, 7},
      {"too few fields", "5/3/2007 9:4:7\t1\r\n5/3/2007 9:4:8\t1\t2\r\n", DateDayMonthYear,
       SourceOrdreDate::Assumed, 1, "2007-03-05T09:04:08Z", "2007-03-05T09:04:08Z", 1, 2, 0, 0,
       ProblemeLecture::FieldCount, 6},
      {"too many fields", "5/3/2007 9:4:8\t1\t2\r\n5/3/2007 9:4:9\t1\t2\t3\r\n", DateDayMonthYear,
       SourceOrdreDate::Assumed, 1, "2007-03-05T09:04:08Z", "2007-03-05T09:04:08Z", 1, 2, 0, 0,
       ProblemeLecture::FieldCount, 7},
      {"not a number: a gap, named", "5/3/2007 9:4:8\t1e3\t2\r\n", DateDayMonthYear,
       SourceOrdreDate::Assumed, 1, "2007-03-05T09:04:08Z", "2007-03-05T09:04:08Z", NAN, 2, 1, 0,
       ProblemeLecture::BadNumber, 6},
      {"bad date", "5/3/2007 9:4:8\t1\t2\r\n31/2/2007 9:4:8\t1\t2\r\n5/3/2007 25:0:0\t1\t2\r\n",
       DateDayMonthYear, SourceOrdreDate::Data, 1, "2007-03-05T09:04:08Z", "2007-03-05T09:04:08Z", 1, 2,
       0, 0, ProblemeLecture::BadDate, 7},
      {"garbage bytes", QByteArray("5/3/2007 9:4:8\t1\t2\r\n\x01\x02\x00zz\t\t\r\n", 30), DateDayMonthYear,
       SourceOrdreDate::Assumed, 1, "2007-03-05T09:04:08Z", "2007-03-05T09:04:08Z", 1, 2, 0, 0,
       ProblemeLecture::BadBytes, 7},
      {"a second shared and one skipped, all kept in order",
       "5/3/2007 9:4:8\t1\t2\r\n5/3/2007 9:4:8\t3\t2\r\n5/3/2007 9:4:10\t5\t2\r\n", DateDayMonthYear,
       SourceOrdreDate::Assumed, 3, "2007-03-05T09:04:08Z", "2007-03-05T09:04:10Z", 1, 2, 0, 0,
       ProblemeLecture::BadDate, 0},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.what);
    TDonneesAcquisition data;
    TLecteurAcquisition reader(data);
    reader.SetFile(Write(Head2 + row.body));
    const EtatLecture state = reader.Read();
    ASSERT_NE(state, EtatLecture::Unusable) << reader.Message().toStdString();
    ASSERT_EQ(data.Sensors(), 2);
    EXPECT_EQ(data.Sensor(1).name, "B - 2");
    EXPECT_EQ(data.Order(), row.order);
    EXPECT_EQ(data.OrderSource(), row.source);
    ASSERT_EQ(data.Samples(), row.samples);
    EXPECT_EQ(data.Series(0).Samples(), row.samples);
    EXPECT_EQ(Iso(data.Times().At(0)), row.firstTime);
    EXPECT_EQ(Iso(data.Times().At(row.samples - 1)), row.lastTime);
    const float a = data.Series(0).Value(0), b = data.Series(1).Value(0);
    if (std::isnan(row.a0)) EXPECT_TRUE(std::isnan(a)); else EXPECT_EQ(a, row.a0);
    if (std::isnan(row.b0)) EXPECT_TRUE(std::isnan(b)); else EXPECT_EQ(b, row.b0);
    EXPECT_EQ(data.Failed(0), row.failedA);
    EXPECT_EQ(data.Failed(1), row.failedB);
    EXPECT_EQ(data.FirstProblemLine(row.problem), row.problemLine);
    EXPECT_EQ(reader.Read(), EtatLecture::NoChange) << "a second read finds nothing new";
  }
}

// A file of 2 MB and more is read by two threads: exactly what one reads.
TEST_F(ViewReader, TwoThreadsOrSlicesReadWhatOneReads) {
  const struct {
    const char *what;
    bool monthFirst;
    int64_t start;  // seconds from 1 January 2025, 30 s apart
    DateOrder order;
  } rows[] = {
      {"order known from the first line", false, 13 * 86400, DateDayMonthYear},
      {"order shown in the second half", false, 0, DateDayMonthYear},
      {"order proved wrong in the second half: afresh", true, 0, DateMonthDayYear},
  };
  const char *odd[] = {"x\t1\t2", "1/1/2025 0:0:0\t1", "%s\t1e3\t2", "%s\t\x01\t2", "%s\t\t-0,5"};
  for (const auto &row : rows) {
    SCOPED_TRACE(row.what);
    QByteArray body = Head2;
    char line[128];
    for (int64_t k = 0; k < 70000; ++k) {
      const QDateTime t = QDateTime(QDate(2025, 1, 1), QTime(0, 0), Qt::UTC).addSecs(row.start + 30 * k);
      const QByteArray date = t.toString(row.monthFirst ? "M/d/yyyy H:m:s" : "d/M/yyyy H:m:s").toLatin1();
      if (k % 4001 == 7) std::snprintf(line, sizeof line, odd[k / 4001 % 5], date.constData());
      else std::snprintf(line, sizeof line, "%s\t%.4f\t%lld", date.constData(), std::sin(k * 1e-3) * 50, (long long)k);
      body += line;
      body += k % 2 ? "\r\n" : "\n";
      // A line longer than any sample line, across slices and blocks.
      if (k == 50000) body += QByteArray(TLecteurAcquisition::LongestLine * 3 / 2, 'x') + "\n";
    }
    const QString path = Write(body + "1/1/2025 0:0:0\t1");
    ASSERT_GE(QFileInfo(path).size(), 2 * TLecteurAcquisition::ParallelBytes) << "large enough for two threads";
    TDonneesAcquisition one, two, three;
    TLecteurAcquisition alone(one), both(two), sliced(three);
    alone.SetParallel(false);
    alone.SetFile(path);
    both.SetFile(path);
    const EtatLecture state = alone.Read();
    EXPECT_EQ(both.Read(), state);
    EXPECT_EQ(two.Order(), row.order);
    // A slice at a time, as the window reads (slices on both sides of the
    // two-thread size), until the end: the same data in the end.
    sliced.SetFile(path);
    sliced.SetSliceBytes(TLecteurAcquisition::ParallelBytes + 12345);
    int slices = 0;
    do {
      sliced.Read();
      ++slices;
      if (slices == 2) sliced.SetSliceBytes(300000);
    } while (sliced.MoreToRead() && slices < 1000);
    EXPECT_GE(slices, 3);
    EXPECT_EQ(one.Problems(ProblemeLecture::LongLine), 1);
    EXPECT_EQ(sliced.FileBytes(), QFileInfo(path).size());
    for (const TDonneesAcquisition *other : {&two, &three}) {
      EXPECT_EQ(other->Order(), one.Order());
      EXPECT_EQ(other->OrderSource(), one.OrderSource());
      EXPECT_EQ(other->Lines(), one.Lines());
      EXPECT_EQ(other->BytesRead(), one.BytesRead());
      for (int k = 0; k < static_cast<int>(ProblemeLecture::Count_); ++k) {
        EXPECT_EQ(other->Problems(ProblemeLecture(k)), one.Problems(ProblemeLecture(k))) << k;
        EXPECT_EQ(other->FirstProblemLine(ProblemeLecture(k)), one.FirstProblemLine(ProblemeLecture(k))) << k;
      }
      ASSERT_EQ(other->Samples(), one.Samples());
      EXPECT_GT(one.Samples(), 69000);
      int differ = 0;
      for (int64_t k = 0; k < one.Samples(); ++k) {
        differ += other->Times().At(k) != one.Times().At(k);
        for (int i = 0; i < 2; ++i) {
          const float a = one.Series(i).Value(k), b = other->Series(i).Value(k);
          differ += std::isnan(a) ? !std::isnan(b) : a != b;
        }
      }
      EXPECT_EQ(differ, 0);
      EXPECT_EQ(other->Series(0).SummariseAll().mean, one.Series(0).SummariseAll().mean);
    }
  }
}

TEST_F(ViewReader, FilesThatCannotBeUsed) {
  const QString folder = dir.filePath("folder");
  ASSERT_EQ(::mkdir(QFile::encodeName(folder).constData(), 0700), 0);
  const struct {
    const char *what;
    QString path;
    const char *message;  // after "PATH: "
  } rows[] = {
      {"missing", dir.filePath("none.txt"), "no such file"},
      {"folder", folder, "is a folder, not a file"},
      {"0 bytes", Write("", "empty.txt"), "empty file"},
      {"another file", Write("hello\r\nworld\r\n", "other.txt"),
       "line 1: not an acquisition file (no \"Acquisition file generated with Nivelix\" line)"},
      {"no unit", Write("Acquisition file generated with Nivelix V3.6.2.\r\nX\r\nInclinometer\tA - 1\r\n", "nounit.txt"),
       "line 2: no unit line (\"Unit : ...\")"},
      {"header cut", Write("Acquisition file generated with Nivelix V3.6.2.\r\nUnit : mRad\r\nA - 1 : \tNo", "cut.txt"),
       "line 3: the header ends before its column header line (\"Inclinometer...\")"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.what);
    TDonneesAcquisition data;
    TLecteurAcquisition reader(data);
    reader.SetFile(row.path);
    EXPECT_EQ(reader.Read(), EtatLecture::Unusable);
    EXPECT_EQ(reader.Message(), row.path + ": " + row.message);
    EXPECT_EQ(data.Samples(), 0);
  }
}

TEST_F(ViewReader, CommentsWithLineBreaksInLatin1AndUtf8) {
  const QByteArray head =
      "Acquisition file generated with Nivelix V3.6.2.\r\nUnit : Deg\r\n"
      "A - 1 : \tpile nord\r\nniveau \xe9tag\xe9.\r\nB - 2 : \tg\xc3\xa9od\xc3\xa9sie.\r\n"
      "Inclinometer\tA - 1\tB - 2\r\n";
  TDonneesAcquisition data;
  TLecteurAcquisition reader(data);
  reader.SetFile(Write(head + "1/1/2020 0:0:0\t1\t2\r\n"));
  ASSERT_EQ(reader.Read(), EtatLecture::Read);
  EXPECT_EQ(data.Unit(), "Deg");
  EXPECT_EQ(data.Version(), "3.6.2");
  EXPECT_EQ(data.Sensor(0).comment, QString::fromUtf8("pile nord\nniveau étagé"));
  EXPECT_EQ(data.Sensor(1).comment, QString::fromUtf8("géodésie"));
  EXPECT_EQ(data.Sensor(0).reference, "A");
  EXPECT_EQ(data.Sensor(0).serial, "1");
}

TEST_F(ViewReader, FollowsAGrowingFileAndSeesItReplaced) {
  const QString path = Write(Head2 + "5/3/2007 9:4:7\t1\t2\r\n5/3/2007 9:4:8\t1");
  TDonneesAcquisition data;
  TLecteurAcquisition reader(data);
  reader.SetFile(path);
  ASSERT_EQ(reader.Read(), EtatLecture::Read);
  EXPECT_EQ(data.Samples(), 1);
  const int64_t read = data.BytesRead();
  Append(path, "\t3\r\n");  // the last line gets its end
  EXPECT_EQ(reader.Read(), EtatLecture::Read);
  ASSERT_EQ(data.Samples(), 2);
  EXPECT_EQ(data.Series(1).Value(1), 3.0f);
  EXPECT_GT(data.BytesRead(), read);
  EXPECT_EQ(data.Problems(ProblemeLecture::Incomplete), 0);
  // Cut shorter, then replaced by another file of the same name.
  ASSERT_EQ(::truncate(QFile::encodeName(path).constData(), Head2.size()), 0);
  EXPECT_EQ(reader.Read(), EtatLecture::ReadAfresh);
  EXPECT_EQ(reader.AfreshReason(), "the file was cut shorter");
  EXPECT_EQ(data.Samples(), 0);
  const QString other = Write(Head2 + "1/1/2020 0:0:0\t7\t8\r\n", "g.txt");
  ASSERT_EQ(::rename(QFile::encodeName(other).constData(), QFile::encodeName(path).constData()), 0);
  EXPECT_EQ(reader.Read(), EtatLecture::ReadAfresh);
  EXPECT_EQ(reader.AfreshReason(), "the file was replaced");
  ASSERT_EQ(data.Samples(), 1);
  EXPECT_EQ(data.Series(0).Value(0), 7.0f);
}

TEST_F(ViewReader, ReadsBackWhatTheProgramsWriterWrote) {
  TlistCapteur sensors;
  SensorData sd;
  sd.Family = 1;
  sd.FullScale = 523.599;  // 2 decimals in mRad
  sd.Reference = "KV72800";
  for (int i = 0; i < 3; ++i) {
    sd.SerialNumber = 100 + i;
    sensors.AddSensor(sd, 5);
  }
  sensors.GetSensor(1)->Comment = "north pier\nlevel 2";
  for (int order : {DateDayMonthYear, DateMonthDayYear, DateYearMonthDay}) {
    SCOPED_TRACE(order);
    TFichierAcquisition writer;
    const QString path = dir.filePath(QStringLiteral("w%1.txt").arg(order));
    ASSERT_FALSE(writer.Create(path, HeaderText(sensors, 0)).Failed());
    const QDateTime start(QDate(2025, 1, 1), QTime(23, 59, 50), Qt::UTC);
    std::vector<std::vector<double>> written;
    for (int k = 0; k < 40; ++k) {
      std::vector<double> v{k * 1.25, -k * 0.5, k % 7 == 0 ? FailedReadingMRad : 300.0 + k};
      written.push_back(v);
      ASSERT_FALSE(writer.Append(path, SampleLine(start.addSecs(k), order, 0, sensors, v)).Failed());
    }
    TDonneesAcquisition data;
    TLecteurAcquisition reader(data);
    reader.SetDateOrder(static_cast<DateOrder>(order));
    reader.SetFile(path);
    ASSERT_EQ(reader.Read(), EtatLecture::Read) << reader.Message().toStdString();
    ASSERT_EQ(data.Sensors(), 3);
    EXPECT_EQ(data.Sensor(1).comment, "north pier\nlevel 2");
    EXPECT_EQ(data.Sensor(2).name, "KV72800 - 102");
    ASSERT_EQ(data.Samples(), 40);
    for (int k = 0; k < 40; ++k) {
      EXPECT_EQ(data.Times().At(k), start.toSecsSinceEpoch() + k);
      for (int i = 0; i < 3; ++i) {
        const float got = data.Series(i).Value(k);
        if (written[k][i] >= FailedReadingLimitMRad) EXPECT_TRUE(std::isnan(got));
        else EXPECT_EQ(got, static_cast<float>(written[k][i])) << "sample " << k << " sensor " << i;
      }
    }
    EXPECT_EQ(data.Failed(2), 6);
    EXPECT_EQ(data.LinesLeftOut(), 0);
    EXPECT_EQ(data.Times().Runs(), 1u) << "one period: one run";
  }
}

// The command line, as its own process.
struct Outcome {
  int code;
  QByteArray out, err;
};
Outcome View(const QStringList &args, bool asNobody = false) {
  QProcess p;
  // Root reads any file: the viewer then runs as "nobody", whom permissions stop.
  if (asNobody && ::geteuid() == 0)
    p.setChildProcessModifier([] {
      if (::setgid(AsUnprivileged::Nobody) != 0 || ::setuid(AsUnprivileged::Nobody) != 0) ::_exit(127);
    });
  p.start(QStringLiteral(NIVELIX_VIEW_PATH), args);
  p.waitForFinished(60000);
  return {p.exitCode(), p.readAllStandardOutput(), p.readAllStandardError()};
}

TEST_F(ViewReader, StatsOfAFileWithKnownValues) {
  const QString path =
      Write(Head2 + "5/3/2007 9:4:7\t1\t-2\r\n5/3/2007 9:4:8\t\t-4\r\n5/3/2007 9:4:9\t3.5\t\r\n"
                    "5/3/2007 9:4:10\t0,5\t-6\r\n");
  const Outcome r = View({"--stats", path});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "sensor\tsamples\tfailed\tmin\tmax\tmean\tfirst\tlast\n"
            "A - 1\t4\t1\t0.5\t3.5\t1.66667\t2007-03-05T09:04:07\t2007-03-05T09:04:10\n"
            "B - 2\t4\t1\t-6\t-2\t-4\t2007-03-05T09:04:07\t2007-03-05T09:04:10\n");
}

TEST_F(ViewReader, CommandLineRefusals) {
  const QString good = Write(Head2 + "5/3/2007 9:4:7\t1\t-2\r\n", "good.txt");
  const QString other = Write("x\r\n", "x.txt");
  // Neither its owner nor anyone else may read it; the folder may be crossed.
  const QString secret = Write(Head2 + "5/3/2007 9:4:7\t1\t-2\r\n", "secret.txt");
  ASSERT_EQ(::chmod(QFile::encodeName(secret).constData(), 0200), 0);
  ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0711), 0);
  const struct {
    QStringList args;
    int code;
    QByteArray err;
    bool asNobody = false;
  } rows[] = {
      {{"--stats", dir.filePath("none.txt")}, 2, QFile::encodeName(dir.filePath("none.txt")) + ": no such file\n"},
      {{"--stats", other}, 2, QFile::encodeName(other) +
                              ": line 1: not an acquisition file (no \"Acquisition file generated with Nivelix\" line)\n"},
      {{"--png", dir.filePath("o.png"), dir.path()}, 2, QFile::encodeName(dir.path()) + ": is a folder, not a file\n"},
      {{"--pdf", dir.filePath("o.pdf"), other}, 2, QFile::encodeName(other) +
                              ": line 1: not an acquisition file (no \"Acquisition file generated with Nivelix\" line)\n"},
      {{"--png", dir.filePath("o.png"), good, "--size", "12"}, 1, "nivelix-view: --size: 12 is not WxH (16 to 20000 pixels)\n"},
      {{"--stats", secret}, 2, QFile::encodeName(secret) + ": permission denied\n", true},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.args.join(' ').toStdString());
    const Outcome r = View(row.args, row.asNobody);
    EXPECT_EQ(r.code, row.code);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, row.err);
  }
  EXPECT_FALSE(QFile::exists(dir.filePath("o.png")));
  // A usable file makes its pictures.
  EXPECT_EQ(View({"--png", dir.filePath("ok.png"), good, "--size", "400x300"}).code, 0);
  EXPECT_EQ(View({"--pdf", dir.filePath("ok.pdf"), good}).code, 0);
  EXPECT_GT(QFileInfo(dir.filePath("ok.png")).size(), 1000);
  EXPECT_GT(QFileInfo(dir.filePath("ok.pdf")).size(), 1000);
  EXPECT_TRUE(View({"--help"}).out.contains("--stats FILE"));
}

}  // namespace
