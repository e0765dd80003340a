// VerrouPort: the lock that makes one program the owner of a serial port.
#include "VerrouPort.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "CheminPort.h"

namespace {

constexpr const char *SharedFolder = "/run/lock/nivelix";
constexpr const char *SharedGroup = "dialout";
constexpr mode_t SharedFolderMode = 02775;  // setgid: files take the folder's group
constexpr mode_t SharedFileMode = 0660;     // the group may lock, nobody else may open
constexpr mode_t OwnFolderMode = 0700;
constexpr mode_t OwnFileMode = 0600;
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

// The group of the serial ports, whose members may lock them; root's group
// on a system without one.
gid_t PortGroup() {
  struct group entry {};
  struct group *found = nullptr;
  char buffer[4096];
  if (::getgrnam_r(SharedGroup, &entry, buffer, sizeof buffer, &found) == 0 && found)
    return found->gr_gid;
  return 0;
}

// The folder at path as a descriptor: every later step goes through it, so
// a folder swapped under the name after the checks cannot receive the lock.
// A link at the name is not followed.
int OpenFolder(const std::string &path) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// Only root can have made it, and only root and the ports' group can make
// files in it.
bool SharedFolderTrusted(const struct stat &st) {
  if (!S_ISDIR(st.st_mode) || st.st_uid != 0 || (st.st_mode & S_IWOTH)) return false;
  return !(st.st_mode & S_IWGRP) || st.st_gid == 0 || st.st_gid == PortGroup();
}

bool OwnFolderTrusted(const struct stat &st) {
  return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
}

// Makes the shared folder as systemd-tmpfiles would, when it is missing and
// the program runs as root. It is private until it has its group and mode;
// a folder someone else made in the meantime stays theirs, and is then
// refused by the checks.
void MakeSharedFolder() {
  if (::geteuid() != 0 || ::mkdir(SharedFolder, 0700) != 0) return;
  const int fd = OpenFolder(SharedFolder);
  if (fd < 0) return;
  if (::fchown(fd, 0, PortGroup()) == 0) ::fchmod(fd, SharedFolderMode);
  ::close(fd);
}

// Where this user's lock files go.
struct LockFolder {
  int fd = -1;
  bool shared = false;
  std::string path, prefix;  // a file is path + "/" + prefix + key + ".lock"
  gid_t group = 0;           // shared: the group every file must have
  LockFolder() = default;
  LockFolder(const LockFolder &) = delete;
  LockFolder &operator=(const LockFolder &) = delete;
  ~LockFolder() {
    if (fd >= 0) ::close(fd);
  }
};

// A folder of the user's own, when the shared one cannot be used. Nobody
// else can write in it, so nobody else can take or forge a lock there.
bool OpenOwnFolder(LockFolder &folder) {
  const std::string uid = std::to_string(::geteuid());
  const struct {
    std::string path, prefix;
    bool make;
  } candidates[] = {{"/run/user/" + uid, "nivelix-", false}, {"/tmp/nivelix-" + uid, "", true}};
  for (const auto &c : candidates) {
    if (c.make) ::mkdir(c.path.c_str(), OwnFolderMode);
    const int fd = OpenFolder(c.path);
    struct stat st {};
    if (fd >= 0 && ::fstat(fd, &st) == 0 && OwnFolderTrusted(st)) {
      folder.fd = fd;
      folder.path = c.path;
      folder.prefix = c.prefix;
      return true;
    }
    if (fd >= 0) ::close(fd);
  }
  errno = EPERM;  // /tmp/nivelix-<uid> is someone else's
  return false;
}

// The shared folder when this user may make lock files in it, else the
// user's own. False, errno set, when neither can be used.
bool OpenLockFolder(LockFolder &folder) {
  int fd = OpenFolder(SharedFolder);
  if (fd < 0 && errno == ENOENT) {
    MakeSharedFolder();
    fd = OpenFolder(SharedFolder);
  }
  struct stat st {};
  if (fd >= 0 && ::fstat(fd, &st) == 0 && SharedFolderTrusted(st) &&
      ::faccessat(fd, ".", W_OK | X_OK, AT_EACCESS) == 0) {
    folder.fd = fd;
    folder.shared = true;
    folder.path = SharedFolder;
    folder.group = st.st_gid;
    return true;
  }
  if (fd >= 0) ::close(fd);
  return OpenOwnFolder(folder);
}

std::string LockFileName(const LockFolder &folder, const std::string &key) {
  std::string name = key;
  for (char &c : name)
    if (c == '/') c = '_';
  return folder.prefix + name + ".lock";
}

// What opening a lock file gave.
enum class OuvertureVerrou { Ouvert, Suspect, Erreur };

// A file that only the users who may lock the port can open: a plain file,
// one name, in the shared folder of its group and open to the group alone,
// in the user's own folder the user's alone.
bool LockFileTrusted(const LockFolder &folder, const struct stat &st) {
  if (!S_ISREG(st.st_mode) || st.st_nlink != 1) return false;
  if (!folder.shared) return st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
  return st.st_gid == folder.group && (st.st_mode & 0007) == 0 && (st.st_mode & 0060) == 0060;
}

// Opens the lock file in folder, making it when there is none. O_NOFOLLOW:
// a link planted under the lock's name is not followed; O_NONBLOCK: a FIFO
// there cannot hang the program (it is refused as not a plain file).
OuvertureVerrou OpenLockFile(const LockFolder &folder, const std::string &name, int &fd) {
  const int access = O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  const mode_t mode = folder.shared ? SharedFileMode : OwnFileMode;
  do {
    fd = ::openat(folder.fd, name.c_str(), access);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0 && errno == ENOENT) {
    do {
      fd = ::openat(folder.fd, name.c_str(), access | O_CREAT | O_EXCL, mode);
    } while (fd < 0 && errno == EINTR);
    if (fd >= 0) {
      ::fchmod(fd, mode);  // the umask must not keep the group out
    } else if (errno == EEXIST) {
      // Another program made it in between.
      do {
        fd = ::openat(folder.fd, name.c_str(), access);
      } while (fd < 0 && errno == EINTR);
    }
  }
  if (fd < 0) {
    // This user may make files in the folder, so a file it cannot open, or a
    // link, was put there to keep others out by someone who may use the
    // port: it counts as held, never as no lock at all.
    return errno == EACCES || errno == ELOOP ? OuvertureVerrou::Suspect : OuvertureVerrou::Erreur;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !LockFileTrusted(folder, st)) {
    ::close(fd);
    fd = -1;
    return OuvertureVerrou::Suspect;
  }
  return OuvertureVerrou::Ouvert;
}

// Whether this user may open the device for reading and writing, checked
// with the ids the system checks files with (AT_EACCESS). The lock stands
// for the right to talk on the port: a user without it must not hold the
// lock, which would keep the port from those who have it. This is checked
// rather than the holder's own use of the device, because the holder does
// not keep the device open between the libraries' calls (their exclusive
// open would refuse the libraries themselves), and a lock by description
// does not even tell which process holds it.
bool MayUseDevice(const std::string &device) {
  return ::faccessat(AT_FDCWD, device.c_str(), R_OK | W_OK, AT_EACCESS) == 0;
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

const char *TVerrouPort::DossierPartage() { return SharedFolder; }

std::string TVerrouPort::FichierVerrou(const std::string &devicePath) {
  std::string key = RealPath(devicePath);
  if (key.empty()) key = devicePath;
  LockFolder folder;
  if (!OpenLockFolder(folder)) return std::string();
  return folder.path + "/" + LockFileName(folder, key);
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
  if (!MayUseDevice(key)) {
    result.Erreur = errno;
    return result;
  }
  LockFolder folder;
  if (!OpenLockFolder(folder)) {
    result.Erreur = errno;
    return result;
  }
  int fd = -1;
  switch (OpenLockFile(folder, LockFileName(folder, key), fd)) {
    case OuvertureVerrou::Ouvert:
      break;
    case OuvertureVerrou::Suspect:
      // Held by whoever put it there; who that is, the file cannot say.
      result.Etat = EtatVerrou::TenuAilleurs;
      return result;
    case OuvertureVerrou::Erreur:
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
