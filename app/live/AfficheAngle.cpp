#include "AfficheAngle.h"

#include <algorithm>
#include <cstdint>

#include <QCheckBox>
#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QTextEdit>
#include <QTimer>

#include "Annonce.h"
#include "BarreEtat.h"
#include "Capteur.h"
#include "DiagnosticPort.h"
#include "EvenementNomme.h"
#include "FicheVuMetre.h"
#include "ThreadSec.h"
#include "UtilCapt.h"
#include "WmPanelStop.h"
#include "globales.h"
#include "Icones.h"
#include "Placement.h"
#include "TextePort.h"
#include "langue.h"

namespace {

// Design places (pixels from the frame's top left in its 482 x 243 design).
constexpr int ExplicationLeft = 8, ExplicationTop = 212;
constexpr int CommentLabelLeft = 173, CommentLabelTop = 197;
constexpr QRect CommentEdit(171, 213, 145, 25);
constexpr QRect ResetBox(331, 216, 65, 17);
constexpr QRect StopButton(403, 212, 75, 25);
// Pixel height of the labels' large font.
constexpr int LabelPixelHeight = 20;
// Smallest it becomes where a long sensor name meets the comment box, and the
// room kept between the two.
constexpr int MinLabelPixelHeight = 11;
constexpr int LabelGap = 6;

// True from the end of a reading until the event loop next handles posted
// events. Timers that fell due during a reading all fire in one batch when
// it ends; a panel whose tick comes in such a batch lets the loop run once
// before it reads, so the interface never waits for more than one reading.
bool readingInThisPass = false;

QString Without(QString text, QChar c) { return text.remove(c); }

// A control anchored right and bottom: keeps its design distance to both
// edges, grows with its caption, and never reaches past rightLimit.
QRect AnchoredRightBottom(QWidget *w, const QRect &design, int dw, int dh, int rightLimit) {
  const QSize hint = w->sizeHint();
  const int width = std::max(design.width(), hint.width());
  const int height = std::max(design.height(), hint.height());
  const int right = std::min(design.x() + design.width() + dw, rightLimit);
  const int bottom = design.y() + design.height() + dh;
  return QRect(right - width, bottom - height, width, height);
}

}  // namespace

TAfficheAngleCapteur::TAfficheAngleCapteur(QWidget *parent, TCapteur *sensor, int number)
    : QFrame(parent), m_number(number), m_sensor(sensor) {
  resize(DesignWidth, DesignHeight);
  CloseEvent = std::make_unique<TEvenementNomme>(CloseEventName);
  setObjectName(QStringLiteral("AffAngle%1").arg(m_number));

  PanelAngle = new QLabel(this);
  PanelAngle->setObjectName(QStringLiteral("PanelAngle"));
  // The angle text is the panel's accessible name (Annonce.h); a keyboard
  // user can rest on the panel and hear each new value.
  PanelAngle->setAccessibleDescription(Langue(TxtAngle));
  PanelAngle->setFocusPolicy(Qt::TabFocus);
  PanelAngle->setAlignment(Qt::AlignCenter);
  PanelAngle->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  PanelAngle->setLineWidth(2);
  PanelAngle->setAutoFillBackground(true);
  QPalette white = PanelAngle->palette();
  white.setColor(QPalette::Window, Qt::white);
  white.setColor(QPalette::WindowText, Qt::black);
  PanelAngle->setPalette(white);
  QFont display = PanelAngle->font();
  const QString face = ShortStringText(Settings.DisplayFont);
  if (!face.isEmpty()) display.setFamily(face);
  const int pixels = DisplayFontPixels(Settings.DisplayFontHeight);
  if (pixels > 0) display.setPixelSize(pixels);
  PanelAngle->setFont(display);

  LabelExplication = new QLabel(this);
  LabelExplication->setObjectName(QStringLiteral("LabelExplication"));
  LabelExplication->setAccessibleName(Langue(TxtSensor));
  QFont big = LabelExplication->font();
  big.setPixelSize(LabelPixelHeight);
  LabelExplication->setFont(big);

  LabelComment = new QLabel(this);
  LabelComment->setObjectName(QStringLiteral("LabelComment"));
  EditComment = new QTextEdit(this);
  EditComment->setObjectName(QStringLiteral("EditComment"));
  EditComment->setReadOnly(true);
  EditComment->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  EditComment->setAccessibleName(Langue(TxtComment));
  LabelComment->setBuddy(EditComment);

  BoiteReset = new QCheckBox(this);
  BoiteReset->setObjectName(QStringLiteral("BoiteReset"));
  BoiteReset->setChecked(false);

  BoutStop = new QPushButton(SharedStandardIcon(QStyle::SP_DialogNoButton), QString(), this);
  BoutStop->setObjectName(QStringLiteral("BoutStop"));

  Timer = new QTimer(this);
  Timer->setObjectName(QStringLiteral("Timer"));
  Timer->setTimerType(Qt::PreciseTimer);

  const QString explication = QString::fromStdString(m_sensor->Data.Reference) + Langue(TxtNumero) +
                              QString::number(m_sensor->Data.SerialNumber);
  LabelExplication->setText(explication);
  EditComment->clear();
  EditComment->setPlainText(QString::fromStdString(m_sensor->Comment));
  LabelComment->setText(Langue(TxtComment));

  connect(Timer, &QTimer::timeout, this, &TAfficheAngleCapteur::TimerTimer);
  connect(BoiteReset, &QCheckBox::toggled, this, &TAfficheAngleCapteur::BoiteResetClick);
  connect(BoutStop, &QPushButton::clicked, this, &TAfficheAngleCapteur::BoutStopClick);
  Timer->setInterval(TimerInterval);
  Timer->start();

  VuMetre = new TVuMetre(this);
  VuMetre->show();
  VuMetre->SetExplication(explication);

  BoiteReset->setText(Langue(TxtReset));
  BoiteReset->setAccessibleName(Langue(TxtReset));
  BoutStop->setText(Langue(TxtStop));
  BoutStop->setAccessibleName(Without(Langue(TxtStop), QLatin1Char('&')));
  FrameResize();
  show();
}

TAfficheAngleCapteur::~TAfficheAngleCapteur() {
  Timer->stop();
  delete VuMetre;
  VuMetre = nullptr;
}

void TAfficheAngleCapteur::TimerTimer() {
  Timer->stop();
  if (readingInThisPass) {
    Timer->start(0);
    return;
  }
  // Each reading starts from 0, so a failed reading never leaves a value
  // the link did not write.
  double angle = 0.0;
  const uint8_t failure = m_sensor->ReadAngle(angle);
  m_lastAngle = angle;
  ShowPortTrouble(failure);
  const QString text =
      failure != FailSuccess
          ? Langue(TxtErr)
          : QString::fromStdString(FormatAngleWithUnit(RangeClass(m_sensor->Data.FullScale),
                                                       DisplayUnit(), m_sensor->Data.Family,
                                                       m_lastAngle - m_zeroOffset));
  PanelAngle->setText(text);
  AnnounceText(PanelAngle, text);
  Timer->start(TimerInterval);
  readingInThisPass = true;
  QMetaObject::invokeMethod(
      QCoreApplication::instance(), [] { readingInThisPass = false; }, Qt::QueuedConnection);
  // The horizon still takes the absolute angle; after a failure it shows
  // that there is none rather than the 0 the failure left.
  VuMetre->SetAngle(m_lastAngle,
                    failure == FailSuccess ? HorizonReading::Measured : HorizonReading::Missing);
  emit Lu();
}

void TAfficheAngleCapteur::ShowPortTrouble(uint8_t failure) {
  // Only a port that could not be used has a cause worth naming: a sensor
  // that did not answer on a working line shows "Err" alone.
  ShowOwnStatus(this,
                failure == FailPort ? PortTroubleText(DiagnostiquerPort(m_sensor->Port)) : QString(),
                m_troubleShown);
}

void TAfficheAngleCapteur::BoiteResetClick() {
  m_zeroOffset = BoiteReset->isChecked() ? m_lastAngle : 0.0;
}

void TAfficheAngleCapteur::BoutStopClick() {
  // The main window starts the worker while this handler waits; only then
  // may the signal go, so that the worker cannot miss it.
  TPanelStopEvent stop(m_number);
  QCoreApplication::sendEvent(window(), &stop);
  CloseEvent->Set();
}

void TAfficheAngleCapteur::resizeEvent(QResizeEvent *event) {
  QFrame::resizeEvent(event);
  FrameResize();
}

void TAfficheAngleCapteur::FrameResize() {
  if (parentWidget() && width() != parentWidget()->width()) {
    resize(parentWidget()->width(), height());  // comes back here
    return;
  }
  const int w = width();
  const int h = height();
  PanelAngle->setGeometry(0, 0, w, std::max(h - BottomStrip, 0));
  const int dw = w - DesignWidth;
  const int dh = h - DesignHeight;
  // Right to left, so that a caption wider than its design pushes its left
  // neighbours aside instead of being clipped.
  const QRect stop = AnchoredRightBottom(BoutStop, StopButton, dw, dh, w);
  BoutStop->setGeometry(stop);
  const QRect reset = AnchoredRightBottom(BoiteReset, ResetBox, dw, dh,
                                          stop.left() - (StopButton.left() - ResetBox.right() - 1));
  BoiteReset->setGeometry(reset);
  // The comment box keeps its design size (its text scrolls) and moves
  // left when the check box needs more room.
  const int editRight =
      std::min(CommentEdit.right() + dw, reset.left() - (ResetBox.left() - CommentEdit.right()));
  const QRect editRect(editRight + 1 - CommentEdit.width(), CommentEdit.y() + dh,
                       CommentEdit.width(), CommentEdit.height());
  EditComment->setGeometry(editRect);
  LabelComment->adjustSize();
  LabelComment->move(editRect.left() + (CommentLabelLeft - CommentEdit.left()),
                     std::min(CommentLabelTop + dh, editRect.top() - LabelComment->height()));
  // The sensor's name takes the room left of the comment box: a long name
  // on a narrow window is drawn smaller rather than hidden under the box.
  const int room = std::min(editRect.left(), LabelComment->x()) - ExplicationLeft - LabelGap;
  const int pixels = FitLabelFont(LabelExplication, LabelPixelHeight, MinLabelPixelHeight, room);
  LabelExplication->move(ExplicationLeft, ExplicationTop + dh + (LabelPixelHeight - pixels) / 2);
}
