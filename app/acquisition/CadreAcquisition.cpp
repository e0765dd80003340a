#include "CadreAcquisition.h"

TFrameAcquisition::TFrameAcquisition(QWidget *parent) : QFrame(parent) {
  setObjectName("FrameAcquisition");
}

TFrameAcquisition::~TFrameAcquisition() = default;

bool TFrameAcquisition::WriteHeader() { return true; }
