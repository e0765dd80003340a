// ListeAfficheAngle: the list of live angle panels of the main window.
// Placeholder until the panels are built: holds no panel.
#ifndef NIVELIX_LISTEAFFICHEANGLE_H
#define NIVELIX_LISTEAFFICHEANGLE_H

class QWidget;
class TCapteur;

class TListAfficheAngle {
 public:
  TListAfficheAngle() = default;
  ~TListAfficheAngle() = default;
  TListAfficheAngle(const TListAfficheAngle &) = delete;
  TListAfficheAngle &operator=(const TListAfficheAngle &) = delete;

  // Adds a live panel for sensor inside parent; returns it.
  QWidget *AddPanel(QWidget *parent, TCapteur *sensor);
  // Removes and destroys the panel numbered number, if it is in the list.
  void RemoveByNumber(int number);
  // Removes and destroys every panel.
  void RemoveAll();
  int Count() const;
  // The panel at index, in list order.
  QWidget *Item(int index) const;
};

#endif
