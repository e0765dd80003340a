// The acquisition file's bytes, and what its writer does when the system
// refuses a write.
#include <csignal>

#include <sys/resource.h>

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

TEST_F(AcquisitionFile, WriteFailuresAreReportedAndNothingIsCreated) {
  TFichierAcquisition file;
  const std::vector<QByteArray> line{"a", "\tb", "\r\n"};
  EXPECT_TRUE(file.Create(Path("missing/acq.txt"), line));
  EXPECT_TRUE(file.Create("/dev/full", line)) << "a full disk is a failure";
  EXPECT_TRUE(file.Append("/dev/full", line));
  EXPECT_TRUE(file.Append(Path("gone.txt"), line));
  EXPECT_FALSE(QFile::exists(Path("gone.txt"))) << "appending never creates the file";

  ASSERT_FALSE(file.Create(Path("acq.txt"), line));
  ASSERT_FALSE(file.Append(Path("acq.txt"), line));
  EXPECT_EQ(Contents(Path("acq.txt")), QByteArray("a\tb\r\na\tb\r\n"));
}

TEST_F(AcquisitionFile, ALineCutShortIsEndedBeforeTheNextOne) {
  // The file size limit makes the system refuse a write half way through a
  // line, as a full disk does.
  std::signal(SIGXFSZ, SIG_IGN);
  TFichierAcquisition file;
  const QString path = Path("acq.txt");
  ASSERT_FALSE(file.Create(path, {"head\r\n"}));
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit small = saved;
  small.rlim_cur = 6 + 4;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool failed = file.Append(path, {"1/2/2007 ", "3:4:5", "\t1.00", "\r\n"});
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
  EXPECT_TRUE(failed);
  EXPECT_EQ(Contents(path), QByteArray("head\r\n1/2/"));

  EXPECT_FALSE(file.Append(path, {"1/2/2007 ", "3:4:6", "\t2.00", "\r\n"}));
  EXPECT_EQ(Contents(path), QByteArray("head\r\n1/2/\r\n1/2/2007 3:4:6\t2.00\r\n"))
      << "two rows, the broken one ended";
  // A whole line is not followed by an extra line end.
  EXPECT_FALSE(file.Append(path, {"x\r\n"}));
  EXPECT_TRUE(Contents(path).endsWith("2.00\r\nx\r\n"));
}

}  // namespace
