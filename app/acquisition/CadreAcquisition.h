// CadreAcquisition: the frame of one acquisition run: the list of the
// sensors, the comment of the selected one, and the chart with one curve per
// sensor. A one-second timer paces the run; every PeriodSeconds ticks each
// sensor of SensorList is read once, the values go on the chart and one line
// goes to the acquisition file.
//
// Chart gestures: dragging a band from left to right zooms into it (both
// axes), from right to left or a double click goes back to following the
// latest samples; the wheel zooms around the pointer; the right button
// dragged, Shift with the wheel or a horizontal wheel scroll sideways.
#ifndef NIVELIX_CADREACQUISITION_H
#define NIVELIX_CADREACQUISITION_H

#include <cstdint>
#include <functional>
#include <vector>

#include <QDateTime>
#include <QFrame>

#include "FichierAcquisition.h"
#include "GestesGraphique.h"
#include "langue.h"

class TCapteur;

class QCPTextElement;
class QCustomPlot;
class QListWidget;
class QMouseEvent;
class QPrinter;
class QPushButton;
class QSplitter;
class QTextEdit;
class QTimer;
class QWheelEvent;
class TConfigAcquisition;
class TGraphAcquisition;
class TlistCapteur;

class TFrameAcquisition : public QFrame {
  Q_OBJECT
 public:
  // Fills parent with the list, the comment box and the chart for the
  // sensors of SensorList, in the unit of Settings. The period, the number
  // of samples and the file come from config (by default the program's
  // TConfigAcquisition). The timer starts once WriteHeader has succeeded.
  explicit TFrameAcquisition(QWidget *parent, const TConfigAcquisition *config = nullptr);
  ~TFrameAcquisition() override;

  // Creates the acquisition file and writes its header. False when the whole
  // header was written (the run then starts), true on failure (after showing
  // the message and the file and cause in the status bar).
  bool WriteHeader();
  // Appends the line of one sample (values in mRad, FailedReadingMRad for a
  // failed reading), after the lines still waiting. False on success, true on
  // failure: the line waits and the status bar names the file, the cause and
  // the lines waiting. The message box is shown once for a trouble: again
  // only when its cause changes, or when a line went to the file since.
  bool WriteSample(const std::vector<double> &values);

  // The frame is about to be discarded (another activity, Quit): ends the
  // run if it still goes and, when lines still wait for the file after one
  // more try, offers to save them after the header in a file the user
  // chooses, or to discard them. Returns when no line waits any more.
  void SettleWaitingLines();

  // One tick of the one-second timer. Public so that tests can drive a run
  // without waiting real seconds.
  void TimerTimer();
  // Stop: ends the run; the lines written stay, the frame stays on screen.
  void BoutStopClick();
  // Prints the chart in landscape on the default printer, or offers to save
  // it as PDF when no printer is configured.
  void BoutImprimeClick();
  // Thickens the curve of the selected sensor and shows its comment.
  void ListCapteursClick();
  // The user zoomed or scrolled: the axes stay as set while points arrive.
  void GraphiqueZoom();
  // Back to following the latest samples.
  void GraphiqueUndoZoom();
  // Angle axis at +-AxisRange; bottom axis over the latest 101 samples.
  void FollowLastSample();
  // Names in the main window's status bar why the port of sensor could not
  // be used; nullptr clears the text this frame put there.
  void ShowPortTrouble(const TCapteur *sensor);

  // Draws the chart on printer, fitted to its page. True when it was drawn.
  bool PrintChart(QPrinter &printer);
  // Saves the chart as a landscape PDF page at path. True on success.
  bool SaveChartPdf(const QString &path);

  // For tests and for the screenshot: the state of the run.
  int32_t TickCount() const { return m_tickCount; }
  bool Zoomed() const { return m_zoomed; }
  double AxisRange() const { return m_axisRange; }
  bool Running() const;
  QCustomPlot *Graphique() const { return m_graphique; }
  TGraphAcquisition *Series(int index) const;
  QString Title() const;
  QTimer *Timer() const { return m_timer; }
  // The last text put in the main window's status bar.
  QString StatusText() const { return m_statusText; }
  const TFichierAcquisition &File() const { return m_file; }
  // The clock read once per sample for its date and time.
  void SetClock(std::function<QDateTime()> clock) { m_clock = std::move(clock); }

 signals:
  // The run has ended or the user stopped it: the main window enables the
  // sensor and system menus again.
  void AcquisitionEnded();

 protected:
  bool eventFilter(QObject *watched, QEvent *event) override;

 private:
  void CreateControls();
  void CreateChart();
  void ConnectControls();
  void EndRun();
  // Posts the write-failure box for cause unless this trouble was shown.
  void ReportWriteProblem(WriteCause cause);
  // Shows the box that waits (the offer first, then the write failure), from
  // the event loop and never over another box.
  void PostPendingBox();
  void ShowPendingBox();
  // Asks what becomes of the lines waiting, until none waits or the user
  // keeps them (not when discarding: then they are saved or discarded).
  void OfferWaitingLines(bool discarding);
  // Writes the header and the waiting lines to a file the user chooses.
  // True when they are there; false when cancelled or refused (said).
  bool SaveWaitingLines();
  void DiscardWaitingLines();
  // The count of lines in the text of many, or the text of one for 1.
  static QString Counted(LangueId one, LangueId many, int64_t lines);
  void ShowStatus(const QString &text, bool countsWaiting = false);
  // The status after a write: the trouble, or caughtUp lines that had waited
  // and are now written; the lines that could not be kept.
  void ShowWriteStatus(const WriteResult &result, int64_t caughtUp);
  QString ShownPath() const;
  // After the run: the lines still waiting, tried again.
  void WriteWaitingLines();
  void SetLeftIncrement(double increment);
  // The half height of the angle axis actually shown: AxisRange, or 1 when
  // there is no sensor to give one.
  double ShownAxisRange() const;
  int32_t PeriodSeconds() const;
  int32_t SampleCount() const;
  QString FilePath() const;
  const TlistCapteur &Sensors() const;

  void ChartMousePress(QMouseEvent *event);
  void ChartMouseMove(QMouseEvent *event);
  void ChartWheel(QWheelEvent *event);
  void ChartRubberBand(const QRect &rect, QMouseEvent *event);

  const TConfigAcquisition *m_config;
  int32_t m_tickCount = 0;
  bool m_zoomed = false;
  QString m_troubleShown;  // the status bar text this frame put there
  double m_axisRange = 0.0;
  int32_t m_visibleSamples = 100;
  int m_unit = 0;
  bool m_started = false;
  TFichierAcquisition m_file;
  // A write has failed and no line has gone to the file since.
  bool m_troubled = false;
  // The cause of the last refusal, and the one the write-failure box was
  // shown (or posted) for during this trouble (None: not shown yet).
  WriteCause m_cause = WriteCause::None;
  WriteCause m_boxCause = WriteCause::None;
  // Boxes waiting to be shown, and whether one of this frame's is open.
  bool m_writeBoxPending = false;
  bool m_offerPending = false;
  bool m_boxOpen = false;
  bool m_ended = false;
  // The header as written, for the lines saved in another file.
  QByteArray m_header;
  // The status text counts lines waiting: it goes with the frame.
  bool m_statusCountsWaiting = false;
  QString m_statusText;
  std::function<QDateTime()> m_clock;
  TGestesGraphique m_gestes;

  QWidget *m_panel1 = nullptr;
  QListWidget *m_listCapteurs = nullptr;
  QSplitter *m_splitter1 = nullptr;
  QSplitter *m_splitter2 = nullptr;
  QTextEdit *m_richEdit = nullptr;
  QWidget *m_panelGraph = nullptr;
  QCustomPlot *m_graphique = nullptr;
  QCPTextElement *m_title = nullptr;
  QPushButton *m_boutStop = nullptr;
  QPushButton *m_boutImprime = nullptr;
  QTimer *m_timer = nullptr;
  QTimer *m_retryTimer = nullptr;
  std::vector<TGraphAcquisition *> m_series;
};

#endif
