// CheminPort: the serial device behind a port number.
#include "CheminPort.h"

#include <cstdlib>

std::string ComDevicePath(long portNumber) {
  const std::string variable = "NIVELIX_COM" + std::to_string(portNumber);
  const char *configured = std::getenv(variable.c_str());
  if (configured != nullptr && *configured != '\0') return configured;
  return "/dev/ttyS" + std::to_string(portNumber - 1);
}
