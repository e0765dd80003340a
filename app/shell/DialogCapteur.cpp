#include "DialogCapteur.h"

TFenetreCapteur::TFenetreCapteur(QWidget *parent) : QDialog(parent) {
  setObjectName("FenetreCapteur");
}

TFenetreCapteur::~TFenetreCapteur() = default;
