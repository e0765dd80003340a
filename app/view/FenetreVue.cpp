#include "FenetreVue.h"

#include <algorithm>
#include <cmath>

#include <QActionGroup>
#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QPageLayout>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QSplitter>
#include <QStatusBar>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <qcustomplot.h>

#include "GraphiqueVue.h"
#include "ImpressionGraphique.h"
#include "LigneCommande.h"
#include "langue.h"

namespace {

// New lines appear within a second of being written: the file is looked at
// twice a second (a stat and, when it grew, a read of what is new).
constexpr int FollowIntervalMs = 400;
// A file is read this much at a time (a few hundredths of a second), the
// window's events between: a file of several GB opens without the window
// freezing, its chart growing as it is read (a few times a second, not at
// every slice: each growth redraws the whole file).
constexpr int64_t SliceBytes = int64_t(24) << 20;
constexpr int GrowEveryMs = 200;
constexpr int MinimumBand = 4;
constexpr int DesignWidth = 1000, DesignHeight = 640;
constexpr int ListWidth = 200;
const QColor HiddenColour(170, 170, 170);
const QColor BandColour(0, 90, 200, 40);

enum RangeColumn { ColSensor, ColCount, ColFailed, ColMin, ColMax, ColMean, ColSpread, ColumnCount };

const DateOrder Orders[3] = {DateDayMonthYear, DateMonthDayYear, DateYearMonthDay};

QString TimeText(int64_t seconds) {
  return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC).toString("yyyy-MM-dd HH:mm:ss");
}

// Now on the file's own clock: the wall-clock time written in its lines,
// counted as if it were UTC.
int64_t NowOnFileClock() {
  const QDateTime now = QDateTime::currentDateTime();
  return now.toSecsSinceEpoch() + now.offsetFromUtc();
}

QString Figure(double value) { return std::isnan(value) ? QString() : QString::number(value, 'g', 6); }

}  // namespace

TFenetreVue::TFenetreVue(QWidget *parent) : QMainWindow(parent), m_sliceBytes(SliceBytes) {
  setObjectName("FenetreVue");
  CreateActions();
  CreateMenus();
  CreateControls();
  ConnectControls();
  resize(DesignWidth, DesignHeight);
  UpdateTitle();
  UpdateDateMenu();
  UpdateStatus();
}

TFenetreVue::~TFenetreVue() {
  // The graphs draw the data's series: they go first.
  ForgetChart();
}

void TFenetreVue::CreateActions() {
  m_actionOpen = new QAction(Langue(TxtVueOpen), this);
  m_actionOpen->setShortcut(QKeySequence::Open);
  m_actionPrint = new QAction(Langue(TxtVuePrint), this);
  m_actionPrint->setShortcut(QKeySequence::Print);
  m_actionPdf = new QAction(Langue(TxtVueExportPdf), this);
  m_actionPng = new QAction(Langue(TxtVueExportPng), this);
  m_actionQuit = new QAction(Langue(TxtVueQuit), this);
  m_actionQuit->setShortcut(QKeySequence::Quit);

  m_groupDates = new QActionGroup(this);
  m_groupDates->setExclusive(true);
  const LangueId dateTexts[3] = {TxtVueDatesDmy, TxtVueDatesMdy, TxtVueDatesYmd};
  for (int i = 0; i < 3; ++i) {
    m_actionDates[i] = new QAction(Langue(dateTexts[i]), m_groupDates);
    m_actionDates[i]->setCheckable(true);
  }
  m_actionDatesAuto = new QAction(Langue(TxtVueDatesAuto), this);
  m_actionDatesAuto->setCheckable(true);
  m_actionDatesAuto->setChecked(true);

  m_groupAxis = new QActionGroup(this);
  m_actionAxisTime = new QAction(Langue(TxtVueAxisTime), m_groupAxis);
  m_actionAxisTime->setCheckable(true);
  m_actionAxisTime->setChecked(true);
  m_actionAxisSample = new QAction(Langue(TxtVueAxisSample), m_groupAxis);
  m_actionAxisSample->setCheckable(true);
  m_actionWhole = new QAction(Langue(TxtVueWhole), this);
  m_actionWhole->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_0));
  m_actionFollow = new QAction(Langue(TxtVueFollow), this);
  m_actionFollow->setCheckable(true);
}

void TFenetreVue::CreateMenus() {
  QMenu *file = menuBar()->addMenu(Langue(TxtVueMenuFile));
  file->setObjectName("MenuFichier");
  file->addAction(m_actionOpen);
  file->addSeparator();
  file->addAction(m_actionPrint);
  file->addAction(m_actionPdf);
  file->addAction(m_actionPng);
  file->addSeparator();
  file->addAction(m_actionQuit);

  QMenu *view = menuBar()->addMenu(Langue(TxtVueMenuView));
  view->setObjectName("MenuVue");
  for (QAction *a : m_actionDates) view->addAction(a);
  view->addAction(m_actionDatesAuto);
  view->addSeparator();
  view->addAction(m_actionAxisTime);
  view->addAction(m_actionAxisSample);
  view->addSeparator();
  view->addAction(m_actionWhole);
  view->addAction(m_actionFollow);
}

void TFenetreVue::CreateControls() {
  auto *splitter = new QSplitter(Qt::Horizontal, this);
  splitter->setObjectName("Splitter");

  auto *left = new QWidget(splitter);
  auto *leftLayout = new QVBoxLayout(left);
  leftLayout->setContentsMargins(4, 4, 0, 4);
  auto *labelCapteurs = new QLabel(Langue(TxtVueSensorsLabel), left);
  m_listeCapteurs = new QListWidget(left);
  m_listeCapteurs->setObjectName("ListeCapteurs");
  m_listeCapteurs->setAccessibleName(Langue(TxtVueAccSensors));
  labelCapteurs->setBuddy(m_listeCapteurs);
  leftLayout->addWidget(labelCapteurs);
  leftLayout->addWidget(m_listeCapteurs);

  auto *right = new QWidget(splitter);
  auto *rightLayout = new QVBoxLayout(right);
  rightLayout->setContentsMargins(0, 4, 4, 4);
  m_graphique = new QCustomPlot(right);
  m_graphique->setObjectName("Graphique");
  m_graphique->setAccessibleName(Langue(TxtVueAccChart));
  m_graphique->setBackground(Qt::white);
  m_graphique->setSelectionRectMode(QCP::srmCustom);
  m_graphique->setNoAntialiasingOnDrag(true);
  m_graphique->setMouseTracking(true);
  m_labelPointeur = new QLabel(right);
  m_labelPointeur->setObjectName("LabelPointeur");
  m_labelPointeur->setAccessibleName(Langue(TxtVueAccPointer));
  m_labelPointeur->setTextInteractionFlags(Qt::TextSelectableByMouse);
  m_labelPlage = new QLabel(Langue(TxtVueRangeHint), right);
  m_labelPlage->setObjectName("LabelPlage");
  m_tablePlage = new QTableWidget(0, ColumnCount, right);
  m_tablePlage->setObjectName("TablePlage");
  m_tablePlage->setAccessibleName(Langue(TxtVueAccRange));
  m_tablePlage->setHorizontalHeaderLabels({Langue(TxtVueColSensor), Langue(TxtVueColCount),
                                           Langue(TxtVueColFailed), Langue(TxtVueColMin),
                                           Langue(TxtVueColMax), Langue(TxtVueColMean),
                                           Langue(TxtVueColSpread)});
  m_tablePlage->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_tablePlage->verticalHeader()->setVisible(false);
  m_tablePlage->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  m_tablePlage->setMaximumHeight(150);
  m_labelPlage->setBuddy(m_tablePlage);
  rightLayout->addWidget(m_graphique, 1);
  rightLayout->addWidget(m_labelPointeur);
  rightLayout->addWidget(m_labelPlage);
  rightLayout->addWidget(m_tablePlage);

  splitter->setStretchFactor(0, 0);
  splitter->setStretchFactor(1, 1);
  splitter->setSizes({ListWidth, DesignWidth - ListWidth});
  setCentralWidget(splitter);

  m_labelEtat = new QLabel(this);
  m_labelEtat->setObjectName("LabelEtat");
  statusBar()->addWidget(m_labelEtat, 1);

  m_timerSuivi = new QTimer(this);
  m_timerSuivi->setObjectName("TimerSuivi");
  m_timerSuivi->setInterval(FollowIntervalMs);
  m_timerLecture = new QTimer(this);
  m_timerLecture->setObjectName("TimerLecture");
  m_timerLecture->setSingleShot(true);
  m_timerLecture->setInterval(0);
}

void TFenetreVue::ConnectControls() {
  connect(m_actionOpen, &QAction::triggered, this, &TFenetreVue::MenuOpenClick);
  connect(m_actionPrint, &QAction::triggered, this, &TFenetreVue::MenuPrintClick);
  connect(m_actionPdf, &QAction::triggered, this, [this] {
    const QString path = QFileDialog::getSaveFileName(this, Langue(TxtVueExportPdf).remove('&'),
                                                      SaveName("pdf"), Langue(TxtVuePdfFilter));
    if (!path.isEmpty()) ExportPdf(path);
  });
  connect(m_actionPng, &QAction::triggered, this, [this] {
    const QString path = QFileDialog::getSaveFileName(this, Langue(TxtVueExportPng).remove('&'),
                                                      SaveName("png"), Langue(TxtVuePngFilter));
    if (!path.isEmpty()) ExportPng(path);
  });
  connect(m_actionQuit, &QAction::triggered, this, &QWidget::close);
  for (int i = 0; i < 3; ++i)
    connect(m_actionDates[i], &QAction::triggered, this, [this, i] { ChooseDateOrder(Orders[i]); });
  connect(m_actionDatesAuto, &QAction::triggered, this, [this] { ChooseDateOrderAutomatic(); });
  connect(m_actionAxisTime, &QAction::triggered, this,
          [this] { SetKeyKind(TGraphAcquisition::KeyKind::Time); });
  connect(m_actionAxisSample, &QAction::triggered, this,
          [this] { SetKeyKind(TGraphAcquisition::KeyKind::SampleNumber); });
  connect(m_actionWhole, &QAction::triggered, this, &TFenetreVue::ShowWhole);
  connect(m_actionFollow, &QAction::toggled, this, [this](bool on) {
    m_followWhenRead = false;  // the user chose
    SetFollowing(on);
  });
  connect(m_timerSuivi, &QTimer::timeout, this, &TFenetreVue::TimerSuiviTimer);
  connect(m_timerLecture, &QTimer::timeout, this, &TFenetreVue::TimerLectureTimer);

  connect(m_listeCapteurs, &QListWidget::itemChanged, this, [this](QListWidgetItem *item) {
    if (m_rebuilding) return;
    SetSeriesShown(m_listeCapteurs->row(item), item->checkState() == Qt::Checked);
  });
  // The rubber band takes the chart's clicks from QCustomPlot (it emits no
  // legendClick then): a click that did not move is looked up here.
  connect(m_graphique, &QCustomPlot::mouseRelease, this, [this](QMouseEvent *event) {
    if (event->button() != Qt::LeftButton) return;
    const QPoint at = event->position().toPoint();
    if ((at - m_clickStart).manhattanLength() > MinimumBand) return;
    if (!m_graphique->legend->visible()) return;
    for (std::size_t i = 0; i < m_graphs.size(); ++i) {
      QCPPlottableLegendItem *item = m_graphique->legend->itemWithPlottable(m_graphs[i]);
      if (item && item->rect().contains(at)) SetSeriesShown(static_cast<int>(i), !m_shown[i]);
    }
  });
  connect(m_graphique, &QCustomPlot::mousePress, this, &TFenetreVue::ChartMousePress);
  connect(m_graphique, &QCustomPlot::mouseMove, this, &TFenetreVue::ChartMouseMove);
  connect(m_graphique, &QCustomPlot::mouseWheel, this, &TFenetreVue::ChartWheel);
  connect(m_graphique, &QCustomPlot::mouseDoubleClick, this, [this](QMouseEvent *) { ShowWhole(); });
  connect(m_graphique->selectionRect(), &QCPSelectionRect::accepted, this,
          &TFenetreVue::ChartRubberBand);
}

// ---- The file ----------------------------------------------------------------

bool TFenetreVue::Open(const QString &path) {
  ForgetChart();
  m_shown.clear();
  m_unusable.clear();
  m_zoomed = false;
  m_rangeFirst = 1;
  m_rangeLast = 0;
  m_followWhenRead = false;
  m_reader.SetFile(path);
  m_reader.SetSliceBytes(m_sliceBytes);
  const EtatLecture state = m_reader.Read();
  UpdateTitle();
  if (state == EtatLecture::Unusable) {
    m_unusable = m_reader.Message();
    m_timerLecture->stop();
    SetFollowing(false);
    UpdateDateMenu();
    UpdateStatus();
    Tell(MessageKind::Error, Langue(TxtVueUnusable).arg(m_unusable));
    return false;
  }
  RebuildChart();
  if (m_reader.MoreToRead()) {
    // The rest comes slice by slice; following waits for the end.
    SetFollowing(false);
    m_followWhenRead = true;
    m_timerLecture->start();
  } else {
    SetFollowing(LastSampleRecent());
  }
  return true;
}

bool TFenetreVue::LastSampleRecent() const {
  const TLigneTemps &times = m_data.Times();
  if (times.Samples() == 0) return false;
  const int64_t period = std::max<int64_t>(1, times.Period());
  return NowOnFileClock() - times.At(times.Samples() - 1) < 2 * period;
}

void TFenetreVue::MenuOpenClick() {
  const QString start = m_reader.File().isEmpty() ? QDir::currentPath()
                                                  : QFileInfo(m_reader.File()).absolutePath();
  const QString path = QFileDialog::getOpenFileName(this, Langue(TxtVueOpenTitle), start,
                                                    Langue(TxtVueOpenFilter));
  if (!path.isEmpty()) Open(path);
}

void TFenetreVue::Tell(MessageKind kind, const QString &text) {
  // A box opened from a timer tick runs its own event loop, in which the
  // timer goes on: never two at once. The status line says it as well.
  if (MessageShowing()) return;
  ShowMessage(kind, text, QMessageBox::Ok, this);
}

bool TFenetreVue::ReadMore(bool fromTimer) {
  if (m_reader.File().isEmpty()) return false;
  const EtatLecture state = m_reader.Read();
  if (m_reader.MoreToRead()) m_timerLecture->start();
  switch (state) {
    case EtatLecture::NoChange:
      return false;
    case EtatLecture::Read:
      if (!m_unusable.isEmpty() || m_graphs.size() != static_cast<std::size_t>(m_data.Sensors())) {
        // The header has come (a file being created), or the file is usable
        // again.
        m_unusable.clear();
        RebuildChart();
        return true;
      }
      UpdateStatus();
      // While a large file is read, the chart grows a few times a second,
      // not at every slice.
      if (m_reader.MoreToRead() && m_sinceGrown.isValid() && m_sinceGrown.elapsed() < GrowEveryMs) return true;
      m_sinceGrown.start();
      RefreshChart(m_graphs);
      if (!m_zoomed) ShowWholeFile(*m_graphique, m_graphs);
      UpdateRangeTable();
      m_graphique->replot(QCustomPlot::rpQueuedReplot);
      return true;
    case EtatLecture::ReadAfresh: {
      // The data's series were made again: the graphs drawing the old ones
      // go before anything draws.
      m_unusable.clear();
      m_zoomed = false;
      m_rangeFirst = 1;
      m_rangeLast = 0;
      RebuildChart();
      // Told when it happened by itself (while following, or the file
      // changed while it was being read); not for a reading the user asked.
      if (fromTimer || m_reader.FileChanged())
        Tell(MessageKind::Information,
             Langue(TxtVueReadAfresh).arg(QDir::toNativeSeparators(m_reader.File()),
                                          m_reader.AfreshReason()));
      return true;
    }
    case EtatLecture::Unusable: {
      const bool news = m_unusable != m_reader.Message();
      m_unusable = m_reader.Message();
      RebuildChart();
      if (news) Tell(MessageKind::Error, Langue(TxtVueUnusable).arg(m_unusable));
      return true;
    }
  }
  return false;
}

void TFenetreVue::TimerSuiviTimer() { ReadMore(true); }

void TFenetreVue::TimerLectureTimer() {
  ReadMore(false);
  if (m_reader.MoreToRead()) return;
  if (m_followWhenRead) {
    m_followWhenRead = false;
    SetFollowing(LastSampleRecent());
  }
  UpdateStatus();
}

void TFenetreVue::SetFollowing(bool on) {
  m_following = on && !m_reader.File().isEmpty();
  if (m_actionFollow->isChecked() != m_following) {
    const QSignalBlocker block(m_actionFollow);
    m_actionFollow->setChecked(m_following);
  }
  if (m_following) {
    m_timerSuivi->start();
    // What was written since the last look shows at once.
    ReadMore(true);
  } else {
    m_timerSuivi->stop();
  }
  UpdateStatus();
}

void TFenetreVue::ChooseDateOrder(DateOrder order) {
  ForgetChart();
  m_reader.SetDateOrder(order);
  ReadMore(false);
  RebuildChart();
}

void TFenetreVue::ChooseDateOrderAutomatic() {
  ForgetChart();
  m_reader.SetDateOrderAutomatic();
  ReadMore(false);
  RebuildChart();
}

// ---- The chart -----------------------------------------------------------------

void TFenetreVue::ForgetChart() {
  m_graphique->clearItems();
  m_graphique->clearGraphs();
  m_graphs.clear();
}

void TFenetreVue::RebuildChart() {
  ForgetChart();
  const QSignalBlocker block(m_listeCapteurs);
  m_rebuilding = true;
  const std::vector<bool> before = m_shown;
  m_listeCapteurs->clear();
  m_shown.assign(static_cast<std::size_t>(m_data.Sensors()), true);
  if (m_data.Sensors() > 0) {
    m_graphs = SetUpChart(*m_graphique, m_data, m_keyKind);
    // The gestures are the window's own (ChartWheel, ChartRubberBand...).
    m_graphique->setInteractions(QCP::Interactions());
    m_graphique->setSelectionRectMode(QCP::srmCustom);
    for (int i = 0; i < m_data.Sensors(); ++i) {
      auto *item = new QListWidgetItem(m_data.Sensor(i).name, m_listeCapteurs);
      item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
      item->setToolTip(m_data.Sensor(i).comment);
      // A file read afresh with the same sensors keeps what was hidden.
      const auto index = static_cast<std::size_t>(i);
      const bool shown = before.size() == m_shown.size() ? before[index] : true;
      item->setCheckState(shown ? Qt::Checked : Qt::Unchecked);
    }
    for (int i = 0; i < m_data.Sensors(); ++i)
      SetSeriesShown(i, m_listeCapteurs->item(i)->checkState() == Qt::Checked);
    ShowWholeFile(*m_graphique, m_graphs);
  } else {
    m_graphique->legend->setVisible(false);
  }
  m_rebuilding = false;
  m_zoomed = false;
  UpdateRangeTable();
  UpdateDateMenu();
  UpdateTitle();
  UpdateStatus();
  m_graphique->replot(QCustomPlot::rpQueuedReplot);
}

TGraphAcquisition *TFenetreVue::Series(int i) const {
  return i >= 0 && static_cast<std::size_t>(i) < m_graphs.size() ? m_graphs[static_cast<std::size_t>(i)]
                                                                  : nullptr;
}

void TFenetreVue::SetSeriesShown(int i, bool shown) {
  TGraphAcquisition *graph = Series(i);
  if (!graph) return;
  const auto index = static_cast<std::size_t>(i);
  m_shown[index] = shown;
  graph->setVisible(shown);
  if (auto *item = m_graphique->legend->itemWithPlottable(graph))
    item->setTextColor(shown ? Qt::black : HiddenColour);
  if (QListWidgetItem *row = m_listeCapteurs->item(i)) {
    const QSignalBlocker block(m_listeCapteurs);
    row->setCheckState(shown ? Qt::Checked : Qt::Unchecked);
  }
  // The angle axis fits the curves shown, unless the user chose the view.
  if (!m_zoomed && !m_rebuilding) ShowWholeFile(*m_graphique, m_graphs);
  m_graphique->replot(QCustomPlot::rpQueuedReplot);
}

void TFenetreVue::SetKeyKind(TGraphAcquisition::KeyKind kind) {
  m_keyKind = kind;
  (kind == TGraphAcquisition::KeyKind::Time ? m_actionAxisTime : m_actionAxisSample)->setChecked(true);
  const int64_t first = m_rangeFirst, last = m_rangeLast;
  RebuildChart();
  // The selection is of samples: it stays, drawn on the new keys.
  if (first <= last && !m_graphs.empty())
    SelectRange(m_graphs.front()->KeyOf(first), m_graphs.front()->KeyOf(last));
}

void TFenetreVue::ShowWhole() {
  m_zoomed = false;
  if (!m_graphs.empty()) ShowWholeFile(*m_graphique, m_graphs);
  m_graphique->replot(QCustomPlot::rpQueuedReplot);
}

void TFenetreVue::ChartZoomed() {
  m_zoomed = true;
  m_graphique->replot(QCustomPlot::rpQueuedReplot);
}

void TFenetreVue::SelectRange(double key1, double key2) {
  if (m_graphs.empty()) return;
  const double low = std::min(key1, key2), high = std::max(key1, key2);
  const TGraphAcquisition *graph = m_graphs.front();
  // The samples whose keys lie within the band: IndexAt gives the last at
  // or before a key.
  int64_t first = graph->IndexAt(low);
  if (graph->KeyOf(first) < low) ++first;
  const int64_t last = graph->IndexAt(high);
  m_rangeFirst = first;
  m_rangeLast = std::min(last, m_data.Samples() - 1);
  if (!m_band) {
    m_band = new QCPItemRect(m_graphique);
    m_band->setPen(Qt::NoPen);
    m_band->setBrush(BandColour);
    m_band->topLeft->setTypeY(QCPItemPosition::ptAxisRectRatio);
    m_band->bottomRight->setTypeY(QCPItemPosition::ptAxisRectRatio);
  }
  m_band->topLeft->setCoords(low, 0);
  m_band->bottomRight->setCoords(high, 1);
  UpdateRangeTable();
  m_graphique->replot(QCustomPlot::rpQueuedReplot);
}

void TFenetreVue::UpdateRangeTable() {
  const bool any = m_rangeFirst <= m_rangeLast && !m_graphs.empty();
  m_tablePlage->setRowCount(any ? m_data.Sensors() : 0);
  if (!any) {
    m_labelPlage->setText(Langue(TxtVueRangeHint));
    return;
  }
  m_labelPlage->setText(Langue(TxtVueRangeOf)
                            .arg(KeyText(m_graphs.front()->KeyOf(m_rangeFirst)),
                                 KeyText(m_graphs.front()->KeyOf(m_rangeLast))));
  for (int i = 0; i < m_data.Sensors(); ++i) {
    const TSerieAcquisition::Summary s = m_data.Series(i).Summarise(m_rangeFirst, m_rangeLast);
    const QString cells[ColumnCount] = {m_data.Sensor(i).name, QString::number(s.samples),
                                        QString::number(s.failed), Figure(s.min), Figure(s.max),
                                        Figure(s.mean), Figure(s.max - s.min)};
    for (int c = 0; c < ColumnCount; ++c) {
      auto *cell = new QTableWidgetItem(cells[c]);
      if (c != ColSensor) cell->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
      m_tablePlage->setItem(i, c, cell);
    }
  }
}

QString TFenetreVue::KeyText(double key) const {
  if (m_keyKind == TGraphAcquisition::KeyKind::Time && !m_graphs.empty())
    return TimeText(static_cast<int64_t>(std::llround(key)));
  return Langue(TxtVuePointerSample).arg(static_cast<qint64>(std::llround(key)));
}

QString TFenetreVue::ValuesAt(double key) const {
  if (m_graphs.empty() || m_data.Samples() == 0) return QString();
  const int64_t index = m_graphs.front()->IndexAt(key);
  QStringList parts;
  parts << TimeText(m_data.Times().At(index)) + "  " +
               Langue(TxtVuePointerSample).arg(static_cast<qint64>(index));
  for (std::size_t i = 0; i < m_graphs.size(); ++i) {
    if (!m_shown[i]) continue;
    const double v = m_graphs[i]->Value(index);
    parts << m_data.Sensor(static_cast<int>(i)).name + ": " +
                 (std::isnan(v) ? Langue(TxtAcqErr) : QString::number(v, 'g', 7));
  }
  return parts.join("   ");
}

QString TFenetreVue::PointerText() const { return m_labelPointeur->text(); }

// ---- Gestures ------------------------------------------------------------------

void TFenetreVue::ChartRubberBand(const QRect &rect, QMouseEvent *event) {
  if (event && event->button() != Qt::LeftButton) return;
  const QRect band = rect.normalized();
  QCPAxis *x = m_graphique->xAxis;
  if (event && (event->modifiers() & Qt::ShiftModifier)) {
    if (band.width() < 1) return;
    SelectRange(x->pixelToCoord(band.left()), x->pixelToCoord(band.right()));
    return;
  }
  if (band.width() < MinimumBand || band.height() < MinimumBand) return;
  m_graphique->axisRect()->zoom(QRectF(band));
  ChartZoomed();
}

void TFenetreVue::ChartMousePress(QMouseEvent *event) {
  if (event->button() == Qt::LeftButton) m_clickStart = event->position().toPoint();
  m_gestes.Press(*m_graphique, *event);
}

void TFenetreVue::ChartMouseMove(QMouseEvent *event) {
  QCPAxis *x = m_graphique->xAxis;
  const QString text = ValuesAt(x->pixelToCoord(event->position().x()));
  if (text != m_labelPointeur->text()) m_labelPointeur->setText(text);
  if (m_gestes.Drag(*m_graphique, *event)) ChartZoomed();
}

void TFenetreVue::ChartWheel(QWheelEvent *event) {
  TGestesGraphique::Wheel(*m_graphique, *event);
  ChartZoomed();
}

// ---- Status, title, menus --------------------------------------------------------

void TFenetreVue::UpdateStatus() {
  QString text;
  if (m_reader.File().isEmpty()) {
    text = Langue(TxtVueNoFile);
  } else if (!m_unusable.isEmpty()) {
    text = m_unusable;
  } else {
    const TLigneTemps &times = m_data.Times();
    const bool any = times.Samples() > 0;
    const LangueId source = m_data.OrderSource() == SourceOrdreDate::Data     ? TxtVueOrderFromData
                            : m_data.OrderSource() == SourceOrdreDate::Chosen ? TxtVueOrderChosen
                                                                              : TxtVueOrderAssumed;
    text = Langue(TxtVueStatus)
               .arg(m_data.Sensors())
               .arg(m_data.Samples())
               .arg(any ? TimeText(times.At(0)) : QStringLiteral("-"),
                    any ? TimeText(times.At(times.Samples() - 1)) : QStringLiteral("-"))
               .arg(m_data.Failed())
               .arg(DateOrderText(m_data.Order()), Langue(source));
    const int64_t leftOut = m_data.LinesLeftOut();
    if (leftOut > 0) {
      int64_t first = 0;
      for (int k = 0; k < static_cast<int>(ProblemeLecture::Count_); ++k) {
        const auto kind = static_cast<ProblemeLecture>(k);
        if (kind == ProblemeLecture::BadNumber || kind == ProblemeLecture::Incomplete) continue;
        const int64_t line = m_data.FirstProblemLine(kind);
        if (line > 0 && (first == 0 || line < first)) first = line;
      }
      text += "; " + Langue(TxtVueProblems).arg(leftOut).arg(first);
    }
    if (m_reader.MoreToRead()) {
      const int64_t size = std::max<int64_t>(1, m_reader.FileBytes());
      text = Langue(TxtVueStatusReading).arg(text).arg(static_cast<int>(100 * m_data.BytesRead() / size));
    } else if (m_following) {
      text = Langue(TxtVueStatusFollowing).arg(text);
    }
  }
  m_labelEtat->setText(text);
  m_labelEtat->setAccessibleName(text);
}

QString TFenetreVue::StatusText() const { return m_labelEtat->text(); }

void TFenetreVue::UpdateTitle() {
  setWindowTitle(m_reader.File().isEmpty()
                     ? Langue(TxtVueTitle)
                     : Langue(TxtVueTitleFile).arg(QFileInfo(m_reader.File()).fileName()));
}

void TFenetreVue::UpdateDateMenu() {
  const bool chosen = m_data.OrderSource() == SourceOrdreDate::Chosen;
  for (int i = 0; i < 3; ++i)
    if (Orders[i] == m_data.Order()) m_actionDates[i]->setChecked(true);
  m_actionDatesAuto->setChecked(!chosen);
  const bool open = !m_reader.File().isEmpty();
  for (QAction *a : {m_actionPrint, m_actionPdf, m_actionPng, m_actionWhole, m_actionFollow})
    a->setEnabled(open);
}

QAction *TFenetreVue::DateAction(DateOrder order) const {
  for (int i = 0; i < 3; ++i)
    if (Orders[i] == order) return m_actionDates[i];
  return nullptr;
}

// ---- Print and export ------------------------------------------------------------

QString TFenetreVue::SaveName(const QString &extension) const {
  const QFileInfo file(m_reader.File());
  return QDir(file.absolutePath()).filePath(file.completeBaseName() + "." + extension);
}

bool TFenetreVue::PrintChart(QPrinter &printer) {
  const bool printed = DrawChartOnPrinter(*m_graphique, printer);
  m_graphique->replot(QCustomPlot::rpQueuedReplot);
  return printed;
}

bool TFenetreVue::ExportPdf(const QString &path) {
  QString error;
  const bool saved = SaveChartPdf(*m_graphique, path, &error);
  m_graphique->replot(QCustomPlot::rpQueuedReplot);
  if (!saved) Tell(MessageKind::Error, Langue(TxtVueSaveProblem).arg(error));
  return saved;
}

bool TFenetreVue::ExportPng(const QString &path) {
  QString error;
  const bool saved = SaveChartPng(*m_graphique, path, m_graphique->size(), &error);
  m_graphique->replot(QCustomPlot::rpQueuedReplot);
  if (!saved) Tell(MessageKind::Error, Langue(TxtVueSaveProblem).arg(error));
  return saved;
}

void TFenetreVue::MenuPrintClick() {
  if (QPrinterInfo::defaultPrinter().isNull()) {
    if (ShowMessage(MessageKind::Confirmation, Langue(TxtVueNoPrinter),
                    QMessageBox::Yes | QMessageBox::No, this) != QMessageBox::Yes)
      return;
    m_actionPdf->trigger();
    return;
  }
  QPrinter &printer = SharedChartPrinter();
  printer.setPrinterName(QPrinterInfo::defaultPrinter().printerName());
  const QPageLayout::Orientation previous = printer.pageLayout().orientation();
  printer.setPageOrientation(QPageLayout::Landscape);
  QPrintDialog dialog(&printer, this);
  const bool chosen = dialog.exec() == QDialog::Accepted;
  const bool printed = !chosen || PrintChart(printer);
  printer.setPageOrientation(previous);
  if (!printed) Tell(MessageKind::Error, Langue(TxtVuePrintProblem));
}

// ---- The program -----------------------------------------------------------------

int RunViewerWindow(const QString &file) {
  TFenetreVue window;
  window.show();
  if (!file.isEmpty()) window.Open(file);
  return QApplication::exec();
}
