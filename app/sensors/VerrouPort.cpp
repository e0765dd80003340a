// VerrouPort: the lock that makes one program the owner of a serial port.
#include "VerrouPort.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "CheminPort.h"

namespace {

constexpr const char *LockFolder = "/run/lock";
constexpr const char *FallbackLockFolder = "/tmp";
constexpr const char *LockPrefix = "nivelix-";
constexpr mode_t LockFileMode = 0666;  // every user may lock the port it can open
constexpr std::size_t HolderTextMax = 128;

// The device's real path, so that /dev/serial/by-id/... and /dev/ttyUSB0, or
// two links to one pseudo-terminal, give one key. Empty, with errno set,
// when the device is not there.
std::string RealPath(const std::string &path) {
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved) != nullptr) return resolved;
  return std::string();
}

std::string ProgramName() {
  char buffer[64] = {};
  const int fd = ::open("/proc/self/comm", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::string();
  const ssize_t n = ::read(fd, buffer, sizeof buffer - 1);
  ::close(fd);
  std::string name(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
  while (!name.empty() && (name.back() == '\n' || name.back() == '\0')) name.pop_back();
  return name;
}

// Opens the lock file without creating it first: in a sticky world-writable
// folder the system refuses O_CREAT on a file another user owns
// (fs.protected_regular), though opening it is allowed. O_NOFOLLOW: a link
// planted under the lock's name is not followed.
int OpenLockFile(const std::string &file) {
  int fd;
  do {
    fd = ::open(file.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd >= 0 || errno != ENOENT) return fd;
  do {
    fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, LockFileMode);
  } while (fd < 0 && errno == EINTR);
  if (fd >= 0) {
    ::fchmod(fd, LockFileMode);  // the umask must not keep other users out
    return fd;
  }
  if (errno != EEXIST) return -1;
  // Another program made it in between.
  do {
    fd = ::open(file.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

bool LockWhole(int fd) {
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 0;
  int r;
  do {
    r = ::fcntl(fd, F_OFD_SETLK, &lock);
  } while (r != 0 && errno == EINTR);
  return r == 0;
}

// "pid name": what a refused program reads back.
void ReadHolder(int fd, ResultatVerrou &result) {
  char buffer[HolderTextMax + 1] = {};
  const ssize_t n = ::pread(fd, buffer, HolderTextMax, 0);
  if (n <= 0) return;
  char *end = nullptr;
  const long pid = std::strtol(buffer, &end, 10);
  if (end == buffer || pid <= 0) return;
  result.Detenteur = static_cast<pid_t>(pid);
  std::string name(end);
  while (!name.empty() && (name.front() == ' ')) name.erase(0, 1);
  while (!name.empty() && (name.back() == '\n' || name.back() == '\0')) name.pop_back();
  result.Programme = name;
}

void WriteHolder(int fd) {
  const std::string text = std::to_string(::getpid()) + " " + ProgramName() + "\n";
  if (::ftruncate(fd, 0) != 0) return;  // who holds it is a courtesy; the lock is what counts
  ssize_t ignored = ::pwrite(fd, text.data(), text.size(), 0);
  (void)ignored;
}

}  // namespace

TVerrouPort::~TVerrouPort() { Liberer(); }

std::string TVerrouPort::FichierVerrou(const std::string &devicePath) {
  std::string key = RealPath(devicePath);
  if (key.empty()) key = devicePath;
  for (char &c : key)
    if (c == '/') c = '_';
  struct stat folder {};
  const char *dir = ::stat(LockFolder, &folder) == 0 && S_ISDIR(folder.st_mode) ? LockFolder
                                                                                 : FallbackLockFolder;
  return std::string(dir) + "/" + LockPrefix + key + ".lock";
}

ResultatVerrou TVerrouPort::Prendre(int portNumber) {
  ResultatVerrou result;
  const std::string path = ComDevicePath(portNumber);
  const std::string key = RealPath(path);
  // The same configured device keeps its lock even while it does not
  // resolve (a /dev/serial/by-id/ link of an adapter pulled out): letting go
  // then would hand the port to another program until the adapter is back.
  // Once the link is back on another device (ttyUSB0 came back as ttyUSB1),
  // the lock moves there: the old key would guard nothing of ours, and
  // would refuse a program whose own adapter now has that name.
  if (m_fd >= 0 && path == m_chemin && (key.empty() || key == m_cle)) {
    result.Etat = EtatVerrou::Pris;
    return result;
  }
  if (key.empty()) {
    // Nothing to own: no program can use a device that is not there, and
    // the first to use it once it appears takes it.
    result.Erreur = errno;
    return result;
  }
  if (m_fd >= 0 && key == m_cle) {
    m_chemin = path;
    result.Etat = EtatVerrou::Pris;
    return result;
  }
  Liberer();
  const int fd = OpenLockFile(FichierVerrou(key));
  if (fd < 0) {
    result.Erreur = errno;
    return result;
  }
  if (!LockWhole(fd)) {
    const int error = errno;
    if (error == EAGAIN || error == EACCES) {
      result.Etat = EtatVerrou::TenuAilleurs;
      ReadHolder(fd, result);
    } else {
      result.Erreur = error;
    }
    ::close(fd);
    return result;
  }
  WriteHolder(fd);
  m_fd = fd;
  m_cle = key;
  m_chemin = path;
  result.Etat = EtatVerrou::Pris;
  return result;
}

void TVerrouPort::Liberer() {
  if (m_fd < 0) return;
  // The holder text goes first, so that nobody reads a stale name while the
  // file is free; closing the description drops the lock.
  if (::ftruncate(m_fd, 0) != 0) {
    // Only the courtesy text stays; the lock still goes with the close.
  }
  ::close(m_fd);
  m_fd = -1;
  m_cle.clear();
  m_chemin.clear();
}

TVerrouPort &VerrouProgramme() {
  static TVerrouPort verrou;
  return verrou;
}
