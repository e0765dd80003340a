// dialogApropos: the about window, with the program's name, version and year
// under a picture. Created once, shown without blocking the main window;
// its OK button hides it again.
#ifndef NIVELIX_DIALOGAPROPOS_H
#define NIVELIX_DIALOGAPROPOS_H

#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;

class TFenetreAPropos : public QDialog {
  Q_OBJECT
 public:
  explicit TFenetreAPropos(QWidget *parent = nullptr);
  ~TFenetreAPropos() override;

  // Hides the window; it stays for the next showing.
  void BoutOKAproposClick();

 protected:
  void showEvent(QShowEvent *e) override;

 private:
  QFrame *m_bevel1 = nullptr;
  QLabel *m_image1 = nullptr;
  QLabel *m_labelAPropos = nullptr;
  QPushButton *m_boutOKApropos = nullptr;
};

#endif
