// Fuzzes nivelix-view's acquisition file reader: any bytes, read whole and
// then again after they were cut and grown, must give either data or one
// message, never a crash, and every series as long as the times.
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
  return 0;
}
