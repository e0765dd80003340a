// nivelix-view's window on the offscreen platform: a file followed while it
// is written, read afresh when replaced or cut, series hidden, the date
// order chosen from the menu, zoom and back to the whole file, the figures of
// a selected range.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include <QAction>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QListWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QWheelEvent>
#include <qcustomplot.h>

#include "AccessibleText.h"
#include "FenetreVue.h"
#include "Messages.h"
#include "QtWait.h"

namespace {

struct Told {
  MessageKind kind;
  QString text;
};

// A sample line at t for the given date order (0 d/m/y, 1 m/d/y, 2 y/m/d).
QByteArray Line(const QDateTime &t, const std::vector<QString> &values, int order = 0) {
  const QDate d = t.date();
  const QTime h = t.time();
  QString date = order == 1   ? QString("%1/%2/%3").arg(d.month()).arg(d.day()).arg(d.year())
                 : order == 2 ? QString("%1/%2/%3").arg(d.year()).arg(d.month()).arg(d.day())
                              : QString("%1/%2/%3").arg(d.day()).arg(d.month()).arg(d.year());
  QString line = date + QString(" %1:%2:%3").arg(h.hour()).arg(h.minute()).arg(h.second());
  for (const QString &v : values) line += "\t" + v;
  return line.toLatin1() + "\r\n";
}

QByteArray Header(int sensors) {
  QByteArray h = "Acquisition file generated with Nivelix V3.6.2.\r\nUnit : mRad\r\n";
  QByteArray columns = "Inclinometer";
  for (int i = 0; i < sensors; ++i) {
    const QByteArray name = "KV72500-A" + QByteArray::number(i) + " - " + QByteArray::number(100 + i);
    h += name + " : \tNo comment.\r\n";
    columns += "\t" + name;
  }
  return h + columns + "\r\n";
}

// Rows of the tables below are named by their name field.
const auto ByName = [](const auto &info) { return std::string(info.param.name); };

class ViewerWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    SetMessageAnswerer([this](MessageKind kind, const QString &text, QMessageBox::StandardButtons) {
      told.push_back({kind, text});
      return QMessageBox::Ok;
    });
    window.resize(900, 600);
    window.show();
  }
  void TearDown() override { SetMessageAnswerer({}); }

  QString Path(const QString &name = "acq.txt") const { return dir.filePath(name); }
  void Write(const QByteArray &bytes, const QString &name = "acq.txt") {
    QFile f(Path(name));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
  }
  // The window opened on a file of these bytes.
  bool Opens(const QByteArray &bytes) {
    Write(bytes);
    return window.Open(Path());
  }
  void Append(const QByteArray &bytes) {
    QFile f(Path());
    ASSERT_TRUE(f.open(QIODevice::Append));
    f.write(bytes);
  }
  // Sample lines one second apart ending at last: i, and -i for a second sensor.
  static QByteArray Samples(const QDateTime &last, int samples, int order = 0, int sensors = 2) {
    QByteArray lines;
    for (int i = 0; i < samples; ++i) {
      std::vector<QString> values{QString::number(i), QString::number(-i)};
      values.resize(sensors);
      lines += Line(last.addSecs(i - samples + 1), values, order);
    }
    return lines;
  }
  QString Status() { return AccessibleText(window.findChild<QObject *>("LabelEtat")); }
  bool StatusHas(const QString &part, int ms) {
    return WaitUntil([&] { return Status().contains(part); }, ms);
  }
  void ExpectToldOnce(MessageKind kind, const QString &part) {
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0].kind, kind);
    EXPECT_TRUE(told[0].text.contains(part)) << told[0].text.toStdString();
    EXPECT_TRUE(told[0].text.contains("acq.txt")) << told[0].text.toStdString();
  }

  QTemporaryDir dir;
  TFenetreVue window;
  std::vector<Told> told;
};

TEST_F(ViewerWindow, FollowsAFileBeingWrittenWithinASecond) {
  const QDateTime now = QDateTime::currentDateTime();
  ASSERT_TRUE(Opens(Header(2) + Samples(now, 10)));
  EXPECT_TRUE(window.Following()) << "the last sample is less than two periods old";
  EXPECT_TRUE(Status().contains("2 sensors, 10 samples")) << Status().toStdString();
  EXPECT_TRUE(Status().endsWith(", following"));
  EXPECT_EQ(window.windowTitle(), "acq.txt - Nivelix view");

  for (int round = 1; round <= 3; ++round) {
    QElapsedTimer clock;
    clock.start();
    Append(Line(now.addSecs(round), {"1.5", ""}));
    ASSERT_TRUE(StatusHas(QString("%1 samples").arg(10 + round), 1000))
        << "round " << round << ": " << Status().toStdString();
    EXPECT_LT(clock.elapsed(), 1000);
  }
  EXPECT_EQ(window.Data().Failed(), 3);
  EXPECT_TRUE(Status().contains("3 failed readings"));
  // A line whose end has not come yet waits for it.
  const QByteArray last = Line(now.addSecs(4), {"2", "3"});
  Append(last.left(last.size() - 4));
  WaitUntil([] { return false; }, 900);
  EXPECT_TRUE(Status().contains("13 samples"));
  Append(last.right(4));
  EXPECT_TRUE(StatusHas("14 samples", 1000)) << Status().toStdString();
  EXPECT_TRUE(told.empty());
  // While the file stays still, nothing is redrawn or read afresh.
  EXPECT_EQ(window.Data().Samples(), window.Series(0)->Samples());
}

struct FollowRow {
  const char *name;
  int ageSeconds;  // of the last sample, at one sample a second
  bool following;
};

class FollowDefault : public ViewerWindow, public ::testing::WithParamInterface<FollowRow> {};

TEST_P(FollowDefault, OnWhenTheLastSampleIsRecent) {
  const FollowRow row = GetParam();
  ASSERT_TRUE(Opens(Header(1) + Samples(QDateTime::currentDateTime().addSecs(-row.ageSeconds), 5, 0, 1)));
  EXPECT_EQ(window.Following(), row.following);
  EXPECT_EQ(window.TimerSuivi()->isActive(), row.following);
  EXPECT_EQ(Status().endsWith(", following"), row.following) << Status().toStdString();
}

INSTANTIATE_TEST_SUITE_P(Ages, FollowDefault,
                         ::testing::Values(FollowRow{"now", 0, true}, FollowRow{"one_period", 1, true},
                                           FollowRow{"three_periods", 3, false}, FollowRow{"a_day", 86400, false}),
                         ByName);

// A large file is read a slice at a time between the window's events: the
// chart and status line grow as it reads, following is decided at the end.
TEST_F(ViewerWindow, ALargeFileIsReadASliceAtATime) {
  window.SetSliceBytes(4096);
  const QByteArray bytes = Header(2) + Samples(QDateTime::currentDateTime(), 3000);
  ASSERT_TRUE(Opens(bytes));
  EXPECT_TRUE(window.Reading());
  EXPECT_LT(window.Data().Samples(), 3000);
  EXPECT_TRUE(Status().contains(", reading: ")) << Status().toStdString();
  EXPECT_FALSE(window.Following()) << "decided once the last sample is read";
  int events = 0;
  QTimer tick;
  QObject::connect(&tick, &QTimer::timeout, [&] { ++events; });
  tick.start(0);
  ASSERT_TRUE(WaitUntil([&] { return !window.Reading(); }, 10000));
  EXPECT_GT(events, bytes.size() / 4096 / 2) << "the window went on between the slices";
  EXPECT_EQ(window.Data().Samples(), 3000);
  EXPECT_EQ(window.Series(0)->Samples(), 3000);
  EXPECT_TRUE(window.Following());
  EXPECT_TRUE(Status().contains("3000 samples")) << Status().toStdString();
  EXPECT_FALSE(Status().contains(", reading: ")) << Status().toStdString();
  EXPECT_TRUE(told.empty());
}

struct AfreshRow {
  const char *name;
  bool replace;  // a new file renamed over the old one, else the file cut shorter
  bool opening;  // while the file is still being read a slice at a time
};

class ReadAfresh : public ViewerWindow, public ::testing::WithParamInterface<AfreshRow> {};

TEST_P(ReadAfresh, TheUserIsToldAndTheNewContentShown) {
  const QDateTime now = QDateTime::currentDateTime();
  if (GetParam().opening) window.SetSliceBytes(600);
  ASSERT_TRUE(Opens(Header(2) + Samples(now, 50)));
  ASSERT_EQ(window.Reading(), GetParam().opening);
  ASSERT_EQ(window.Following(), !GetParam().opening);
  window.SetSeriesShown(1, false);
  const QByteArray shorter = Header(2) + Samples(now, 7);
  if (GetParam().replace) {
    Write(shorter, "new.txt");
    ASSERT_TRUE(QFile::remove(Path()));
    ASSERT_TRUE(QFile::rename(Path("new.txt"), Path()));
  } else {
    Write(shorter);
  }
  ASSERT_TRUE(StatusHas("2 sensors, 7 samples", 1500)) << Status().toStdString();
  EXPECT_FALSE(window.Reading());
  ExpectToldOnce(MessageKind::Information, "read afresh");
  // The chart draws the new data, and what was hidden stays hidden.
  ASSERT_NE(window.Series(0), nullptr);
  EXPECT_EQ(window.Series(0)->Samples(), 7);
  EXPECT_FALSE(window.Series(1)->visible());
  EXPECT_TRUE(window.Following());
}

INSTANTIATE_TEST_SUITE_P(Changes, ReadAfresh,
                         ::testing::Values(AfreshRow{"truncated", false, false}, AfreshRow{"replaced", true, false},
                                           AfreshRow{"truncated_while_opening", false, true},
                                           AfreshRow{"replaced_while_opening", true, true}),
                         ByName);

TEST_F(ViewerWindow, ASeriesIsHiddenByItsLegendItemOrItsBox) {
  ASSERT_TRUE(Opens(Header(3) + Line(QDateTime(QDate(2024, 5, 20), QTime(8, 0, 0)), {"1", "2", "3"}) +
                    Line(QDateTime(QDate(2024, 5, 20), QTime(8, 0, 1)), {"1", "2", "3"})));
  window.Graphique()->replot();
  auto *list = window.findChild<QListWidget *>("ListeCapteurs");
  ASSERT_EQ(list->count(), 3);
  EXPECT_EQ(list->item(1)->text(), "KV72500-A1 - 101");

  // The box in the list.
  list->item(1)->setCheckState(Qt::Unchecked);
  EXPECT_FALSE(window.Series(1)->visible());
  EXPECT_TRUE(window.Series(0)->visible());
  EXPECT_FALSE(window.ValuesAt(0).contains("KV72500-A1")) << "a hidden sensor has no value shown";

  // A click on the legend item of the third series.
  QCPAbstractLegendItem *item = window.Graphique()->legend->itemWithPlottable(window.Series(2));
  ASSERT_NE(item, nullptr);
  const QPointF centre = QRectF(item->rect()).center();
  for (const bool press : {true, false}) {
    QMouseEvent e(press ? QEvent::MouseButtonPress : QEvent::MouseButtonRelease, centre,
                  window.Graphique()->mapToGlobal(centre), Qt::LeftButton, press ? Qt::LeftButton : Qt::NoButton,
                  Qt::NoModifier);
    QCoreApplication::sendEvent(window.Graphique(), &e);
  }
  EXPECT_FALSE(window.Series(2)->visible());
  EXPECT_EQ(list->item(2)->checkState(), Qt::Unchecked);
  window.SetSeriesShown(2, true);
  EXPECT_EQ(list->item(2)->checkState(), Qt::Checked);
}

struct DateRow {
  const char *name;
  int written;          // the order the lines are written in
  const char *assumed;  // what the status line says at first
  DateOrder chosen;     // then chosen from the menu
  const char *first;    // the first time the status line shows then
};

class DateMenu : public ViewerWindow, public ::testing::WithParamInterface<DateRow> {};

TEST_P(DateMenu, ShowsTheOrderAssumedAndReadsWithTheChosenOne) {
  const DateRow row = GetParam();
  // 3 April 2024: 3/4/2024 is ambiguous; 20 April tells.
  const QDateTime t = row.written == 1 ? QDateTime(QDate(2024, 4, 20), QTime(10, 0, 0))
                                       : QDateTime(QDate(2024, 4, 3), QTime(10, 0, 0));
  ASSERT_TRUE(Opens(Header(2) + Samples(t, 3, row.written)));
  EXPECT_TRUE(Status().contains(row.assumed)) << Status().toStdString();
  window.DateAction(row.chosen)->trigger();
  EXPECT_TRUE(window.DateAction(row.chosen)->isChecked());
  EXPECT_TRUE(Status().contains("(chosen)")) << Status().toStdString();
  EXPECT_TRUE(Status().contains(row.first)) << Status().toStdString();
  EXPECT_EQ(window.Series(0)->Samples(), 3);
}

INSTANTIATE_TEST_SUITE_P(
    Orders, DateMenu,
    ::testing::Values(
        DateRow{"ambiguous_read_as_month_first", 0, "dates day/month/year (assumed)", DateMonthDayYear,
                "2024-03-04 09:59:58"},
        DateRow{"month_first_from_the_data", 1, "dates month/day/year (from the data)",
                DateMonthDayYear, "2024-04-20 09:59:58"},
        DateRow{"year_first_from_the_data", 2, "dates year/month/day (from the data)",
                DateYearMonthDay, "2024-04-03 09:59:58"}),
    ByName);

TEST_F(ViewerWindow, ZoomAndBackToTheWholeFile) {
  ASSERT_TRUE(Opens(Header(2) + Samples(QDateTime(QDate(2024, 1, 15), QTime(12, 0, 0)), 1000)));
  window.Graphique()->replot();
  const QCPRange whole = window.Graphique()->xAxis->range();
  const QPointF middle = window.Graphique()->axisRect()->rect().center();
  QWheelEvent wheel(middle, window.Graphique()->mapToGlobal(middle), QPoint(), QPoint(0, 360),
                    Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
  QCoreApplication::sendEvent(window.Graphique(), &wheel);
  EXPECT_TRUE(window.Zoomed());
  EXPECT_LT(window.Graphique()->xAxis->range().size(), 0.7 * whole.size());
  // Under the pointer: the time and each sensor's value.
  const QString under = window.ValuesAt(window.Series(0)->KeyOf(500));
  EXPECT_TRUE(under.contains("2024-01-15 11:51:41"));
  EXPECT_TRUE(under.contains("KV72500-A1 - 101: -500"));

  for (QAction *a : window.findChildren<QAction *>())
    if (a->text() == "&Whole file") a->trigger();
  EXPECT_FALSE(window.Zoomed());
  EXPECT_DOUBLE_EQ(window.Graphique()->xAxis->range().lower, whole.lower);
  EXPECT_DOUBLE_EQ(window.Graphique()->xAxis->range().upper, whole.upper);
  // By sample number the whole file is 0..999.
  window.SetKeyKind(TGraphAcquisition::KeyKind::SampleNumber);
  EXPECT_LE(window.Graphique()->xAxis->range().lower, 0);
  EXPECT_GE(window.Graphique()->xAxis->range().upper, 999);
}

TEST_F(ViewerWindow, TheFiguresOfASelectedRange) {
  QByteArray lines;
  const QDateTime t0(QDate(2024, 6, 1), QTime(0, 0, 0));
  // Sensor 0: 0..9; sensor 1: failed on odd samples, else 2 x i.
  for (int i = 0; i < 10; ++i)
    lines += Line(t0.addSecs(i), {QString::number(i), i % 2 ? QString() : QString::number(2 * i)});
  ASSERT_TRUE(Opens(Header(2) + lines));
  window.SelectRange(window.Series(0)->KeyOf(2), window.Series(0)->KeyOf(7));
  QTableWidget *table = window.TablePlage();
  ASSERT_EQ(table->rowCount(), 2);
  const char *expected[2][7] = {{"KV72500-A0 - 100", "6", "0", "2", "7", "4.5", "5"},
                                {"KV72500-A1 - 101", "6", "3", "4", "12", "8", "8"}};
  for (int r = 0; r < 2; ++r)
    for (int c = 0; c < 7; ++c)
      EXPECT_EQ(table->item(r, c)->text(), expected[r][c]) << "row " << r << " column " << c;
  // The selection is of samples: the other key axis keeps it.
  window.SetKeyKind(TGraphAcquisition::KeyKind::SampleNumber);
  EXPECT_EQ(table->item(1, 2)->text(), "3");
}

TEST_F(ViewerWindow, AFileThatCannotBeUsedIsNamedAndExportsWork) {
  EXPECT_FALSE(Opens("not an acquisition\r\n"));
  ExpectToldOnce(MessageKind::Error, "acq.txt");
  EXPECT_TRUE(Status().contains("acq.txt"));
  EXPECT_FALSE(window.Following());

  ASSERT_TRUE(Opens(Header(1) + Line(QDateTime(QDate(2024, 2, 1), QTime(1, 2, 3)), {"1"}) +
                    Line(QDateTime(QDate(2024, 2, 1), QTime(1, 2, 4)), {"2"})));
  EXPECT_TRUE(window.ExportPng(Path("view.png")));
  EXPECT_GT(QFileInfo(Path("view.png")).size(), 1000);
  EXPECT_TRUE(window.ExportPdf(Path("view.pdf")));
  EXPECT_GT(QFileInfo(Path("view.pdf")).size(), 1000);
  EXPECT_FALSE(window.ExportPng(Path("missing/view.png")));
  EXPECT_EQ(told.size(), 2u) << "the failed export is told";
}

// The chart draws through the series' min/max summary, so a replot costs
// about the same for any view of a long file. The goal is 2 ms on an idle
// machine; the bound here leaves room for a loaded one.
TEST_F(ViewerWindow, ReplotOfAnyViewDrawsTheSummary) {
  constexpr int SampleCount = 300000;
  QByteArray lines;
  lines.reserve(SampleCount * 40);
  const QDateTime t0(QDate(2025, 1, 10), QTime(0, 0, 0));
  for (int i = 0; i < SampleCount; ++i)
    // Slow waves with a little noise, as structures move with the day's
    // temperature (a curve filling the plot would time the painter, not the
    // chart).
    lines += Line(t0.addSecs(i), {QString::number(std::sin(i / 5000.0) + 0.01 * std::sin(i * 0.37), 'f', 3),
                                  QString::number(std::cos(i / 700.0), 'f', 3),
                                  QString::number(0.5 * std::sin(i / 20000.0) - 0.2, 'f', 3),
                                  i % 9973 == 5000 ? QString() : QString::number(i / 1e5, 'f', 3)});
  ASSERT_TRUE(Opens(Header(4) + lines));
  ASSERT_EQ(window.Data().Samples(), SampleCount);
  const QCPRange whole = window.Graphique()->xAxis->range();
  const double views[][2] = {{0.0, 1.0}, {0.25, 0.75}, {0.5, 0.5001}, {0.9, 1.0}};
  for (const auto &view : views) {
    window.Graphique()->xAxis->setRange(whole.lower + view[0] * whole.size(),
                                        whole.lower + view[1] * whole.size());
    std::vector<double> ms;
    for (int i = 0; i < 7; ++i) {
      QElapsedTimer clock;
      clock.start();
      window.Graphique()->replot(QCustomPlot::rpImmediateRefresh);
      ms.push_back(clock.nsecsElapsed() / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    std::printf("replot of %.4g..%.4g of %d samples x 4 sensors: median %.2f ms\n", view[0], view[1],
                SampleCount, ms[ms.size() / 2]);
    EXPECT_LT(ms[ms.size() / 2], 25.0) << "view " << view[0] << ".." << view[1];
  }
}

}  // namespace
