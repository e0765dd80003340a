// FichierReglages: the settings file on disk.
#include "FichierReglages.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <QStringDecoder>
#include <QStringEncoder>

#include "SyncDisque.h"
#include "UtilCapt.h"

namespace {

constexpr mode_t NewFileMode = 0666;  // less the user's umask
constexpr std::size_t ShortStringCapacity = sizeof(ShortString::Text);

// Reads size bytes at offset. Returns the count read (short only at the end
// of the file) or -1 with errno set.
ssize_t ReadAt(int fd, void *buffer, std::size_t size, off_t offset) {
  auto *bytes = static_cast<char *>(buffer);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pread(fd, bytes + done, size - done, offset + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

// Writes size bytes at offset; false with errno set on failure.
bool WriteAt(int fd, const void *buffer, std::size_t size, off_t offset) {
  const auto *bytes = static_cast<const char *>(buffer);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pwrite(fd, bytes + done, size - done, offset + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

ResultatReglages Result(EtatReglages etat, int error = 0) { return ResultatReglages{etat, error}; }

// Sets errno to error (0 or a system error) and says whether it is 0, for
// the callers here that read the cause from errno.
bool Succeeded(int error) {
  errno = error;
  return error == 0;
}

// Writes size bytes at offset and waits until they are on disk.
bool WriteAndSync(int fd, const void *buffer, std::size_t size, off_t offset) {
  return WriteAt(fd, buffer, size, offset) && Succeeded(SyncData(fd));
}

// Opens the existing file, or makes it when there is none (created tells).
// O_NOFOLLOW refuses a symbolic link at the name, dangling or not; O_EXCL
// does the same for the creation, and a file that appeared in between is
// not clobbered. O_NONBLOCK: a FIFO at the name must not hang the program;
// it is refused as not regular right after. An existing file is never
// truncated, so the user's settings in one that cannot be read survive.
ResultatReglages OpenOrCreate(int access, int &fd, bool &created) {
  created = false;
  do {
    fd = ::open(SettingsFileName, access | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  // A folder at the name cannot be opened for writing: it is no regular
  // file, as it is when opened for reading.
  if (fd < 0 && (errno == ELOOP || errno == EISDIR)) return Result(EtatReglages::PasOrdinaire, errno);
  if (fd < 0 && errno != ENOENT) return Result(EtatReglages::ErreurOuverture, errno);
  if (fd < 0) {
    do {
      fd = ::open(SettingsFileName, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, NewFileMode);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0 && (errno == EEXIST || errno == ELOOP))
      return Result(EtatReglages::PasOrdinaire, errno);  // something appeared at the name
    if (fd < 0) return Result(EtatReglages::ErreurCreation, errno);
    created = true;
    return Result(EtatReglages::Ok);
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    fd = -1;
    return Result(EtatReglages::PasOrdinaire);
  }
  return Result(EtatReglages::Ok);
}

// Removes a file this run has just made and could not fill: a file shorter
// than one record would make every later start and save fail.
void RemoveCreatedFile() { ::unlink(SettingsFileName); }

ResultatReglages CloseFile(int fd) {
  if (::close(fd) != 0 && errno != EINTR) return Result(EtatReglages::ErreurFermeture, errno);
  return Result(EtatReglages::Ok);
}

// Reads record 0 of the open file fd into record and closes fd. Read into a
// scratch record: a short or failed read must leave the caller's record, not
// half a record over it.
ResultatReglages ReadRecordAndClose(int fd, SettingsRecord &record) {
  SettingsRecord read{};
  const ssize_t n = ReadAt(fd, &read, sizeof read, 0);
  const int error = errno;
  ::close(fd);  // read only: nothing to lose at close
  if (n < 0) return Result(EtatReglages::ErreurLecture, error);
  if (static_cast<std::size_t>(n) < sizeof read) return Result(EtatReglages::Court);
  record = read;
  return Result(EtatReglages::Ok);
}

}  // namespace

// ---- Reading a record's fields -------------------------------------------------
// Here rather than with the program's globals, so that a program without
// windows reads a record the way nivelix3 does.

QString ShortStringText(const ShortString &s) {
  const QByteArray bytes(s.Text, s.Length);
  // Stateless: a sequence cut short by the end is an error too, not held back.
  QStringDecoder decoder(QStringDecoder::System, QStringDecoder::Flag::Stateless);
  QString text = decoder.decode(bytes);
  if (decoder.hasError()) return QString::fromLatin1(bytes);
  return text;
}

void SetShortStringText(ShortString &s, const QString &text) {
  QStringEncoder encoder(QStringEncoder::System);
  QByteArray bytes = encoder.encode(text);
  if (static_cast<std::size_t>(bytes.size()) > ShortStringCapacity) {
    // Cut whole characters from the end until the bytes fit, so that no
    // character is left half written.
    QString cut = text;
    while (static_cast<std::size_t>(bytes.size()) > ShortStringCapacity && !cut.isEmpty()) {
      int drop = 1;
      if (cut.size() >= 2 && cut.back().isLowSurrogate() && cut.at(cut.size() - 2).isHighSurrogate())
        drop = 2;
      cut.chop(drop);
      QStringEncoder again(QStringEncoder::System);
      bytes = again.encode(cut);
    }
  }
  s.Length = static_cast<uint8_t>(bytes.size());
  std::memcpy(s.Text, bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

uint8_t RecordDisplayUnit(const SettingsRecord &record) {
  return record.AngleUnit <= UnitMmPerM ? record.AngleUnit : uint8_t{UnitMRad};
}

// ---- The file --------------------------------------------------------------------

TFichierReglages::~TFichierReglages() {
  if (m_fd >= 0) {
    ::close(m_fd);
    if (m_created) RemoveCreatedFile();
  }
}

ResultatReglages TFichierReglages::Charger(SettingsRecord &record) {
  int fd = -1;
  bool created = false;
  // Read access is all a load needs: a read-only file loads.
  ResultatReglages r = OpenOrCreate(O_RDONLY, fd, created);
  if (r.Etat != EtatReglages::Ok) return r;
  if (created) {
    // The record on disk first, then the name: after a power cut there is
    // either no file or one whole record, never an empty file that every
    // later start and save would refuse.
    if (!WriteAndSync(fd, &record, sizeof record, 0)) {
      r = Result(EtatReglages::ErreurCreation, errno);
      ::close(fd);
      RemoveCreatedFile();
      return r;
    }
    r = CloseFile(fd);
    if (r.Etat != EtatReglages::Ok) return r;
    if (!Succeeded(SyncFolder("."))) return Result(EtatReglages::ErreurCreation, errno);
    return Result(EtatReglages::Cree);
  }
  return ReadRecordAndClose(fd, record);
}

ResultatReglages TFichierReglages::Lire(const char *path, SettingsRecord &record) {
  int fd = -1;
  do {
    fd = ::open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0 && errno == ELOOP) return Result(EtatReglages::PasOrdinaire, errno);
  if (fd < 0) return Result(EtatReglages::ErreurOuverture, errno);
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return Result(EtatReglages::PasOrdinaire);
  }
  return ReadRecordAndClose(fd, record);
}

ResultatReglages TFichierReglages::LirePrecedent(const SettingsRecord &current) {
  if (m_fd >= 0) {
    ::close(m_fd);
    m_fd = -1;
  }
  int fd = -1;
  ResultatReglages r = OpenOrCreate(O_RDWR, fd, m_created);
  if (r.Etat != EtatReglages::Ok) return r;
  if (m_created) {
    m_previous = current;
  } else {
    const ssize_t n = ReadAt(fd, &m_previous, sizeof m_previous, 0);
    if (n < 0 || static_cast<std::size_t>(n) < sizeof m_previous) {
      // Nothing is written over a file whose record 0 could not be read.
      r = n < 0 ? Result(EtatReglages::ErreurLecture, errno) : Result(EtatReglages::Court);
      ::close(fd);
      return r;
    }
  }
  m_fd = fd;
  return Result(EtatReglages::Ok);
}

ResultatReglages TFichierReglages::EcrireEnregistrements(const SettingsRecord &current) {
  if (m_fd < 0) return Result(EtatReglages::ErreurEcriture, EBADF);
  const int fd = m_fd;
  m_fd = -1;
  // Each record goes to disk before the next is written, so that a power
  // cut at any moment leaves one of the two whole. Over an existing file the
  // backup goes first: until it is on disk, record 0 still holds the old
  // settings untouched; once it is, the old settings are whole in record 1
  // however much of record 0 the cut let through. A file this save made
  // holds nothing to keep: both records go in one write (record 0 first,
  // leaving no hole of zeros where a record should be), then the folder, so
  // that the file's name only reaches the disk with its records.
  const SettingsRecord records[2] = {current, m_previous};
  const bool written =
      m_created ? WriteAndSync(fd, records, sizeof records, 0)
                : WriteAndSync(fd, &m_previous, sizeof m_previous, sizeof(SettingsRecord)) &&
                      WriteAndSync(fd, &current, sizeof current, 0);
  if (!written) {
    const ResultatReglages r = Result(EtatReglages::ErreurEcriture, errno);
    ::close(fd);
    if (m_created) RemoveCreatedFile();
    return r;
  }
  const ResultatReglages r = CloseFile(fd);
  if (r.Etat == EtatReglages::Ok && m_created && !Succeeded(SyncFolder(".")))
    return Result(EtatReglages::ErreurEcriture, errno);
  return r;
}
