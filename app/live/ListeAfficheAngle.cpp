#include "ListeAfficheAngle.h"

#include "AfficheAngle.h"

TListAfficheAngle::~TListAfficheAngle() { RemoveAll(); }

TAfficheAngleCapteur *TListAfficheAngle::AddPanel(QWidget *parent, TCapteur *sensor) {
  ++PanelCounter;
  auto *panel = new TAfficheAngleCapteur(parent, sensor, PanelCounter);
  m_panels.append(panel);
  return panel;
}

TAfficheAngleCapteur *TListAfficheAngle::FindByNumber(int number) const {
  for (TAfficheAngleCapteur *panel : m_panels)
    if (panel->Number() == number) return panel;
  return nullptr;
}

void TListAfficheAngle::RemoveByNumber(int number) {
  TAfficheAngleCapteur *panel = FindByNumber(number);
  if (!panel) return;
  m_panels.removeOne(panel);
  delete panel;
}

void TListAfficheAngle::RemoveAll() {
  while (!m_panels.isEmpty()) RemoveByNumber(m_panels.last()->Number());
  PanelCounter = 0;
}
