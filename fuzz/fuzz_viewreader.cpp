// Fuzzes nivelix-view's acquisition file reader: any bytes, read whole and
// then again after they were cut and grown, must give either data or one
// message, never a crash, and every series as long as the times; read a
// few bytes at a time (as a window reads a large file), the same data as
// read in one go.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

#include <QByteArray>
#include <QFile>

#include "LecteurAcquisition.h"

namespace {
QString Path() {
  static const QString path = QStringLiteral("/tmp/fuzz_viewreader.%1").arg(::getpid());
  return path;
}
void Put(const uint8_t *data, size_t size) {
  QFile f(Path());
  if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) std::abort();
  f.write(reinterpret_cast<const char *>(data), static_cast<qint64>(size));
}
void Check(const TDonneesAcquisition &d) {
  for (int i = 0; i < d.Sensors(); ++i)
    if (d.Series(i).Samples() != d.Samples()) std::abort();
}
bool Same(float a, float b) { return a != a ? b != b : a == b; }
void ExpectSame(const TDonneesAcquisition &a, const TDonneesAcquisition &b) {
  if (a.Sensors() != b.Sensors() || a.Samples() != b.Samples() || a.Lines() != b.Lines() ||
      a.Order() != b.Order() || a.LinesLeftOut() != b.LinesLeftOut())
    std::abort();
  for (int k = 0; k < static_cast<int>(ProblemeLecture::Count_); ++k)
    if (a.Problems(ProblemeLecture(k)) != b.Problems(ProblemeLecture(k)) ||
        a.FirstProblemLine(ProblemeLecture(k)) != b.FirstProblemLine(ProblemeLecture(k)))
      std::abort();
  for (int64_t j = 0; j < a.Samples(); ++j) {
    if (a.Times().At(j) != b.Times().At(j)) std::abort();
    for (int i = 0; i < a.Sensors(); ++i)
      if (!Same(a.Series(i).Value(j), b.Series(i).Value(j))) std::abort();
  }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  TDonneesAcquisition model;
  TLecteurAcquisition reader(model);
  reader.SetFile(Path());
  // First half, then the whole: the incremental path.
  Put(data, size / 2);
  if (reader.Read() == EtatLecture::Unusable && reader.Message().isEmpty()) std::abort();
  Check(model);
  Put(data, size);
  reader.Read();
  Check(model);
  reader.ProblemLines();
  if (model.Samples() > 0) model.Series(0).SummariseAll();

  // In one go, and in slices of 1 to 97 bytes.
  TDonneesAcquisition whole, sliced;
  TLecteurAcquisition one(whole), bySlices(sliced);
  one.SetFile(Path());
  bySlices.SetFile(Path());
  bySlices.SetSliceBytes(1 + (size > 0 ? data[0] % 97 : 0));
  const EtatLecture a = one.Read();
  EtatLecture b;
  int64_t slices = 0;
  do b = bySlices.Read();
  while (bySlices.MoreToRead() && ++slices < (int64_t(1) << 24));
  if ((a == EtatLecture::Unusable) != (b == EtatLecture::Unusable)) std::abort();
  if (a == EtatLecture::Unusable && one.Message() != bySlices.Message()) std::abort();
  ExpectSame(whole, sliced);
  return 0;
}
