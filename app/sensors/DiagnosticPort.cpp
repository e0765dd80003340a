// DiagnosticPort: why a serial port cannot be used.
#include "DiagnosticPort.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "CheminPort.h"
#include "VerrouPort.h"

namespace {

EtatPort StateOfOpenError(int error) {
  switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return EtatPort::Absent;
    case EACCES:
    case EPERM:
      return EtatPort::AccesRefuse;
    case EBUSY:  // exclusive mode (TIOCEXCL) set by the program that has it open
      return EtatPort::OccupeAutre;
    case EISDIR:
    case ENOTTY:
      return EtatPort::PasUnPortSerie;
    default:
      return EtatPort::AutreErreur;
  }
}

}  // namespace

DiagnosticPort DiagnostiquerPeripherique(const std::string &devicePath) {
  DiagnosticPort d;
  d.Chemin = devicePath;
  int fd;
  // Non-blocking: a modem line waiting for carrier, or a FIFO, must not hang
  // the interface.
  do {
    fd = ::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    d.Erreur = errno;
    d.Etat = StateOfOpenError(d.Erreur);
    return d;
  }
  termios settings{};
  if (::tcgetattr(fd, &settings) != 0) {
    d.Erreur = errno;
    d.Etat = EtatPort::PasUnPortSerie;
    ::close(fd);
    return d;
  }
  // The lock the link libraries take at every call: held means another
  // program (or another copy of this one, before the lock file existed) is
  // talking on the line.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    d.Erreur = errno;
    d.Etat = d.Erreur == EWOULDBLOCK ? EtatPort::OccupeAutre : EtatPort::AutreErreur;
    ::close(fd);
    return d;
  }
  ::close(fd);
  d.Etat = EtatPort::Disponible;
  return d;
}

DiagnosticPort DiagnostiquerPort(int portNumber) {
  const std::string path = ComDevicePath(portNumber);
  const ResultatVerrou verrou = VerrouProgramme().Prendre(portNumber);
  if (verrou.Etat == EtatVerrou::TenuAilleurs) {
    DiagnosticPort d;
    d.Chemin = path;
    d.Etat = EtatPort::OccupeNivelix;
    d.Detenteur = verrou.Detenteur;
    d.Programme = verrou.Programme;
    return d;
  }
  // A lock file that cannot be made (a read-only /run/lock) does not keep
  // the program off its port; the device tells the rest.
  return DiagnostiquerPeripherique(path);
}
