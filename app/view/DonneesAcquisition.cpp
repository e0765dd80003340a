#include "DonneesAcquisition.h"

int64_t TDonneesAcquisition::Failed() const {
  int64_t failed = 0;
  for (const auto &s : m_series) failed += s.Failed();
  return failed;
}

int64_t TDonneesAcquisition::LinesLeftOut() const {
  int64_t n = 0;
  for (std::size_t k = 0; k < static_cast<std::size_t>(ProblemeLecture::Count_); ++k)
    if (k != Index(ProblemeLecture::BadNumber) && k != Index(ProblemeLecture::Incomplete))
      n += m_problems[k].count;
  return n;
}

std::size_t TDonneesAcquisition::MemoryBytes() const {
  std::size_t bytes = m_times.MemoryBytes();
  for (const auto &s : m_series) bytes += s.MemoryBytes();
  return bytes;
}

void TDonneesAcquisition::Clear() {
  m_version.clear();
  m_unit.clear();
  m_sensors.clear();
  m_series.clear();
  m_times.Clear();
  for (auto &p : m_problems) p = Probleme();
  m_lines = 0;
  m_bytesRead = 0;
}

void TDonneesAcquisition::Note(ProblemeLecture kind, int64_t line) {
  Probleme &p = m_problems[Index(kind)];
  if (p.count++ == 0) p.firstLine = line;
}

QString ProblemeText(ProblemeLecture kind) {
  switch (kind) {
    case ProblemeLecture::FieldCount: return QStringLiteral("wrong number of fields");
    case ProblemeLecture::BadDate: return QStringLiteral("not a valid date and time");
    case ProblemeLecture::BadNumber: return QStringLiteral("a value that is not a number");
    case ProblemeLecture::BadBytes: return QStringLiteral("bytes that are not text");
    case ProblemeLecture::LongLine: return QStringLiteral("line too long");
    case ProblemeLecture::Incomplete: return QStringLiteral("last line without line end");
    case ProblemeLecture::Count_: break;
  }
  return QString();
}

QString DateOrderText(DateOrder order) {
  switch (order) {
    case DateMonthDayYear: return QStringLiteral("month/day/year");
    case DateYearMonthDay: return QStringLiteral("year/month/day");
    default: return QStringLiteral("day/month/year");
  }
}
