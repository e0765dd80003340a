#include "FichierAcquisition.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include <QFile>

#include "ListeCapteurs.h"
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

int CloseChecked(int fd) {
  // A close that fails may have lost data written before it.
  return ::close(fd) == 0 ? 0 : -1;
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

bool TFichierAcquisition::WritePieces(int fd, const std::vector<QByteArray> &pieces) {
  for (const QByteArray &piece : pieces) {
    const char *data = piece.constData();
    qsizetype left = piece.size();
    while (left > 0) {
      const ssize_t n = ::write(fd, data, static_cast<std::size_t>(left));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return true;
      m_lineBroken = true;
      data += n;
      left -= n;
    }
    if (piece.endsWith(LineEnd)) m_lineBroken = false;
  }
  return false;
}

bool TFichierAcquisition::Create(const QString &path, const std::vector<QByteArray> &pieces) {
  m_lineBroken = false;
  const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC,
                        0666);
  if (fd < 0) return true;
  const bool failed = WritePieces(fd, pieces);
  return (CloseChecked(fd) != 0) || failed;
}

bool TFichierAcquisition::Append(const QString &path, const std::vector<QByteArray> &pieces) {
  const QByteArray name = QFile::encodeName(path);
  // Read access only serves to look at the last byte; a file that can be
  // written but not read is appended to all the same.
  bool readable = true;
  int fd = ::open(name.constData(), O_RDWR | O_APPEND | O_CLOEXEC);
  if (fd < 0 && errno == EACCES) {
    readable = false;
    fd = ::open(name.constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
  }
  if (fd < 0) return true;

  bool broken = m_lineBroken;
  struct stat st {};
  if (readable && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    char last = '\n';
    broken = st.st_size > 0 && ::pread(fd, &last, 1, st.st_size - 1) == 1 && last != '\n';
  }
  bool failed = false;
  if (broken) failed = WritePieces(fd, {LineEnd});
  if (!failed) failed = WritePieces(fd, pieces);
  return (CloseChecked(fd) != 0) || failed;
}
