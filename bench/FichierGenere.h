// A generated acquisition file of 8 sensors at 1 s in the writer's format,
// shared by the benchmarks of nivelix-view.
//
// Sample k is k seconds after 1 January 2025 0:00:00 (a year is 31,536,000
// lines). One value in 10007 is missing (a failed reading).
#ifndef NIVELIX_BENCH_FICHIERGENERE_H
#define NIVELIX_BENCH_FICHIERGENERE_H

#include <cmath>
#include <cstdio>

namespace fichiergenere {

constexpr int Sensors = 8;

// Sample line k (its time is k seconds after the first) into line; returns
// its length in bytes.
inline int Line(long long k, char *line, std::size_t size) {
  static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const long long sec = k % 86400;
  long long day = k / 86400, year = 2025 + day / 365;
  day %= 365;
  int month = 0;
  while (day >= days[month]) day -= days[month++];
  int n = std::snprintf(line, size, "%lld/%d/%lld %lld:%lld:%lld", day + 1, month + 1, year, sec / 3600,
                        sec / 60 % 60, sec % 60);
  for (int s = 0; s < Sensors; ++s) {
    if ((k + s) % 10007 == 0)
      n += std::snprintf(line + n, size - n, "\t");
    else
      n += std::snprintf(line + n, size - n, "\t%.4f", 100.0 * std::sin((k + 1000 * s) * 1e-4) + s);
  }
  n += std::snprintf(line + n, size - n, "\r\n");
  return n;
}

// Writes the header and lines sample lines to path; false when it cannot.
inline bool Write(const char *path, long long lines) {
  std::FILE *f = std::fopen(path, "wb");
  if (!f) return false;
  std::fputs("Acquisition file generated with Nivelix V3.6.2.\r\nUnit : mRad\r\n", f);
  for (int s = 0; s < Sensors; ++s) std::fprintf(f, "KV72800 - %d : \tNo comment.\r\n", 1000 + s);
  std::fputs("Inclinometer", f);
  for (int s = 0; s < Sensors; ++s) std::fprintf(f, "\tKV72800 - %d", 1000 + s);
  std::fputs("\r\n", f);
  char line[256];
  for (long long k = 0; k < lines; ++k) std::fwrite(line, 1, Line(k, line, sizeof line), f);
  return std::fclose(f) == 0;
}

}  // namespace fichiergenere

#endif
