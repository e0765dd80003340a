#include "FichierAcquisition.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "ListeCapteurs.h"
#include "SyncDisque.h"
#include "UtilCapt.h"
#include "globales.h"
#include "langue.h"

namespace {

const QByteArray LineEnd("\r\n");
const QByteArray Tab("\t");

QByteArray Local(const QString &text) { return text.toLocal8Bit(); }
// The sensor's texts are kept in UTF-8; the file takes the locale's encoding.
QByteArray Raw(const std::string &text) { return Local(QString::fromStdString(text)); }
// A comment typed on several lines keeps them, each ended like every other
// line of the file.
QByteArray CommentText(const std::string &text) {
  QString comment = QString::fromStdString(text);
  comment.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  comment.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
  return Local(comment);
}

// "<reference> - <serial number>", the name of a sensor in the header.
QByteArray SensorName(const TCapteur &sensor) {
  return Raw(sensor.Data.Reference) + " - " + QByteArray::number(sensor.Data.SerialNumber);
}

// At most this many bytes of waiting lines go in one write.
constexpr qsizetype BatchBytes = 64 * 1024;

QByteArray Joined(const std::vector<QByteArray> &pieces) {
  QByteArray all;
  for (const QByteArray &piece : pieces) all += piece;
  return all;
}

// The cause of a refusal with error. A name that is not found is a file
// deleted when its folder is still there, a folder missing otherwise.
WriteCause CauseOf(int error, const QString &path) {
  switch (error) {
    case ENOSPC:
    case EDQUOT:
      return WriteCause::DiskFull;
    case EFBIG:
      return WriteCause::SizeLimit;
    case EACCES:
    case EPERM:
    case EROFS:
      return WriteCause::NoPermission;
    case ESTALE:
      return WriteCause::FileDeleted;
    case EISDIR:
      return WriteCause::Folder;
    case ENOENT:
    case ENOTDIR:
      if (path.isEmpty()) return WriteCause::FileDeleted;
      return QFileInfo(path).absoluteDir().exists() ? WriteCause::FileDeleted
                                                    : WriteCause::FolderMissing;
    default:
      return WriteCause::OtherError;
  }
}

// The folder the file really is in (path may be a link to a file
// elsewhere) is synced once the file is made: without it a power cut can
// leave no file at all, however often the file was synced. 0, or the system
// error.
int SyncFileFolder(const QString &path) {
  const QString real = QFileInfo(path).canonicalFilePath();
  const QString folder = QFileInfo(real.isEmpty() ? path : real).absolutePath();
  return SyncFolder(QFile::encodeName(folder).constData());
}

// Records the refusal in r (the first one only) and returns false.
bool Failure(WriteResult &r, int error, const QString &path) {
  if (!r.Failed()) {
    r.cause = CauseOf(error, path);
    r.systemError = error;
  }
  return false;
}

}  // namespace

std::vector<QByteArray> HeaderPieces(const TlistCapteur &sensors, int unit) {
  std::vector<QByteArray> pieces;
  pieces.push_back(Local(Langue(TxtAcqGenerated)) + " V" + NivelixVersion + "." + LineEnd);
  pieces.push_back(Local(Langue(TxtAcqUnit)) + " : " + Raw(AngleUnitName(unit)) + LineEnd);
  for (int i = 0; i < sensors.Count(); ++i) {
    const TCapteur &sensor = *sensors.GetSensor(i);
    const QByteArray comment =
        sensor.Comment.empty() ? Local(Langue(TxtAcqNoComment)) : CommentText(sensor.Comment);
    pieces.push_back(SensorName(sensor) + " : " + Tab + comment + "." + LineEnd);
  }
  pieces.push_back(Local(Langue(TxtAcqInclinometer)));
  for (int i = 0; i < sensors.Count(); ++i) pieces.push_back(Tab + SensorName(*sensors.GetSensor(i)));
  pieces.push_back(LineEnd);
  return pieces;
}

QByteArray DateField(const QDate &date, int dateFormat) {
  int first = date.day(), second = date.month(), third = date.year();
  switch (dateFormat) {
    case DateMonthDayYear:
      first = date.month();
      second = date.day();
      break;
    case DateYearMonthDay:
      first = date.year();
      third = date.day();
      break;
    default:
      break;
  }
  return QByteArray::number(first) + "/" + QByteArray::number(second) + "/" +
         QByteArray::number(third) + " ";
}

QByteArray TimeField(const QTime &time) {
  return QByteArray::number(time.hour()) + ":" + QByteArray::number(time.minute()) + ":" +
         QByteArray::number(time.second());
}

std::vector<QByteArray> SamplePieces(const QDateTime &when, int dateFormat, int unit,
                                     const TlistCapteur &sensors,
                                     const std::vector<double> &values) {
  std::vector<QByteArray> pieces;
  pieces.push_back(DateField(when.date(), dateFormat));
  pieces.push_back(TimeField(when.time()));
  for (int i = 0; i < sensors.Count(); ++i) {
    const TCapteur &sensor = *sensors.GetSensor(i);
    const double value =
        static_cast<std::size_t>(i) < values.size() ? values[static_cast<std::size_t>(i)]
                                                    : FailedReadingMRad;
    QByteArray field;
    if (value < FailedReadingLimitMRad)
      field = Raw(FormatAngle(RangeClass(sensor.Data.FullScale), unit, sensor.Data.Family, value));
    pieces.push_back(Tab + field);
  }
  pieces.push_back(LineEnd);
  return pieces;
}

QByteArray HeaderText(const TlistCapteur &sensors, int unit) {
  return Joined(HeaderPieces(sensors, unit));
}

QByteArray SampleLine(const QDateTime &when, int dateFormat, int unit, const TlistCapteur &sensors,
                      const std::vector<double> &values) {
  return Joined(SamplePieces(when, dateFormat, unit, sensors, values));
}

QString WriteCauseText(WriteCause cause) {
  switch (cause) {
    case WriteCause::None: return QString();
    case WriteCause::DiskFull: return Langue(TxtAcqCauseDiskFull);
    case WriteCause::FileDeleted: return Langue(TxtAcqCauseFileDeleted);
    case WriteCause::FolderMissing: return Langue(TxtAcqCauseFolderMissing);
    case WriteCause::NoPermission: return Langue(TxtAcqCauseNoPermission);
    case WriteCause::SizeLimit: return Langue(TxtAcqCauseSizeLimit);
    case WriteCause::Folder: return Langue(TxtAcqCauseFolder);
    case WriteCause::OtherError: break;
  }
  return Langue(TxtAcqCauseOther);
}

int64_t TFichierAcquisition::DayOfLines(int32_t periodSeconds) {
  return std::max<int64_t>(1, SecondsPerDay / std::max<int32_t>(1, periodSeconds));
}

QByteArray TFichierAcquisition::WaitingText() const {
  QByteArray all;
  for (const QByteArray &line : m_waiting) all += line;
  return all;
}

WriteResult TFichierAcquisition::Finish(WriteResult r) const {
  r.linesWaiting = Waiting();
  r.linesDropped = m_dropped;
  return r;
}

void TFichierAcquisition::CutBack(int fd, int64_t size) {
  if (::ftruncate(fd, static_cast<off_t>(size)) == 0) return;
  struct stat st {};
  if (::fstat(fd, &st) != 0) return;
  m_tear = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino), size};
}

bool TFichierAcquisition::RepairTear(int fd, WriteResult &r) {
  if (m_tear.size < 0) return true;
  struct stat st {};
  if (::fstat(fd, &st) != 0) return Failure(r, errno, QString());
  // Another file now has the name: the torn one is no longer ours to mend.
  if (static_cast<uint64_t>(st.st_dev) != m_tear.device ||
      static_cast<uint64_t>(st.st_ino) != m_tear.inode) {
    m_tear = Tear{};
    return true;
  }
  if (st.st_size > m_tear.size && ::ftruncate(fd, static_cast<off_t>(m_tear.size)) != 0)
    return Failure(r, errno, QString());
  m_tear = Tear{};
  return true;
}

bool TFichierAcquisition::WriteWaiting(int fd, WriteResult &r) {
  if (m_waiting.empty()) return true;
  const off_t start = ::lseek(fd, 0, SEEK_END);
  if (start < 0) return Failure(r, errno, QString());
  std::size_t next = 0;  // the first waiting line not in the file yet
  off_t end = start;     // the end of the whole lines written by this call
  int error = 0;
  while (next < m_waiting.size() && error == 0) {
    // Several waiting lines go together: a day of them caught up in one tick
    // costs a few writes, not tens of thousands.
    QByteArray batch;
    std::size_t lines = 0;
    for (std::size_t i = next; i < m_waiting.size(); ++i) {
      if (lines > 0 && batch.size() + m_waiting[i].size() > BatchBytes) break;
      batch += m_waiting[i];
      ++lines;
    }
    qsizetype done = 0;
    while (done < batch.size()) {
      const ssize_t n = ::write(fd, batch.constData() + done, static_cast<std::size_t>(batch.size() - done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        error = n < 0 ? errno : ENOSPC;
        break;
      }
      done += n;
    }
    // The lines that reached the file whole stay; the rest of a line cut
    // short goes again, whole, with the next call.
    qsizetype whole = 0;
    while (lines > 0 && whole + m_waiting[next].size() <= done) {
      whole += m_waiting[next].size();
      ++next;
      --lines;
    }
    end += whole;
    if (done > whole) CutBack(fd, end);
  }
  // Written is not yet on disk. The lines count as written, and leave the
  // queue, only once fdatasync has returned, one sync for all of them. A
  // sync that fails may have lost any of them: they are cut off the file
  // and go again, whole, with the next call, so that none is lost and none
  // is in the file twice.
  if (next > 0) {
    if (const int syncError = SyncData(fd)) {
      CutBack(fd, start);
      next = 0;
      if (error == 0) error = syncError;
    }
  }
  for (; next > 0; --next) {
    m_waiting.pop_front();
    ++r.linesWritten;
  }
  if (error != 0) return Failure(r, error, QString());
  return true;
}

WriteResult TFichierAcquisition::Create(const QString &path, const QByteArray &header) {
  m_waiting.clear();
  m_dropped = 0;
  m_tear = Tear{};
  WriteResult r;
  const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC,
                        0666);
  if (fd < 0) {
    Failure(r, errno, path);
    return Finish(r);
  }
  m_waiting.push_back(header);
  bool written = WriteWaiting(fd, r);
  // The header is not a sample: it is never kept waiting for a run that
  // does not start.
  m_waiting.clear();
  r.linesWritten = 0;
  // Nothing but whole lines: a header cut short has left an empty file.
  if (::close(fd) != 0 && written) written = Failure(r, errno, path);
  // Once, for the run: the file's name goes to disk with its header.
  if (written) {
    if (const int error = SyncFileFolder(path)) Failure(r, error, path);
  }
  return Finish(r);
}

WriteResult TFichierAcquisition::Append(const QString &path, const QByteArray &line) {
  return WriteOut(path, &line);
}

WriteResult TFichierAcquisition::Flush(const QString &path) { return WriteOut(path, nullptr); }

WriteResult TFichierAcquisition::WriteOut(const QString &path, const QByteArray *line) {
  WriteResult r;
  if (m_waiting.empty() && !line) return Finish(r);
  const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
  bool written = fd >= 0 ? RepairTear(fd, r) && WriteWaiting(fd, r) : Failure(r, errno, path);
  if (line) {
    // The line goes behind those still waiting, so that the file keeps the
    // order of the samples. Beyond a day of lines the newest are the ones
    // dropped: what is kept follows on without a hole from the moment the
    // trouble began, so the file is whole from its start up to one gap, and
    // that gap is counted.
    if (Waiting() < m_waitingLimit)
      m_waiting.push_back(*line);
    else
      ++m_dropped;
    if (written) written = WriteWaiting(fd, r);
  }
  // A close that fails may have lost what was written before it.
  if (fd >= 0 && ::close(fd) != 0 && written) Failure(r, errno, path);
  return Finish(r);
}
