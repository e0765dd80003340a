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
// (links resolved, so that two names of one device collide), locked with an
// open-file-description lock: the system drops it with the last descriptor,
// so a program that dies leaves no stale lock behind, and two lock objects in
// one process exclude each other as two programs do. The file holds the
// holder's process number and program name, so that a refused program can
// say who holds the port. The file itself is left in place: removing it would
// race with a program about to lock it.
//
// Only a user who may use the port can take or forge its lock:
// - a user who cannot open the device for reading and writing is turned away
//   before any lock file is touched;
// - the lock files live in /run/lock/nivelix, root:dialout, mode 2775 (made
//   at boot by systemd-tmpfiles, or by the program run as root when it is
//   missing): only root and the members of dialout may make a file there,
//   and the files are mode 0660 in group dialout, so that nobody else can
//   even open one, to lock it or to write a false holder into it. A folder
//   there that root does not own, or that others may write, is never used;
//   a file there that is not a plain 0660 file of the folder's group (made
//   by hand by a member, mode 0600 say) is never trusted either: the port is
//   then refused as held by another program rather than used unguarded;
// - where that folder cannot be used (not there and the program not root,
//   not root's own, or the user not in its group), the lock falls back to a
//   folder of the user's own (/run/user/<uid>, or /tmp/nivelix-<uid>, mode
//   0700, checked to be the user's): it still keeps the user's own programs
//   apart, and no other user can take or forge it; programs of different
//   users then do not see each other's lock, and only the device's own
//   exclusive open keeps their exchanges apart, one call at a time.
#ifndef NIVELIX_VERROUPORT_H
#define NIVELIX_VERROUPORT_H

#include <string>
#include <sys/types.h>

// What became of a request for a port's lock.
enum class EtatVerrou {
  Pris,          // this object holds the lock (now or from before)
  TenuAilleurs,  // another program holds it: Detenteur and Programme say who
  ErreurSysteme, // no device to lock, a device this user cannot open
                 // (EACCES), or the lock file could not be made or locked:
                 // Erreur says why; nothing held, nobody refused
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

  // The lock file of a device path for this user (exposed for tests and
  // diagnostics); empty when no folder for it can be used.
  static std::string FichierVerrou(const std::string &devicePath);
  // The folder of lock files shared by every user who may use the ports.
  static const char *DossierPartage();

 private:
  int m_fd = -1;
  std::string m_cle;     // real path of the device locked
  std::string m_chemin;  // the device path as configured when it was taken
};

// The program's own lock, taken by every operation of the sensor model that
// uses the line. One per process.
TVerrouPort &VerrouProgramme();

#endif
