#include "DialogCapteur.h"

#include <cfenv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include "DiagnosticPort.h"
#include "Messages.h"
#include "TextePort.h"
#include "UtilCapt.h"
#include "globales.h"
#include "langue.h"

namespace {

// Families as SensorData::Family holds them.
constexpr uint8_t FamilyB = 0;
constexpr uint8_t FamilyA = 1;

// Values of the protocol, communication type and analog output fields.
constexpr uint8_t ProtocolRs485 = 0;
constexpr uint8_t ProtocolRs232 = 1;
constexpr uint8_t CommContinuous = 0;
constexpr uint8_t CommOnRequest = 1;
constexpr uint8_t AnalogVout = 0;
constexpr uint8_t AnalogIout = 1;

QString FromUtf8(const std::string &text) { return QString::fromUtf8(text.c_str()); }

// A radio group of two buttons side by side.
QGroupBox *RadioGroup(QWidget *parent, const char *name, QRadioButton *&first, const char *firstName,
                      QRadioButton *&second, const char *secondName) {
  auto *group = new QGroupBox(parent);
  group->setObjectName(name);
  first = new QRadioButton(group);
  first->setObjectName(firstName);
  second = new QRadioButton(group);
  second->setObjectName(secondName);
  auto *layout = new QHBoxLayout(group);
  layout->addWidget(first, 1);
  layout->addWidget(second, 1);
  return group;
}

}  // namespace

QString FilterText(double hz) {
  // Halves to even at the hundredth: the default rounding mode of nearbyint.
  const int previous = std::fegetround();
  std::fesetround(FE_TONEAREST);
  const double rounded = std::nearbyint(hz * 100.0) / 100.0;
  std::fesetround(previous);
  const QString text = QString::number(rounded, 'g', QLocale::FloatingPointShortest);
  return FromUtf8(LocalizeDecimal(text.toStdString()));
}

QString FilterResetText(double hz) {
  char significant[64];
  std::snprintf(significant, sizeof significant, "%.1e", hz);
  char fixed[400];
  std::snprintf(fixed, sizeof fixed, "%.2f", std::strtod(significant, nullptr));
  return FromUtf8(LocalizeDecimal(fixed));
}

bool FilterInRange(uint8_t family, double hz) {
  if (family == FamilyA) return hz > 0.01 && hz <= 10.0;
  return hz > 0.1 && hz <= 5.0;
}

TFenetreCapteur::TFenetreCapteur(QWidget *parent) : QDialog(parent) {
  setObjectName("FenetreCapteur");
  BuildControls();
  SetCaptions();
}

TFenetreCapteur::~TFenetreCapteur() = default;

void TFenetreCapteur::BuildControls() {
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  setModal(true);

  auto *outer = new QGridLayout(this);
  outer->setSizeConstraint(QLayout::SetFixedSize);
  outer->setContentsMargins(8, 8, 8, 8);

  // Manufacturer data.
  m_groupDonnesConst = new QGroupBox(this);
  m_groupDonnesConst->setObjectName("GroupDonnesConst");
  m_groupDonnesConst->setMinimumSize(273, 121);
  auto *constant = new QGridLayout(m_groupDonnesConst);
  constant->setHorizontalSpacing(12);
  m_labelRef = new QLabel(m_groupDonnesConst);
  m_labelRef->setObjectName("LabelRef");
  m_reference = new QLabel(m_groupDonnesConst);
  m_reference->setObjectName("Reference");
  m_labelNoSerie = new QLabel(m_groupDonnesConst);
  m_labelNoSerie->setObjectName("LabelNoSerie");
  m_noSerie = new QLabel(m_groupDonnesConst);
  m_noSerie->setObjectName("NoSerie");
  m_labelEtMes = new QLabel(m_groupDonnesConst);
  m_labelEtMes->setObjectName("LabelEtMes");
  m_etMesure = new QLabel(m_groupDonnesConst);
  m_etMesure->setObjectName("EtMesure");
  QFont large = m_reference->font();
  large.setBold(true);
  large.setPixelSize(22);
  m_reference->setFont(large);
  QFont bold = m_noSerie->font();
  bold.setBold(true);
  bold.setPixelSize(13);
  m_noSerie->setFont(bold);
  m_etMesure->setFont(bold);
  int row = 0;
  for (auto pair : {std::make_pair(m_labelRef, m_reference), std::make_pair(m_labelNoSerie, m_noSerie),
                    std::make_pair(m_labelEtMes, m_etMesure)}) {
    pair.first->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    pair.first->setBuddy(pair.second);
    pair.second->setTextInteractionFlags(Qt::TextSelectableByMouse);
    constant->addWidget(pair.first, row, 0);
    constant->addWidget(pair.second, row, 1);
    ++row;
  }
  constant->setColumnStretch(1, 1);
  outer->addWidget(m_groupDonnesConst, 0, 0);

  // OK, Cancel, Actualize beside the manufacturer data.
  auto *buttons = new QVBoxLayout;
  m_boutOK = new QPushButton(this);
  m_boutOK->setObjectName("BoutOK");
  m_boutOK->setDefault(true);
  m_boutAnnule = new QPushButton(this);
  m_boutAnnule->setObjectName("BoutAnnule");
  m_boutAnnule->setAutoDefault(false);
  m_boutActualise = new QPushButton(this);
  m_boutActualise->setObjectName("BoutActualise");
  m_boutActualise->setIcon(style()->standardIcon(QStyle::SP_BrowserReload));
  m_boutActualise->setAutoDefault(false);
  for (QPushButton *b : {m_boutOK, m_boutAnnule, m_boutActualise}) {
    b->setMinimumSize(75, 25);
    buttons->addWidget(b);
  }
  buttons->addStretch();
  outer->addLayout(buttons, 0, 1);

  // User configuration.
  m_groupConfUtilisateur = new QGroupBox(this);
  m_groupConfUtilisateur->setObjectName("GroupConfUtilisateur");
  m_groupConfUtilisateur->setMinimumWidth(369);
  auto *user = new QGridLayout(m_groupConfUtilisateur);
  m_labelIdent = new QLabel(m_groupConfUtilisateur);
  m_labelIdent->setObjectName("LabelIdent");
  m_editId = new QLineEdit(m_groupConfUtilisateur);
  m_editId->setObjectName("EditId");
  m_editId->setFixedWidth(49);
  m_upDown = new QWidget(m_groupConfUtilisateur);
  m_upDown->setObjectName("UpDown");
  auto *arrows = new QVBoxLayout(m_upDown);
  arrows->setContentsMargins(0, 0, 0, 0);
  arrows->setSpacing(0);
  m_upDownUp = new QToolButton(m_upDown);
  m_upDownUp->setObjectName("UpDownUp");
  m_upDownUp->setArrowType(Qt::UpArrow);
  m_upDownDown = new QToolButton(m_upDown);
  m_upDownDown->setObjectName("UpDownDown");
  m_upDownDown->setArrowType(Qt::DownArrow);
  for (QToolButton *b : {m_upDownUp, m_upDownDown}) {
    b->setFixedSize(15, 11);
    b->setAutoRepeat(true);
    b->setFocusPolicy(Qt::NoFocus);  // the keyboard types the number instead
    arrows->addWidget(b);
  }
  m_labelFiltrage = new QLabel(m_groupConfUtilisateur);
  m_labelFiltrage->setObjectName("LabelFiltrage");
  m_editFiltre = new QLineEdit(m_groupConfUtilisateur);
  m_editFiltre->setObjectName("EditFiltre");
  m_editFiltre->setFixedWidth(49);
  m_label9 = new QLabel(m_groupConfUtilisateur);
  m_label9->setObjectName("Label9");
  m_labelIdent->setBuddy(m_editId);
  m_labelFiltrage->setBuddy(m_editFiltre);
  m_labelIdent->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  m_labelFiltrage->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

  m_radioProtocole = RadioGroup(m_groupConfUtilisateur, "RadioProtocole", m_protocoleRs232, "RadioProtocoleRS232",
                                m_protocoleRs485, "RadioProtocoleRS485");
  m_radioTypeCom = RadioGroup(m_groupConfUtilisateur, "RadioTypeCom", m_typeComOnRequest, "RadioTypeComOnRequest",
                              m_typeComContinuous, "RadioTypeComContinuous");
  m_radioAnaOut = RadioGroup(m_groupConfUtilisateur, "RadioAnaOut", m_anaOutVout, "RadioAnaOutVout", m_anaOutIout,
                             "RadioAnaOutIout");
  for (QGroupBox *g : {m_radioProtocole, m_radioTypeCom, m_radioAnaOut}) g->setMinimumWidth(185);

  auto *fields = new QGridLayout;
  fields->addWidget(m_labelIdent, 0, 0);
  fields->addWidget(m_editId, 0, 1);
  fields->addWidget(m_upDown, 0, 2);
  fields->addWidget(m_labelFiltrage, 1, 0);
  fields->addWidget(m_editFiltre, 1, 1);
  fields->addWidget(m_label9, 1, 2);
  fields->setRowStretch(2, 1);
  user->addLayout(fields, 0, 0, 3, 1);
  user->addWidget(m_radioProtocole, 0, 1);
  user->addWidget(m_radioTypeCom, 1, 1);
  user->addWidget(m_radioAnaOut, 2, 1);
  outer->addWidget(m_groupConfUtilisateur, 1, 0, 1, 2);

  // Comment.
  m_groupComment = new QGroupBox(this);
  m_groupComment->setObjectName("GroupComment");
  auto *comment = new QVBoxLayout(m_groupComment);
  m_editComment = new QPlainTextEdit(m_groupComment);
  m_editComment->setObjectName("EditComment");
  m_editComment->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  m_editComment->setTabChangesFocus(true);
  m_editComment->setMinimumSize(337, 57);
  m_editComment->setMaximumHeight(80);
  comment->addWidget(m_editComment);
  outer->addWidget(m_groupComment, 2, 0, 1, 2);

  auto onChecked = [this](QRadioButton *button, void (TFenetreCapteur::*handler)()) {
    connect(button, &QRadioButton::toggled, this, [this, handler](bool checked) {
      if (checked) (this->*handler)();
    });
  };
  onChecked(m_protocoleRs232, &TFenetreCapteur::RadioProtocoleClick);
  onChecked(m_protocoleRs485, &TFenetreCapteur::RadioProtocoleClick);
  onChecked(m_typeComOnRequest, &TFenetreCapteur::RadioTypeComClick);
  onChecked(m_typeComContinuous, &TFenetreCapteur::RadioTypeComClick);
  onChecked(m_anaOutVout, &TFenetreCapteur::RadioAnaOutClick);
  onChecked(m_anaOutIout, &TFenetreCapteur::RadioAnaOutClick);
  connect(m_editId, &QLineEdit::textChanged, this, &TFenetreCapteur::EditIdChange);
  connect(m_upDownUp, &QToolButton::clicked, this, [this] { UpDownStep(1); });
  connect(m_upDownDown, &QToolButton::clicked, this, [this] { UpDownStep(-1); });
  connect(m_boutOK, &QPushButton::clicked, this, &TFenetreCapteur::BoutOKClick);
  connect(m_boutAnnule, &QPushButton::clicked, this, &TFenetreCapteur::reject);
  connect(m_boutActualise, &QPushButton::clicked, this, &TFenetreCapteur::BoutActualiseClick);
}

void TFenetreCapteur::SetCaptions() {
  const QString suffix = Langue(TxtLabelSuffix);
  setWindowTitle(Langue(TxtCaptionCapteur));
  m_groupDonnesConst->setTitle(Langue(TxtGroupDonnesConst));
  m_labelRef->setText(Langue(TxtLabelRef) + suffix);
  m_labelNoSerie->setText(Langue(TxtLabelNoSerie) + suffix);
  m_labelEtMes->setText(Langue(TxtLabelEtMes) + suffix);
  m_groupConfUtilisateur->setTitle(Langue(TxtGroupConfUtilisateur));
  m_labelIdent->setText(Langue(TxtLabelIdent) + suffix);
  m_labelFiltrage->setText(Langue(TxtLabelFiltrage) + suffix);
  m_label9->setText(Langue(TxtHz));
  m_radioProtocole->setTitle(Langue(TxtRadioProtocole));
  m_protocoleRs232->setText(Langue(TxtRs232));
  m_protocoleRs485->setText(Langue(TxtRs485));
  m_radioTypeCom->setTitle(Langue(TxtLabelConfigTypeRS));
  m_typeComOnRequest->setText(Langue(TxtOnRequest));
  m_typeComContinuous->setText(Langue(TxtContinuous));
  m_radioAnaOut->setTitle(Langue(TxtRadioAnaOut));
  m_anaOutVout->setText(Langue(TxtVout));
  m_anaOutIout->setText(Langue(TxtIout));
  m_groupComment->setTitle(Langue(TxtGroupComment));
  m_boutOK->setText(Langue(TxtBoutOK));
  m_boutAnnule->setText(Langue(TxtCancel));
  m_boutActualise->setText(Langue(TxtBoutActualise));

  m_reference->setAccessibleName(Langue(TxtLabelRef));
  m_noSerie->setAccessibleName(Langue(TxtLabelNoSerie));
  m_etMesure->setAccessibleName(Langue(TxtLabelEtMes));
  m_editId->setAccessibleName(Langue(TxtLabelIdent));
  m_upDown->setAccessibleName(Langue(TxtAccUpDown));
  m_upDownUp->setAccessibleName(Langue(TxtAccUpDown));
  m_upDownDown->setAccessibleName(Langue(TxtAccUpDown));
  m_editFiltre->setAccessibleName(Langue(TxtLabelFiltrage));
  m_label9->setAccessibleName(Langue(TxtHz));
  m_radioProtocole->setAccessibleName(Langue(TxtRadioProtocole));
  m_radioTypeCom->setAccessibleName(Langue(TxtLabelConfigTypeRS));
  m_radioAnaOut->setAccessibleName(Langue(TxtRadioAnaOut));
  m_editComment->setAccessibleName(Langue(TxtAccEditComment));
  for (QRadioButton *r : {m_protocoleRs232, m_protocoleRs485, m_typeComOnRequest, m_typeComContinuous, m_anaOutVout,
                          m_anaOutIout})
    r->setAccessibleName(r->text());
  for (QGroupBox *g : {m_groupDonnesConst, m_groupConfUtilisateur, m_groupComment}) g->setAccessibleName(g->title());
  for (QLabel *l : {m_labelRef, m_labelNoSerie, m_labelEtMes, m_labelIdent, m_labelFiltrage})
    l->setAccessibleName(l->text());
  for (QPushButton *b : {m_boutOK, m_boutAnnule, m_boutActualise}) b->setAccessibleName(QString(b->text()).remove('&'));
}

int TFenetreCapteur::Affiche(TCapteur *sensor) {
  if (sensor == nullptr) return CapteurCancel;
  m_sensor = sensor;
  m_editedData = sensor->Data;
  FillControls();
  const int result = exec();
  return result;
}

void TFenetreCapteur::FillControls() {
  if (m_sensor == nullptr) return;
  m_reference->setText(FromUtf8(m_editedData.Reference));
  m_noSerie->setText(QString::number(m_sensor->Data.SerialNumber));
  const double range = m_editedData.FullScale;
  m_etMesure->setText(
      FromUtf8(FormatAngleWithUnit(RangeClass(range), DisplayUnit(), m_editedData.Family, range)));
  m_radioAnaOut->setVisible(m_editedData.Family == FamilyA);
  // Selecting runs the change handlers with values equal to EditedData.
  if (m_editedData.Protocol == ProtocolRs232)
    m_protocoleRs232->setChecked(true);
  else
    m_protocoleRs485->setChecked(true);
  m_radioTypeCom->setEnabled(m_editedData.Protocol == ProtocolRs232);
  if (m_editedData.CommType == CommOnRequest)
    m_typeComOnRequest->setChecked(true);
  else
    m_typeComContinuous->setChecked(true);
  if (m_editedData.AnalogOut != AnalogVout)
    m_anaOutIout->setChecked(true);
  else
    m_anaOutVout->setChecked(true);
  m_upDownPosition = qBound(MinIdentifier, static_cast<int>(m_editedData.Identifier), MaxIdentifier);
  SetIdentifierText(m_editedData.Identifier);
  m_editFiltre->setText(FilterText(m_editedData.Filter));
  m_editComment->clear();
  m_editComment->setPlainText(FromUtf8(m_sensor->Comment));
}

void TFenetreCapteur::SetIdentifierText(int identifier) { m_editId->setText(QString::number(identifier)); }

void TFenetreCapteur::RestoreIdentifier() {
  m_restoringId = true;
  SetIdentifierText(m_editedData.Identifier);
  m_restoringId = false;
}

void TFenetreCapteur::RadioProtocoleClick() {
  if (m_sensor == nullptr) return;
  const uint8_t chosen = m_protocoleRs232->isChecked() ? ProtocolRs232 : ProtocolRs485;
  if (chosen != m_sensor->Data.Protocol) {
    const auto answer =
        ShowMessage(MessageKind::Warning, Langue(TxtAskProtocol), QMessageBox::Yes | QMessageBox::Cancel, this);
    if (answer != QMessageBox::Yes) {
      // Runs this handler again, without a question.
      if (m_sensor->Data.Protocol == ProtocolRs232)
        m_protocoleRs232->setChecked(true);
      else
        m_protocoleRs485->setChecked(true);
      return;
    }
  }
  m_editedData.Protocol = chosen;
  m_radioTypeCom->setEnabled(chosen == ProtocolRs232);
}

void TFenetreCapteur::RadioTypeComClick() {
  m_editedData.CommType = m_typeComOnRequest->isChecked() ? CommOnRequest : CommContinuous;
}

void TFenetreCapteur::RadioAnaOutClick() {
  m_editedData.AnalogOut = m_anaOutVout->isChecked() ? AnalogVout : AnalogIout;
}

void TFenetreCapteur::EditIdChange(const QString &text) {
  // Putting the stored identifier back must not be judged again: a sensor
  // may hold an identifier outside 1..255, which would ask forever.
  if (m_restoringId) return;
  bool isNumber = false;
  const int value = text.toInt(&isNumber, 10);
  if (!isNumber) {
    ShowMessage(MessageKind::Information, Langue(TxtNotANumber), QMessageBox::Yes, this);
    RestoreIdentifier();
    return;
  }
  if (value < MinIdentifier || value > MaxIdentifier) {
    ShowMessage(MessageKind::Information, Langue(TxtInvalidNumber), QMessageBox::Yes, this);
    RestoreIdentifier();
    return;
  }
  m_upDownPosition = value;
}

void TFenetreCapteur::UpDownStep(int step) {
  const int next = qBound(MinIdentifier, m_upDownPosition + step, MaxIdentifier);
  if (next == m_upDownPosition && m_editId->text() == QString::number(next)) return;
  m_upDownPosition = next;
  SetIdentifierText(next);
}

bool TFenetreCapteur::ConfigurationChanged() const {
  if (m_sensor == nullptr) return false;
  const SensorData &own = m_sensor->Data;
  if (m_editedData.Identifier != own.Identifier || m_editedData.Protocol != own.Protocol ||
      m_editedData.Filter != own.Filter || m_editedData.CommType != own.CommType)
    return true;
  return own.Family == FamilyA && m_editedData.AnalogOut != own.AnalogOut;
}

void TFenetreCapteur::BoutOKClick() {
  if (m_sensor == nullptr) {
    done(CapteurCancel);
    return;
  }
  double filter = 0.0;
  if (!TextToReal(m_editFiltre->text().toStdString(), filter)) {
    ShowMessage(MessageKind::Information, Langue(TxtFilterNotNumber), QMessageBox::Ok, this);
    m_editFiltre->setText(FilterResetText(m_editedData.Filter));
    return;
  }
  if (!FilterInRange(m_editedData.Family, filter)) {
    ShowMessage(MessageKind::Information, Langue(TxtFilterInvalid), QMessageBox::Ok, this);
    m_editFiltre->setText(FilterResetText(m_editedData.Filter));
    return;
  }
  // The field shows the filter rounded to the hundredth, and the value read
  // from a sensor is rarely that round (3.0000000268 for 3 Hz): a field left
  // as shown keeps the value read, so that OK without a change writes nothing.
  if (m_editFiltre->text() != FilterText(m_editedData.Filter)) m_editedData.Filter = filter;
  bool isNumber = false;
  const int identifier = m_editId->text().toInt(&isNumber, 10);
  if (isNumber) m_editedData.Identifier = identifier;

  if (ConfigurationChanged()) {
    if (const uint8_t failure = m_sensor->WriteConfiguration(m_editedData); failure != FailSuccess) {
      ReportConnectionError(failure);
      done(CapteurOk);
      return;
    }
    if (m_editedData.Family == FamilyB)
      ShowMessage(MessageKind::Information, Langue(TxtPowerCycleNote), QMessageBox::Ok, this);
  }
  m_sensor->Comment = m_editComment->toPlainText().toStdString();
  done(CapteurOk);
}

void TFenetreCapteur::BoutActualiseClick() {
  if (m_sensor == nullptr) return;
  if (const uint8_t failure = m_sensor->ReadAll(); failure != FailSuccess) {
    ReportConnectionError(failure);
    return;
  }
  m_editedData = m_sensor->Data;
  FillControls();
}

void TFenetreCapteur::ReportConnectionError(uint8_t failure) {
  QString text = Langue(TxtConnectionError);
  // The sensor call has closed the port again: the check can open it.
  if (failure == FailPort) {
    const QString trouble = PortTroubleText(DiagnostiquerPort(m_sensor->Port));
    if (!trouble.isEmpty()) text += QLatin1Char('\n') + trouble;
  }
  ShowMessage(MessageKind::Warning, text, QMessageBox::Ok, this);
}

void TFenetreCapteur::reject() { done(CapteurCancel); }
