// bench_readall: how long reading a whole sensor takes (ReadAll), for one
// family A and one family B sensor on a simulated RS485 bus with the
// sensors' 2 ms turnaround, through both link libraries.
//
// Usage: bench_readall [runs]   (default 10 runs per family)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "Capteur.h"
#include "DefCom72500.h"
#include "DefCom72800.h"
#include "SimBus.h"

namespace {

constexpr int ComNumber = 7;

struct Figures {
  double median, min, max;
  int failures;
};

// Times runs ReadAll calls of a fresh, not yet connected sensor object,
// as the scan makes them.
template <class Sensor>
Figures TimeReadAll(int runs, int32_t identifier) {
  std::vector<double> times;
  int failures = 0;
  for (int i = 0; i < runs; ++i) {
    Sensor sensor;
    sensor.SetPort(ComNumber);
    sensor.Data.Protocol = 0;  // RS485
    sensor.Data.Identifier = identifier;
    const auto start = std::chrono::steady_clock::now();
    const uint8_t result = sensor.ReadAll();
    times.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    if (result != 0) ++failures;
  }
  std::sort(times.begin(), times.end());
  const size_t n = times.size();
  const double median = n % 2 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2;
  return {median, times.front(), times.back(), failures};
}

void Print(const char *name, int requests, const Figures &f) {
  std::printf("%-28s %3d requests  median %7.1f ms  min %7.1f ms  max %7.1f ms  failures %d\n",
              name, requests, f.median, f.min, f.max, f.failures);
}

}  // namespace

int main(int argc, char **argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
  nivsim::SimBus bus;
  bus.PointCom(ComNumber);
  bus.SetTurnaroundMs(2.0);
  nivsim::SensorAConfig a;
  a.identifier = 3;
  bus.AddSensorA(a);
  nivsim::SensorBConfig b;
  b.identifier = 7;
  bus.AddSensorB(b);

  std::printf("ReadAll on a simulated RS485 bus, 9600 baud, 2 ms turnaround, %d runs each\n", runs);
  Print("family A (TCapteur72500)", 7, TimeReadAll<TCapteur72500>(runs, 3));
  Print("family B (TCapteur)", 15, TimeReadAll<TCapteur>(runs, 7));
  Com72500_ClosePort();
  Com72800_ClosePort();
  return 0;
}
