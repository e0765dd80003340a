// CheminPort: the serial device behind a port number.
//
// The link libraries name their port "COMn" and the program shows and checks
// the device of the chosen port; both must agree on which device that is, so
// the rule lives here once.
#ifndef NIVELIX_CHEMINPORT_H
#define NIVELIX_CHEMINPORT_H

#include <string>

// The device of COM<portNumber>: the environment variable NIVELIX_COM<n>
// when it is set and not empty, else /dev/ttyS<n-1>.
std::string ComDevicePath(long portNumber);

#endif
