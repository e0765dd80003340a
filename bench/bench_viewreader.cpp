// nivelix-view's reader on a generated acquisition file of 8 sensors at 1 s:
// reading speed, memory a point, and the cost of drawing the whole file or
// a zoom from the summary.
//
//   bench_viewreader LINES FILE      (FILE is written, read, then removed)
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <QFile>

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
  {
    std::FILE *f = std::fopen(path, "wb");
    if (!f) return 2;
    std::fputs("Acquisition file generated with Nivelix V3.6.2.\r\nUnit : mRad\r\n", f);
    for (int s = 0; s < 8; ++s) std::fprintf(f, "KV72800 - %d : \tNo comment.\r\n", 1000 + s);
    std::fputs("Inclinometer", f);
    for (int s = 0; s < 8; ++s) std::fprintf(f, "\tKV72800 - %d", 1000 + s);
    std::fputs("\r\n", f);
    long long t = 0;
    char line[256];
    for (long long k = 0; k < lines; ++k, ++t) {
      const long long day = t / 86400, sec = t % 86400;
      // Days from 1 January 2025, months approximated by 28 days: enough for
      // the parser's work.
      int n = std::snprintf(line, sizeof line, "%lld/%lld/2025 %lld:%lld:%lld", day % 28 + 1,
                            (day / 28) % 12 + 1, sec / 3600, sec / 60 % 60, sec % 60);
      for (int s = 0; s < 8; ++s) {
        if ((k + s) % 10007 == 0)
          n += std::snprintf(line + n, sizeof line - n, "\t");
        else
          n += std::snprintf(line + n, sizeof line - n, "\t%.4f", 100.0 * std::sin((k + 1000 * s) * 1e-4) + s);
      }
      n += std::snprintf(line + n, sizeof line - n, "\r\n");
      std::fwrite(line, 1, n, f);
    }
    std::fclose(f);
  }
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
