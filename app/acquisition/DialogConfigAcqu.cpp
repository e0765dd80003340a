#include "DialogConfigAcqu.h"

TConfigAcquisition::TConfigAcquisition(QWidget *parent) : QDialog(parent) {
  setObjectName("ConfigAcquisition");
}

TConfigAcquisition::~TConfigAcquisition() = default;
