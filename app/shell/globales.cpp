#include "globales.h"

SettingsRecord Settings{};
SettingsRecord PendingSettings{};
TlistCapteur *SensorList = nullptr;
TFrameAcquisition *AcquisitionFrame = nullptr;

void LoadSettings() { PendingSettings = Settings; }
