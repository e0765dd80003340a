#include "LecteurAcquisition.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <system_error>
#include <thread>
#include <vector>

#include <QFile>
#include <QStringDecoder>
#include <QStringList>

namespace {

const QByteArray Generated("Acquisition file generated with Nivelix");
const QByteArray UnitStart("Unit : ");
const QByteArray Columns("Inclinometer");

// UTF-8 when the bytes are that, else Latin-1 (an older file, another code page).
QString Text(const QByteArray &bytes) {
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString s = utf8(bytes);
  if (utf8.hasError()) return QString::fromLatin1(bytes);
  return s;
}

// Days from 1970-01-01 to y-m-d (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

int DaysInMonth(int64_t y, int64_t m) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (m == 2 && ((y % 4 == 0 && y % 100 != 0) || y % 400 == 0)) return 29;
  return days[m - 1];
}

// An unsigned decimal number of at most 9 digits at p; its digit count in digits.
bool Number(const char *&p, const char *end, int64_t &value, int &digits) {
  value = 0;
  digits = 0;
  while (p < end && *p >= '0' && *p <= '9' && digits < 10) {
    value = value * 10 + (*p++ - '0');
    ++digits;
  }
  return digits > 0 && digits < 10;
}

// A value field: [-+]digits[(.|,)digits]; without locale calls.
bool Value(const char *p, const char *end, float &out) {
  bool negative = false;
  if (p < end && (*p == '-' || *p == '+')) negative = *p++ == '-';
  uint64_t mantissa = 0;
  int digits = 0, decimals = 0, seen = 0;
  bool separator = false;
  for (; p < end; ++p) {
    const char c = *p;
    if (c >= '0' && c <= '9') {
      ++seen;
      if (digits < 18) {
        mantissa = mantissa * 10 + static_cast<uint64_t>(c - '0');
        if (separator) ++decimals;
        if (mantissa) ++digits;
      } else if (!separator) {
        return false;  // no reading is that large
      }
    } else if ((c == '.' || c == ',') && !separator) {
      separator = true;
    } else {
      return false;
    }
  }
  static const double Powers[] = {1, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9,
                                  1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18};
  // "." or "-" alone are not numbers.
  if (seen == 0) return false;
  double v = static_cast<double>(mantissa) / Powers[decimals];
  out = static_cast<float>(negative ? -v : v);
  return true;
}

// The fields of a sample line whose form is right: the six numbers of its
// date and time with their digit counts, and where its values begin.
struct Champs {
  int64_t n[6];
  int digits[6];
  const char *values;
};

// The careful reading of a line's form, in the order its faults are named:
// too long, bytes no text holds, fields, date. Count_ when the form is right.
ProblemeLecture Form(const char *p, const char *end, std::size_t sensors, Champs &c) {
  if (end - p > TLecteurAcquisition::LongestLine) return ProblemeLecture::LongLine;
  // Fields, and bytes no text line holds, in one pass.
  std::size_t fields = 1;
  bool control = false;
  for (const char *q = p; q < end; ++q) {
    const auto ch = static_cast<unsigned char>(*q);
    fields += ch == '\t';
    control |= ch < 32 && ch != '\t';
  }
  if (control) return ProblemeLecture::BadBytes;
  if (fields != sensors + 1) return ProblemeLecture::FieldCount;
  const char *tab = static_cast<const char *>(std::memchr(p, '\t', static_cast<size_t>(end - p)));
  const char *dateEnd = tab ? tab : end;
  // Date "a/b/c h:m:s".
  const char *q = p;
  for (int k = 0; k < 6; ++k) {
    if (!Number(q, dateEnd, c.n[k], c.digits[k])) return ProblemeLecture::BadDate;
    const char sep = k < 2 ? '/' : k == 2 ? ' ' : ':';
    if (k < 5) {
      if (q < dateEnd && *q == sep) ++q;
      else return ProblemeLecture::BadDate;
    }
  }
  if (q != dateEnd) return ProblemeLecture::BadDate;
  c.values = dateEnd + 1;
  return ProblemeLecture::Count_;
}

// The common line in one pass: a date of six numbers of 1 to 9 digits, then
// exactly sensors fields each empty or [-+]digits[(.|,)digits] of at most 17
// digits. False for anything else: Form() and Values() then decide, so that
// what this accepts reads exactly as they would read it.
bool FastLine(const char *p, const char *end, std::size_t sensors, Champs &c, float *values) {
  if (end - p > TLecteurAcquisition::LongestLine) return false;
  static const char Seps[6] = {'/', '/', ' ', ':', ':', '\t'};
  for (int k = 0; k < 6; ++k) {
    int64_t v = 0;
    int digits = 0;
    while (p < end && static_cast<unsigned>(*p - '0') < 10u) {
      v = v * 10 + (*p++ - '0');
      if (++digits > 9) return false;
    }
    if (digits == 0) return false;
    c.n[k] = v;
    c.digits[k] = digits;
    if (k < 5 || sensors > 0) {
      if (p >= end || *p != Seps[k]) return false;
      ++p;
    }
  }
  c.values = p;
  static const double Powers[] = {1, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9,
                                  1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18};
  for (std::size_t i = 0; i < sensors; ++i) {
    if (p == end || *p == '\t') {
      values[i] = std::numeric_limits<float>::quiet_NaN();
    } else {
      bool negative = false;
      if (*p == '-' || *p == '+') negative = *p++ == '-';
      uint64_t mantissa = 0;
      int digits = 0, decimals = 0;
      bool separator = false;
      for (; p < end && *p != '\t'; ++p) {
        const unsigned d = static_cast<unsigned>(*p - '0');
        if (d < 10u) {
          mantissa = mantissa * 10 + d;
          ++digits;
          decimals += separator;
        } else if ((*p == '.' || *p == ',') && !separator) {
          separator = true;
        } else {
          return false;
        }
      }
      if (digits == 0 || digits > 17) return false;
      const double v = static_cast<double>(mantissa) / Powers[decimals];
      values[i] = static_cast<float>(negative ? -v : v);
    }
    if (i + 1 < sensors) {
      if (p == end) return false;
      ++p;  // the tab
    }
  }
  return p == end;
}

// The values of a line of the right form; false when one is not a number
// (it is then a gap).
bool Values(const char *field, const char *end, std::size_t sensors, float *values) {
  bool good = true;
  for (std::size_t i = 0; i < sensors; ++i) {
    const char *fieldEnd = static_cast<const char *>(std::memchr(field, '\t', static_cast<size_t>(end - field)));
    if (!fieldEnd) fieldEnd = end;
    float v = std::numeric_limits<float>::quiet_NaN();
    if (fieldEnd != field && !Value(field, fieldEnd, v)) {
      v = std::numeric_limits<float>::quiet_NaN();
      good = false;
    }
    values[i] = v;
    field = fieldEnd + 1;
  }
  return good;
}

// Whether a date shows the order it is written in, and which.
bool Tells(const Champs &c, DateOrder &shown) {
  if (c.digits[0] == 4) shown = DateYearMonthDay;
  else if (c.n[0] > 12) shown = DateDayMonthYear;
  else if (c.n[1] > 12) shown = DateMonthDayYear;
  else return false;
  return true;
}

// Seconds since 1970 of a date and time in the order given; false when it
// is no valid date and time.
bool Seconds(const Champs &c, DateOrder order, int64_t &seconds) {
  const int64_t *n = c.n;
  int64_t year, month, day;
  switch (order) {
    case DateMonthDayYear: month = n[0]; day = n[1]; year = n[2]; break;
    case DateYearMonthDay: year = n[0]; month = n[1]; day = n[2]; break;
    default: day = n[0]; month = n[1]; year = n[2]; break;
  }
  if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || n[3] > 23 ||
      n[4] > 59 || n[5] > 59)
    return false;
  seconds = (DaysFromCivil(year, month, day) * 24 + n[3]) * 3600 + n[4] * 60 + n[5];
  return true;
}

// What one sample line is, read with a date order; nothing of the data is
// touched, so that any thread may read any line.
struct Lue {
  ProblemeLecture problem = ProblemeLecture::Count_;  // BadNumber: read, with gaps
  bool sample = false;  // a sample: values and seconds filled
  bool tells = false;   // (when asked) its date shows the order: shown
  DateOrder shown = DateDayMonthYear;
  int64_t seconds = 0;
};

// With infer, a line whose date shows another order than order is not read
// further (tells, shown, no sample): the caller decides what follows.
Lue ReadLine(const char *p, const char *end, std::size_t sensors, DateOrder order, bool infer,
             float *values) {
  Lue r;
  Champs c;
  const bool fast = FastLine(p, end, sensors, c, values);
  if (!fast) {
    r.problem = Form(p, end, sensors, c);
    if (r.problem != ProblemeLecture::Count_) return r;
  }
  if (infer && Tells(c, r.shown)) {
    r.tells = true;
    if (r.shown != order) return r;
  }
  if (!Seconds(c, order, r.seconds)) {
    r.problem = ProblemeLecture::BadDate;
    return r;
  }
  if (!fast && !Values(c.values, end, sensors, values)) r.problem = ProblemeLecture::BadNumber;
  r.sample = true;
  return r;
}

// The lines of one part of a block read by one thread, into buffers of its
// own: appended to the data afterwards, in order.
struct Morceau {
  std::vector<float> values;  // sensors values a sample, row after row
  std::vector<int64_t> times;
  int64_t samples = 0;
  int64_t lines = 0;
  struct Probleme {
    int64_t count = 0;
    int64_t firstLine = 0;  // from 1 within the part
  } problems[static_cast<std::size_t>(ProblemeLecture::Count_)];
  bool tells = false;     // a line of it showed the date order: shown
  DateOrder shown = DateDayMonthYear;
  bool conflict = false;  // ... another than the one it was read with: stopped there

  void Read(const char *p, const char *end, std::size_t sensors, DateOrder order, bool infer) {
    samples = lines = 0;
    tells = conflict = false;
    for (auto &k : problems) k = Probleme();
    // Grown when needed, kept from one block to the next.
    if (values.size() < sensors * 4096) values.resize(sensors * 4096);
    if (times.size() < 4096) times.resize(4096);
    while (p < end) {
      const char *nl = static_cast<const char *>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
      const char *lineEnd = nl;
      if (lineEnd > p && lineEnd[-1] == '\r') --lineEnd;
      ++lines;
      if (static_cast<std::size_t>(samples) == times.size()) {
        times.resize(times.size() * 2);
        values.resize(times.size() * sensors);
      }
      const Lue r = ReadLine(p, lineEnd, sensors, order, infer, values.data() + samples * sensors);
      if (r.tells) {
        infer = false;
        tells = true;
        shown = r.shown;
        if (r.shown != order) {
          conflict = true;
          return;
        }
      }
      if (r.problem != ProblemeLecture::Count_) {
        auto &k = problems[static_cast<std::size_t>(r.problem)];
        if (k.count++ == 0) k.firstLine = lines;
      }
      if (r.sample) times[static_cast<std::size_t>(samples++)] = r.seconds;
      p = nl + 1;
    }
  }
};

// Runs first on a second thread and second on this one, both done on
// return; both here, one after the other, when no thread can be had.
template <class F, class G>
void Both(F first, G second) {
  std::thread other;
  try {
    other = std::thread(first);
  } catch (const std::system_error &) {
    first();
  }
  second();
  if (other.joinable()) other.join();
}

}  // namespace

struct TLecteurAcquisition::Impl {
  bool automatic = true;
  DateOrder chosen = DateDayMonthYear;
  bool header = false;      // the header has been read
  QByteArray headerBytes;   // to see a file replaced in place
  dev_t device = 0;
  ino_t inode = 0;
  int64_t offset = 0;       // end of the last complete line read
  bool skipping = false;    // inside a line too long, up to its end
  int64_t slice = 0;        // bytes a Read() takes at most (0: all)
  bool more = false;        // the last Read() stopped at its slice
  int64_t size = 0;         // the file's size at the last Read()
  std::vector<char> block;
  std::vector<float> values;
  bool parallel = true;     // large blocks read by two threads
  Morceau parts[2];
};

TLecteurAcquisition::TLecteurAcquisition(TDonneesAcquisition &data)
    : m_impl(std::make_unique<Impl>()), m_data(data) {}
TLecteurAcquisition::~TLecteurAcquisition() = default;

void TLecteurAcquisition::SetFile(const QString &path) {
  m_path = path;
  Restart();
}

void TLecteurAcquisition::SetDateOrder(DateOrder order) {
  m_impl->automatic = false;
  m_impl->chosen = order;
  Restart();
}

void TLecteurAcquisition::SetParallel(bool on) { m_impl->parallel = on; }

void TLecteurAcquisition::SetSliceBytes(int64_t bytes) { m_impl->slice = std::max<int64_t>(0, bytes); }
bool TLecteurAcquisition::MoreToRead() const { return m_impl->more; }
int64_t TLecteurAcquisition::FileBytes() const { return m_impl->size; }

void TLecteurAcquisition::SetDateOrderAutomatic() {
  m_impl->automatic = true;
  Restart();
}

void TLecteurAcquisition::Restart() {
  m_data.Clear();
  m_data.m_order = m_impl->automatic ? DateDayMonthYear : m_impl->chosen;
  m_data.m_orderSource = m_impl->automatic ? SourceOrdreDate::Assumed : SourceOrdreDate::Chosen;
  m_impl->header = false;
  m_impl->headerBytes.clear();
  m_impl->offset = 0;
  m_impl->skipping = false;
  m_impl->more = false;
}

EtatLecture TLecteurAcquisition::Refuse(const QString &why, int64_t line) {
  m_message = line > 0 ? QStringLiteral("%1: line %2: %3").arg(m_path).arg(line).arg(why)
                       : QStringLiteral("%1: %2").arg(m_path, why);
  Restart();
  return EtatLecture::Unusable;
}

EtatLecture TLecteurAcquisition::Read() {
  m_message.clear();
  m_afreshReason.clear();
  m_fileChanged = false;
  const QByteArray name = QFile::encodeName(m_path);
  const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    const int e = errno;
    if (e == ENOENT) return Refuse(QStringLiteral("no such file"));
    if (e == EACCES || e == EPERM) return Refuse(QStringLiteral("permission denied"));
    return Refuse(QString::fromLocal8Bit(std::strerror(e)));
  }
  struct FdCloser {
    int fd;
    ~FdCloser() { ::close(fd); }
  } closer{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0) return Refuse(QString::fromLocal8Bit(std::strerror(errno)));
  if (S_ISDIR(st.st_mode)) return Refuse(QStringLiteral("is a folder, not a file"));
  if (!S_ISREG(st.st_mode)) return Refuse(QStringLiteral("not a regular file"));
  if (st.st_size == 0) return Refuse(QStringLiteral("empty file"));

  Impl &d = *m_impl;
  d.more = false;
  d.size = st.st_size;
  bool afresh = false;
  if (d.header) {
    QString reason;
    if (st.st_dev != d.device || st.st_ino != d.inode) {
      reason = QStringLiteral("the file was replaced");
    } else if (st.st_size < d.offset) {
      reason = QStringLiteral("the file was cut shorter");
    } else {
      QByteArray now(d.headerBytes.size(), '\0');
      const ssize_t got = ::pread(fd, now.data(), static_cast<size_t>(now.size()), 0);
      if (got != now.size() || now != d.headerBytes) reason = QStringLiteral("the file was rewritten");
    }
    if (!reason.isEmpty()) {
      Restart();
      afresh = true;
      m_afreshReason = reason;
      m_fileChanged = true;
    }
  }
  d.device = st.st_dev;
  d.inode = st.st_ino;
  if (!d.header) {
    const EtatLecture h = ReadHeader(fd, st.st_size);
    if (h == EtatLecture::Unusable) return h;
  }
  const int64_t before = m_data.Samples();
  const int64_t bytesBefore = d.offset;
  for (;;) {
    const ReadOutcome r = ReadSamples(fd, st.st_size);
    if (r == ReadOutcome::OrderRevised) {
      // The data showed another date order than the one assumed: once.
      const DateOrder order = m_data.m_order;
      Restart();
      m_data.m_order = order;
      m_data.m_orderSource = SourceOrdreDate::Data;
      afresh = true;
      if (m_afreshReason.isEmpty()) m_afreshReason = QStringLiteral("the date order is ") + DateOrderText(order);
      const EtatLecture h = ReadHeader(fd, st.st_size);
      if (h == EtatLecture::Unusable) return h;
      continue;
    }
    break;
  }
  if (afresh) return EtatLecture::ReadAfresh;
  if (m_data.Samples() != before || d.offset != bytesBefore || bytesBefore == 0) return EtatLecture::Read;
  return EtatLecture::NoChange;
}

EtatLecture TLecteurAcquisition::ReadHeader(int fd, int64_t size) {
  Impl &d = *m_impl;
  const int64_t want = std::min<int64_t>(size, LongestHeader);
  QByteArray bytes(static_cast<qsizetype>(want), '\0');
  int64_t got = 0;
  while (got < want) {
    const ssize_t n = ::pread(fd, bytes.data() + got, static_cast<size_t>(want - got), got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Refuse(QString::fromLocal8Bit(std::strerror(errno)));
    if (n == 0) break;
    got += n;
  }
  bytes.truncate(static_cast<qsizetype>(got));
  // The complete lines, without their line ends.
  std::vector<QByteArray> lines;
  qsizetype start = 0, columnsEnd = -1;
  while (start < bytes.size()) {
    const qsizetype nl = bytes.indexOf('\n', start);
    if (nl < 0) break;
    QByteArray line = bytes.mid(start, nl - start);
    if (line.endsWith('\r')) line.chop(1);
    lines.push_back(line);
    start = nl + 1;
    if (lines.size() > 1 && (line == Columns || line.startsWith(Columns + '\t'))) {
      columnsEnd = start;
      break;
    }
    if (lines.size() == 1 && !line.startsWith(Generated))
      return Refuse(QStringLiteral("not an acquisition file (no \"%1\" line)").arg(QString::fromLatin1(Generated)), 1);
  }
  if (lines.empty()) {
    if (!bytes.startsWith(Generated.left(std::min<qsizetype>(bytes.size(), Generated.size()))))
      return Refuse(QStringLiteral("not an acquisition file (no \"%1\" line)").arg(QString::fromLatin1(Generated)), 1);
    return Refuse(QStringLiteral("the header is incomplete"), 1);
  }
  if (columnsEnd < 0) {
    if (got >= LongestHeader)
      return Refuse(QStringLiteral("no column header line (\"Inclinometer...\") in the first %1 MB")
                        .arg(LongestHeader >> 20), static_cast<int64_t>(lines.size()));
    return Refuse(QStringLiteral("the header ends before its column header line (\"Inclinometer...\")"),
                  static_cast<int64_t>(lines.size()) + 1);
  }
  const QByteArray &first = lines[0];
  QByteArray version = first.mid(Generated.size()).trimmed();
  if (version.startsWith('V')) version.remove(0, 1);
  if (version.endsWith('.')) version.chop(1);
  if (lines.size() < 3 || !lines[1].startsWith(UnitStart))
    return Refuse(QStringLiteral("no unit line (\"Unit : ...\")"), 2);
  m_data.m_version = Text(version);
  m_data.m_unit = Text(lines[1].mid(UnitStart.size()).trimmed());

  // The columns name the sensors; each sensor line begins with that name,
  // and the lines up to the next one continue its comment.
  const QList<QByteArray> names = lines.back().split('\t').mid(1);
  const std::size_t headerLines = lines.size();
  std::size_t at = 2;
  for (const QByteArray &nameBytes : names) {
    CapteurFichier sensor;
    sensor.name = Text(nameBytes);
    const qsizetype dash = nameBytes.lastIndexOf(" - ");
    sensor.reference = Text(dash >= 0 ? nameBytes.left(dash) : nameBytes);
    sensor.serial = Text(dash >= 0 ? nameBytes.mid(dash + 3) : QByteArray());
    const QByteArray lead = nameBytes + " : \t";
    while (at + 1 < headerLines && !lines[at].startsWith(lead)) ++at;
    if (at + 1 < headerLines) {
      QByteArray comment = lines[at].mid(lead.size());
      for (++at; at + 1 < headerLines; ++at) {
        bool next = false;
        for (const QByteArray &other : names)
          if (lines[at].startsWith(other + " : \t")) next = true;
        if (next) break;
        comment += '\n' + lines[at];
      }
      if (comment.endsWith('.')) comment.chop(1);
      sensor.comment = Text(comment);
    }
    m_data.m_sensors.push_back(sensor);
  }
  m_data.m_series.resize(m_data.m_sensors.size());
  // A guess of the sample lines from the size, so the series grow without
  // doubling.
  // The sample lines already in the header's block tell their length.
  int64_t lineBytes = 20 + 8 * static_cast<int64_t>(names.size());
  const qsizetype lastEnd = bytes.lastIndexOf('\n');
  const int64_t sampleBytes = lastEnd + 1 - columnsEnd;
  const int64_t sampleLines = sampleBytes > 0 ? bytes.mid(columnsEnd, sampleBytes).count('\n') : 0;
  if (sampleLines >= 16) lineBytes = std::max<int64_t>(8, sampleBytes / sampleLines);
  for (auto &s : m_data.m_series) s.Reserve((size - columnsEnd) / lineBytes + 1024);
  d.header = true;
  d.headerBytes = bytes.left(columnsEnd);
  d.offset = columnsEnd;
  m_data.m_lines = static_cast<int64_t>(headerLines);
  m_data.m_bytesRead = columnsEnd;
  d.values.assign(m_data.m_sensors.size(), 0.0f);
  return EtatLecture::Read;
}

TLecteurAcquisition::ReadOutcome TLecteurAcquisition::ReadSamples(int fd, int64_t size) {
  Impl &d = *m_impl;
  if (d.block.size() != static_cast<std::size_t>(BlockBytes)) d.block.resize(static_cast<std::size_t>(BlockBytes));
  m_data.m_problems[TDonneesAcquisition::Index(ProblemeLecture::Incomplete)] = {};
  const int64_t start = d.offset;
  bool wholeBlock = false;
  while (d.offset < size) {
    if (d.slice > 0 && d.offset - start >= d.slice) {
      d.more = true;
      return ReadOutcome::Done;
    }
    const int64_t whole = std::min<int64_t>(BlockBytes, size - d.offset);
    int64_t want = whole;
    // The last block of a slice: what is left of it and room for the line
    // that crosses its end, not a whole block read again by the next (a
    // line longer than that room is read with a whole block after all).
    if (d.slice > 0 && !wholeBlock) want = std::min(want, start + d.slice - d.offset + LongestLine);
    ssize_t n;
    do n = ::pread(fd, d.block.data(), static_cast<size_t>(want), d.offset);
    while (n < 0 && errno == EINTR);
    if (n <= 0) break;
    const char *p = d.block.data();
    const char *end = p + n;
    const char *lineStart = p;
    // A slice ends with the last line that ends within it (or, for a line
    // longer than what is left of it, with that line: a slice always moves
    // on); the rest of the block is read again by the next slice.
    bool cut = false;
    if (d.slice > 0 && !d.skipping) {
      const int64_t allowed = std::max<int64_t>(1, start + d.slice - d.offset);
      if (allowed < n) {
        const char *nl = static_cast<const char *>(::memrchr(p, '\n', static_cast<size_t>(allowed)));
        if (!nl) nl = static_cast<const char *>(std::memchr(p + allowed, '\n', static_cast<size_t>(n - allowed)));
        if (nl) {
          end = nl + 1;
          cut = true;
        }
      }
    }
    if (d.parallel && !d.skipping && end - p >= ParallelBytes) {
      // Large reads: the complete lines of the block by two threads.
      const char *last = static_cast<const char *>(::memrchr(p, '\n', static_cast<size_t>(end - p)));
      if (last && ParallelBlock(p, last + 1)) lineStart = last + 1;
    }
    for (;;) {
      const char *nl = static_cast<const char *>(std::memchr(lineStart, '\n', static_cast<size_t>(end - lineStart)));
      if (!nl) break;
      const int64_t lineNumber = ++m_data.m_lines;
      if (d.skipping) {
        d.skipping = false;
      } else {
        const char *lineEnd = nl;
        if (lineEnd > lineStart && lineEnd[-1] == '\r') --lineEnd;
        if (!SampleLine(lineStart, lineEnd, lineNumber)) {
          --m_data.m_lines;
          return ReadOutcome::OrderRevised;
        }
      }
      lineStart = nl + 1;
    }
    const int64_t consumed = lineStart - p;
    d.offset += consumed;
    m_data.m_bytesRead = d.offset;
    if (cut) {
      d.more = true;
      return ReadOutcome::Done;
    }
    if (consumed == 0) {
      if (want < whole) {
        wholeBlock = true;
        continue;
      }
      if (n < BlockBytes) break;  // a last line without its end: it waits
      // A line longer than a block: no sample line is; skip to its end.
      if (!d.skipping) m_data.Note(ProblemeLecture::LongLine, m_data.m_lines + 1);
      d.skipping = true;
      d.offset += n;
      m_data.m_bytesRead = d.offset;
    }
  }
  if (d.offset < size && !d.skipping) m_data.Note(ProblemeLecture::Incomplete, m_data.m_lines + 1);
  return ReadOutcome::Done;
}

bool TLecteurAcquisition::SampleLine(const char *p, const char *end, int64_t line) {
  TDonneesAcquisition &data = m_data;
  const std::size_t sensors = data.m_sensors.size();
  float *values = m_impl->values.data();
  const bool infer = data.m_orderSource == SourceOrdreDate::Assumed;
  Lue r = ReadLine(p, end, sensors, data.m_order, infer, values);
  if (infer && r.tells) {
    data.m_orderSource = SourceOrdreDate::Data;
    if (r.shown != data.m_order) {
      data.m_order = r.shown;
      if (data.Samples() > 0 || data.LinesLeftOut() > 0) return false;  // read afresh
      r = ReadLine(p, end, sensors, data.m_order, false, values);
    }
  }
  if (r.problem != ProblemeLecture::Count_) data.Note(r.problem, line);
  if (!r.sample) return true;
  for (std::size_t i = 0; i < sensors; ++i) data.m_series[i].Append(values[i]);
  data.m_times.Append(r.seconds);
  return true;
}

bool TLecteurAcquisition::ParallelBlock(const char *begin, const char *end) {
  Impl &d = *m_impl;
  TDonneesAcquisition &data = m_data;
  const std::size_t sensors = data.m_sensors.size();
  // Two halves split at a line end.
  const char *middle = begin + (end - begin) / 2;
  const char *nl = static_cast<const char *>(std::memchr(middle, '\n', static_cast<size_t>(end - middle)));
  if (!nl || nl + 1 >= end) return false;
  middle = nl + 1;
  const DateOrder order = data.m_order;
  const bool infer = data.m_orderSource == SourceOrdreDate::Assumed;
  Both([&] { d.parts[1].Read(middle, end, sensors, order, infer); },
       [&] { d.parts[0].Read(begin, middle, sensors, order, infer); });
  Morceau &a = d.parts[0], &b = d.parts[1];
  // The first line that shows the order decides it, as it would read alone;
  // any other order shown is read line by line (once a file at most).
  if (a.conflict || b.conflict) return false;
  if (infer && (a.tells || b.tells)) data.m_orderSource = SourceOrdreDate::Data;
  // The series in two groups of sensors, one a thread; the times and the
  // problems beside.
  auto appendSensors = [&](std::size_t from, std::size_t to) {
    for (const Morceau *part : {&a, &b})
      for (std::size_t i = from; i < to; ++i)
        data.m_series[i].Append(part->values.data() + i, part->samples, static_cast<std::ptrdiff_t>(sensors));
  };
  const std::size_t half = sensors / 2;
  Both([&] { appendSensors(half, sensors); }, [&] {
    appendSensors(0, half);
    for (const Morceau *part : {&a, &b}) {
      for (int64_t k = 0; k < part->samples; ++k) data.m_times.Append(part->times[static_cast<std::size_t>(k)]);
      for (std::size_t k = 0; k < static_cast<std::size_t>(ProblemeLecture::Count_); ++k) {
        const auto &p = part->problems[k];
        if (p.count == 0) continue;
        auto &q = data.m_problems[k];
        if (q.count == 0) q.firstLine = data.m_lines + p.firstLine;
        q.count += p.count;
      }
      data.m_lines += part->lines;
    }
  });
  return true;
}

QStringList TLecteurAcquisition::ProblemLines() const {
  QStringList lines;
  for (int k = 0; k < static_cast<int>(ProblemeLecture::Count_); ++k) {
    const auto kind = static_cast<ProblemeLecture>(k);
    const int64_t count = m_data.Problems(kind);
    if (count == 0) continue;
    QString what = ProblemeText(kind);
    if (kind == ProblemeLecture::BadNumber)
      what += QStringLiteral(" (%1 lines, read as failed readings)").arg(count);
    else if (kind != ProblemeLecture::Incomplete)
      what += QStringLiteral(" (%1 lines left out)").arg(count);
    else
      what += QStringLiteral(" (not read)");
    lines << QStringLiteral("%1: line %2: %3").arg(m_path).arg(m_data.FirstProblemLine(kind)).arg(what);
  }
  return lines;
}
