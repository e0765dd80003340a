#include "DialogConfigAcqu.h"

#include <limits>

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include "Messages.h"
#include "UtilCapt.h"
#include "globales.h"
#include "langue.h"

namespace {


// The values FormShow puts in the boxes.
constexpr int32_t ShownPeriod = 5;
constexpr int32_t ShownDays = 0;
constexpr int32_t ShownHours = 0;
constexpr int32_t ShownMinutes = 1;

// Ranges of the arrows (the edit boxes themselves accept any number).
constexpr int PeriodArrowMin = 1, PeriodArrowMax = 255;
constexpr int DaysArrowMax = 255, HoursArrowMax = 23, MinutesArrowMax = 59;

bool FitsInt32(int64_t v) {
  return v >= std::numeric_limits<int32_t>::min() && v <= std::numeric_limits<int32_t>::max();
}

}  // namespace

SampleCountResult ComputeSamples(int32_t period, int32_t days, int32_t hours, int32_t minutes,
                                 int unitIndex, int32_t previousPeriodSeconds) {
  SampleCountResult result;
  if (days < 0 || hours < 0 || minutes < 0) return result;
  // Typed values beyond the arrows' ranges can overflow 32 bits: computed
  // wide and refused when they do not fit, rather than wrapping to a count
  // that has nothing to do with what was typed.
  const int64_t duration = days * SecondsPerDay + hours * SecondsPerHour + minutes * SecondsPerMinute;
  if (period < 1 || duration == 0 || !FitsInt32(duration)) return result;
  int64_t periodSeconds = previousPeriodSeconds;
  switch (unitIndex) {
    case UnitSecondes: periodSeconds = period; break;
    case UnitMinutes: periodSeconds = period * SecondsPerMinute; break;
    case UnitHours: periodSeconds = period * SecondsPerHour; break;
    case UnitDays: periodSeconds = period * SecondsPerDay; break;
    default:
      result.valid = true;
      result.periodSeconds = previousPeriodSeconds;
      result.sampleCount = 1;
      return result;
  }
  if (!FitsInt32(periodSeconds)) return result;
  result.valid = true;
  result.periodSeconds = static_cast<int32_t>(periodSeconds);
  result.sampleCount = static_cast<int32_t>(duration / periodSeconds);
  return result;
}

// ---- TUpDown ---------------------------------------------------------------

TUpDown::TUpDown(QLineEdit *edit, int minimum, int maximum, QWidget *parent)
    : QWidget(parent), m_edit(edit), m_minimum(minimum), m_maximum(maximum) {
  auto *layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  auto *up = new QToolButton(this);
  auto *down = new QToolButton(this);
  up->setArrowType(Qt::UpArrow);
  down->setArrowType(Qt::DownArrow);
  for (QToolButton *b : {up, down}) {
    b->setAutoRepeat(true);
    b->setFocusPolicy(Qt::NoFocus);
    b->setFixedSize(15, 11);
    b->setIconSize(QSize(7, 5));
    layout->addWidget(b);
  }
  up->setObjectName("Up");
  down->setObjectName("Down");
  connect(up, &QToolButton::clicked, this, [this] { Step(1); });
  connect(down, &QToolButton::clicked, this, [this] { Step(-1); });
}

void TUpDown::Step(int delta) {
  bool ok = false;
  int value = m_edit->text().trimmed().toInt(&ok);
  if (!ok) value = m_minimum;
  value = qBound(m_minimum, value + delta, m_maximum);
  m_edit->setText(QString::number(value));
}

// ---- TConfigAcquisition ----------------------------------------------------

namespace {
TConfigAcquisition *lastCreated = nullptr;
}  // namespace

TConfigAcquisition::TConfigAcquisition(QWidget *parent) : QDialog(parent) {
  setObjectName("ConfigAcquisition");
  CreateControls();
  ConnectControls();
  lastCreated = this;
}

TConfigAcquisition::~TConfigAcquisition() {
  if (lastCreated == this) lastCreated = nullptr;
}

TConfigAcquisition *TConfigAcquisition::Instance() { return lastCreated; }

void TConfigAcquisition::CreateControls() {
  setWindowTitle(Langue(TxtAcqParameters));

  auto edit = [this](const char *name, LangueId accessible) {
    auto *e = new QLineEdit(this);
    e->setObjectName(name);
    e->setAccessibleName(Langue(accessible));
    return e;
  };
  auto group = [this](const char *name, LangueId caption) {
    auto *g = new QGroupBox(Langue(caption), this);
    g->setObjectName(name);
    return g;
  };
  auto unitLabel = [this](const char *name, LangueId caption, QLineEdit *buddy) {
    auto *l = new QLabel(Langue(caption), this);
    l->setObjectName(name);
    QFont f = l->font();
    f.setPixelSize(20);
    l->setFont(f);
    l->setBuddy(buddy);
    return l;
  };
  auto upDown = [this](const char *name, QLineEdit *e, int min, int max, LangueId accessible) {
    auto *u = new TUpDown(e, min, max, this);
    u->setObjectName(name);
    u->setAccessibleName(Langue(accessible));
    return u;
  };

  m_groupEnregistre = group("GroupEnregistre", TxtAcqFileSaving);
  m_editEnregistre = edit("EditEnregistre", TxtAcqAccFile);
  m_editEnregistre->setMinimumWidth(233);
  m_boutSauve = new QToolButton(this);
  m_boutSauve->setObjectName("BoutSauve");
  m_boutSauve->setAutoRaise(true);
  m_boutSauve->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
  m_boutSauve->setAccessibleName(Langue(TxtAcqAccBrowse));
  m_boutSauve->setToolTip(Langue(TxtAcqAccBrowse));
  auto *rowFile = new QHBoxLayout(m_groupEnregistre);
  rowFile->addWidget(m_editEnregistre, 1);
  rowFile->addWidget(m_boutSauve);

  m_groupPeriode = group("GroupPeriode", TxtAcqPeriod);
  m_editPeriode = edit("EditPeriode", TxtAcqAccPeriod);
  m_editPeriode->setFixedWidth(89);
  m_upDown1 = upDown("UpDown1", m_editPeriode, PeriodArrowMin, PeriodArrowMax, TxtAcqAccPeriodArrows);
  m_listeUnitePeriode = new QComboBox(this);
  m_listeUnitePeriode->setObjectName("ListeUnitePeriode");
  m_listeUnitePeriode->setAccessibleName(Langue(TxtAcqAccPeriodUnit));
  m_listeUnitePeriode->addItems({Langue(TxtAcqSecondes), Langue(TxtAcqMinutes), Langue(TxtAcqHours),
                                 Langue(TxtAcqDays)});
  m_listeUnitePeriode->setCurrentIndex(UnitSecondes);
  m_listeUnitePeriode->setMinimumWidth(121);
  auto *rowPeriod = new QHBoxLayout(m_groupPeriode);
  rowPeriod->setSpacing(0);
  rowPeriod->addWidget(m_editPeriode);
  rowPeriod->addWidget(m_upDown1);
  rowPeriod->addSpacing(24);
  rowPeriod->addWidget(m_listeUnitePeriode, 1);

  m_groupEditeDuree = group("GroupEditeDuree", TxtAcqTime);
  m_editDureeJours = edit("EditDureeJours", TxtAcqAccDays);
  m_editDureeHeures = edit("EditDureeHeures", TxtAcqAccHours);
  m_editDureeMin = edit("EditDureeMin", TxtAcqAccMinutes);
  m_upDown2 = upDown("UpDown2", m_editDureeJours, 0, DaysArrowMax, TxtAcqAccDaysArrows);
  m_upDown3 = upDown("UpDown3", m_editDureeHeures, 0, HoursArrowMax, TxtAcqAccHoursArrows);
  m_upDown4 = upDown("UpDown4", m_editDureeMin, 0, MinutesArrowMax, TxtAcqAccMinutesArrows);
  m_labelJ = unitLabel("LabelJ", TxtAcqLetterDays, m_editDureeJours);
  m_labelH = unitLabel("LabelH", TxtAcqLetterHours, m_editDureeHeures);
  m_labelMin = unitLabel("LabelMin", TxtAcqLetterMinutes, m_editDureeMin);
  auto *rowDuration = new QHBoxLayout(m_groupEditeDuree);
  rowDuration->setSpacing(0);
  const struct {
    QLineEdit *e;
    TUpDown *u;
    QLabel *l;
  } parts[] = {{m_editDureeJours, m_upDown2, m_labelJ},
               {m_editDureeHeures, m_upDown3, m_labelH},
               {m_editDureeMin, m_upDown4, m_labelMin}};
  for (const auto &p : parts) {
    p.e->setFixedWidth(49);
    rowDuration->addWidget(p.e);
    rowDuration->addWidget(p.u);
    rowDuration->addSpacing(4);
    rowDuration->addWidget(p.l);
    rowDuration->addSpacing(10);
  }

  m_groupNbrEch = group("GroupNbrEch", TxtAcqSamplesNumber);
  m_editNbrEch = edit("EditNbrEch", TxtAcqAccSamples);
  m_editNbrEch->setReadOnly(true);
  auto *rowCount = new QHBoxLayout(m_groupNbrEch);
  rowCount->addWidget(m_editNbrEch);

  // The stock buttons, with the toolkit's own captions.
  m_boutons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  m_boutOK = m_boutons->button(QDialogButtonBox::Ok);
  m_boutOK->setObjectName("BoutOK");
  m_boutAnnule = m_boutons->button(QDialogButtonBox::Cancel);
  m_boutAnnule->setObjectName("BoutAnnule");
  for (QPushButton *b : {m_boutOK, m_boutAnnule}) {
    b->setAccessibleName(b->text().remove('&'));
    b->setMinimumSize(75, 25);
  }

  auto *layout = new QVBoxLayout(this);
  layout->addWidget(m_groupEnregistre);
  layout->addWidget(m_groupPeriode);
  layout->addWidget(m_groupEditeDuree);
  layout->addWidget(m_groupNbrEch);
  layout->addSpacing(6);
  layout->addWidget(m_boutons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  setMinimumWidth(299);

  m_sauveDialog = new QFileDialog(this);
  m_sauveDialog->setObjectName("SauveDialog");
  m_sauveDialog->setAcceptMode(QFileDialog::AcceptSave);
  m_sauveDialog->setFileMode(QFileDialog::AnyFile);
  m_sauveDialog->setOption(QFileDialog::DontUseNativeDialog);
  m_sauveDialog->setOption(QFileDialog::DontConfirmOverwrite);
  m_sauveDialog->setDefaultSuffix("txt");
  m_sauveDialog->setNameFilters({Langue(TxtAcqTxtFilter), Langue(TxtAcqAllFilter)});
}

void TConfigAcquisition::ConnectControls() {
  connect(m_editPeriode, &QLineEdit::textChanged, this,
          [this](const QString &t) { EditChange(t, m_period); });
  connect(m_editDureeJours, &QLineEdit::textChanged, this,
          [this](const QString &t) { EditChange(t, m_durationDays); });
  connect(m_editDureeHeures, &QLineEdit::textChanged, this,
          [this](const QString &t) { EditChange(t, m_durationHours); });
  connect(m_editDureeMin, &QLineEdit::textChanged, this,
          [this](const QString &t) { EditChange(t, m_durationMinutes); });
  connect(m_listeUnitePeriode, qOverload<int>(&QComboBox::currentIndexChanged), this,
          [this] { ComputeSampleCount(); });
  connect(m_boutSauve, &QToolButton::clicked, this, &TConfigAcquisition::BoutSauveClick);
  connect(m_boutons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(m_boutons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

QString TConfigAcquisition::FilePath() const { return m_editEnregistre->text(); }

void TConfigAcquisition::showEvent(QShowEvent *event) {
  if (!event->spontaneous()) FormShow();
  QDialog::showEvent(event);
}

void TConfigAcquisition::FormShow() {
  m_editEnregistre->setText(ShortStringText(Settings.AcquisitionFile));
  // Setting each text runs its change handler, which parses the value.
  m_period = ShownPeriod;
  m_editPeriode->setText(QString::number(ShownPeriod));
  m_durationDays = ShownDays;
  m_editDureeJours->setText(QString::number(ShownDays));
  m_durationHours = ShownHours;
  m_editDureeHeures->setText(QString::number(ShownHours));
  m_durationMinutes = ShownMinutes;
  m_editDureeMin->setText(QString::number(ShownMinutes));
  ComputeSampleCount();
}

void TConfigAcquisition::EditChange(const QString &text, int32_t &field) {
  bool ok = false;
  const int value = text.toInt(&ok, 10);
  if (ok) field = value;
  ComputeSampleCount();
}

void TConfigAcquisition::ComputeSampleCount() {
  const SampleCountResult r =
      ComputeSamples(m_period, m_durationDays, m_durationHours, m_durationMinutes,
                     m_listeUnitePeriode->currentIndex(), m_periodSeconds);
  m_countShown = r.valid;
  if (!r.valid) {
    m_editNbrEch->setText(Langue(TxtAcqErr));
    return;
  }
  m_periodSeconds = r.periodSeconds;
  m_sampleCount = r.sampleCount;
  m_editNbrEch->setText(QString::number(m_sampleCount));
}

void TConfigAcquisition::BoutSauveClick() {
  const QFileInfo current(m_editEnregistre->text());
  m_sauveDialog->setDirectory(current.absolutePath());
  m_sauveDialog->selectNameFilter(Langue(TxtAcqTxtFilter));
  m_sauveDialog->selectFile(current.completeBaseName());
  if (m_sauveDialog->exec() != QDialog::Accepted) return;
  const QStringList chosen = m_sauveDialog->selectedFiles();
  if (!chosen.isEmpty()) m_editEnregistre->setText(QDir::toNativeSeparators(chosen.first()));
}

void TConfigAcquisition::accept() {
  // "Err" leaves the values of an earlier computation in force and 0 would
  // still take one sample: neither is what the box shows.
  if (!m_countShown || m_sampleCount < 1) {
    ShowMessage(MessageKind::Error, Langue(TxtAcqCountRefused), QMessageBox::Ok, this);
    return;
  }
  // The run empties the file: a file with data is replaced only when the
  // user says so. An empty one (or none) is no loss; a folder's name fails
  // at the header with its cause.
  const QFileInfo file(FilePath());
  if (file.isFile() && file.size() > 0 &&
      ShowMessage(MessageKind::Confirmation,
                  Langue(TxtAcqReplaceFile).arg(QDir::toNativeSeparators(file.absoluteFilePath())),
                  QMessageBox::Yes | QMessageBox::No, this) != QMessageBox::Yes)
    return;
  QDialog::accept();
}
