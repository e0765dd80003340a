// nivelix-view's reader on a generated acquisition file of 8 sensors at 1 s:
// reading speed, memory a point, and the cost of drawing the whole file or
// a zoom from the summary.
//
//   bench_viewreader LINES FILE      (FILE is written, read, then removed)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <QFile>

#include "FichierGenere.h"
#include "LecteurAcquisition.h"

namespace {
double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}
}  // namespace

int main(int argc, char **argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s LINES FILE\n", argv[0]);
    return 2;
  }
  const long long lines = std::atoll(argv[1]);
  const char *path = argv[2];
  if (!fichiergenere::Write(path, lines)) return 2;
  const double bytes = static_cast<double>(QFile(QString::fromLocal8Bit(path)).size());
  TDonneesAcquisition data;
  TLecteurAcquisition reader(data);
  reader.SetFile(QString::fromLocal8Bit(path));
  const double t0 = Now();
  const EtatLecture r = reader.Read();
  const double t1 = Now();
  std::remove(path);
  if (r == EtatLecture::Unusable) {
    std::fprintf(stderr, "%s\n", reader.Message().toLocal8Bit().constData());
    return 1;
  }
  const double points = static_cast<double>(data.Samples()) * data.Sensors();
  std::printf("file: %.0f MB, %lld lines, 8 sensors\n", bytes / 1e6, static_cast<long long>(data.Samples()));
  std::printf("read: %.2f s, %.0f MB/s\n", t1 - t0, bytes / 1e6 / (t1 - t0));
  std::printf("memory: %.2f bytes a point (values, summary, sums, times)\n",
              static_cast<double>(data.MemoryBytes()) / points);
  // Drawing: the points of every series for the whole file and for a zoom
  // of a tenth, on 1600 pixels.
  for (double fraction : {1.0, 0.1, 0.001}) {
    const double n = static_cast<double>(data.Samples());
    const double lo = n * (1 - fraction) / 2, hi = lo + n * fraction;
    const double a = Now();
    std::size_t count = 0;
    const int repeats = 20;
    for (int k = 0; k < repeats; ++k)
      for (int s = 0; s < data.Sensors(); ++s)
        data.Series(s).LinePoints(lo, hi, 1600, [&](double, double) { ++count; });
    const double ms = (Now() - a) * 1000 / repeats;
    std::printf("line points of 8 series, %g of the file: %.3f ms (%zu points)\n", fraction, ms,
                count / repeats);
  }
  const double s0 = Now();
  for (int s = 0; s < data.Sensors(); ++s) data.Series(s).SummariseAll();
  std::printf("summary of the whole file, 8 series: %.3f ms\n", (Now() - s0) * 1000);
  return 0;
}
