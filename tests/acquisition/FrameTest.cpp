// The acquisition run: a run driven tick by tick against simulated sensors,
// the file it leaves, the chart's axes and gestures, and the failures of the
// file.
#include <cmath>
#include <cstdlib>

#include <QApplication>
#include <QComboBox>
#include <QListWidget>
#include <QMouseEvent>
#include <QPrinterInfo>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QShortcut>
#include <QStandardPaths>
#include <QTextEdit>
#include <QTimer>
#include <QWheelEvent>
#include <qcustomplot.h>

#include "AccessibleText.h"
#include "AcquisitionFixture.h"
#include "CadreAcquisition.h"
#include "GraphAcquisition.h"

namespace {

class AcquisitionRun : public AcquisitionFixture {
 protected:
  void SetUp() override {
    AcquisitionFixture::SetUp();
    parent.resize(800, 500);
    dialog.FormShow();
  }

  // period seconds over minutes: the dialog as the user fills it.
  void Plan(const QString &period, const QString &minutes) {
    Type(dialog, "EditPeriode", period);
    Type(dialog, "EditDureeMin", minutes);
  }

  // A sensor whose port leads nowhere: every reading fails at once.
  TCapteur *AddDeadSensor(double fullScale) {
    qputenv("NIVELIX_COM9", "/nonexistent/tty");
    SensorData data;
    data.Family = 1;
    data.Reference = "KV72500-XX";
    data.SerialNumber = 9;
    data.Protocol = 0;
    data.FullScale = fullScale;
    return SensorList->AddSensor(data, 9);
  }

  // n ticks, each followed by what the event loop does before the next one
  // (a box posted by a tick opens then).
  static void Ticks(TFrameAcquisition &frame, int n) {
    for (int i = 0; i < n; ++i) {
      frame.TimerTimer();
      QCoreApplication::processEvents();
    }
  }

  static QCPRange Bottom(TFrameAcquisition &frame) { return frame.Graphique()->xAxis->range(); }

  QWidget parent;
  TConfigAcquisition dialog;
};

TEST_F(AcquisitionRun, ThreeSamplesOfTwoSensorsByteForByte) {
  AddSensorA(1, 523.599, "KV72500-AB", 111, 12.5);
  AddSensorA(2, 523.599, "KV72500-CD", 222, -3.25, "pier 2");
  Plan("20", "1");  // 3 samples, 20 s apart
  ASSERT_EQ(dialog.SampleCount(), 3);

  TFrameAcquisition frame(&parent, &dialog);
  int ended = 0;
  QObject::connect(&frame, &TFrameAcquisition::AcquisitionEnded, [&] { ++ended; });
  // The clock of each sample: the second one right at midnight.
  const QDateTime times[] = {QDateTime(QDate(2007, 3, 5), QTime(23, 59, 59, 999)),
                             QDateTime(QDate(2007, 3, 6), QTime(0, 0, 0)),
                             QDateTime(QDate(2007, 3, 6), QTime(9, 4, 7))};
  int sample = 0;
  frame.SetClock([&] { return times[std::min(sample++, 2)]; });

  EXPECT_FALSE(frame.Running()) << "the timer waits for the header";
  ASSERT_FALSE(frame.WriteHeader());
  EXPECT_TRUE(frame.Running());

  Settings.DateFormat = DateDayMonthYear;
  Ticks(frame, 19);
  EXPECT_EQ(frame.Series(0)->Samples(), 0) << "the first sample comes one period after the start";
  Ticks(frame, 1);
  EXPECT_EQ(frame.Series(0)->Samples(), 1);
  Settings.DateFormat = DateMonthDayYear;
  bus->SetFault(1, nivsim::Fault::WrongChecksum);
  Ticks(frame, 20);
  bus->ClearFault(1);
  Settings.DateFormat = DateYearMonthDay;
  EXPECT_EQ(ended, 0);
  Ticks(frame, 20);

  EXPECT_EQ(ended, 1);
  EXPECT_FALSE(frame.Running());
  EXPECT_EQ(frame.Title(), "Acquisition finished");
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(Contents(Path("acq.txt")),
            QByteArray("Acquisition file generated with Nivelix V3.6.2.\r\n"
                       "Unit : mRad\r\n"
                       "KV72500-AB - 111 : \tNo comment.\r\n"
                       "KV72500-CD - 222 : \tpier 2.\r\n"
                       "Inclinometer\tKV72500-AB - 111\tKV72500-CD - 222\r\n"
                       "5/3/2007 23:59:59\t12.50\t-3.25\r\n"
                       "3/6/2007 0:0:0\t12.50\t\r\n"
                       "2007/3/6 9:4:7\t12.50\t-3.25\r\n"));
  // On the chart the failed reading is a gap.
  EXPECT_EQ(frame.Series(1)->Samples(), 3);
  EXPECT_TRUE(std::isnan(frame.Series(1)->Value(1)));
  EXPECT_DOUBLE_EQ(frame.Series(1)->Value(2), -3.25);
  EXPECT_EQ(Bottom(frame).lower, 0);
  EXPECT_EQ(Bottom(frame).upper, 2);
}

TEST_F(AcquisitionRun, AxesFollowZoomAndSelection) {
  // Three sensors: the widest full scale sets the angle axis.
  AddDeadSensor(52.35988)->Comment = "first";
  AddDeadSensor(523.599)->Comment = "second";
  AddDeadSensor(253.0727);
  Plan("1", "5");
  TFrameAcquisition frame(&parent, &dialog);
  parent.show();
  QApplication::sendPostedEvents();
  QCustomPlot *chart = frame.Graphique();
  ASSERT_GT(chart->width(), 300);
  EXPECT_EQ(chart->yAxis->range().lower, -523.599);
  EXPECT_EQ(chart->yAxis->range().upper, 523.599);
  auto ticker = chart->yAxis->ticker().dynamicCast<QCPAxisTickerFixed>();
  ASSERT_TRUE(ticker);
  EXPECT_NEAR(ticker->tickStep(), 52.3599, 1e-9);
  EXPECT_EQ(chart->yAxis->label(), "Angle (mRad)");
  EXPECT_EQ(frame.findChild<QListWidget *>("ListCapteurs")->item(1)->text(),
            QString::fromUtf8("KV72500-XX n°9"));

  ASSERT_FALSE(frame.WriteHeader());
  frame.Timer()->stop();
  Ticks(frame, 150);
  EXPECT_EQ(Bottom(frame).lower, 49);
  EXPECT_EQ(Bottom(frame).upper, 149);
  EXPECT_TRUE(std::isnan(frame.Series(0)->Value(149))) << "failed readings are gaps";

  // The wheel zooms; the view then stays put while samples arrive.
  chart->replot();
  const QPointF centre = chart->axisRect()->center();
  QWheelEvent wheel(centre, chart->mapToGlobal(centre), QPoint(), QPoint(0, 240), Qt::NoButton,
                    Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(chart, &wheel);
  EXPECT_TRUE(frame.Zoomed());
  const QCPRange zoomed = Bottom(frame);
  EXPECT_LT(zoomed.size(), 100.0);
  EXPECT_NEAR(ticker->tickStep(), chart->yAxis->range().size() / 20, 1e-9);
  Ticks(frame, 10);
  EXPECT_EQ(Bottom(frame), zoomed);
  EXPECT_EQ(frame.Series(2)->Samples(), 160);

  // Undo zoom: following again.
  frame.GraphiqueUndoZoom();
  EXPECT_FALSE(frame.Zoomed());
  EXPECT_EQ(Bottom(frame).lower, 59);
  EXPECT_EQ(Bottom(frame).upper, 159);
  EXPECT_EQ(chart->yAxis->range().upper, 523.599);

  // A rubber band drawn left to right zooms, right to left undoes it.
  chart->replot();
  auto drag = [&](QPointF from, QPointF to) {
    QMouseEvent press(QEvent::MouseButtonPress, from, chart->mapToGlobal(from), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QMouseEvent move(QEvent::MouseMove, to, chart->mapToGlobal(to), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, to, chart->mapToGlobal(to), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(chart, &press);
    QApplication::sendEvent(chart, &move);
    QApplication::sendEvent(chart, &release);
  };
  drag(centre - QPointF(60, 40), centre + QPointF(60, 40));
  EXPECT_TRUE(frame.Zoomed());
  EXPECT_LT(Bottom(frame).size(), 100.0);
  drag(centre + QPointF(60, 40), centre - QPointF(60, 40));
  EXPECT_FALSE(frame.Zoomed());
  EXPECT_EQ(Bottom(frame).upper, 159);

  // Selecting a sensor thickens its curve only and shows its comment.
  auto *list = frame.findChild<QListWidget *>("ListCapteurs");
  list->setCurrentRow(1);
  EXPECT_EQ(frame.Series(0)->pen().width(), 1);
  EXPECT_EQ(frame.Series(1)->pen().width(), 2);
  EXPECT_EQ(frame.Series(2)->pen().width(), 1);
  EXPECT_EQ(frame.findChild<QTextEdit *>("RichEdit")->toPlainText(), "second");
  list->clearSelection();
  for (int i = 0; i < 3; ++i) EXPECT_EQ(frame.Series(i)->pen().width(), 1);

  // Stop (Escape) ends the run; the chart can still be saved.
  int ended = 0;
  QObject::connect(&frame, &TFrameAcquisition::AcquisitionEnded, [&] { ++ended; });
  QShortcut *escape = frame.findChild<QShortcut *>();
  ASSERT_NE(escape, nullptr);
  EXPECT_EQ(escape->key(), QKeySequence(Qt::Key_Escape));
  emit escape->activated();
  EXPECT_EQ(ended, 1);
  EXPECT_EQ(frame.Title(), "Acquisition finished");
  const QByteArray before = Contents(Path("acq.txt"));
  EXPECT_EQ(before.count("\r\n"), 6 + 160);
  ASSERT_TRUE(frame.SaveChartPdf(Path("chart.pdf")));
  EXPECT_TRUE(Contents(Path("chart.pdf")).startsWith("%PDF"));
  EXPECT_FALSE(frame.SaveChartPdf(Path("nofolder/chart.pdf")));
  if (QPrinterInfo::defaultPrinter().isNull()) {
    answer = QMessageBox::No;
    frame.BoutImprimeClick();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].first, MessageKind::Confirmation);
  }
}

// A duration shorter than the period counts 0 samples; the run still takes
// exactly one, one period after the start, and a screen reader hears that
// it has ended.
TEST_F(AcquisitionRun, ShorterThanOnePeriodTakesExactlyOneSample) {
  AddDeadSensor(523.599);
  Plan("120", "1");
  ASSERT_EQ(dialog.SampleCount(), 0);
  TFrameAcquisition frame(&parent, &dialog);
  EXPECT_EQ(AccessibleText(frame.Graphique()), "Acquisition");
  EXPECT_EQ(AccessibleText(frame.Graphique(), QAccessible::Description), "Acquisition chart");
  ASSERT_FALSE(frame.WriteHeader());
  frame.Timer()->stop();
  Ticks(frame, 119);
  EXPECT_EQ(frame.Series(0)->Samples(), 0);
  Ticks(frame, 1);
  EXPECT_EQ(frame.Series(0)->Samples(), 1);
  EXPECT_FALSE(frame.Running());
  EXPECT_EQ(Contents(Path("acq.txt")).count("\r\n"), 4 + 1) << "header and one sample line";
  EXPECT_EQ(AccessibleText(frame.Graphique()), "Acquisition finished");
}

// The chart printed to PDF: a landscape page; every word of it (title, axis
// titles, tick labels) lies on the page at a size read on screen, not
// blown up to the printer's dots.
TEST_F(AcquisitionRun, PrintedChartWordsLieOnThePageAtScreenSize) {
  if (QStandardPaths::findExecutable("pdftotext").isEmpty())
    GTEST_SKIP() << "pdftotext (poppler-utils, scripts/install-deps.sh) is not installed";
  AddDeadSensor(523.599);
  AddDeadSensor(52.35988);
  Plan("1", "5");
  TFrameAcquisition frame(&parent, &dialog);
  parent.show();
  QApplication::sendPostedEvents();
  ASSERT_FALSE(frame.WriteHeader());
  frame.Timer()->stop();
  Ticks(frame, 150);
  ASSERT_TRUE(frame.SaveChartPdf(Path("chart.pdf")));

  QProcess pdftotext;
  pdftotext.start("pdftotext", {"-bbox", Path("chart.pdf"), "-"});
  ASSERT_TRUE(pdftotext.waitForFinished(20000));
  const QString boxes = QString::fromUtf8(pdftotext.readAllStandardOutput());
  const QRegularExpressionMatch page =
      QRegularExpression(R"re(<page width="([\d.]+)" height="([\d.]+)")re").match(boxes);
  ASSERT_TRUE(page.hasMatch()) << boxes.toStdString();
  const double width = page.captured(1).toDouble(), height = page.captured(2).toDouble();
  EXPECT_GT(width, height) << "landscape";
  QStringList words;
  const QRegularExpression word(
      R"re(<word xMin="([-\d.]+)" yMin="([-\d.]+)" xMax="([-\d.]+)" yMax="([-\d.]+)">([^<]*)</word>)re");
  for (auto it = word.globalMatch(boxes); it.hasNext();) {
    const QRegularExpressionMatch m = it.next();
    const double x0 = m.captured(1).toDouble(), y0 = m.captured(2).toDouble();
    const double x1 = m.captured(3).toDouble(), y1 = m.captured(4).toDouble();
    const std::string text = m.captured(5).toStdString();
    words << m.captured(5);
    EXPECT_TRUE(x0 >= 0 && y0 >= 0 && x1 <= width && y1 <= height) << text << " off the page";
    // The angle axis's title runs upwards: its letters' height is its width.
    const double letters = std::min(x1 - x0, y1 - y0);
    EXPECT_LE(letters, 0.05 * height) << text << " is " << letters << " pt tall";
  }
  for (const char *expected : {"Acquisition", "Samples", "number", "Angle", "(mRad)", "-523.599", "140"})
    EXPECT_TRUE(words.contains(expected)) << expected << " missing from " << words.join(' ').toStdString();
}

TEST_F(AcquisitionRun, HeaderFailuresLeaveNoRun) {
  AddDeadSensor(523.599);
  QString frameStatus;
  for (const QString &path : {Path("nofolder/acq.txt"), QString("/dev/full"), Folder()}) {
    messages.clear();
    Type(dialog, "EditEnregistre", path);
    TFrameAcquisition frame(&parent, &dialog);
    EXPECT_TRUE(frame.WriteHeader()) << path.toStdString();
    frameStatus = frame.StatusText();
    EXPECT_FALSE(frame.Running());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].first, MessageKind::Error);
    EXPECT_EQ(messages[0].second, "Problems when writing acquisition");
  }
  EXPECT_EQ(frameStatus, Langue(TxtAcqStatusHeader).arg(QDir::toNativeSeparators(Folder()), "a folder, not a file"));
  EXPECT_FALSE(QDir(Path("nofolder")).exists());
}

TEST_F(AcquisitionRun, FileDeletedDuringTheRunIsNotCreatedAgain) {
  AddSensorA(1, 523.599, "KV72500-AB", 111, 12.5);
  Plan("1", "1");
  TFrameAcquisition frame(&parent, &dialog);
  ASSERT_FALSE(frame.WriteHeader());
  frame.Timer()->stop();
  Ticks(frame, 1);
  EXPECT_TRUE(messages.empty());
  ASSERT_TRUE(QFile::remove(Path("acq.txt")));
  Ticks(frame, 3);
  EXPECT_EQ(MessagesWith(TxtAcqWriteProblem), 1) << "one message for the trouble";
  EXPECT_FALSE(QFile::exists(Path("acq.txt")));
  EXPECT_EQ(frame.Series(0)->Samples(), 4) << "the run goes on";
  // Stopped, the frame offers the lines; kept (this answer is neither Save
  // nor Discard), they are tried again: the user makes the file again and
  // the three waiting lines go to it.
  frame.BoutStopClick();
  QCoreApplication::processEvents();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[1].second, Langue(TxtAcqOfferEnded).arg(3).arg(QDir::toNativeSeparators(Path("acq.txt")),
                                                                    Langue(TxtAcqCauseFileDeleted)));
  ASSERT_TRUE(QFile(Path("acq.txt")).open(QIODevice::WriteOnly));
  EXPECT_TRUE(WaitUntil([&] { return frame.File().Waiting() == 0; }, 5000));
  EXPECT_EQ(Contents(Path("acq.txt")).count("\t12.50\r\n"), 3);
}

// Real boxes over a trouble that lasts 30 samples: the write-failure box
// comes once, sampling goes on under it, Stop is reached once it is closed
// and the lines waiting are offered in one more box.
TEST_F(AcquisitionRun, OneWriteFailureBoxForATroubleAndStopReached) {
  AddDeadSensor(523.599);
  Plan("1", "2");
  TFrameAcquisition frame(&parent, &dialog);
  ASSERT_FALSE(frame.WriteHeader());
  ASSERT_TRUE(QFile::remove(Path("acq.txt")));
  // The run's own timer, faster than a second: it must keep firing while a
  // write-failure box is open.
  frame.Timer()->setInterval(20);

  SetMessageAnswerer({});
  auto openBoxes = [] {
    QList<QMessageBox *> open;
    for (QWidget *w : QApplication::topLevelWidgets())
      if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible()) open.append(box);
    return open;
  };
  int mostOpen = 0, tickAtOpen = -1, ticksUnderBox = 0;
  QStringList opened;
  // Each write-failure box is closed once the run has ticked three more
  // times under it; the offer is answered with Discard.
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [&] {
    const QList<QMessageBox *> open = openBoxes();
    mostOpen = std::max(mostOpen, int(open.size()));
    if (open.isEmpty()) return;
    QMessageBox *box = open.first();
    if (tickAtOpen < 0) {
      tickAtOpen = frame.TickCount();
      opened << box->text();
    }
    if (QAbstractButton *discard = box->button(QMessageBox::Discard)) {
      tickAtOpen = -1;
      discard->click();
      return;
    }
    if (frame.TickCount() < tickAtOpen + 3) return;
    ticksUnderBox = frame.TickCount() - tickAtOpen;
    tickAtOpen = -1;
    box->button(QMessageBox::Ok)->click();
  });
  closer.start(5);
  EXPECT_TRUE(WaitUntil([&] { return frame.TickCount() >= 30 && openBoxes().isEmpty(); }, 20000));
  EXPECT_TRUE(frame.Running());
  frame.findChild<QPushButton *>("BoutStop")->click();
  EXPECT_FALSE(frame.Running()) << "Stop was reached";
  EXPECT_TRUE(WaitUntil([&] { return opened.size() >= 2 && openBoxes().isEmpty(); }, 10000));
  closer.stop();
  ASSERT_EQ(opened.size(), 2) << opened.join('|').toStdString();
  EXPECT_EQ(opened[0], Langue(TxtAcqWriteProblem));
  EXPECT_TRUE(opened[1].startsWith(Langue(TxtAcqOfferEnded).section("%1", 0, 0)));
  EXPECT_EQ(mostOpen, 1);
  EXPECT_GE(ticksUnderBox, 3) << "sampling went on under the box";
  EXPECT_GE(frame.Series(0)->Samples(), 30);
  EXPECT_FALSE(QFile::exists(Path("acq.txt")));
  EXPECT_EQ(frame.File().Waiting(), 0);
  EXPECT_EQ(frame.StatusText(), Langue(TxtAcqStatusDiscarded)
                                    .arg(frame.Series(0)->Samples())
                                    .arg(QDir::toNativeSeparators(Path("acq.txt"))));
}

TEST_F(AcquisitionRun, AnUnknownUnitInTheSettingsRecordsInMRad) {
  Settings.AngleUnit = 7;
  AddSensorA(1, 523.599, "KV72500-AB", 111, 12.5);
  Plan("1", "1");
  TFrameAcquisition frame(&parent, &dialog);
  EXPECT_EQ(frame.Graphique()->yAxis->label(), "Angle (mRad)");
  ASSERT_FALSE(frame.WriteHeader());
  frame.Timer()->stop();
  Ticks(frame, 1);
  const QByteArray file = Contents(Path("acq.txt"));
  EXPECT_TRUE(file.contains("\r\nUnit : mRad\r\n"));
  EXPECT_TRUE(file.endsWith("\t12.50\r\n")) << file.toStdString();
}

}  // namespace
