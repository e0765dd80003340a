// LecteurAcquisition: reads an acquisition file into a TDonneesAcquisition,
// and keeps reading it while it grows.
//
// The file is what nivelix3 and nivelix-record write (FichierAcquisition):
//   "Acquisition file generated with Nivelix V<version>."
//   "Unit : <unit>"
//   one line per sensor "<reference> - <serial> : " TAB "<comment>." (a
//     comment may hold line breaks: its line is then several lines)
//   "Inclinometer", then TAB + "<reference> - <serial>" per sensor
//   one line per sample: "<date> <time>", then TAB + value per sensor.
// Lines end in CRLF or LF; an empty value is a failed reading; values take
// '.' or ',' as decimal separator; texts are 8-bit (UTF-8 when they decode
// as such, else Latin-1). The date is three numbers in an order the file
// does not state: the reader infers it from the data (a first number above
// 12 is the day; four digits first is the year; a second number above 12
// the day of a month/day/year date) unless the caller chose it, and reads
// afresh, once, if data seen later shows that the order assumed was wrong.
//
// Reading is incremental: each Read() goes on from the end of the last
// complete line read before, in large blocks (never the whole file again,
// never the whole file in memory). A last line without its line end waits
// for it. A file replaced (another inode, or its header changed) or cut
// shorter is read afresh from its start, and Read() says so.
//
// Nothing in a file makes it crash or lie: lines that cannot be read are
// counted by kind with their first line number in the data, and a file that
// cannot be used at all gives a message "FILE: line N: what is wrong" or
// "FILE: why". Qt Core only; one thread calls it (it may use a second one
// for itself while reading a large block).
#ifndef NIVELIX_LECTEURACQUISITION_H
#define NIVELIX_LECTEURACQUISITION_H

#include <cstdint>
#include <memory>

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "DonneesAcquisition.h"

// What one Read() did. One named family of codes.
enum class EtatLecture {
  Read,          // new sample lines were read (or the header, the first time)
  NoChange,      // nothing new since the last read (a last line without end waits)
  ReadAfresh,    // the file was replaced, cut shorter or its date order proved
                 // wrong: the data were cleared and the file read again from
                 // its start (FirstLine/... describe the new content)
  Unusable,      // the file cannot be read as an acquisition file; Message()
                 // says why; the data are empty
};

class TLecteurAcquisition {
 public:
  explicit TLecteurAcquisition(TDonneesAcquisition &data);
  ~TLecteurAcquisition();
  TLecteurAcquisition(const TLecteurAcquisition &) = delete;
  TLecteurAcquisition &operator=(const TLecteurAcquisition &) = delete;

  // The file to read from now on. Clears the data; the next Read() reads it
  // from its start. Nothing is opened here.
  void SetFile(const QString &path);
  const QString &File() const { return m_path; }

  // The date order to read with: a chosen order is used whatever the data
  // say (a date impossible in it is a BadDate line); automatic (the default)
  // infers it. Changing it clears the data: the next Read() reads afresh.
  void SetDateOrder(DateOrder order);
  void SetDateOrderAutomatic();

  // Reads what the file holds beyond what was read before (all of it the
  // first time). Returns what happened; on Unusable, Message() holds the
  // reason and the data are empty (a later Read() tries again from the
  // start: a file being created may become usable).
  EtatLecture Read();

  // Why the file could not be used, one line without line end:
  // "FILE: line N: what is wrong" or "FILE: why" (missing, folder, no
  // permission, empty...). Empty when the last Read() was not Unusable.
  const QString &Message() const { return m_message; }
  // Why the last ReadAfresh happened ("the file was replaced"...); empty
  // otherwise.
  const QString &AfreshReason() const { return m_afreshReason; }
  // The last Read() read afresh because the file itself changed (replaced,
  // cut shorter, rewritten), not because its dates showed another order.
  bool FileChanged() const { return m_fileChanged; }

  // One line per kind of problem the data holds, "FILE: line N: what (M
  // lines)", for a command line's standard error or a window's details.
  QStringList ProblemLines() const;

  // At most about bytes of new lines each Read() reads (whole blocks; 0,
  // the default: all the file holds), so that a window reads a large file a
  // slice at a time between its events. MoreToRead() says whether the file
  // held more than the last Read() took; FileBytes() is its size then.
  void SetSliceBytes(int64_t bytes);
  bool MoreToRead() const;
  int64_t FileBytes() const;

  // Blocks of at least ParallelBytes are read by two threads, each half of
  // the block into buffers of its own, appended in order: the data are
  // those one thread reads. Off: every block on the calling thread alone.
  void SetParallel(bool on);
  static constexpr int64_t ParallelBytes = int64_t(1) << 20;

  // Bytes read from the disk at most at once.
  static constexpr int64_t BlockBytes = int64_t(8) << 20;
  // A sample line never gets longer than this; a longer one is LongLine.
  static constexpr int64_t LongestLine = int64_t(1) << 20;
  // The header (up to the column header line) is at most this long.
  static constexpr int64_t LongestHeader = int64_t(4) << 20;

 private:
  enum class ReadOutcome { Done, OrderRevised };
  void Restart();
  EtatLecture Refuse(const QString &why, int64_t line = 0);
  EtatLecture ReadHeader(int fd, int64_t size);
  ReadOutcome ReadSamples(int fd, int64_t size);
  // Reads one sample line (without its line end) into the data; false when
  // it shows that the date order assumed was wrong (read afresh).
  bool SampleLine(const char *begin, const char *end, int64_t line);
  // Reads the complete lines begin..end (the last ends in '\n') with two
  // threads; false, with nothing read, when a line shows a date order that
  // must be read line by line.
  bool ParallelBlock(const char *begin, const char *end);

  struct Impl;
  std::unique_ptr<Impl> m_impl;
  TDonneesAcquisition &m_data;
  QString m_path;
  QString m_message;
  QString m_afreshReason;
  bool m_fileChanged = false;
};

#endif
