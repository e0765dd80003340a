// FichierAcquisition: the bytes of an acquisition file and the writing of them.
//
// The file is 8-bit text in the locale's encoding, CRLF line ends, fields
// separated by one TAB. Each line goes to the system in one write() and is
// pushed to the disk itself (fdatasync) before the call that wrote it
// returns, so that every complete sample is on disk before the next one is
// taken and a power cut loses at most the sample being taken; nothing but
// whole lines ever is in the file. A write() alone only reaches the page
// cache, which a power cut empties. Qt Core only: the program's window and a
// recorder without one write through it alike.
#ifndef NIVELIX_FICHIERACQUISITION_H
#define NIVELIX_FICHIERACQUISITION_H

#include <cstdint>
#include <deque>
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

// The header as its pieces: the generation line, the unit line, one line per
// sensor, then "Inclinometer", one TAB + column name per sensor and the line
// end.
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

// The header or one sample line as the bytes that go to the file together.
QByteArray HeaderText(const TlistCapteur &sensors, int unit);
QByteArray SampleLine(const QDateTime &when, int dateFormat, int unit, const TlistCapteur &sensors,
                      const std::vector<double> &values);

// Why the system refused the file; None when every line went to it.
enum class WriteCause {
  None,
  DiskFull,
  FileDeleted,
  FolderMissing,
  NoPermission,
  SizeLimit,
  Folder,  // the path names a folder, not a file
  OtherError,
};

// The short name of a cause for the user ("disk full"...), from the string
// table; empty for None.
QString WriteCauseText(WriteCause cause);

// What one call of the writer did. Nothing is shown to anyone: a window puts
// it in its status bar, a program without one prints it.
struct WriteResult {
  WriteCause cause = WriteCause::None;
  int systemError = 0;       // the errno behind cause
  int64_t linesWritten = 0;  // by this call, waiting lines included
  int64_t linesWaiting = 0;  // kept in memory, in order, for the next call
  int64_t linesDropped = 0;  // since Create: lines neither written nor kept
  bool Failed() const { return cause != WriteCause::None; }
};

// Writes an acquisition file in whole lines. Each call opens the file, writes,
// syncs (fdatasync) and closes it again, so that every line a call reports
// written is on disk when it returns, and nothing holds the file between
// samples. A line that the system refuses, or that it took but could not put
// on disk, is kept waiting and goes to the file, in order, with the next call
// that succeeds; a write that stops half way through is cut back to the end
// of the last whole line, so the file never holds a torn line.
class TFichierAcquisition {
 public:
  // The lines a day of samples at periodSeconds makes, at least one: as many
  // as are kept waiting while the file cannot be written.
  static int64_t DayOfLines(int32_t periodSeconds);
  // How many lines are kept waiting at most (DayOfLines(1) until set).
  void SetWaitingLimit(int64_t lines) { m_waitingLimit = lines < 1 ? 1 : lines; }

  // Creates (or empties) the file at path and writes the header in one write.
  // Once the header is on disk, the folder is synced too (fsync), so that
  // the new file's name survives a power cut as well as its bytes. Forgets
  // the lines waiting for an earlier file. A header that cannot be written
  // whole, or put on disk, is not kept: the file is cut back to empty and
  // the caller does not start the run.
  WriteResult Create(const QString &path, const QByteArray &header);
  // Writes the lines waiting, then line, to the end of the existing file at
  // path. A missing file is a failure and is never created again: the lines
  // wait until the file is back. With the waiting limit reached, line is
  // dropped and counted.
  WriteResult Append(const QString &path, const QByteArray &line);
  // Writes the lines waiting, if any, without adding one.
  WriteResult Flush(const QString &path);

  int64_t Waiting() const { return static_cast<int64_t>(m_waiting.size()); }
  // The lines waiting, in order, as the bytes they would add to the file.
  QByteArray WaitingText() const;
  // Forgets the lines waiting: the user saved them elsewhere or gave them up.
  void ForgetWaiting() { m_waiting.clear(); }
  int64_t Dropped() const { return m_dropped; }

 private:
  // Writes the waiting lines to fd in as few writes as fit and syncs them;
  // true when all went. Lines leave the queue only once they are on disk. On
  // a refusal, r gets the cause and the file is cut back.
  bool WriteWaiting(int fd, WriteResult &r);
  // Cuts the file on fd back to size; remembers to do it at the next call
  // when the system refuses.
  void CutBack(int fd, int64_t size);
  // A cut that failed earlier, done now if fd is still that file.
  bool RepairTear(int fd, WriteResult &r);
  WriteResult Finish(WriteResult r) const;
  // Writes the waiting lines and then line (when given) to the file at path.
  WriteResult WriteOut(const QString &path, const QByteArray *line);

  std::deque<QByteArray> m_waiting;
  int64_t m_waitingLimit = DayOfLines(1);
  int64_t m_dropped = 0;
  // A line whose cut back failed: the file (device, inode) and the size to
  // cut it to. size -1: none.
  struct Tear {
    uint64_t device = 0, inode = 0;
    int64_t size = -1;
  } m_tear;
};

#endif
