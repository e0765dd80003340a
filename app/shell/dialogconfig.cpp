#include "dialogconfig.h"

#include <QApplication>
#include <QComboBox>
#include <QFileInfo>
#include <QFontDialog>
#include <QFontInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QVBoxLayout>

#include "Annonce.h"
#include "CheminPort.h"
#include "DialogCapteur.h"
#include "ListeCapteurs.h"
#include "Messages.h"
#include "TextePort.h"
#include "UtilCapt.h"
#include "VerrouPort.h"
#include "globales.h"
#include "langue.h"

namespace {

// Positions of the tabs in PageConfig.
constexpr int TabEnvironnementIndex = 0;
constexpr int TabCapteursIndex = 1;

// Widths of the design, kept as minimum sizes: Linux fonts are wider than
// the ones the design was drawn with, so controls may grow beyond them.
constexpr int FieldWidth = 137;
constexpr int LabelColumnWidth = 112;
constexpr int ButtonWidth = 75;
constexpr int ButtonHeight = 25;
constexpr int ListWidth = 169;
constexpr int ListHeight = 129;
constexpr int StatusPanel0Width = 200;
constexpr int StatusPanel1Width = 50;
constexpr int DeviceTextWidth = 180;

QString FromUtf8(const std::string &text) { return QString::fromUtf8(text.c_str()); }

}  // namespace

QString PortDevicePath(int portNumber) {
  return QString::fromLocal8Bit(ComDevicePath(portNumber).c_str());
}

TFenetreConfig::TFenetreConfig(QWidget *parent) : QDialog(parent) {
  setObjectName("FenetreConfig");
  // Settings first: every control below is set from them.
  LoadSettings();
  BuildControls();
  SetCaptions();
  SetControlsFromSettings();
  ConnectControls();
}

TFenetreConfig::~TFenetreConfig() {
  if (CurrentScanShell() == this) SetScanShell(nullptr);
}

void TFenetreConfig::BuildControls() {
  // Left only through its two buttons: no title-bar buttons.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  setModal(true);

  auto *outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->setSpacing(0);
  outer->setSizeConstraint(QLayout::SetFixedSize);

  m_panelConfig = new QWidget(this);
  m_panelConfig->setObjectName("PanelConfig");
  auto *panelLayout = new QVBoxLayout(m_panelConfig);
  panelLayout->setContentsMargins(0, 0, 6, 6);
  outer->addWidget(m_panelConfig);

  m_pageConfig = new QTabWidget(m_panelConfig);
  m_pageConfig->setObjectName("PageConfig");
  panelLayout->addWidget(m_pageConfig);

  // Environment tab.
  m_tabEnvironnement = new QWidget;
  m_tabEnvironnement->setObjectName("TabEnvironnement");
  auto *env = new QGridLayout(m_tabEnvironnement);
  env->setContentsMargins(8, 12, 12, 8);
  env->setColumnMinimumWidth(0, LabelColumnWidth);
  env->setColumnMinimumWidth(1, FieldWidth);
  env->setVerticalSpacing(4);

  m_labelConfigNumPort = new QLabel(m_tabEnvironnement);
  m_labelConfigNumPort->setObjectName("LabelConfigNumPort");
  m_comboNumCom = new QComboBox(m_tabEnvironnement);
  m_comboNumCom->setObjectName("ComboNumCom");
  m_labelPortDevice = new QLabel(m_tabEnvironnement);
  m_labelPortDevice->setObjectName("LabelPortDevice");
  m_labelPortDevice->setTextInteractionFlags(Qt::TextSelectableByMouse);
  m_labelPortDevice->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  m_labelConfigFont = new QLabel(m_tabEnvironnement);
  m_labelConfigFont->setObjectName("LabelConfigFont");
  m_boutConfigPolice = new QPushButton(m_tabEnvironnement);
  m_boutConfigPolice->setObjectName("BoutConfigPolice");
  QFont bold = m_boutConfigPolice->font();
  bold.setBold(true);
  m_boutConfigPolice->setFont(bold);
  m_boutConfigPolice->setAutoDefault(false);
  m_labelConfigTypeRS = new QLabel(m_tabEnvironnement);
  m_labelConfigTypeRS->setObjectName("LabelConfigTypeRS");
  m_radioEnvRS485 = new QRadioButton(m_tabEnvironnement);
  m_radioEnvRS485->setObjectName("RadioEnvRS485");
  m_radioEnvRS232 = new QRadioButton(m_tabEnvironnement);
  m_radioEnvRS232->setObjectName("RadioEnvRS232");
  m_labelUnite = new QLabel(m_tabEnvironnement);
  m_labelUnite->setObjectName("LabelUnite");
  m_comboUnites = new QComboBox(m_tabEnvironnement);
  m_comboUnites->setObjectName("ComboUnites");
  m_labelFormatDate = new QLabel(m_tabEnvironnement);
  m_labelFormatDate->setObjectName("LabelFormatDate");
  m_comboFormatDate = new QComboBox(m_tabEnvironnement);
  m_comboFormatDate->setObjectName("ComboFormatDate");
  for (QWidget *field : {static_cast<QWidget *>(m_comboNumCom), static_cast<QWidget *>(m_boutConfigPolice),
                         static_cast<QWidget *>(m_comboUnites), static_cast<QWidget *>(m_comboFormatDate)})
    field->setMinimumWidth(FieldWidth);

  auto *radios = new QHBoxLayout;
  radios->setContentsMargins(0, 0, 0, 0);
  radios->addWidget(m_radioEnvRS485);  // RS485 left of RS232
  radios->addWidget(m_radioEnvRS232);
  radios->addStretch();

  env->addWidget(m_labelConfigNumPort, 0, 0);
  env->addWidget(m_comboNumCom, 0, 1);
  env->addWidget(m_labelPortDevice, 1, 1);
  env->addWidget(m_labelConfigFont, 2, 0);
  env->addWidget(m_boutConfigPolice, 2, 1);
  env->addWidget(m_labelConfigTypeRS, 3, 0);
  env->addLayout(radios, 3, 1);
  env->addWidget(m_labelUnite, 4, 0);
  env->addWidget(m_comboUnites, 4, 1);
  env->addWidget(m_labelFormatDate, 5, 0);
  env->addWidget(m_comboFormatDate, 5, 1);
  env->setRowStretch(6, 1);
  m_labelConfigNumPort->setBuddy(m_comboNumCom);
  m_labelConfigFont->setBuddy(m_boutConfigPolice);
  m_labelConfigTypeRS->setBuddy(m_radioEnvRS485);
  m_labelUnite->setBuddy(m_comboUnites);
  m_labelFormatDate->setBuddy(m_comboFormatDate);
  m_pageConfig->addTab(m_tabEnvironnement, QString());

  // Sensors tab.
  m_tabCapteurs = new QWidget;
  m_tabCapteurs->setObjectName("TabCapteurs");
  auto *sensors = new QGridLayout(m_tabCapteurs);
  sensors->setContentsMargins(8, 8, 12, 8);
  m_labelListe = new QLabel(m_tabCapteurs);
  m_labelListe->setObjectName("LabelListe");
  m_valeursCapteurs = new QListWidget(m_tabCapteurs);
  m_valeursCapteurs->setObjectName("ValeursCapteurs");
  m_valeursCapteurs->setSelectionMode(QAbstractItemView::SingleSelection);
  m_valeursCapteurs->setMinimumSize(ListWidth, ListHeight);
  m_labelListe->setBuddy(m_valeursCapteurs);
  m_boutScrute = new QPushButton(m_tabCapteurs);
  m_boutScrute->setObjectName("BoutScrute");
  m_boutScrute->setIcon(style()->standardIcon(QStyle::SP_BrowserReload));
  m_boutEdit = new QPushButton(m_tabCapteurs);
  m_boutEdit->setObjectName("BoutEdit");
  m_boutEdit->setIcon(style()->standardIcon(QStyle::SP_FileDialogDetailedView));
  m_boutStop = new QPushButton(m_tabCapteurs);
  m_boutStop->setObjectName("BoutStop");
  m_boutStop->setIcon(style()->standardIcon(QStyle::SP_BrowserStop));
  m_boutStop->setEnabled(false);
  auto *buttons = new QVBoxLayout;
  buttons->setSpacing(7);
  for (QPushButton *b : {m_boutScrute, m_boutEdit, m_boutStop}) {
    b->setMinimumSize(ButtonWidth, ButtonHeight);
    b->setAutoDefault(false);
    buttons->addWidget(b);
  }
  buttons->addStretch();
  sensors->addWidget(m_labelListe, 0, 0);
  sensors->addWidget(m_valeursCapteurs, 1, 0);
  sensors->addLayout(buttons, 1, 1);
  m_pageConfig->addTab(m_tabCapteurs, QString());

  // Apply and Cancel, right-aligned under the tabs.
  auto *closeRow = new QHBoxLayout;
  closeRow->addStretch();
  m_boutConfigOk = new QPushButton(m_panelConfig);
  m_boutConfigOk->setObjectName("BoutConfigOk");
  m_boutConfigOk->setMinimumSize(83, 27);
  m_boutConfigOk->setDefault(true);
  m_boutConfigAnnule = new QPushButton(m_panelConfig);
  m_boutConfigAnnule->setObjectName("BoutConfigAnnule");
  m_boutConfigAnnule->setMinimumSize(81, 27);
  m_boutConfigAnnule->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));
  m_boutConfigAnnule->setAutoDefault(false);
  closeRow->addWidget(m_boutConfigOk);
  closeRow->addWidget(m_boutConfigAnnule);
  panelLayout->addLayout(closeRow);

  // Status bar: panel 0 the scan's status text, panel 1 under the progress bar.
  m_barreStatusConfig = new QStatusBar(this);
  m_barreStatusConfig->setObjectName("BarreStatusConfig");
  m_barreStatusConfig->setSizeGripEnabled(false);
  m_statusPanel0 = new QLabel(m_barreStatusConfig);
  m_statusPanel0->setObjectName("StatusPanel0");
  m_statusPanel0->setMinimumWidth(StatusPanel0Width);
  // A long status must not resize the dialog while the scan runs.
  m_statusPanel0->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  m_progress = new QProgressBar(m_barreStatusConfig);
  m_progress->setObjectName("BarreProgression");
  m_progress->setRange(0, 100);
  m_progress->setValue(0);
  m_progress->setTextVisible(false);
  m_progress->setMinimumWidth(StatusPanel1Width);
  m_progress->setMaximumHeight(16);
  m_barreStatusConfig->addWidget(m_statusPanel0, 1);
  m_barreStatusConfig->addPermanentWidget(m_progress);
  outer->addWidget(m_barreStatusConfig);

  m_fontDialog = new QFontDialog(this);
  m_fontDialog->setObjectName("FontDialog");
  m_fontDialog->setOption(QFontDialog::DontUseNativeDialog);
}

void TFenetreConfig::SetCaptions() {
  setWindowTitle(Langue(TxtCaptionConfig));
  m_boutScrute->setText(Langue(TxtBoutScrute));
  m_boutConfigAnnule->setText(Langue(TxtCancel));
  m_boutConfigOk->setText(Langue(TxtBoutConfigOk));
  m_boutEdit->setText(Langue(TxtBoutEdit));
  m_boutStop->setText(Langue(TxtBoutStop));
  m_pageConfig->setTabText(TabEnvironnementIndex, Langue(TxtTabEnvironnement));
  m_pageConfig->setTabText(TabCapteursIndex, Langue(TxtTabCapteurs));
  m_labelConfigNumPort->setText(Langue(TxtLabelConfigNumPort));
  m_labelConfigFont->setText(Langue(TxtLabelConfigFont));
  m_boutConfigPolice->setText(Langue(TxtBoutConfigPolice));
  m_labelConfigTypeRS->setText(Langue(TxtLabelConfigTypeRS));
  m_radioEnvRS485->setText(Langue(TxtRs485));
  m_radioEnvRS232->setText(Langue(TxtRs232));
  m_labelUnite->setText(Langue(TxtLabelUnite));
  m_labelFormatDate->setText(Langue(TxtLabelFormatDate));
  m_labelListe->setText(Langue(TxtLabelListe));

  m_comboNumCom->clear();
  for (int n = 1; n <= ConfigPortCount; ++n) m_comboNumCom->addItem(Langue(TxtComPrefix) + QString::number(n));
  m_comboUnites->clear();
  for (int unit = UnitMRad; unit <= UnitMmPerM; ++unit) m_comboUnites->addItem(FromUtf8(AngleUnitName(unit)));
  m_comboFormatDate->clear();
  m_comboFormatDate->addItems({Langue(TxtDateDdmmyy), Langue(TxtDateMmddyy), Langue(TxtDateYymmdd)});

  // Accessible names: the visible caption without its mnemonic marker.
  auto plain = [](const QString &caption) { return QString(caption).remove('&'); };
  m_pageConfig->setAccessibleName(plain(Langue(TxtCaptionConfig)));
  m_tabEnvironnement->setAccessibleName(plain(Langue(TxtTabEnvironnement)));
  m_tabCapteurs->setAccessibleName(plain(Langue(TxtTabCapteurs)));
  m_comboNumCom->setAccessibleName(plain(Langue(TxtLabelConfigNumPort)));
  m_labelPortDevice->setAccessibleName(Langue(TxtAccPortDevice));
  m_boutConfigPolice->setAccessibleName(Langue(TxtAccFontButton));
  m_radioEnvRS485->setAccessibleName(Langue(TxtRs485));
  m_radioEnvRS232->setAccessibleName(Langue(TxtRs232));
  m_comboUnites->setAccessibleName(Langue(TxtLabelUnite));
  m_comboFormatDate->setAccessibleName(Langue(TxtLabelFormatDate));
  m_valeursCapteurs->setAccessibleName(Langue(TxtLabelListe));
  m_boutScrute->setAccessibleName(plain(Langue(TxtBoutScrute)));
  m_boutEdit->setAccessibleName(plain(Langue(TxtBoutEdit)));
  m_boutStop->setAccessibleName(plain(Langue(TxtBoutStop)));
  m_boutConfigOk->setAccessibleName(plain(Langue(TxtBoutConfigOk)));
  m_boutConfigAnnule->setAccessibleName(plain(Langue(TxtCancel)));
  // The status text itself is the name (Annonce.h).
  m_statusPanel0->setAccessibleDescription(Langue(TxtAccConfigStatus));
  m_progress->setAccessibleName(Langue(TxtAccConfigProgress));
  for (QLabel *label : {m_labelConfigNumPort, m_labelConfigFont, m_labelConfigTypeRS, m_labelUnite,
                        m_labelFormatDate, m_labelListe})
    label->setAccessibleName(label->text());
}

void TFenetreConfig::SetControlsFromSettings() {
  m_pageConfig->setCurrentIndex(TabEnvironnementIndex);
  // A stored value outside a list shows no selection.
  const int port = Settings.PortNumber;
  m_comboNumCom->setCurrentIndex(port >= 1 && port <= ConfigPortCount ? port - 1 : -1);
  m_comboFormatDate->setCurrentIndex(Settings.DateFormat <= DateYearMonthDay ? Settings.DateFormat : -1);
  m_comboUnites->setCurrentIndex(Settings.AngleUnit <= UnitMmPerM ? Settings.AngleUnit : -1);
  if (Settings.LinkType == LinkRs232)
    m_radioEnvRS232->setChecked(true);
  else
    m_radioEnvRS485->setChecked(true);

  m_pendingFont = QFont(ShortStringText(Settings.DisplayFont));
  m_pendingFontHeight = Settings.DisplayFontHeight;
  // The chooser opens on the size the live panel shows.
  const int pixels = DisplayFontPixels(m_pendingFontHeight);
  if (pixels > 0) m_pendingFont.setPixelSize(pixels);
  m_fontDialog->setCurrentFont(m_pendingFont);
  ShowPortDevice();
}

void TFenetreConfig::ConnectControls() {
  connect(m_comboNumCom, &QComboBox::currentIndexChanged, this, &TFenetreConfig::ComboNumComChange);
  connect(m_radioEnvRS485, &QRadioButton::toggled, this, [this] { RadioEnvRSClick(); });
  connect(m_radioEnvRS232, &QRadioButton::toggled, this, [this] { RadioEnvRSClick(); });
  connect(m_comboUnites, &QComboBox::currentIndexChanged, this, &TFenetreConfig::ComboUnitesChange);
  connect(m_comboFormatDate, &QComboBox::currentIndexChanged, this, &TFenetreConfig::ComboFormatDateChange);
  connect(m_boutConfigPolice, &QPushButton::clicked, this, &TFenetreConfig::BoutConfigPoliceClick);
  connect(m_boutScrute, &QPushButton::clicked, this, &TFenetreConfig::BoutScruteClick);
  connect(m_boutStop, &QPushButton::clicked, this, &TFenetreConfig::BoutStopClick);
  connect(m_boutEdit, &QPushButton::clicked, this, &TFenetreConfig::BoutEditClick);
  connect(m_boutConfigOk, &QPushButton::clicked, this, &TFenetreConfig::BoutConfigOkClick);
  connect(m_boutConfigAnnule, &QPushButton::clicked, this, &TFenetreConfig::BoutConfigAnnuleClick);
  connect(m_valeursCapteurs, &QListWidget::itemDoubleClicked, this, &TFenetreConfig::BoutEditClick);
}

void TFenetreConfig::SetMainWindowHooks(ConfigMainWindowHooks hooks) { m_hooks = std::move(hooks); }

void TFenetreConfig::SetSensorDialog(TFenetreCapteur *dialog) { m_sensorDialog = dialog; }

void TFenetreConfig::ClearFirstStatusPanel() {
  m_statusPanel0->clear();
  AnnounceText(m_statusPanel0, QString());
}

void TFenetreConfig::showEvent(QShowEvent *event) {
  // The device behind a port can come and go (a USB adapter) between showings.
  ShowPortDevice();
  QDialog::showEvent(event);
}

void TFenetreConfig::ShowPortDevice() {
  const int index = m_comboNumCom->currentIndex();
  if (index < 0) {
    m_labelPortDevice->clear();
    m_labelPortDevice->setToolTip(QString());
    return;
  }
  const QString path = PortDevicePath(index + 1);
  const QString shown = QFileInfo::exists(path) ? path : Langue(TxtPortMissing).arg(path);
  // A long device path (/dev/serial/by-id/...) is shortened in the middle
  // rather than widening the dialog; the tooltip holds the whole of it.
  const QString text = Langue(TxtPortDevice).arg(shown);
  const int room = qMax(m_comboNumCom->width(), DeviceTextWidth);
  m_labelPortDevice->setText(m_labelPortDevice->fontMetrics().elidedText(text, Qt::ElideMiddle, room));
  m_labelPortDevice->setToolTip(text);
}

// ---- Environment controls: each writes one field of PendingSettings --------

void TFenetreConfig::ComboNumComChange(int index) {
  if (index >= 0) PendingSettings.PortNumber = index + 1;
  ShowPortDevice();
}

void TFenetreConfig::RadioEnvRSClick() {
  PendingSettings.LinkType = m_radioEnvRS232->isChecked() ? LinkRs232 : LinkRs485;
}

void TFenetreConfig::ComboUnitesChange(int index) {
  if (index >= UnitMRad && index <= UnitMmPerM) PendingSettings.AngleUnit = static_cast<uint8_t>(index);
}

void TFenetreConfig::ComboFormatDateChange(int index) {
  switch (index) {
    case 1: PendingSettings.DateFormat = DateMonthDayYear; break;
    case 2: PendingSettings.DateFormat = DateYearMonthDay; break;
    default: PendingSettings.DateFormat = DateDayMonthYear; break;
  }
}

void TFenetreConfig::BoutConfigPoliceClick() {
  m_fontDialog->setCurrentFont(m_pendingFont);
  if (m_fontDialog->exec() == QDialog::Accepted) {
    m_pendingFont = m_fontDialog->selectedFont();
    // The chooser gives point sizes; the setting is in pixels.
    m_pendingFontHeight = m_pendingFont.pixelSize() > 0 ? m_pendingFont.pixelSize()
                                                        : QFontInfo(m_pendingFont).pixelSize();
  }
  SetShortStringText(PendingSettings.DisplayFont, m_pendingFont.family());
  PendingSettings.DisplayFontHeight = m_pendingFontHeight;
}

// ---- Sensors tab ------------------------------------------------------------

void TFenetreConfig::BoutScruteClick() {
  if (m_scanning || SensorList == nullptr) return;
  m_scanning = true;
  m_pendingClose = PendingClose::None;
  SensorList->ClearSensors();
  if (m_hooks.RemoveAllPanels) m_hooks.RemoveAllPanels();
  if (m_hooks.ClearSensorReadingItems) m_hooks.ClearSensorReadingItems();
  m_valeursCapteurs->clear();
  m_boutStop->setEnabled(true);
  m_pageConfig->setTabEnabled(TabEnvironnementIndex, false);
  ClearFirstStatusPanel();
  m_boutScrute->setEnabled(false);
  // Edit would talk to a sensor in the middle of the sweep and close the
  // port the sweep holds open: it waits for the end of the scan.
  m_boutEdit->setEnabled(false);

  SetScanShell(this);
  ScanLine();
  m_scanning = false;
  m_boutEdit->setEnabled(true);

  // Apply or Cancel clicked while the scan ran take effect now.
  const PendingClose pending = m_pendingClose;
  m_pendingClose = PendingClose::None;
  if (pending == PendingClose::Apply)
    BoutConfigOkClick();
  else if (pending == PendingClose::Cancel)
    BoutConfigAnnuleClick();
}

void TFenetreConfig::BoutStopClick() { RequestStop(); }

void TFenetreConfig::BoutEditClick() {
  if (m_scanning) return;
  const int row = m_valeursCapteurs->currentRow();
  TCapteur *sensor = nullptr;
  if (row >= 0 && m_valeursCapteurs->item(row)->isSelected() && SensorList != nullptr)
    sensor = SensorList->GetSensor(row);
  if (sensor == nullptr) {
    ShowMessage(MessageKind::Information, Langue(TxtSelectSensor), QMessageBox::Ok, this);
    return;
  }
  if (m_sensorDialog == nullptr) m_sensorDialog = new TFenetreCapteur(this);
  m_sensorDialog->Affiche(sensor);
}

void TFenetreConfig::BoutConfigOkClick() {
  if (m_scanning) {
    if (m_pendingClose == PendingClose::None) m_pendingClose = PendingClose::Apply;
    return;
  }
  // Another port applied: the one held so far is free for other programs
  // (the new one is taken at its first use).
  if (PendingSettings.PortNumber != Settings.PortNumber) VerrouProgramme().Liberer();
  ApplyPendingSettings();
  done(ConfigApply);
}

void TFenetreConfig::BoutConfigAnnuleClick() {
  if (m_scanning) {
    if (m_pendingClose == PendingClose::None) m_pendingClose = PendingClose::Cancel;
    return;
  }
  m_valeursCapteurs->clear();
  done(ConfigCancel);
}

void TFenetreConfig::reject() { BoutConfigAnnuleClick(); }

// ---- The scan's shell ---------------------------------------------------------

int32_t TFenetreConfig::ScanPortNumber() const { return Settings.PortNumber; }

uint8_t TFenetreConfig::ScanLinkType() const {
  // As the environment tab shows it: RS232 only for 1, so that a stored
  // value of another kind scans the line the user sees checked (RS485).
  return Settings.LinkType == LinkRs232 ? ScanLinkRs232 : ScanLinkRs485;
}

TlistCapteur *TFenetreConfig::ScanSensorList() { return SensorList; }

std::string TFenetreConfig::ScanTextOf(ScanText text) const {
  return ScanMessageText(text).toStdString();
}

std::string TFenetreConfig::ScanPortTroubleText(const DiagnosticPort &port) const {
  return PortTroubleText(port).toStdString();
}

void TFenetreConfig::SetScanStatus(const std::string &text) {
  m_statusPanel0->setText(FromUtf8(text));
  AnnounceText(m_statusPanel0, m_statusPanel0->text());
}

void TFenetreConfig::SetScanProgress(int32_t percent) { m_progress->setValue(percent); }

void TFenetreConfig::SetScanState(bool idle) {
  m_boutScrute->setEnabled(idle);
  m_boutStop->setEnabled(!idle);
  m_pageConfig->setTabEnabled(TabEnvironnementIndex, idle);
}

void TFenetreConfig::AppendScanLine(const std::string &line) { m_valeursCapteurs->addItem(FromUtf8(line)); }

void TFenetreConfig::DiscardAcquisitionFrame() {
  if (m_hooks.DiscardAcquisitionFrame) m_hooks.DiscardAcquisitionFrame();
}

void TFenetreConfig::AddSensorReadingItem(TCapteur *sensor) {
  if (m_hooks.AddSensorReadingItem) m_hooks.AddSensorReadingItem(sensor);
}

void TFenetreConfig::ProcessPendingEvents() { QCoreApplication::processEvents(); }
