// Time of one Com72500_LitMesure call against the simulated sensor, compared
// with the time the bytes need on the wire.
//
//   bench_litmesure [--count N] [--closed-count N] [--turnaround MS]
//       N readings (default 500) of an RS485 sensor on an open port, then
//       readings with the port closed (default 100; each call opens and
//       closes the port). Prints median, p99, mean and the wire time.
//   bench_litmesure --demo
//       Reads the sensors at addresses 3 and 200 on the RS485 bus that COM1
//       (NIVELIX_COM1) leads to, a few times, and prints the readings.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "SimBus.h"
#include "com72500.h"

namespace {

constexpr int32_t BenchPort = 1;
constexpr int32_t Rs485 = 0;
constexpr uint8_t BenchAddress = 3;

// Attention byte and its echo, the 6-byte request and the 14-byte answer.
constexpr int WireBytes = 1 + 1 + 6 + 14;
constexpr int Turnarounds = 2;

struct Figures {
  double medianMs = 0, p99Ms = 0, meanMs = 0, minMs = 0, maxMs = 0;
  int failures = 0;
};

double Percentile(std::vector<double> sorted, double fraction) {
  if (sorted.empty()) return 0;
  size_t index = static_cast<size_t>(fraction * static_cast<double>(sorted.size() - 1) + 0.5);
  return sorted[std::min(index, sorted.size() - 1)];
}

Figures TimeReadings(int count) {
  std::vector<double> times;
  times.reserve(static_cast<size_t>(count));
  Figures figures;
  for (int i = 0; i < count; ++i) {
    double measurement = 0;
    auto start = std::chrono::steady_clock::now();
    TLinkResult result = Com72500_LitMesure(&measurement, BenchPort, Rs485, BenchAddress);
    auto end = std::chrono::steady_clock::now();
    if (result != 0) ++figures.failures;
    times.push_back(std::chrono::duration<double, std::milli>(end - start).count());
  }
  std::sort(times.begin(), times.end());
  figures.medianMs = Percentile(times, 0.5);
  figures.p99Ms = Percentile(times, 0.99);
  figures.minMs = times.front();
  figures.maxMs = times.back();
  double sum = 0;
  for (double t : times) sum += t;
  figures.meanMs = sum / static_cast<double>(times.size());
  return figures;
}

void Print(const char *title, int count, const Figures &f, double wireMs) {
  std::printf("%s: %d calls, %d failed\n", title, count, f.failures);
  std::printf("  median %.2f ms (%+.1f %% of wire time), p99 %.2f ms (%+.1f %%), mean %.2f ms, "
              "min %.2f ms, max %.2f ms\n",
              f.medianMs, 100.0 * (f.medianMs - wireMs) / wireMs, f.p99Ms,
              100.0 * (f.p99Ms - wireMs) / wireMs, f.meanMs, f.minMs, f.maxMs);
}

int Demo() {
  char version[64];
  Com72500_DllVersion(version);
  std::printf("%s\n", version);
  if (Com72500_OpenPort(BenchPort) != 0) {
    std::printf("COM1 cannot be opened (NIVELIX_COM1=%s)\n",
                std::getenv("NIVELIX_COM1") ? std::getenv("NIVELIX_COM1") : "(unset)");
    return 1;
  }
  for (int round = 1; round <= 3; ++round) {
    for (int address : {3, 200}) {
      double measurement = 0;
      TLinkResult result = Com72500_LitMesure(&measurement, BenchPort, Rs485, address);
      if (result == 0)
        std::printf("round %d, address %3d: %.3f mRad\n", round, address, measurement);
      else
        std::printf("round %d, address %3d: failed, link result %d\n", round, address, result);
    }
  }
  Com72500_ClosePort();
  return 0;
}

int IntArgument(int argc, char **argv, const char *name, int fallback) {
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], name) == 0) return std::atoi(argv[i + 1]);
  return fallback;
}

}  // namespace

int main(int argc, char **argv) {
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--demo") == 0) return Demo();

  const int openCount = IntArgument(argc, argv, "--count", 500);
  const int closedCount = IntArgument(argc, argv, "--closed-count", 100);
  const double turnaroundMs = IntArgument(argc, argv, "--turnaround", 2);

  nivsim::SimBus bus;
  bus.SetTurnaroundMs(turnaroundMs);
  bus.PointCom(BenchPort);
  nivsim::SensorAConfig sensor;
  sensor.identifier = BenchAddress;
  sensor.angle = nivsim::AngleSource::sine(0.0, 250.0, 5.0);
  bus.AddSensorA(sensor);

  const double wireMs = WireBytes * nivsim::ByteTimeMs + Turnarounds * turnaroundMs;
  std::printf("Com72500_LitMesure, RS485 address %d, turnaround %.1f ms\n", BenchAddress, turnaroundMs);
  std::printf("wire time: %d bytes x %.4f ms + %d x %.1f ms turnaround = %.1f ms\n", WireBytes,
              nivsim::ByteTimeMs, Turnarounds, turnaroundMs, wireMs);

  if (Com72500_OpenPort(BenchPort) != 0) {
    std::printf("the simulated port cannot be opened\n");
    return 1;
  }
  TimeReadings(10);  // warm-up
  Figures open = TimeReadings(openCount);
  Print("port open", openCount, open, wireMs);

  Com72500_ClosePort();
  Figures closed = TimeReadings(closedCount);
  Print("port closed (opened and closed by each call)", closedCount, closed, wireMs);

  bool goal = open.failures == 0 && open.medianMs <= 1.10 * wireMs;
  std::printf("goal (port open, median within 10 %% of wire time): %s\n", goal ? "met" : "NOT met");
  return open.failures == 0 && closed.failures == 0 ? 0 : 1;
}
