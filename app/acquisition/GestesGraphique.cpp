#include "GestesGraphique.h"

#include <cmath>

namespace {

// One wheel notch zooms to this share of the range; a horizontal notch
// scrolls by this share of it.
constexpr double WheelZoomFactor = 0.85;
constexpr double WheelScrollShare = 0.1;
constexpr double NotchDegrees = 120.0;  // angleDelta of one notch

}  // namespace

void TGestesGraphique::Press(QCustomPlot &chart, const QMouseEvent &event) {
  if (event.button() != Qt::RightButton) return;
  m_startX = static_cast<int>(event.position().x());
  m_lower = chart.xAxis->range().lower;
  m_upper = chart.xAxis->range().upper;
}

bool TGestesGraphique::Drag(QCustomPlot &chart, const QMouseEvent &event) const {
  if (!(event.buttons() & Qt::RightButton)) return false;
  // The right button scrolls sideways; it never draws a zoom band.
  if (chart.selectionRect()->isActive()) chart.selectionRect()->cancel();
  QCPAxis *x = chart.xAxis;
  const double shift = x->pixelToCoord(m_startX) - x->pixelToCoord(event.position().x());
  x->setRange(m_lower + shift, m_upper + shift);
  return true;
}

void TGestesGraphique::Wheel(QCustomPlot &chart, const QWheelEvent &event) {
  const QPoint delta = event.angleDelta();
  QCPAxis *x = chart.xAxis;
  if (delta.x() != 0 || (event.modifiers() & Qt::ShiftModifier)) {
    const double notches = (delta.x() != 0 ? delta.x() : delta.y()) / NotchDegrees;
    x->moveRange(-notches * WheelScrollShare * x->range().size());
  } else {
    const double factor = std::pow(WheelZoomFactor, delta.y() / NotchDegrees);
    x->scaleRange(factor, x->pixelToCoord(event.position().x()));
    QCPAxis *y = chart.yAxis;
    y->scaleRange(factor, y->pixelToCoord(event.position().y()));
  }
}
