// DialogConfigAcqu: the acquisition settings dialog: the file that receives
// the acquisition, the sampling period and the total duration, with the
// number of samples these give. Created once; the running acquisition reads
// PeriodSeconds, SampleCount and FilePath from it.
#ifndef NIVELIX_DIALOGCONFIGACQU_H
#define NIVELIX_DIALOGCONFIGACQU_H

#include <cstdint>

#include <QDialog>
#include <QWidget>

class QComboBox;
class QFileDialog;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;
class QDialogButtonBox;

// Items of ListeUnitePeriode, in list order.
enum PeriodUnitIndex : int { UnitSecondes = 0, UnitMinutes = 1, UnitHours = 2, UnitDays = 3 };

// What the period and duration give. valid false: "Err", and periodSeconds
// and sampleCount are not to be used.
struct SampleCountResult {
  bool valid = false;
  int32_t periodSeconds = 0;
  int32_t sampleCount = 0;
};

// The sample count of a period (in the unit of unitIndex, -1 for no unit)
// and a duration. Negative duration parts, a period below 1, a zero duration,
// and values whose seconds do not fit in 32 bits are invalid. With no unit
// the count is 1 and the period in seconds stays previousPeriodSeconds.
SampleCountResult ComputeSamples(int32_t period, int32_t days, int32_t hours, int32_t minutes,
                                 int unitIndex, int32_t previousPeriodSeconds);

// Up and down arrows bound to an edit box. They step the number in the edit
// within [minimum, maximum]; the edit itself accepts any text.
class TUpDown : public QWidget {
  Q_OBJECT
 public:
  TUpDown(QLineEdit *edit, int minimum, int maximum, QWidget *parent = nullptr);
  // Moves the edit's number by delta, kept within the range; a text that is
  // not a number counts as the minimum.
  void Step(int delta);

 private:
  QLineEdit *m_edit;
  int m_minimum;
  int m_maximum;
};

class TConfigAcquisition : public QDialog {
  Q_OBJECT
 public:
  // FormCreate: captions from the string table, the four period units,
  // "secondes" chosen.
  explicit TConfigAcquisition(QWidget *parent = nullptr);
  ~TConfigAcquisition() override;

  // Results read by the acquisition: the period in seconds and the number of
  // samples of the last valid computation, the path typed or chosen.
  int32_t PeriodSeconds() const { return m_periodSeconds; }
  int32_t SampleCount() const { return m_sampleCount; }
  QString FilePath() const;

  // Each showing: the path of Settings' AcquisitionFile, period 5, duration
  // 0 J 0 h 1 m; the unit keeps its last choice. Run by showEvent.
  void FormShow();
  // Recomputes PeriodSeconds and SampleCount and shows the count or "Err".
  void ComputeSampleCount();
  // Opens SauveDialog in the folder of the current path, proposing its name.
  void BoutSauveClick();

  // The dialog created last and still alive: the program creates one at
  // start-up, which the acquisition frame reads when it is given none.
  static TConfigAcquisition *Instance();

  // The save dialog, for tests that answer it.
  QFileDialog *SauveDialog() const { return m_sauveDialog; }

  // OK: refused, with a message, while the samples box shows "Err" or 0, so
  // that the run takes exactly the period and count shown; then, when the
  // file holds data already, asks whether to replace it (No stays here).
  void accept() override;

 protected:
  void showEvent(QShowEvent *event) override;

 private:
  void CreateControls();
  void ConnectControls();
  // Parses text as a whole signed decimal integer into field; leaves it
  // unchanged when it is not one. Then ComputeSampleCount.
  void EditChange(const QString &text, int32_t &field);

  int32_t m_period = 5;
  int32_t m_durationDays = 0;
  int32_t m_durationHours = 0;
  int32_t m_durationMinutes = 1;
  int32_t m_periodSeconds = 5;
  int32_t m_sampleCount = 12;
  // The samples box shows m_sampleCount (not "Err").
  bool m_countShown = true;

  QGroupBox *m_groupEnregistre = nullptr;
  QLineEdit *m_editEnregistre = nullptr;
  QToolButton *m_boutSauve = nullptr;
  QGroupBox *m_groupPeriode = nullptr;
  QLineEdit *m_editPeriode = nullptr;
  TUpDown *m_upDown1 = nullptr;
  QComboBox *m_listeUnitePeriode = nullptr;
  QGroupBox *m_groupEditeDuree = nullptr;
  QLineEdit *m_editDureeJours = nullptr;
  TUpDown *m_upDown2 = nullptr;
  QLabel *m_labelJ = nullptr;
  QLineEdit *m_editDureeHeures = nullptr;
  TUpDown *m_upDown3 = nullptr;
  QLabel *m_labelH = nullptr;
  QLineEdit *m_editDureeMin = nullptr;
  TUpDown *m_upDown4 = nullptr;
  QLabel *m_labelMin = nullptr;
  QGroupBox *m_groupNbrEch = nullptr;
  QLineEdit *m_editNbrEch = nullptr;
  QPushButton *m_boutOK = nullptr;
  QPushButton *m_boutAnnule = nullptr;
  QDialogButtonBox *m_boutons = nullptr;
  QFileDialog *m_sauveDialog = nullptr;
};

#endif
