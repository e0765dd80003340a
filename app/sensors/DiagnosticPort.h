// DiagnosticPort: why a serial port cannot be used.
//
// The link libraries answer every port trouble with the same result (-2),
// and their interface cannot say more. Before a scan, and when a reading
// fails that way, the program asks here instead: it takes the program's port
// lock (VerrouPort), then opens and locks the device itself the way the
// libraries do, and names what stood in the way.
#ifndef NIVELIX_DIAGNOSTICPORT_H
#define NIVELIX_DIAGNOSTICPORT_H

#include <string>
#include <sys/types.h>

enum class EtatPort {
  Disponible,        // the device opens as a serial port and nobody holds it
  Absent,            // no such device (adapter out, wrong name)
  AccesRefuse,       // permission denied (the user is not in the dialout group)
  OccupeNivelix,     // another program holds the port's lock: Detenteur, Programme
  OccupeAutre,       // another program has the device open exclusively
  PasUnPortSerie,    // a regular file, /dev/null, a folder...
  AutreErreur,       // any other system error: Erreur
};

struct DiagnosticPort {
  EtatPort Etat = EtatPort::AutreErreur;
  std::string Chemin;      // the device path of the port
  int Erreur = 0;          // the system error behind the state, 0 when none
  pid_t Detenteur = 0;     // OccupeNivelix
  std::string Programme;   // OccupeNivelix
};

// Takes the program's lock of COM<portNumber> (VerrouProgramme) and tries
// the device. Call it while the link libraries do not hold the port open:
// their own lock on the device would read as another program's.
DiagnosticPort DiagnostiquerPort(int portNumber);

// The device part alone, without the program's lock.
DiagnosticPort DiagnostiquerPeripherique(const std::string &devicePath);

#endif
