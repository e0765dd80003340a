// A generated acquisition file of 8 sensors at 1 s in the writer's format,
// shared by the benchmarks of nivelix-view.
//
// Sample k is k seconds after 1 January 2025 0:00:00 (a year is 31,536,000
// lines). One value in 10007 is missing (a failed reading).
//
// Two shapes of values: Swing, each sensor swinging over +-100 every 17.5
// hours (a hard case for a chart: on a whole year, every pixel column spans
// the whole swing of all 8), and Site, as inclinometers on a structure
// read: each at its own tilt, a daily swing of +-2 and a slow drift, with
// +-0.05 of noise.
#ifndef NIVELIX_BENCH_FICHIERGENERE_H
#define NIVELIX_BENCH_FICHIERGENERE_H

#include <cmath>
#include <cstdio>

namespace fichiergenere {

constexpr int Sensors = 8;

enum class Allure { Swing, Site };

inline double Value(long long k, int s, Allure allure) {
  if (allure == Allure::Swing) return 100.0 * std::sin((k + 1000 * s) * 1e-4) + s;
  const unsigned long long h = (static_cast<unsigned long long>(k) * 8 + s) * 0x9E3779B97F4A7C15ull;
  const double noise = static_cast<double>(h >> 40) / double(1ull << 24) - 0.5;
  return 10.0 * s + 2.0 * std::sin(k * (2 * M_PI / 86400) + s) + k * 1e-7 + 0.1 * noise;
}

// Sample line k (its time is k seconds after the first) into line; returns
// its length in bytes.
inline int Line(long long k, char *line, std::size_t size, Allure allure = Allure::Swing) {
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
      n += std::snprintf(line + n, size - n, "\t%.4f", Value(k, s, allure));
  }
  n += std::snprintf(line + n, size - n, "\r\n");
  return n;
}

// Writes the header and lines sample lines to path; false when it cannot.
inline bool Write(const char *path, long long lines, Allure allure = Allure::Swing) {
  std::FILE *f = std::fopen(path, "wb");
  if (!f) return false;
  std::fputs("Acquisition file generated with Nivelix V3.6.2.\r\nUnit : mRad\r\n", f);
  for (int s = 0; s < Sensors; ++s) std::fprintf(f, "KV72800 - %d : \tNo comment.\r\n", 1000 + s);
  std::fputs("Inclinometer", f);
  for (int s = 0; s < Sensors; ++s) std::fprintf(f, "\tKV72800 - %d", 1000 + s);
  std::fputs("\r\n", f);
  char line[256];
  for (long long k = 0; k < lines; ++k) std::fwrite(line, 1, Line(k, line, sizeof line, allure), f);
  return std::fclose(f) == 0;
}

}  // namespace fichiergenere

#endif
