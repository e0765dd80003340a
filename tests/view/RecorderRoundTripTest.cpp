// What nivelix-record writes, read back by nivelix-view's reader: the
// recorder runs as its own process on the simulated bus (set up by the
// record tests' fixture), and every name, unit, comment, value, failed
// reading and time the reader gives is checked against the file's own text.
#ifdef NIVELIX_RECORD_PATH

#include <cmath>
#include <cstdio>

#include "../record/RecordFixture.h"
#include "LecteurAcquisition.h"

namespace {

using namespace std::chrono_literals;

// Seconds since the epoch of a written "a/b/c h:m:s", the date in that order.
int64_t WrittenTime(const std::string &field, DateOrder order) {
  int a = 0, b = 0, c = 0, h = 0, m = 0, s = 0;
  EXPECT_EQ(std::sscanf(field.c_str(), "%d/%d/%d %d:%d:%d", &a, &b, &c, &h, &m, &s), 6) << field;
  const QDate date = order == DateDayMonthYear ? QDate(c, b, a)
                     : order == DateMonthDayYear ? QDate(c, a, b) : QDate(a, b, c);
  return QDateTime(date, QTime(h, m, s), Qt::UTC).toSecsSinceEpoch();
}

struct Run {
  const char *format;  // --date-format
  DateOrder order;
};

class RecorderRoundTrip : public RecordFixture, public ::testing::WithParamInterface<Run> {};

TEST_P(RecorderRoundTrip, ReadsBackExactlyWhatTheRecorderWrote) {
  AddTwoSensors();  // family A at 3 (index 0), family B at 7 (index 1)
  const std::string path = dir + "/run.txt";
  auto recorder = StartRecorder({"--port", std::to_string(comNumber), "--rs485", "--unit", "Deg",
                                 "--date-format", GetParam().format, "--sensor", "3", "--sensor",
                                 "7", "--period", "1s", "--duration", "7s", "--file", path},
                                "record.log", false);
  // Family B stops answering for a few samples: empty fields in its column.
  const auto lines = [&] { return CrlfLines(ReadWhole(path)).size(); };
  const auto until = std::chrono::steady_clock::now() + 30s;
  while (lines() < 5u + 2u && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(5ms);
  bus->SetFault(1, nivsim::Fault::NoAck);
  while (lines() < 5u + 4u && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(5ms);
  bus->ClearFault(1);
  ASSERT_EQ(recorder->Wait(40000), 0) << ReadWhole(dir + "/record.log");

  const std::vector<std::string> file = CrlfLines(ReadWhole(path));
  ASSERT_EQ(file.size(), 5u + 7u);
  TDonneesAcquisition data;
  TLecteurAcquisition reader(data);
  reader.SetDateOrder(GetParam().order);  // a few samples of one day may not tell
  reader.SetFile(QString::fromStdString(path));
  ASSERT_EQ(reader.Read(), EtatLecture::Read) << reader.Message().toStdString();
  EXPECT_EQ("Unit : " + data.Unit().toStdString(), file[1]);
  const std::vector<std::string> columns = Fields(file[4]);
  ASSERT_EQ(data.Sensors(), 2);
  ASSERT_EQ(columns.size(), 3u);
  EXPECT_EQ(columns[0], "Inclinometer");
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(data.Sensor(i).name.toStdString(), columns[1 + i]);
    // "<name> : \t<comment>."
    EXPECT_EQ(data.Sensor(i).name.toStdString() + " : \t" + data.Sensor(i).comment.toStdString() + ".",
              file[2 + i]);
  }
  ASSERT_EQ(data.Samples(), 7);
  EXPECT_EQ(data.LinesLeftOut(), 0);
  int64_t failed[2] = {0, 0};
  for (int k = 0; k < 7; ++k) {
    const std::vector<std::string> fields = Fields(file[5 + k]);
    ASSERT_EQ(fields.size(), 3u) << file[5 + k];
    EXPECT_EQ(data.Times().At(k), WrittenTime(fields[0], GetParam().order)) << file[5 + k];
    for (int i = 0; i < 2; ++i) {
      const std::string &text = fields[1 + i];
      const float got = data.Series(i).Value(k);
      if (text.empty()) {
        ++failed[i];
        EXPECT_TRUE(std::isnan(got)) << file[5 + k];
        continue;
      }
      // Printed with as many decimals as the file holds, the value is its field.
      const std::size_t point = text.find_first_of(".,");
      const int decimals = point == std::string::npos ? 0 : static_cast<int>(text.size() - point - 1);
      QString shown = QString::number(got, 'f', decimals);
      if (point != std::string::npos) shown[shown.indexOf('.')] = QLatin1Char(text[point]);
      EXPECT_EQ(shown.toStdString(), text) << file[5 + k] << " sensor " << i;
    }
  }
  EXPECT_EQ(failed[0], 0);
  EXPECT_GE(failed[1], 1) << "the fault left no empty field";
  EXPECT_EQ(data.Failed(0), failed[0]);
  EXPECT_EQ(data.Failed(1), failed[1]);
}

const Run Runs[] = {{"dmy", DateDayMonthYear}, {"mdy", DateMonthDayYear}, {"ymd", DateYearMonthDay}};

INSTANTIATE_TEST_SUITE_P(DateOrders, RecorderRoundTrip, ::testing::ValuesIn(Runs),
                         [](const auto &info) { return std::string(info.param.format); });

}  // namespace

#endif
