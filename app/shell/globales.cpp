#include "globales.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <QDir>

#include "FichierReglages.h"
#include "Messages.h"
#include "UtilCapt.h"
#include "langue.h"

SettingsRecord Settings{};
SettingsRecord PendingSettings{};
TlistCapteur *SensorList = nullptr;
TFrameAcquisition *AcquisitionFrame = nullptr;

namespace {

constexpr int32_t DefaultReserved = 255;
constexpr int32_t DefaultPortNumber = 1;
constexpr const char *DefaultDisplayFont = "Courier New";
constexpr int32_t DefaultDisplayFontHeight = 54;
constexpr uint8_t DefaultAngleUnit = 1;  // "Deg"

// Shows a settings file failure; errorNumber gives the system's text.
void ReportFileError(LangueId what, int errorNumber) {
  ShowMessage(MessageKind::Error,
              Langue(what).arg(QString::fromLatin1(SettingsFileName),
                               QString::fromLocal8Bit(std::strerror(errorNumber))));
}

void ReportFileText(LangueId what) {
  ShowMessage(MessageKind::Error, Langue(what).arg(QString::fromLatin1(SettingsFileName)));
}

// The message of a failed load: each says that the defaults are in force.
void ReportLoadFailure(const ResultatReglages &r) {
  switch (r.Etat) {
    case EtatReglages::Ok:
    case EtatReglages::Cree: return;
    case EtatReglages::PasOrdinaire: ReportFileText(TxtSettingsNotRegular); return;
    case EtatReglages::ErreurOuverture: ReportFileError(TxtSettingsOpenErrorDefaults, r.Erreur); return;
    case EtatReglages::ErreurCreation:
    case EtatReglages::ErreurEcriture: ReportFileError(TxtSettingsCreateErrorDefaults, r.Erreur); return;
    case EtatReglages::ErreurLecture: ReportFileError(TxtSettingsReadErrorDefaults, r.Erreur); return;
    case EtatReglages::Court: ReportFileText(TxtSettingsShortFile); return;
    case EtatReglages::ErreurFermeture: ReportFileError(TxtSettingsCloseError, r.Erreur); return;
  }
}

// The message of a failed save: the settings applied stay in force.
void ReportSaveFailure(const ResultatReglages &r) {
  switch (r.Etat) {
    case EtatReglages::Ok:
    case EtatReglages::Cree: return;
    case EtatReglages::PasOrdinaire: ReportFileText(TxtSettingsNotRegularSave); return;
    // A read-only file loaded at the start; here is where it shows.
    case EtatReglages::ErreurOuverture: ReportFileError(TxtSettingsCannotSave, r.Erreur); return;
    case EtatReglages::ErreurCreation: ReportFileError(TxtSettingsCreateError, r.Erreur); return;
    case EtatReglages::ErreurLecture: ReportFileError(TxtSettingsReadError, r.Erreur); return;
    case EtatReglages::Court: ReportFileText(TxtSettingsShortFileSave); return;
    case EtatReglages::ErreurEcriture: ReportFileError(TxtSettingsWriteError, r.Erreur); return;
    case EtatReglages::ErreurFermeture: ReportFileError(TxtSettingsCloseError, r.Erreur); return;
  }
}

}  // namespace

SettingsRecord DefaultSettings() {
  SettingsRecord r{};
  r.Reserved = DefaultReserved;
  r.PortNumber = DefaultPortNumber;
  r.LinkType = LinkRs232;
  SetShortStringText(r.DisplayFont, QString::fromLatin1(DefaultDisplayFont));
  r.DisplayFontHeight = DefaultDisplayFontHeight;
  r.AngleUnit = DefaultAngleUnit;
  SetShortStringText(r.AcquisitionFile, QDir::toNativeSeparators(QDir::currentPath()) +
                                            QDir::separator() + Langue(TxtAcquisition) +
                                            QStringLiteral(".txt"));
  r.DateFormat = DateYearMonthDay;
  return r;
}

bool LoadSettings() {
  Settings = DefaultSettings();
  const ResultatReglages r = TFichierReglages::Charger(Settings);
  ReportLoadFailure(r);
  PendingSettings = Settings;
  return r.Etat == EtatReglages::Ok || r.Etat == EtatReglages::Cree;
}

void ApplyPendingSettings() { Settings = PendingSettings; }

TSettingsSave::TSettingsSave() : m_file(std::make_unique<TFichierReglages>()) {}

TSettingsSave::~TSettingsSave() = default;

bool TSettingsSave::ReadPrevious() {
  const ResultatReglages r = m_file->LirePrecedent(Settings);
  ReportSaveFailure(r);
  return r.Etat == EtatReglages::Ok;
}

bool TSettingsSave::WriteRecords() {
  // Not after a first step that failed: that one was reported already.
  if (!m_file->Ouvert()) return false;
  const ResultatReglages r = m_file->EcrireEnregistrements(Settings);
  ReportSaveFailure(r);
  return r.Etat == EtatReglages::Ok;
}

bool SaveSettings() {
  TSettingsSave save;
  return save.ReadPrevious() && save.WriteRecords();
}

uint8_t DisplayUnit() { return RecordDisplayUnit(Settings); }

int DisplayFontPixels(int32_t storedHeight) {
  constexpr int64_t MaxPixels = 2000;
  const int64_t pixels = std::llabs(static_cast<int64_t>(storedHeight));
  return pixels <= MaxPixels ? static_cast<int>(pixels) : 0;
}
