// ListeAfficheAngle: the list of live angle panels of the main window.
//
// The list owns its panels: removing one destroys it. Every panel gets the
// next number of PanelCounter; numbers only grow while any panel exists (a
// stopped panel does not give its number back) and start again at 1 after
// RemoveAll.
#ifndef NIVELIX_LISTEAFFICHEANGLE_H
#define NIVELIX_LISTEAFFICHEANGLE_H

#include <QList>

class QWidget;
class TAfficheAngleCapteur;
class TCapteur;

class TListAfficheAngle {
 public:
  TListAfficheAngle() = default;
  // Destroys every panel (RemoveAll).
  ~TListAfficheAngle();
  TListAfficheAngle(const TListAfficheAngle &) = delete;
  TListAfficheAngle &operator=(const TListAfficheAngle &) = delete;

  // The number given to the most recent panel; 0 at creation and after RemoveAll.
  int PanelCounter = 0;

  // Adds a live panel for sensor inside parent, numbered PanelCounter + 1,
  // at the end of the list; returns it.
  TAfficheAngleCapteur *AddPanel(QWidget *parent, TCapteur *sensor);
  // The first panel numbered number, or nullptr.
  TAfficheAngleCapteur *FindByNumber(int number) const;
  // Removes and destroys the panel numbered number, if it is in the list.
  void RemoveByNumber(int number);
  // Removes and destroys every panel, last first; PanelCounter := 0.
  void RemoveAll();
  int Count() const { return static_cast<int>(m_panels.size()); }
  // The panel at index, in list order.
  TAfficheAngleCapteur *Item(int index) const { return m_panels.at(index); }

 private:
  QList<TAfficheAngleCapteur *> m_panels;
};

#endif
