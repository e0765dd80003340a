// DonneesAcquisition: what nivelix-view knows of one acquisition file.
//
// The header (version, unit, the sensors with their comments), one
// TSerieAcquisition per sensor in column order, the time of every sample in
// one TLigneTemps shared by all sensors, the date order assumed, and what
// the reader could not read (counted, the first of each kind named with its
// line number). The file itself is not kept: the reader parses its lines
// straight into the series. Values are in the file's unit.
//
// Filled by TLecteurAcquisition only; everyone else reads it. Qt Core only.
#ifndef NIVELIX_DONNEESACQUISITION_H
#define NIVELIX_DONNEESACQUISITION_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include <QByteArray>
#include <QString>

#include "SerieAcquisition.h"
#include "globales.h"  // DateOrder

// One sensor of the file, from its header line and its column name.
struct CapteurFichier {
  QString reference;  // "R" of "R - 12345"
  QString serial;     // "12345", as written
  QString name;       // "R - 12345", the column header's name: legend and --stats
  QString comment;    // the comment, line breaks kept as "\n", without the final "."
};

// Why lines or fields could not be read. One named family of codes: the
// reader counts each and keeps the first line of each.
enum class ProblemeLecture {
  FieldCount,   // a sample line with more or fewer fields than sensors + 1
  BadDate,      // the first field is not "a/b/c h:m:s" with a valid date and time
  BadNumber,    // a value field that is neither empty nor a number (kept as a gap)
  BadBytes,     // a line with bytes no text holds (NUL and other controls)
  LongLine,     // a line longer than any sample line can be (1 MB)
  Incomplete,   // the last line has no line end yet (read once it has)
  Count_
};

// How the date order in use was decided.
enum class SourceOrdreDate {
  Data,      // the data showed it (a first number above 12 is the day, four digits first the year...)
  Assumed,   // nothing in the data so far tells: day/month/year, the program's default
  Chosen,    // the caller chose it (TLecteurAcquisition::SetDateOrder)
};

class TDonneesAcquisition {
 public:
  // The text after "Acquisition file generated with Nivelix V", without the
  // final "." ("3.6.2").
  const QString &Version() const { return m_version; }
  // The unit name of line 2 ("mRad", "Deg", "%", "mm/m" or whatever is
  // written there).
  const QString &Unit() const { return m_unit; }

  int Sensors() const { return static_cast<int>(m_sensors.size()); }
  // Sensor i (0..Sensors()-1) in column order.
  const CapteurFichier &Sensor(int i) const { return m_sensors[static_cast<std::size_t>(i)]; }
  // The values of sensor i, one per sample line read, in file order.
  const TSerieAcquisition &Series(int i) const { return m_series[static_cast<std::size_t>(i)]; }
  // The time of every sample line read (same count as every series).
  const TLigneTemps &Times() const { return m_times; }

  // Sample lines read (each series holds as many values).
  int64_t Samples() const { return m_times.Samples(); }
  // Failed readings (empty fields) of all sensors, and of sensor i.
  int64_t Failed() const;
  int64_t Failed(int i) const { return Series(i).Failed(); }

  // The date order the sample lines are read with, and how it was decided.
  DateOrder Order() const { return m_order; }
  SourceOrdreDate OrderSource() const { return m_orderSource; }

  // Lines or fields of a kind that could not be read so far, and the line
  // number (from 1) of the first of them (0 when none). A line with a bad
  // number is still read, the field a gap; the others are left out.
  int64_t Problems(ProblemeLecture kind) const { return m_problems[Index(kind)].count; }
  int64_t FirstProblemLine(ProblemeLecture kind) const { return m_problems[Index(kind)].firstLine; }
  // Lines left out (every kind but BadNumber and Incomplete).
  int64_t LinesLeftOut() const;
  // Lines of the file read so far, header included (the number of the last
  // complete line).
  int64_t Lines() const { return m_lines; }
  // Bytes of the file read so far (up to the end of the last complete line).
  int64_t BytesRead() const { return m_bytesRead; }

  // Bytes held for the samples: every series and the times.
  std::size_t MemoryBytes() const;

  // Forgets everything (the reader does it before reading a file afresh).
  void Clear();

 private:
  friend class TLecteurAcquisition;
  static std::size_t Index(ProblemeLecture kind) { return static_cast<std::size_t>(kind); }
  struct Probleme {
    int64_t count = 0;
    int64_t firstLine = 0;
  };
  void Note(ProblemeLecture kind, int64_t line);

  QString m_version;
  QString m_unit;
  std::vector<CapteurFichier> m_sensors;
  std::vector<TSerieAcquisition> m_series;
  TLigneTemps m_times;
  DateOrder m_order = DateDayMonthYear;
  SourceOrdreDate m_orderSource = SourceOrdreDate::Assumed;
  Probleme m_problems[static_cast<std::size_t>(ProblemeLecture::Count_)];
  int64_t m_lines = 0;
  int64_t m_bytesRead = 0;
};

// The short English name of a problem ("wrong number of fields"...).
QString ProblemeText(ProblemeLecture kind);
// The name of a date order as the status line shows it ("day/month/year").
QString DateOrderText(DateOrder order);

#endif
