// VerrouPort: the lock that makes one program the owner of a serial port.
//
// The link libraries open the device for a single call and flock it only for
// that call, so between two readings another program could open the same
// port and take the sensors' answers from under a running acquisition. This
// lock spans the program's whole use of the port instead: the program takes
// it at its first use of a port and keeps it until it quits or changes port.
//
// It cannot be a flock on the device itself: the libraries flock the device
// at every call from their own descriptor, and a lock held by the program
// would refuse them. So it is a lock file keyed by the device's real path
// (links resolved, so that two names of one device collide), in /run/lock
// (world-writable with the sticky bit on Debian; /tmp where it is missing),
// locked with an open-file-description lock: the system drops it with the
// last descriptor, so a program that dies leaves no stale lock behind, and
// two lock objects in one process exclude each other as two programs do.
// The file holds the holder's process number and program name, so that a
// refused program can say who holds the port. The file itself is left in
// place: removing it would race with a program about to lock it.
#ifndef NIVELIX_VERROUPORT_H
#define NIVELIX_VERROUPORT_H

#include <string>
#include <sys/types.h>

// What became of a request for a port's lock.
enum class EtatVerrou {
  Pris,          // this object holds the lock (now or from before)
  TenuAilleurs,  // another program holds it: Detenteur and Programme say who
  ErreurSysteme, // no device to lock, or the lock file could not be made or
                 // locked: Erreur says why; nothing held, nobody refused
};

struct ResultatVerrou {
  EtatVerrou Etat = EtatVerrou::ErreurSysteme;
  pid_t Detenteur = 0;     // TenuAilleurs: the holder's process, 0 when it did not say
  std::string Programme;   // TenuAilleurs: the holder's program name, may be empty
  int Erreur = 0;          // ErreurSysteme: the system error number
};

class TVerrouPort {
 public:
  TVerrouPort() = default;
  ~TVerrouPort();  // releases the lock
  TVerrouPort(const TVerrouPort &) = delete;
  TVerrouPort &operator=(const TVerrouPort &) = delete;

  // Takes the lock of COM<portNumber>. Holding it already for that device
  // (or that configured path, while it does not resolve) costs nothing; a
  // configured path that resolves again, to another device, moves the lock;
  // holding another port's lock releases that one first, so the object holds
  // at most one port. A refusal holds nothing.
  ResultatVerrou Prendre(int portNumber);
  // Releases the lock held, if any.
  void Liberer();

  bool Tenu() const { return m_fd >= 0; }
  // The device path whose lock is held; empty when none.
  const std::string &Peripherique() const { return m_cle; }

  // The lock file of a device path (exposed for tests and diagnostics).
  static std::string FichierVerrou(const std::string &devicePath);

 private:
  int m_fd = -1;
  std::string m_cle;     // real path of the device locked
  std::string m_chemin;  // the device path as configured when it was taken
};

// The program's own lock, taken by every operation of the sensor model that
// uses the line. One per process.
TVerrouPort &VerrouProgramme();

#endif
