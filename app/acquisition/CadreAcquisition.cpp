#include "CadreAcquisition.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QListWidget>
#include <QMainWindow>
#include <QPageLayout>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPointer>
#include <QPushButton>
#include <QShortcut>
#include <QStatusBar>
#include <QSplitter>
#include <QStyle>
#include <QTextEdit>
#include <QTimer>
#include <QVBoxLayout>

#include "Annonce.h"
#include "BarreEtat.h"
#include "DiagnosticPort.h"
#include "DialogConfigAcqu.h"
#include "GraphAcquisition.h"
#include "ListeCapteurs.h"
#include "Messages.h"
#include "TextePort.h"
#include "UtilCapt.h"
#include "globales.h"
#include "Icones.h"
#include "ImpressionGraphique.h"
#include "langue.h"

namespace {

constexpr int TimerIntervalMs = 1000;
// A box of this frame that waits for another window's box looks again after
// this long.
constexpr int BoxWaitMs = 200;
constexpr int LeftPanelWidth = 145;
constexpr int CommentHeight = 79;
constexpr int SplitterWidth = 3;
constexpr int ButtonWidth = 75, ButtonHeight = 25;
constexpr int TitlePixels = 21;
// Labels on the angle axis: its height in 20 steps.
constexpr double LeftAxisSteps = 20.0;
// A rubber band smaller than this (pixels) is a click, not a zoom.
constexpr int MinimumBand = 4;

// The series colours, in series order, cycled beyond the last.
const QColor SeriesColours[] = {
    QColor(255, 0, 0),   QColor(0, 128, 0),   QColor(0, 0, 255),     QColor(200, 160, 0),
    QColor(128, 0, 128), QColor(0, 128, 128), QColor(128, 128, 128), QColor(255, 0, 255),
    QColor(0, 0, 128),   QColor(128, 0, 0),   QColor(0, 200, 0),     QColor(128, 128, 0),
};

const TlistCapteur &EmptyList() {
  static const TlistCapteur empty;
  return empty;
}

QString SensorCaption(const TCapteur &sensor) {
  return QString::fromStdString(sensor.Data.Reference) + Langue(TxtAcqNumero) +
         QString::number(sensor.Data.SerialNumber);
}

}  // namespace

TFrameAcquisition::TFrameAcquisition(QWidget *parent, const TConfigAcquisition *config)
    : QFrame(parent), m_config(config ? config : TConfigAcquisition::Instance()) {
  setObjectName("FrameAcquisition");
  // A settings file can hold a unit the program does not know; its readings
  // would then all be written as empty fields. They are recorded in mRad, the
  // unit the sensors give, and the file's header says so.
  m_unit = DisplayUnit();
  m_clock = [] { return QDateTime::currentDateTime(); };
  CreateControls();
  CreateChart();
  ConnectControls();
  if (parent) {
    setGeometry(parent->rect());
    parent->installEventFilter(this);
  }
  m_timer = new QTimer(this);
  m_timer->setObjectName("Timer");
  m_timer->setInterval(TimerIntervalMs);
  connect(m_timer, &QTimer::timeout, this, &TFrameAcquisition::TimerTimer);
  m_retryTimer = new QTimer(this);
  m_retryTimer->setInterval(TimerIntervalMs);
  connect(m_retryTimer, &QTimer::timeout, this, &TFrameAcquisition::WriteWaitingLines);
}

TFrameAcquisition::~TFrameAcquisition() {
  if (parentWidget()) parentWidget()->removeEventFilter(this);
  // A count of waiting lines goes with the lines: the status bar never
  // counts lines that are no longer kept anywhere.
  if (m_statusCountsWaiting)
    if (auto *main = qobject_cast<QMainWindow *>(window()))
      if (main->statusBar()->currentMessage() == m_statusText) main->statusBar()->clearMessage();
}

void TFrameAcquisition::CreateControls() {
  m_splitter1 = new QSplitter(Qt::Horizontal, this);
  m_splitter1->setObjectName("Splitter1");
  m_splitter1->setHandleWidth(SplitterWidth);
  m_splitter1->setChildrenCollapsible(false);

  m_panel1 = new QWidget(m_splitter1);
  m_panel1->setObjectName("Panel1");
  m_splitter2 = new QSplitter(Qt::Vertical, m_panel1);
  m_splitter2->setObjectName("Splitter2");
  m_splitter2->setHandleWidth(SplitterWidth);
  m_splitter2->setChildrenCollapsible(false);
  m_listCapteurs = new QListWidget(m_splitter2);
  m_listCapteurs->setObjectName("ListCapteurs");
  m_listCapteurs->setSelectionMode(QAbstractItemView::SingleSelection);
  m_listCapteurs->setAccessibleName(Langue(TxtAcqAccSensors));
  m_richEdit = new QTextEdit(m_splitter2);
  m_richEdit->setObjectName("RichEdit");
  m_richEdit->setReadOnly(true);
  m_richEdit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  m_richEdit->setAccessibleName(Langue(TxtAcqAccComment));
  m_splitter2->setStretchFactor(0, 1);
  m_splitter2->setStretchFactor(1, 0);
  auto *panelLayout = new QVBoxLayout(m_panel1);
  panelLayout->setContentsMargins(0, 0, 0, 0);
  panelLayout->addWidget(m_splitter2);

  m_panelGraph = new QWidget(m_splitter1);
  m_panelGraph->setObjectName("PanelGraph");
  m_graphique = new QCustomPlot(m_panelGraph);
  m_graphique->setObjectName("Graphique");
  // The chart's title is its accessible name (Annonce.h), so that the end
  // of the run is heard.
  m_graphique->setAccessibleDescription(Langue(TxtAcqAccChart));
  auto *graphLayout = new QVBoxLayout(m_panelGraph);
  graphLayout->setContentsMargins(0, 0, 0, 0);
  graphLayout->addWidget(m_graphique);

  m_splitter1->setStretchFactor(0, 0);
  m_splitter1->setStretchFactor(1, 1);
  m_splitter1->setSizes({LeftPanelWidth, 443 - LeftPanelWidth});
  m_splitter2->setSizes({277 - CommentHeight, CommentHeight});
  auto *layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(m_splitter1);

  // The buttons lie over the chart's top left corner.
  m_boutStop = new QPushButton(SharedStandardIcon(QStyle::SP_MediaStop), Langue(TxtAcqStop),
                               m_graphique);
  m_boutStop->setObjectName("BoutStop");
  m_boutImprime = new QPushButton(SharedStandardIcon(QStyle::SP_FileDialogDetailedView),
                                  Langue(TxtAcqPrint), m_graphique);
  m_boutImprime->setObjectName("BoutImprime");
  int x = 8;
  for (QPushButton *b : {m_boutStop, m_boutImprime}) {
    b->setAccessibleName(b->text().remove('&'));
    const QSize hint = b->sizeHint();
    b->setGeometry(x, 8, std::max(ButtonWidth, hint.width()), std::max(ButtonHeight, hint.height()));
    x = std::max(96, b->geometry().right() + 13);
  }
}

void TFrameAcquisition::CreateChart() {
  QCustomPlot *g = m_graphique;
  g->setBackground(Qt::white);
  g->legend->setVisible(false);
  g->xAxis2->setVisible(false);
  g->yAxis2->setVisible(false);

  g->plotLayout()->insertRow(0);
  QFont titleFont = font();
  titleFont.setPixelSize(TitlePixels);
  m_title = new QCPTextElement(g, Langue(TxtAcqTitle), titleFont);
  m_title->setTextColor(Qt::blue);
  g->plotLayout()->addElement(0, 0, m_title);
  AnnounceText(g, m_title->text());

  // The bottom axis runs across the middle of the plot: its offset from the
  // bottom edge is set to half the plot's height once the layout is known.
  QCPAxisRect *rect = g->axisRect();
  rect->setAutoMargins(QCP::msLeft | QCP::msTop | QCP::msRight);
  rect->setMargins(QMargins(0, 0, 0, 12));
  connect(g, &QCustomPlot::afterLayout, this,
          [this] { m_graphique->xAxis->setOffset(-m_graphique->axisRect()->height() / 2); });

  g->xAxis->setLabel(Langue(TxtAcqSamplesNumber));
  g->xAxis->setRange(0, 1);
  g->yAxis->setLabel(Langue(TxtAcqAngle) + " (" + QString::fromStdString(AngleUnitName(m_unit)) +
                     ")");
  auto ticker = QSharedPointer<QCPAxisTickerFixed>::create();
  ticker->setScaleStrategy(QCPAxisTickerFixed::ssNone);
  g->yAxis->setTicker(ticker);

  // Gestures: the rubber band and the wheel are handled here, so that every
  // zoom or scroll reaches GraphiqueZoom.
  g->setInteractions(QCP::Interactions());
  g->setSelectionRectMode(QCP::srmCustom);
  g->setNoAntialiasingOnDrag(true);

  const TlistCapteur &sensors = Sensors();
  double runningMax = 0.0;
  for (int i = 0; i < sensors.Count(); ++i) {
    const TCapteur &sensor = *sensors.GetSensor(i);
    m_listCapteurs->addItem(SensorCaption(sensor));
    auto *series = new TGraphAcquisition(g->xAxis, g->yAxis);
    series->setPen(QPen(SeriesColours[static_cast<std::size_t>(i) % std::size(SeriesColours)], 1));
    m_series.push_back(series);
    const double f = ConvertAngle(m_unit, sensor.Data.FullScale);
    if (i == 0 || f > runningMax) runningMax = f;
  }
  m_axisRange = runningMax;
  g->yAxis->setRange(-ShownAxisRange(), ShownAxisRange());
  SetLeftIncrement(ShownAxisRange() * 2 / LeftAxisSteps);
}

void TFrameAcquisition::ConnectControls() {
  connect(m_boutStop, &QPushButton::clicked, this, &TFrameAcquisition::BoutStopClick);
  connect(m_boutImprime, &QPushButton::clicked, this, &TFrameAcquisition::BoutImprimeClick);
  connect(m_listCapteurs, &QListWidget::itemSelectionChanged, this,
          &TFrameAcquisition::ListCapteursClick);
  auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  escape->setContext(Qt::WindowShortcut);
  connect(escape, &QShortcut::activated, this, &TFrameAcquisition::BoutStopClick);
  connect(m_graphique, &QCustomPlot::mousePress, this, &TFrameAcquisition::ChartMousePress);
  connect(m_graphique, &QCustomPlot::mouseMove, this, &TFrameAcquisition::ChartMouseMove);
  connect(m_graphique, &QCustomPlot::mouseWheel, this, &TFrameAcquisition::ChartWheel);
  connect(m_graphique, &QCustomPlot::mouseDoubleClick, this,
          [this](QMouseEvent *) { GraphiqueUndoZoom(); });
  connect(m_graphique->selectionRect(), &QCPSelectionRect::accepted, this,
          &TFrameAcquisition::ChartRubberBand);
}

bool TFrameAcquisition::eventFilter(QObject *watched, QEvent *event) {
  if (watched == parentWidget() && event->type() == QEvent::Resize)
    setGeometry(parentWidget()->rect());
  return QFrame::eventFilter(watched, event);
}

// ---- Settings of the run ---------------------------------------------------

const TlistCapteur &TFrameAcquisition::Sensors() const {
  return SensorList ? *SensorList : EmptyList();
}

int32_t TFrameAcquisition::PeriodSeconds() const {
  return m_config ? std::max<int32_t>(1, m_config->PeriodSeconds()) : 1;
}

int32_t TFrameAcquisition::SampleCount() const { return m_config ? m_config->SampleCount() : 1; }

QString TFrameAcquisition::FilePath() const { return m_config ? m_config->FilePath() : QString(); }

double TFrameAcquisition::ShownAxisRange() const {
  // Without a sensor (a scan that found none still leaves the command
  // enabled) the range would be empty and the axis could place no label.
  return m_axisRange > 0.0 && std::isfinite(m_axisRange) ? m_axisRange : 1.0;
}

bool TFrameAcquisition::Running() const { return m_timer->isActive(); }

TGraphAcquisition *TFrameAcquisition::Series(int index) const {
  return index >= 0 && static_cast<std::size_t>(index) < m_series.size()
             ? m_series[static_cast<std::size_t>(index)]
             : nullptr;
}

QString TFrameAcquisition::Title() const { return m_title->text(); }

// ---- The file ----------------------------------------------------------------

void TFrameAcquisition::ReportWriteProblem(WriteCause cause) {
  // One box for a trouble: a disk that stays full is said once, not at every
  // sample, and Stop stays within reach. The status bar goes on saying what
  // happens.
  if (cause == m_boxCause) return;
  m_boxCause = cause;
  m_writeBoxPending = true;
  PostPendingBox();
}

void TFrameAcquisition::PostPendingBox() {
  // The box is opened once this tick's work is done, from the event loop:
  // a box opened inside the timer's slot would hold the timer until it is
  // closed, and an unattended night would lose every sample after it.
  QMetaObject::invokeMethod(this, [this] { ShowPendingBox(); }, Qt::QueuedConnection);
}

void TFrameAcquisition::ShowPendingBox() {
  if (m_boxOpen) return;  // asked again when it closes
  if (MessageShowing()) {
    // Another window's box: boxes never stack, this one waits for it.
    QTimer::singleShot(BoxWaitMs, this, [this] { ShowPendingBox(); });
    return;
  }
  QPointer<TFrameAcquisition> self(this);
  m_boxOpen = true;
  if (m_offerPending) {
    // The offer names the trouble: no write-failure box before it.
    m_offerPending = false;
    m_writeBoxPending = false;
    OfferWaitingLines(false);
  } else if (m_writeBoxPending) {
    m_writeBoxPending = false;
    ShowMessage(MessageKind::Error, Langue(TxtAcqWriteProblem), QMessageBox::Ok, this);
  }
  if (!self) return;
  m_boxOpen = false;
  if (m_offerPending || m_writeBoxPending) ShowPendingBox();
}

QString TFrameAcquisition::Counted(LangueId one, LangueId many, int64_t lines) {
  return lines == 1 ? Langue(one) : Langue(many).arg(lines);
}

void TFrameAcquisition::OfferWaitingLines(bool discarding) {
  QMessageBox::StandardButtons buttons = QMessageBox::Save | QMessageBox::Discard;
  if (!discarding) buttons |= QMessageBox::Retry;
  while (m_file.Waiting() > 0) {
    const QString text =
        discarding ? Counted(TxtAcqOfferDiscardOne, TxtAcqOfferDiscard, m_file.Waiting())
                   : Counted(TxtAcqOfferEndedOne, TxtAcqOfferEnded, m_file.Waiting());
    QPointer<TFrameAcquisition> self(this);
    const QMessageBox::StandardButton answer =
        ShowMessage(MessageKind::Warning, text.arg(ShownPath(), WriteCauseText(m_cause)), buttons, this);
    if (!self) return;
    // The retries go on under the box: what waited may be written by now.
    if (m_file.Waiting() == 0) return;
    if (answer == QMessageBox::Save) {
      if (SaveWaitingLines()) return;
      continue;
    }
    // Kept, they go on waiting and the frame goes on trying them every
    // second; they are offered again when the frame is discarded. A box
    // closed without an answer keeps them too, but the frame about to go has
    // nothing to keep them in: only Save and Discard can close that box.
    if (!discarding && answer != QMessageBox::Discard) return;
    DiscardWaitingLines();
    return;
  }
}

bool TFrameAcquisition::SaveWaitingLines() {
  const QFileInfo file(FilePath());
  // The file's own folder when it is still there, where the user may put
  // the file back; the working folder otherwise.
  const QDir folder = file.absoluteDir().exists() ? file.absoluteDir() : QDir::current();
  const QString path = AskSaveFileName(Langue(TxtAcqSaveTitle), folder.filePath(file.fileName()),
                                       Langue(TxtAcqTxtFilter) + ";;" + Langue(TxtAcqAllFilter), this);
  if (path.isEmpty()) return false;
  // The header and every waiting line in one write: the file holds all of
  // them or, cut back, none.
  TFichierAcquisition saved;
  const WriteResult result = saved.Create(path, m_header + m_file.WaitingText());
  if (result.Failed()) {
    ShowMessage(MessageKind::Error,
                Langue(TxtAcqSaveProblem).arg(QDir::toNativeSeparators(path), WriteCauseText(result.cause)),
                QMessageBox::Ok, this);
    return false;
  }
  const int64_t lines = m_file.Waiting();
  m_file.ForgetWaiting();
  m_retryTimer->stop();
  ShowStatus(Counted(TxtAcqStatusSavedOne, TxtAcqStatusSaved, lines).arg(QDir::toNativeSeparators(path)));
  return true;
}

void TFrameAcquisition::DiscardWaitingLines() {
  const int64_t lines = m_file.Waiting();
  m_file.ForgetWaiting();
  m_retryTimer->stop();
  ShowStatus(Counted(TxtAcqStatusDiscardedOne, TxtAcqStatusDiscarded, lines).arg(ShownPath()));
}

void TFrameAcquisition::SettleWaitingLines() {
  m_timer->stop();
  m_offerPending = false;
  m_writeBoxPending = false;
  if (m_file.Waiting() > 0) WriteWaitingLines();
  if (m_file.Waiting() > 0) OfferWaitingLines(true);
  m_retryTimer->stop();
}

void TFrameAcquisition::ShowStatus(const QString &text, bool countsWaiting) {
  m_statusText = text;
  m_statusCountsWaiting = countsWaiting;
  // The main window's status bar, reached through the widget tree: the
  // frame knows no more of the window that holds it.
  if (auto *main = qobject_cast<QMainWindow *>(window())) main->statusBar()->showMessage(text);
}

QString TFrameAcquisition::ShownPath() const { return QDir::toNativeSeparators(FilePath()); }

void TFrameAcquisition::ShowWriteStatus(const WriteResult &result, int64_t caughtUp) {
  QString text;
  if (result.Failed()) {
    const int64_t n = result.linesWaiting;
    text = n == 1 ? Langue(TxtAcqStatusWaitingOne).arg(ShownPath(), WriteCauseText(result.cause))
                  : Langue(TxtAcqStatusWaiting).arg(ShownPath(), WriteCauseText(result.cause)).arg(n);
  } else if (caughtUp > 0) {
    text = caughtUp == 1 ? Langue(TxtAcqStatusCaughtUpOne).arg(ShownPath())
                         : Langue(TxtAcqStatusCaughtUp).arg(ShownPath()).arg(caughtUp);
  } else {
    return;
  }
  if (result.linesDropped == 1)
    text = Langue(TxtAcqStatusDroppedOne).arg(text);
  else if (result.linesDropped > 1)
    text = Langue(TxtAcqStatusDropped).arg(text).arg(result.linesDropped);
  ShowStatus(text, result.Failed());
}

bool TFrameAcquisition::WriteHeader() {
  m_file.SetWaitingLimit(TFichierAcquisition::DayOfLines(PeriodSeconds()));
  m_header = HeaderText(Sensors(), m_unit);
  const WriteResult result = m_file.Create(FilePath(), m_header);
  if (result.Failed()) {
    ShowStatus(Langue(TxtAcqStatusHeader).arg(ShownPath(), WriteCauseText(result.cause)));
    // Not inside a tick: the run has not started, and the caller discards
    // the frame once the box is closed.
    ShowMessage(MessageKind::Error, Langue(TxtAcqWriteProblem), QMessageBox::Ok, this);
    return true;
  }
  m_troubled = false;
  m_boxCause = WriteCause::None;
  // What an earlier run left in the status bar is not about this file.
  ShowStatus(QString());
  // The run starts only now, so no sample falls due while the header may
  // still fail.
  if (!m_started) {
    m_started = true;
    m_timer->start();
  }
  return false;
}

bool TFrameAcquisition::WriteSample(const std::vector<double> &values) {
  const QDateTime now = m_clock();
  const int64_t waitingBefore = m_file.Waiting();
  const WriteResult result =
      m_file.Append(FilePath(), SampleLine(now, Settings.DateFormat, m_unit, Sensors(), values));
  if (result.Failed()) {
    m_troubled = true;
    m_cause = result.cause;
    ShowWriteStatus(result, 0);
    ReportWriteProblem(result.cause);
    return true;
  }
  if (m_troubled) {
    // The trouble is over: the next one is said again.
    m_troubled = false;
    m_boxCause = WriteCause::None;
    ShowWriteStatus(result, waitingBefore);
  }
  return false;
}

// ---- The run -------------------------------------------------------------------

void TFrameAcquisition::TimerTimer() {
  ++m_tickCount;
  const int32_t period = PeriodSeconds();
  if (m_tickCount % period != 0) return;
  const int32_t k = m_tickCount / period - 1;

  const TlistCapteur &sensors = Sensors();
  std::vector<double> values(static_cast<std::size_t>(sensors.Count()), FailedReadingMRad);
  int portTroubleOf = -1;  // a sensor whose port could not be used, if any
  for (int i = 0; i < sensors.Count(); ++i) {
    double angle = 0.0;
    const uint8_t failure = sensors.GetSensor(i)->ReadAngle(angle);
    const bool failed = failure != FailSuccess;
    if (failure == FailPort && portTroubleOf < 0) portTroubleOf = i;
    values[static_cast<std::size_t>(i)] = failed ? FailedReadingMRad : angle;
    // A failed reading is a gap in the curve, whatever the unit (in "%" the
    // stand-in value would convert to a plausible slope).
    if (auto *series = Series(i))
      series->AddSample(failed ? std::numeric_limits<double>::quiet_NaN()
                               : ConvertAngle(m_unit, angle));
  }
  if (!m_zoomed) FollowLastSample();
  m_graphique->replot(QCustomPlot::rpQueuedReplot);

  WriteSample(values);
  ShowPortTrouble(portTroubleOf < 0 ? nullptr : sensors.GetSensor(portTroubleOf));

  if (k + 1 >= SampleCount()) EndRun();
}

void TFrameAcquisition::ShowPortTrouble(const TCapteur *sensor) {
  // Empty fields say that samples are missing; the status bar says why
  // when the port could not be used.
  ShowOwnStatus(this,
                sensor != nullptr ? PortTroubleText(DiagnostiquerPort(sensor->Port)) : QString(),
                m_troubleShown);
}

void TFrameAcquisition::EndRun() {
  if (m_ended) return;
  m_ended = true;
  m_timer->stop();
  m_title->setText(Langue(TxtAcqFinished));
  AnnounceText(m_graphique, m_title->text());
  m_graphique->replot(QCustomPlot::rpQueuedReplot);
  emit AcquisitionEnded();
  // Lines still waiting are not given up with the run, nor silently: they
  // are tried once more, then the user is asked what becomes of them.
  if (m_file.Waiting() > 0) WriteWaitingLines();
  if (m_file.Waiting() > 0) {
    m_retryTimer->start();
    m_offerPending = true;
    PostPendingBox();
  }
}

void TFrameAcquisition::WriteWaitingLines() {
  const int64_t waiting = m_file.Waiting();
  if (waiting == 0) {
    m_retryTimer->stop();
    return;
  }
  const WriteResult result = m_file.Flush(FilePath());
  if (result.Failed()) m_cause = result.cause;
  ShowWriteStatus(result, waiting);
  if (!result.Failed()) {
    m_retryTimer->stop();
    m_troubled = false;
    m_boxCause = WriteCause::None;
  }
}

void TFrameAcquisition::BoutStopClick() { EndRun(); }

void TFrameAcquisition::SetLeftIncrement(double increment) {
  auto ticker = m_graphique->yAxis->ticker().dynamicCast<QCPAxisTickerFixed>();
  if (ticker && increment > 0.0 && std::isfinite(increment)) ticker->setTickStep(increment);
}

void TFrameAcquisition::FollowLastSample() {
  const int32_t last = m_tickCount / PeriodSeconds() - 1;
  m_graphique->yAxis->setRange(-ShownAxisRange(), ShownAxisRange());
  if (last > m_visibleSamples)
    m_graphique->xAxis->setRange(last - m_visibleSamples, last);
  else
    m_graphique->xAxis->setRange(0, last);
  SetLeftIncrement(ShownAxisRange() * 2 / LeftAxisSteps);
}

void TFrameAcquisition::GraphiqueZoom() {
  m_zoomed = true;
  const QCPRange r = m_graphique->yAxis->range();
  SetLeftIncrement((r.upper - r.lower) / LeftAxisSteps);
  m_graphique->replot(QCustomPlot::rpQueuedReplot);
}

void TFrameAcquisition::GraphiqueUndoZoom() {
  m_zoomed = false;
  FollowLastSample();
  m_graphique->replot(QCustomPlot::rpQueuedReplot);
}

void TFrameAcquisition::ListCapteursClick() {
  for (TGraphAcquisition *series : m_series) {
    QPen pen = series->pen();
    pen.setWidth(1);
    series->setPen(pen);
  }
  const QList<QListWidgetItem *> selected = m_listCapteurs->selectedItems();
  const int row = selected.isEmpty() ? -1 : m_listCapteurs->row(selected.first());
  if (row >= 0) {
    m_richEdit->clear();
    if (const TCapteur *sensor = Sensors().GetSensor(row))
      m_richEdit->setPlainText(QString::fromStdString(sensor->Comment));
    if (TGraphAcquisition *series = Series(row)) {
      QPen pen = series->pen();
      pen.setWidth(2);
      series->setPen(pen);
    }
  }
  m_graphique->replot(QCustomPlot::rpQueuedReplot);
}

// ---- Gestures ------------------------------------------------------------------

void TFrameAcquisition::ChartRubberBand(const QRect &rect, QMouseEvent *event) {
  if (event && event->button() != Qt::LeftButton) return;
  // Drawn from right to left: undo the zoom.
  if (rect.width() < 0) {
    GraphiqueUndoZoom();
    return;
  }
  const QRect band = rect.normalized();
  if (band.width() < MinimumBand || band.height() < MinimumBand) return;
  m_graphique->axisRect()->zoom(QRectF(band));
  GraphiqueZoom();
}

void TFrameAcquisition::ChartMousePress(QMouseEvent *event) { m_gestes.Press(*m_graphique, *event); }

void TFrameAcquisition::ChartMouseMove(QMouseEvent *event) {
  if (m_gestes.Drag(*m_graphique, *event)) GraphiqueZoom();
}

void TFrameAcquisition::ChartWheel(QWheelEvent *event) {
  TGestesGraphique::Wheel(*m_graphique, *event);
  GraphiqueZoom();
}

// ---- Printing ------------------------------------------------------------------

bool TFrameAcquisition::PrintChart(QPrinter &printer) {
  const bool drawn = DrawChartOnPrinter(*m_graphique, printer);
  // The screen's layout again (the print laid the chart out at its size).
  m_graphique->replot(QCustomPlot::rpQueuedReplot);
  return drawn;
}

bool TFrameAcquisition::SaveChartPdf(const QString &path) {
  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(path);
  printer.setPageOrientation(QPageLayout::Landscape);
  printer.setCreator(Langue(TxtAppTitle));
  printer.setDocName(Title());
  return PrintChart(printer) && QFileInfo(path).size() > 0;
}

void TFrameAcquisition::BoutImprimeClick() {
  if (QPrinterInfo::defaultPrinter().isNull()) {
    if (ShowMessage(MessageKind::Confirmation, Langue(TxtAcqNoPrinter),
                    QMessageBox::Yes | QMessageBox::No, this) != QMessageBox::Yes)
      return;
    const QFileInfo file(FilePath());
    const QString proposed = QDir(file.absolutePath()).filePath(file.completeBaseName() + ".pdf");
    const QString path = AskSaveFileName(Langue(TxtAcqPdfTitle), proposed, Langue(TxtAcqPdfFilter), this);
    if (path.isEmpty()) return;
    if (!SaveChartPdf(path)) ShowMessage(MessageKind::Error, Langue(TxtAcqPdfProblem), QMessageBox::Ok, this);
    return;
  }
  QPrinter &printer = SharedChartPrinter();
  printer.setPrinterName(QPrinterInfo::defaultPrinter().printerName());
  const QPageLayout::Orientation previous = printer.pageLayout().orientation();
  printer.setPageOrientation(QPageLayout::Landscape);
  const bool printed = PrintChart(printer);
  printer.setPageOrientation(previous);
  if (!printed) ShowMessage(MessageKind::Error, Langue(TxtAcqPrintProblem), QMessageBox::Ok, this);
}
