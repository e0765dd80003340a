#include "globales.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <QDir>
#include <QStringDecoder>
#include <QStringEncoder>

#include "Messages.h"
#include "UtilCapt.h"
#include "langue.h"

SettingsRecord Settings{};
SettingsRecord PendingSettings{};
TlistCapteur *SensorList = nullptr;
TFrameAcquisition *AcquisitionFrame = nullptr;

namespace {

constexpr int32_t DefaultReserved = 255;
constexpr int32_t DefaultPortNumber = 1;
constexpr const char *DefaultDisplayFont = "Courier New";
constexpr int32_t DefaultDisplayFontHeight = 54;
constexpr uint8_t DefaultAngleUnit = 1;  // "Deg"
constexpr std::size_t ShortStringCapacity = sizeof(ShortString::Text);

// Shows a settings file failure; errorNumber gives the system's text.
void ReportFileError(LangueId what, int errorNumber) {
  ShowMessage(MessageKind::Error,
              Langue(what).arg(QString::fromLatin1(SettingsFileName),
                               QString::fromLocal8Bit(std::strerror(errorNumber))));
}

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

// Opens the existing settings file for reading and writing, or creates it
// when there is none. An existing file is never truncated: when it cannot be
// opened (no access, an I/O error) the failure is reported and -1 returned,
// so the user's settings in it survive. created tells which case it was.
int OpenSettingsFile(bool &created) {
  created = false;
  int fd;
  do {
    fd = ::open(SettingsFileName, O_RDWR | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd >= 0) return fd;
  if (errno != ENOENT) {
    ReportFileError(TxtSettingsOpenError, errno);
    return -1;
  }
  // O_EXCL: a file that appeared in between is not clobbered either.
  do {
    fd = ::open(SettingsFileName, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    ReportFileError(TxtSettingsCreateError, errno);
    return -1;
  }
  created = true;
  return fd;
}

// Removes a settings file this run has just created and could not fill: a
// file shorter than one record would make every later start and save fail.
void RemoveCreatedFile() { ::unlink(SettingsFileName); }

// Closes fd; false (reported) when the system says the data did not make it.
bool CloseSettingsFile(int fd) {
  if (::close(fd) != 0 && errno != EINTR) {
    ReportFileError(TxtSettingsCloseError, errno);
    return false;
  }
  return true;
}

}  // namespace

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

SettingsRecord DefaultSettings() {
  SettingsRecord r{};
  r.Reserved = DefaultReserved;
  r.PortNumber = DefaultPortNumber;
  r.LinkType = LinkRs232;
  SetShortStringText(r.DisplayFont, QString::fromLatin1(DefaultDisplayFont));
  r.DisplayFontHeight = DefaultDisplayFontHeight;
  r.AngleUnit = DefaultAngleUnit;
  SetShortStringText(r.AcquisitionFile, QDir::toNativeSeparators(QDir::currentPath()) +
                                            QDir::separator() + Langue(TxtAcquisition) +
                                            QStringLiteral(".txt"));
  r.DateFormat = DateYearMonthDay;
  return r;
}

bool LoadSettings() {
  Settings = DefaultSettings();
  bool ok = true;
  bool created = false;
  const int fd = OpenSettingsFile(created);
  if (fd < 0) {
    ok = false;
  } else if (created) {
    if (!WriteAt(fd, &Settings, sizeof Settings, 0)) {
      ReportFileError(TxtSettingsWriteError, errno);
      ::close(fd);
      RemoveCreatedFile();
      ok = false;
    } else {
      ok = CloseSettingsFile(fd);
    }
  } else {
    // Read into a scratch record: a short or failed read must leave the
    // defaults in force, not half a record over them.
    SettingsRecord read{};
    const ssize_t n = ReadAt(fd, &read, sizeof read, 0);
    if (n < 0) {
      ReportFileError(TxtSettingsReadError, errno);
      ok = false;
    } else if (static_cast<std::size_t>(n) < sizeof read) {
      ShowMessage(MessageKind::Error,
                  Langue(TxtSettingsShortFile).arg(QString::fromLatin1(SettingsFileName)));
      ok = false;
    } else {
      Settings = read;
    }
    ::close(fd);  // opened for reading only in effect: nothing to lose here
  }
  PendingSettings = Settings;
  return ok;
}

void ApplyPendingSettings() { Settings = PendingSettings; }

TSettingsSave::~TSettingsSave() {
  if (m_fd >= 0) {
    ::close(m_fd);
    if (m_created) RemoveCreatedFile();
  }
}

bool TSettingsSave::ReadPrevious() {
  if (m_fd >= 0) {
    ::close(m_fd);
    m_fd = -1;
  }
  const int fd = OpenSettingsFile(m_created);
  if (fd < 0) return false;
  if (m_created) {
    m_previous = Settings;
  } else {
    const ssize_t n = ReadAt(fd, &m_previous, sizeof m_previous, 0);
    if (n < 0 || static_cast<std::size_t>(n) < sizeof m_previous) {
      // Nothing is written over a file whose record 0 could not be read.
      if (n < 0)
        ReportFileError(TxtSettingsReadError, errno);
      else
        ShowMessage(MessageKind::Error,
                    Langue(TxtSettingsShortFileSave).arg(QString::fromLatin1(SettingsFileName)));
      ::close(fd);
      return false;
    }
  }
  m_fd = fd;
  return true;
}

bool TSettingsSave::WriteRecords() {
  if (m_fd < 0) return false;
  const int fd = m_fd;
  m_fd = -1;
  SettingsRecord records[2] = {Settings, m_previous};
  if (!WriteAt(fd, records, sizeof records, 0)) {
    ReportFileError(TxtSettingsWriteError, errno);
    ::close(fd);
    if (m_created) RemoveCreatedFile();
    return false;
  }
  return CloseSettingsFile(fd);
}

bool SaveSettings() {
  TSettingsSave save;
  return save.ReadPrevious() && save.WriteRecords();
}

uint8_t DisplayUnit() {
  return Settings.AngleUnit <= UnitMmPerM ? Settings.AngleUnit : uint8_t{UnitMRad};
}

int DisplayFontPixels(int32_t storedHeight) {
  constexpr int64_t MaxPixels = 2000;
  const int64_t pixels = std::llabs(static_cast<int64_t>(storedHeight));
  return pixels <= MaxPixels ? static_cast<int>(pixels) : 0;
}
