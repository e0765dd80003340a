#include "FicheVuMetre.h"

#include <algorithm>
#include <cmath>

#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QStyle>

#include "Icones.h"
#include "Placement.h"
#include "langue.h"

namespace {

// The window's design: client area, screen position when first shown and
// the smallest client area (an outer size of 100 x 100 with the platform's
// usual frame), with the Close button's place in the bar.
constexpr int DesignClientWidth = 291;
constexpr int DesignClientHeight = 329;
constexpr int DesignLeft = 206;
constexpr int DesignTop = 154;
constexpr int MinimumClientWidth = 92;
constexpr int MinimumClientHeight = 66;
constexpr int LabelLeft = 8;
constexpr int LabelTop = 8;
// The label's font height, the smallest it becomes before the Close button
// and the room kept between the two.
constexpr int LabelPixelHeight = 17;
constexpr int MinLabelPixelHeight = 11;
constexpr int LabelGap = 6;
constexpr int ButtonTop = 7;
constexpr int ButtonRightMargin = DesignClientWidth - 204 - 75;
constexpr int ButtonWidth = 75;
constexpr int ButtonHeight = 25;

// Rounds half to even, as the drawing rules ask (std::nearbyint under the
// default rounding mode).
int RoundHalfEven(double v) { return static_cast<int>(std::nearbyint(v)); }

}  // namespace

HorizonGeometry HorizonFor(int clientWidth, int clientHeight, int barHeight, double angleMRad,
                           HorizonReading reading) {
  HorizonGeometry g;
  g.cx = clientWidth / 2;
  g.cy = (clientHeight - barHeight) / 2;
  g.width = std::max(clientWidth, 0);
  g.height = std::max(clientHeight - barHeight, 0);
  g.r = std::min(g.width / 2, g.height / 2);
  const double a = angleMRad / 1000.0;
  // A value that is not a number was not measured: a level horizon would
  // claim it is 0.
  g.reading = std::isfinite(a) ? reading : HorizonReading::Missing;
  if (g.reading == HorizonReading::Measured) {
    g.dx = RoundHalfEven(std::cos(a) * g.r);
    g.dy = RoundHalfEven(std::sin(a) * g.r);
  }
  return g;
}

void DrawHorizon(QImage &buffer, const HorizonGeometry &g) {
  if (buffer.width() != g.width || buffer.height() != g.height)
    buffer = QImage(g.width, g.height, QImage::Format_RGB32);
  if (buffer.isNull()) return;
  buffer.fill(Qt::white);
  if (g.r <= 0) return;
  QPainter painter(&buffer);
  painter.setRenderHint(QPainter::Antialiasing, false);
  // The box from (cx - r, cy - r) to (cx + r, cy + r), right and bottom
  // edges excluded: a one-pixel pen on a QRect covers width + 1 pixels.
  const QRect box(g.cx - g.r, g.cy - g.r, 2 * g.r - 1, 2 * g.r - 1);
  if (g.reading == HorizonReading::Missing) {
    painter.setPen(QPen(NoReadingOutline(), 1, Qt::SolidLine));
    painter.setBrush(QBrush(NoReadingFill(), Qt::SolidPattern));
    painter.drawEllipse(box);
    return;
  }
  painter.setPen(QPen(Qt::black, 1, Qt::SolidLine));
  painter.setBrush(QBrush(Qt::white, Qt::SolidPattern));
  painter.drawEllipse(box);
  painter.setBrush(QBrush(Qt::black, Qt::SolidPattern));
  // Qt's angles grow counterclockwise from 3 o'clock with y upward; the
  // start radial points along (-dx, -dy) in screen coordinates.
  const double startDegrees =
      std::atan2(static_cast<double>(g.dy), -static_cast<double>(g.dx)) * 180.0 / M_PI;
  painter.drawChord(box, static_cast<int>(std::lround(startDegrees * 16.0)), 180 * 16);
}

TVuMetre::TVuMetre(QWidget *owner)
    : QWidget(owner, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowStaysOnTopHint) {
  setObjectName(QStringLiteral("VuMetre"));
  setWindowTitle(Langue(TxtHorizon));
  setAccessibleName(Langue(TxtHorizon));
  // The whole client area is painted from the buffer: no background fill
  // first, so nothing half-drawn is ever seen.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMinimumSize(MinimumClientWidth, MinimumClientHeight);

  BarreBoutons = new QWidget(this);
  BarreBoutons->setObjectName(QStringLiteral("BarreBoutons"));
  BarreBoutons->setAutoFillBackground(true);

  LabelExplication = new QLabel(BarreBoutons);
  LabelExplication->setObjectName(QStringLiteral("LabelExplication"));
  LabelExplication->setAccessibleName(Langue(TxtSensor));

  BoutFerme = new QPushButton(SharedStandardIcon(QStyle::SP_DialogCloseButton),
                              Langue(TxtFermer), BarreBoutons);
  BoutFerme->setObjectName(QStringLiteral("BoutFerme"));
  BoutFerme->setAccessibleName(Langue(TxtFermer).remove(QLatin1Char('&')));
  connect(BoutFerme, &QPushButton::clicked, this, &QWidget::hide);

  resize(DesignClientWidth, DesignClientHeight);
  move(DesignLeft, DesignTop);
  PlaceBar();
}

void TVuMetre::SetAngle(double angle, HorizonReading reading) {
  m_angle = angle;
  m_reading = reading;
  if (isVisible())
    repaint();
  else
    FormPaint();  // keeps Buffer current for a hidden window
}

void TVuMetre::SetExplication(const QString &text) {
  LabelExplication->setText(text);
  PlaceBar();
}

void TVuMetre::PlaceBar() {
  BarreBoutons->setGeometry(0, height() - BarHeight, width(), BarHeight);
  // Anchored right and bottom; grows with its caption, never clipped.
  const QSize hint = BoutFerme->sizeHint();
  const int w = std::max(ButtonWidth, hint.width());
  const int h = std::max(ButtonHeight, hint.height());
  BoutFerme->setGeometry(width() - ButtonRightMargin - w, ButtonTop + ButtonHeight - h, w, h);
  // Anchored left and bottom, in the room left of the button.
  const int room = BoutFerme->x() - LabelLeft - LabelGap;
  const int pixels = FitLabelFont(LabelExplication, LabelPixelHeight, MinLabelPixelHeight, room);
  LabelExplication->move(LabelLeft, LabelTop + (LabelPixelHeight - pixels) / 2);
}

void TVuMetre::resizeEvent(QResizeEvent *) {
  PlaceBar();
  repaint();
}

void TVuMetre::FormPaint() {
  DrawHorizon(m_buffer, HorizonFor(width(), height(), BarHeight, m_angle, m_reading));
}

void TVuMetre::paintEvent(QPaintEvent *) {
  FormPaint();
  ImprimeBuffer(this);
}

void TVuMetre::ImprimeBuffer(QWidget *target) {
  QPainter painter(target);
  painter.drawImage(0, 0, m_buffer);
}
