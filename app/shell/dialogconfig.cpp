#include "dialogconfig.h"

#include "globales.h"

TFenetreConfig::TFenetreConfig(QWidget *parent) : QDialog(parent) {
  setObjectName("FenetreConfig");
  LoadSettings();
}

TFenetreConfig::~TFenetreConfig() = default;

void TFenetreConfig::ClearFirstStatusPanel() {}
