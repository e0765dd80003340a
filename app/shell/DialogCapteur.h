// DialogCapteur: the sensor settings dialog. Placeholder until it is built.
#ifndef NIVELIX_DIALOGCAPTEUR_H
#define NIVELIX_DIALOGCAPTEUR_H

#include <QDialog>

class TFenetreCapteur : public QDialog {
  Q_OBJECT
 public:
  explicit TFenetreCapteur(QWidget *parent = nullptr);
  ~TFenetreCapteur() override;
};

#endif
