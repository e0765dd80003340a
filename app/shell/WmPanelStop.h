// WmPanelStop: the message a live panel's Stop button sends to the main
// window, delivered synchronously (QCoreApplication::sendEvent), never queued.
#ifndef NIVELIX_WMPANELSTOP_H
#define NIVELIX_WMPANELSTOP_H

#include <QEvent>

// The event type: message number 0x1F00.
constexpr QEvent::Type WM_PANELSTOP = static_cast<QEvent::Type>(0x1F00);

class TPanelStopEvent : public QEvent {
 public:
  explicit TPanelStopEvent(int panelNumber) : QEvent(WM_PANELSTOP), m_panelNumber(panelNumber) {}
  // The number of the panel whose Stop button was clicked.
  int PanelNumber() const { return m_panelNumber; }

 private:
  int m_panelNumber;
};

#endif
