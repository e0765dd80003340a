// GestesGraphique: the chart's mouse gestures, the same in the acquisition
// frame and in nivelix-view. The right button drags the time axis sideways;
// the wheel zooms around the pointer, and a sideways wheel (or Shift with
// the wheel) scrolls.
#ifndef NIVELIX_GESTESGRAPHIQUE_H
#define NIVELIX_GESTESGRAPHIQUE_H

#include <qcustomplot.h>

class TGestesGraphique {
 public:
  // A right-button press starts a drag: where, and the range then.
  void Press(QCustomPlot &chart, const QMouseEvent &event);
  // With the right button held, moves the time axis with the pointer and
  // cancels a zoom band; true when the range moved.
  bool Drag(QCustomPlot &chart, const QMouseEvent &event) const;
  // Zooms both axes around the pointer, or scrolls the time axis.
  static void Wheel(QCustomPlot &chart, const QWheelEvent &event);

 private:
  int m_startX = 0;
  double m_lower = 0.0, m_upper = 0.0;
};

#endif
