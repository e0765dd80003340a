// DialogSupport: the technical support window with the maker's contact
// lines. Created once, shown without blocking the main window; its OK button
// hides it again.
#ifndef NIVELIX_DIALOGSUPPORT_H
#define NIVELIX_DIALOGSUPPORT_H

#include <QDialog>

class QPushButton;
class QTextEdit;

class TFenetreSupport : public QDialog {
  Q_OBJECT
 public:
  explicit TFenetreSupport(QWidget *parent = nullptr);
  ~TFenetreSupport() override;

  // Hides the window; it stays for the next showing.
  void BoutOKClick();

 protected:
  void showEvent(QShowEvent *e) override;

 private:
  QTextEdit *m_texte = nullptr;
  QPushButton *m_boutOK = nullptr;
};

#endif
