// FenetreVue: the main window of nivelix-view: one acquisition file charted,
// followed while it is still being written.
//
// File menu: open, print (landscape, as nivelix3 prints), export PDF / PNG
// of the current view, quit. View menu: the date order the file is read with
// (the one in use is checked; "as the data show" while it was not chosen),
// the key axis (date and time, or sample number), the whole file, following.
//
// Chart gestures: dragging a band zooms into it, Shift while dragging selects
// a range of samples instead (its figures appear in the table below the
// chart); the wheel zooms around the pointer, Shift with the wheel or a
// horizontal wheel scrolls sideways, the right button dragged scrolls too; a
// double click or View > Whole file goes back to the whole file. A click on
// a legend item, or its box in the list of sensors, hides or shows its
// series.
//
// While following, a timer reads what the writer added since the last read
// (never the whole file again); a file replaced or cut shorter is read
// afresh and the user is told. The status line's text is also its
// accessible name.
#ifndef NIVELIX_FENETREVUE_H
#define NIVELIX_FENETREVUE_H

#include <cstdint>
#include <vector>

#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>
#include <QString>

#include "DonneesAcquisition.h"
#include "GestesGraphique.h"
#include "GraphAcquisition.h"
#include "LecteurAcquisition.h"
#include "Messages.h"

class QAction;
class QActionGroup;
class QCPItemRect;
class QCustomPlot;
class QLabel;
class QListWidget;
class QMouseEvent;
class QPrinter;
class QTableWidget;
class QTimer;
class QWheelEvent;

class TFenetreVue : public QMainWindow {
  Q_OBJECT
 public:
  explicit TFenetreVue(QWidget *parent = nullptr);
  ~TFenetreVue() override;

  // Reads path and charts it, following it when its last sample is less
  // than two periods old. False (after telling the user) when it cannot be
  // used.
  bool Open(const QString &path);

  // The menu commands, public so that tests and the keyboard reach the same
  // code.
  void MenuOpenClick();
  void MenuPrintClick();
  bool ExportPdf(const QString &path);
  bool ExportPng(const QString &path);
  // Reads with order from now on (the data are read afresh).
  void ChooseDateOrder(DateOrder order);
  void ChooseDateOrderAutomatic();
  void SetKeyKind(TGraphAcquisition::KeyKind kind);
  // The whole file on both axes.
  void ShowWhole();
  void SetFollowing(bool on);
  // Shows or hides the series of sensor i (its legend item and list box
  // follow).
  void SetSeriesShown(int i, bool shown);
  // Selects the samples whose keys lie from key1 to key2 and fills the
  // range table.
  void SelectRange(double key1, double key2);
  // One tick of the following timer: reads what was added.
  void TimerSuiviTimer();
  // A large file is read a slice at a time between the window's events:
  // the next slice.
  void TimerLectureTimer();
  // Still reading the file opened (or read afresh) a slice at a time.
  bool Reading() const { return m_reader.MoreToRead(); }
  // The slice's size (for tests: a small file read in many slices).
  void SetSliceBytes(int64_t bytes) { m_sliceBytes = bytes; }

  // Draws the current view on printer, fitted to its page.
  bool PrintChart(QPrinter &printer);

  // For tests.
  QCustomPlot *Graphique() const { return m_graphique; }
  TGraphAcquisition *Series(int i) const;
  const TDonneesAcquisition &Data() const { return m_data; }
  QString StatusText() const;
  QString PointerText() const;
  bool Following() const { return m_following; }
  bool Zoomed() const { return m_zoomed; }
  QTimer *TimerSuivi() const { return m_timerSuivi; }
  QTimer *TimerLecture() const { return m_timerLecture; }
  QTableWidget *TablePlage() const { return m_tablePlage; }
  QAction *DateAction(DateOrder order) const;
  // The text under the pointer at key (time and each shown sensor's value).
  QString ValuesAt(double key) const;

 private:
  void CreateActions();
  void CreateMenus();
  void CreateControls();
  void ConnectControls();
  // After the data were cleared or read afresh: the chart, the list and the
  // table made again for what the data hold now.
  void RebuildChart();
  void ForgetChart();
  void UpdateStatus();
  void UpdateDateMenu();
  void UpdateTitle();
  void UpdateRangeTable();
  // Reads once more; tells the user when the file was read afresh or can no
  // longer be used (one box at a time). True when the data changed.
  bool ReadMore(bool fromTimer);
  void Tell(MessageKind kind, const QString &text);
  QString KeyText(double key) const;
  QString SaveName(const QString &extension) const;
  bool LastSampleRecent() const;

  void ChartMousePress(QMouseEvent *event);
  void ChartMouseMove(QMouseEvent *event);
  void ChartWheel(QWheelEvent *event);
  void ChartRubberBand(const QRect &rect, QMouseEvent *event);
  void ChartZoomed();

  TDonneesAcquisition m_data;
  TLecteurAcquisition m_reader{m_data};
  TGraphAcquisition::KeyKind m_keyKind = TGraphAcquisition::KeyKind::Time;
  std::vector<TGraphAcquisition *> m_graphs;
  std::vector<bool> m_shown;
  bool m_following = false;
  // Following is decided (the last sample recent?) once the whole file is
  // read, unless the user chose meanwhile.
  bool m_followWhenRead = false;
  int64_t m_sliceBytes;
  QElapsedTimer m_sinceGrown;  // since the chart last took in new samples
  bool m_zoomed = false;
  bool m_rebuilding = false;
  // The selected range, in sample numbers (first > last: none).
  int64_t m_rangeFirst = 1, m_rangeLast = 0;
  QString m_pointerText;
  QString m_unusable;  // why the file cannot be used, while it cannot
  QPoint m_clickStart;
  TGestesGraphique m_gestes;

  QAction *m_actionOpen = nullptr;
  QAction *m_actionPrint = nullptr;
  QAction *m_actionPdf = nullptr;
  QAction *m_actionPng = nullptr;
  QAction *m_actionQuit = nullptr;
  QActionGroup *m_groupDates = nullptr;
  QAction *m_actionDates[3] = {nullptr, nullptr, nullptr};
  QAction *m_actionDatesAuto = nullptr;
  QActionGroup *m_groupAxis = nullptr;
  QAction *m_actionAxisTime = nullptr;
  QAction *m_actionAxisSample = nullptr;
  QAction *m_actionWhole = nullptr;
  QAction *m_actionFollow = nullptr;

  QCustomPlot *m_graphique = nullptr;
  QPointer<QCPItemRect> m_band;
  QListWidget *m_listeCapteurs = nullptr;
  QLabel *m_labelPointeur = nullptr;
  QLabel *m_labelPlage = nullptr;
  QTableWidget *m_tablePlage = nullptr;
  QLabel *m_labelEtat = nullptr;
  QTimer *m_timerSuivi = nullptr;
  QTimer *m_timerLecture = nullptr;
};

#endif
