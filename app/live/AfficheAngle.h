// AfficheAngle: one live angle panel of the main window.
//
// The panel reads its sensor on a 300 ms timer that is stopped for the
// reading and started again after it, so the 300 ms count from the end of
// each reading and a slow reading never lets a second one start inside it.
// It shows the angle less its zero reference in the settings' unit ("Err"
// after a failed reading) and hands the absolute angle to its horizon
// window. Its Stop button asks the main window for the worker that removes
// the panel (WM_PANELSTOP, synchronously), then signals "EvenementFermer".
#ifndef NIVELIX_AFFICHEANGLE_H
#define NIVELIX_AFFICHEANGLE_H

#include <memory>

#include <QFrame>

class QCheckBox;
class QLabel;
class QPushButton;
class QTextEdit;
class QTimer;
class TCapteur;
class TEvenementNomme;
class TVuMetre;

class TAfficheAngleCapteur : public QFrame {
  Q_OBJECT
 public:
  // Display period, counted from the end of each reading.
  static constexpr int TimerInterval = 300;
  // Design size; the bottom strip of this height carries the controls.
  static constexpr int DesignWidth = 482;
  static constexpr int DesignHeight = 243;
  static constexpr int BottomStrip = 50;

  // Creates the panel inside parent for sensor (not owned), starts its
  // timer and shows its horizon window.
  TAfficheAngleCapteur(QWidget *parent, TCapteur *sensor, int number);
  // Stops the timer, destroys the horizon window, then the frame.
  ~TAfficheAngleCapteur() override;

  int Number() const { return m_number; }
  TCapteur *Sensor() const { return m_sensor; }
  // The value left by the latest reading, failed or not (mRad).
  double LastAngle() const { return m_lastAngle; }
  double ZeroOffset() const { return m_zeroOffset; }

  QLabel *PanelAngle;
  QLabel *LabelExplication;
  QLabel *LabelComment;
  QTextEdit *EditComment;
  QCheckBox *BoiteReset;
  QPushButton *BoutStop;
  QTimer *Timer;
  TVuMetre *VuMetre;

 signals:
  // After every reading, once the text and the horizon are up to date.
  void Lu();

 protected:
  void resizeEvent(QResizeEvent *event) override;

 private:
  void TimerTimer();
  // Names a port that could not be used in the main window's status bar,
  // and clears that text once the panel reads again.
  void ShowPortTrouble(uint8_t failure);
  void BoiteResetClick();
  void BoutStopClick();
  void FrameResize();

  int m_number;
  TCapteur *m_sensor;
  double m_lastAngle = 0.0;
  double m_zeroOffset = 0.0;
  QString m_troubleShown;  // the status bar text this panel put there
  std::unique_ptr<TEvenementNomme> CloseEvent;
};

#endif
