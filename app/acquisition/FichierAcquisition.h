// FichierAcquisition: the bytes of an acquisition file and the writing of them.
//
// The file is 8-bit text in the locale's encoding, CRLF line ends, fields
// separated by one TAB. Each piece of a line goes to the system with its own
// write() as soon as it is made, and the file is closed after every line, so
// that every complete sample is on disk once it has been taken.
#ifndef NIVELIX_FICHIERACQUISITION_H
#define NIVELIX_FICHIERACQUISITION_H

#include <vector>

#include <QByteArray>
#include <QDateTime>
#include <QString>

class TlistCapteur;

// A reading handed over at or above this (in mRad) is a failed one: its field
// is left empty. The run hands over FailedReadingMRad for a failed reading.
constexpr double FailedReadingLimitMRad = 99999.0;
constexpr double FailedReadingMRad = 100000.0;

// Version written in the first line of the file.
constexpr const char *NivelixVersion = "3.6.2";

// The header as the pieces that are written one after the other: the
// generation line, the unit line, one line per sensor, then "Inclinometer",
// one TAB + column name per sensor and the line end.
std::vector<QByteArray> HeaderPieces(const TlistCapteur &sensors, int unit);

// The date field with its trailing blank ("%d/%d/%d " in the DateOrder of
// dateFormat; unknown orders give day/month/year) and the time field
// ("%d:%d:%d").
QByteArray DateField(const QDate &date, int dateFormat);
QByteArray TimeField(const QTime &time);

// One sample line as pieces: date, time, TAB + value per sensor, line end.
// values are in mRad in list order; a failed one gives an empty field. Both
// fields come from the one reading of the clock in when, so a sample taken at
// midnight cannot carry the old day's date with the new day's time.
std::vector<QByteArray> SamplePieces(const QDateTime &when, int dateFormat, int unit,
                                     const TlistCapteur &sensors,
                                     const std::vector<double> &values);

// Writes the pieces of one line (or of the header) to an acquisition file.
// Every method returns true on failure: the file is then closed as far as it
// was opened, and errno-free callers only report it.
class TFichierAcquisition {
 public:
  // Creates (or empties) the file at path and writes the pieces.
  bool Create(const QString &path, const std::vector<QByteArray> &pieces);
  // Opens the existing file at path for appending and writes the pieces; a
  // missing file is a failure and is never created again. When the previous
  // line was cut short by a failure, it is ended first, so the broken line
  // and this one stay two rows.
  bool Append(const QString &path, const std::vector<QByteArray> &pieces);

 private:
  // Writes every piece with its own write(); true on failure.
  bool WritePieces(int fd, const std::vector<QByteArray> &pieces);

  // Some bytes of a line reached the file but not its end. Used when the
  // file cannot be read back to see how it ends.
  bool m_lineBroken = false;
};

#endif
