// DialogConfigAcqu: the acquisition settings dialog. Placeholder until it is built.
#ifndef NIVELIX_DIALOGCONFIGACQU_H
#define NIVELIX_DIALOGCONFIGACQU_H

#include <QDialog>

class TConfigAcquisition : public QDialog {
  Q_OBJECT
 public:
  explicit TConfigAcquisition(QWidget *parent = nullptr);
  ~TConfigAcquisition() override;
};

#endif
