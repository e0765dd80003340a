// ListeCapteurs: the list of the sensors found by the last scan.
#include "ListeCapteurs.h"

TlistCapteur::~TlistCapteur() { ClearSensors(); }

int TlistCapteur::Count() const { return static_cast<int>(sensors_.size()); }

TCapteur *TlistCapteur::GetSensor(int index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return sensors_[static_cast<std::size_t>(index)].get();
}

TCapteur *TlistCapteur::AddSensor(SensorData data, uint8_t port) {
  std::unique_ptr<TCapteur> sensor;
  switch (data.Family) {
    case 0: sensor = std::make_unique<TCapteur>(); break;
    case 1: sensor = std::make_unique<TCapteur72500>(); break;
    default: return nullptr;  // the scan knows no other family
  }
  sensor->SetPort(port);
  sensor->Data = data;
  return Append(std::move(sensor));
}

TCapteur *TlistCapteur::Append(std::unique_ptr<TCapteur> sensor) {
  if (!sensor) return nullptr;
  sensors_.push_back(std::move(sensor));
  return sensors_.back().get();
}

void TlistCapteur::DeleteSensor(int index) {
  if (index < 0 || index >= Count()) return;
  sensors_.erase(sensors_.begin() + index);
}

void TlistCapteur::ClearSensors() {
  while (!sensors_.empty()) DeleteSensor(Count() - 1);
}
