// dialogconfig: the configuration dialog. Its first tab edits the pending
// environment settings (port, link type, display font, angle unit, date
// format); its second tab scans the serial line for sensors, lists them and
// opens the sensor settings dialog for one of them.
//
// The dialog is the scan's shell: the scan (ThScrute) shows its status,
// progress and list lines here and reaches the main window through the hooks
// the main window lends the dialog.
#ifndef NIVELIX_DIALOGCONFIG_H
#define NIVELIX_DIALOGCONFIG_H

#include <functional>

#include <QDialog>
#include <QFont>
#include <QString>

#include "ThScrute.h"

class QComboBox;
class QFontDialog;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QStatusBar;
class QTabWidget;
class QWidget;
class TCapteur;
class TFenetreCapteur;

// What exec() returns.
enum ConfigResult : int { ConfigApply = 1, ConfigCancel = 2 };

// Number of ports offered, "COM1" to "COM8".
constexpr int ConfigPortCount = 8;

// The device a port number stands for on this system: the path in the
// environment variable NIVELIX_COM<n> when set, else /dev/ttyS<n-1> (the
// serial layer's own mapping).
QString PortDevicePath(int portNumber);

// What the main window lends the dialog and, through it, the scan. Empty
// functions are skipped (a dialog without main window, as in tests).
struct ConfigMainWindowHooks {
  std::function<void()> RemoveAllPanels;          // live angle panels
  std::function<void()> ClearSensorReadingItems;  // sensor-reading submenu
  std::function<void(TCapteur *)> AddSensorReadingItem;
  std::function<void()> DiscardAcquisitionFrame;
};

class TFenetreConfig : public QDialog, public ScanShell {
  Q_OBJECT
 public:
  // Runs LoadSettings, then sets the controls from Settings.
  explicit TFenetreConfig(QWidget *parent = nullptr);
  ~TFenetreConfig() override;

  // Clears the text of the first status panel.
  void ClearFirstStatusPanel();

  void SetMainWindowHooks(ConfigMainWindowHooks hooks);
  // The sensor settings dialog that Edit opens (not owned). Without one the
  // dialog makes its own on first use.
  void SetSensorDialog(TFenetreCapteur *dialog);

  // True from the Scan click until the scan has returned.
  bool Scanning() const { return m_scanning; }
  // The pending font of the angle display.
  QFont PendingFont() const { return m_pendingFont; }
  // The platform's font chooser (owned), for tests that answer it.
  QFontDialog *FontDialog() const { return m_fontDialog; }

  // ScanShell.
  int32_t ScanPortNumber() const override;
  uint8_t ScanLinkType() const override;
  TlistCapteur *ScanSensorList() override;
  std::string ScanTextOf(ScanText text) const override;
  std::string ScanPortTroubleText(const DiagnosticPort &port) const override;
  void SetScanStatus(const std::string &text) override;
  void SetScanProgress(int32_t percent) override;
  void SetScanState(bool idle) override;
  void AppendScanLine(const std::string &line) override;
  void DiscardAcquisitionFrame() override;
  void AddSensorReadingItem(TCapteur *sensor) override;
  void ProcessPendingEvents() override;

 public slots:
  // Escape acts as Cancel, so that the dialog always ends with 1 or 2.
  void reject() override;

 protected:
  void showEvent(QShowEvent *event) override;

 private:
  void BuildControls();
  void SetCaptions();
  void SetControlsFromSettings();
  void ConnectControls();
  void ShowPortDevice();

  void ComboNumComChange(int index);
  void RadioEnvRSClick();
  void ComboUnitesChange(int index);
  void ComboFormatDateChange(int index);
  void BoutConfigPoliceClick();
  void BoutScruteClick();
  void BoutStopClick();
  void BoutEditClick();
  void BoutConfigOkClick();
  void BoutConfigAnnuleClick();

  // A close asked for while the scan runs, carried out when it has returned.
  enum class PendingClose { None, Apply, Cancel };

  QWidget *m_panelConfig = nullptr;
  QTabWidget *m_pageConfig = nullptr;
  QWidget *m_tabEnvironnement = nullptr;
  QWidget *m_tabCapteurs = nullptr;
  QLabel *m_labelConfigNumPort = nullptr;
  QComboBox *m_comboNumCom = nullptr;
  QLabel *m_labelPortDevice = nullptr;
  QLabel *m_labelConfigFont = nullptr;
  QPushButton *m_boutConfigPolice = nullptr;
  QLabel *m_labelConfigTypeRS = nullptr;
  QRadioButton *m_radioEnvRS485 = nullptr;
  QRadioButton *m_radioEnvRS232 = nullptr;
  QLabel *m_labelUnite = nullptr;
  QComboBox *m_comboUnites = nullptr;
  QLabel *m_labelFormatDate = nullptr;
  QComboBox *m_comboFormatDate = nullptr;
  QLabel *m_labelListe = nullptr;
  QListWidget *m_valeursCapteurs = nullptr;
  QPushButton *m_boutScrute = nullptr;
  QPushButton *m_boutEdit = nullptr;
  QPushButton *m_boutStop = nullptr;
  QPushButton *m_boutConfigOk = nullptr;
  QPushButton *m_boutConfigAnnule = nullptr;
  QStatusBar *m_barreStatusConfig = nullptr;
  QLabel *m_statusPanel0 = nullptr;
  QProgressBar *m_progress = nullptr;

  QFontDialog *m_fontDialog = nullptr;
  QFont m_pendingFont;
  // The pending font's height as the settings hold it: a stored height of 0
  // or less has no exact QFont equivalent, and must come back unchanged when
  // the chooser is cancelled.
  int32_t m_pendingFontHeight = 0;
  ConfigMainWindowHooks m_hooks;
  TFenetreCapteur *m_sensorDialog = nullptr;
  bool m_scanning = false;
  PendingClose m_pendingClose = PendingClose::None;
};

#endif
