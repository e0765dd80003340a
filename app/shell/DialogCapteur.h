// DialogCapteur: the sensor settings dialog. Shows one detected sensor's
// manufacturer data and user configuration, writes a changed configuration
// back to the sensor and keeps a comment per sensor (in memory only).
//
// All talking to the sensor goes through its ReadAll and WriteConfiguration;
// the dialog never builds frames.
#ifndef NIVELIX_DIALOGCAPTEUR_H
#define NIVELIX_DIALOGCAPTEUR_H

#include <QDialog>
#include <QString>

#include "Capteur.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QToolButton;

// What exec() (and Affiche) return.
enum CapteurResult : int { CapteurOk = 1, CapteurCancel = 2 };

// Identifiers the up-down arrows and the identifier check accept.
constexpr int MinIdentifier = 1;
constexpr int MaxIdentifier = 255;

// The filter as the edit shows it: rounded to the nearest hundredth (halves
// to even), shortest form, the locale's decimal separator (3, 0.5, 2.25).
QString FilterText(double hz);
// The filter as shown after a refused entry: two significant digits, fixed
// with two decimals (3.00, 0.50).
QString FilterResetText(double hz);
// Whether a filter cut-off is accepted for a family (1 family A: above 0.01
// up to 10 Hz; 0 family B: above 0.1 up to 5 Hz).
bool FilterInRange(uint8_t family, double hz);

class TFenetreCapteur : public QDialog {
  Q_OBJECT
 public:
  explicit TFenetreCapteur(QWidget *parent = nullptr);
  ~TFenetreCapteur() override;

  // Shows sensor (an entry of the sensor list, not owned) modally and
  // returns when the dialog closes, with CapteurOk or CapteurCancel.
  int Affiche(TCapteur *sensor);

  // The working copy of the shown sensor's data.
  const SensorData &EditedData() const { return m_editedData; }
  // Whether EditedData differs from the sensor's own data in a field the
  // user can write.
  bool ConfigurationChanged() const;

 public slots:
  // Escape cancels: result 2, like the Cancel button.
  void reject() override;

 private:
  void BuildControls();
  void SetCaptions();
  void FillControls();
  void SetIdentifierText(int identifier);
  // EditId shows Identifier of EditedData again, without a new check.
  void RestoreIdentifier();

  void RadioProtocoleClick();
  void RadioTypeComClick();
  void RadioAnaOutClick();
  void EditIdChange(const QString &text);
  void UpDownStep(int step);
  void BoutOKClick();
  void BoutActualiseClick();
  // "An error occured during the connection..."; when the port itself
  // failed, followed by what stands in the way of it, as the scan names it.
  void ReportConnectionError(uint8_t failure);

  TCapteur *m_sensor = nullptr;
  SensorData m_editedData;
  int m_upDownPosition = MinIdentifier;
  bool m_restoringId = false;

  QGroupBox *m_groupDonnesConst = nullptr;
  QLabel *m_labelRef = nullptr;
  QLabel *m_reference = nullptr;
  QLabel *m_labelNoSerie = nullptr;
  QLabel *m_noSerie = nullptr;
  QLabel *m_labelEtMes = nullptr;
  QLabel *m_etMesure = nullptr;
  QGroupBox *m_groupConfUtilisateur = nullptr;
  QLabel *m_labelIdent = nullptr;
  QLineEdit *m_editId = nullptr;
  QWidget *m_upDown = nullptr;
  QToolButton *m_upDownUp = nullptr;
  QToolButton *m_upDownDown = nullptr;
  QLabel *m_labelFiltrage = nullptr;
  QLineEdit *m_editFiltre = nullptr;
  QLabel *m_label9 = nullptr;
  QGroupBox *m_radioProtocole = nullptr;
  QRadioButton *m_protocoleRs232 = nullptr;
  QRadioButton *m_protocoleRs485 = nullptr;
  QGroupBox *m_radioTypeCom = nullptr;
  QRadioButton *m_typeComOnRequest = nullptr;
  QRadioButton *m_typeComContinuous = nullptr;
  QGroupBox *m_radioAnaOut = nullptr;
  QRadioButton *m_anaOutVout = nullptr;
  QRadioButton *m_anaOutIout = nullptr;
  QGroupBox *m_groupComment = nullptr;
  QPlainTextEdit *m_editComment = nullptr;
  QPushButton *m_boutOK = nullptr;
  QPushButton *m_boutAnnule = nullptr;
  QPushButton *m_boutActualise = nullptr;
};

#endif
