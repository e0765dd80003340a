// ListeCapteurs: the list of the sensors found by the last scan.
#ifndef NIVELIX_LISTECAPTEURS_H
#define NIVELIX_LISTECAPTEURS_H

#include <cstdint>
#include <memory>
#include <vector>

#include "Capteur.h"

// Owns its sensors, in the order they were added. A sensor's index names it
// everywhere else in the program (menu item, acquisition column).
class TlistCapteur {
 public:
  TlistCapteur() = default;
  // Releases every sensor, the last one first.
  ~TlistCapteur();
  TlistCapteur(const TlistCapteur &) = delete;
  TlistCapteur &operator=(const TlistCapteur &) = delete;

  // Number of sensors.
  int Count() const;

  // The sensor at index, still owned by the list; nullptr when index is not
  // in 0 .. Count() - 1.
  TCapteur *GetSensor(int index) const;

  // Creates a sensor of data.Family (0 family B, 1 family A) on port, with a
  // copy of data as its data block, not connected, without comment and with
  // a clear status flag, and appends it. Returns the new sensor; an unknown
  // family adds nothing and returns nullptr.
  TCapteur *AddSensor(SensorData data, uint8_t port);

  // Appends a sensor made elsewhere; the list takes it over. Returns it, or
  // nullptr (nothing added) for an empty pointer.
  TCapteur *Append(std::unique_ptr<TCapteur> sensor);

  // Releases the sensor at index and removes its entry; an index outside
  // 0 .. Count() - 1 changes nothing.
  void DeleteSensor(int index);

  // Releases every sensor, from the last to the first.
  void ClearSensors();

 private:
  std::vector<std::unique_ptr<TCapteur>> sensors_;
};

#endif
