// bench_live: eight live angle panels polling eight family A sensors on one
// simulated RS485 bus, as the main window runs them. For each panel: its
// effective refresh period (end of one reading to the end of its next) and
// its reading time; for the user interface: the longest time it went
// without processing events, seen by a 5 ms timer on the same event loop.
//
// Goals: each panel refreshes every 300 ms plus the reading times of the
// panels that share the bus (at most 300 ms + 8 readings), and the
// interface never stalls longer than one reading.
//
// Usage: bench_live [seconds]   (default 30)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include "AfficheAngle.h"
#include "Capteur.h"
#include "DefCom72500.h"
#include "ListeAfficheAngle.h"
#include "SimBus.h"
#include "globales.h"

namespace {

constexpr int ComNumber = 7;
constexpr int PanelCount = 8;
constexpr int StallTimerMs = 5;

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// A family A sensor that notes the time each reading takes.
class TimedSensor : public TCapteur72500 {
 public:
  uint8_t ReadAngle(double &angle) override {
    const auto start = Clock::now();
    const uint8_t failure = TCapteur72500::ReadAngle(angle);
    readings.push_back(Ms(Clock::now() - start));
    if (failure != 0) ++failures;
    return failure;
  }
  std::vector<double> readings;
  int failures = 0;
};

struct Spread {
  double median = 0, p99 = 0, max = 0;
};

Spread Of(std::vector<double> v) {
  Spread s;
  if (v.empty()) return s;
  std::sort(v.begin(), v.end());
  s.median = v[v.size() / 2];
  s.p99 = v[std::min(v.size() - 1, v.size() * 99 / 100)];
  s.max = v.back();
  return s;
}

}  // namespace

int main(int argc, char **argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 30;
  QApplication app(argc, argv);

  nivsim::SimBus bus;
  bus.PointCom(ComNumber);
  std::vector<std::unique_ptr<TimedSensor>> sensors;
  for (int i = 0; i < PanelCount; ++i) {
    nivsim::SensorAConfig config;
    config.identifier = static_cast<uint8_t>(i + 1);
    config.angle = nivsim::AngleSource::sine(0.0, 50.0, 5.0 + i);
    bus.AddSensorA(config);
    auto sensor = std::make_unique<TimedSensor>();
    sensor->SetPort(ComNumber);
    sensor->Data.Protocol = 0;
    sensor->Data.Identifier = i + 1;
    sensor->Data.FullScale = 523.599;
    sensor->Data.Reference = "KV72500-AB";
    sensor->Data.SerialNumber = i + 1;
    sensors.push_back(std::move(sensor));
  }

  Settings.AngleUnit = 0;
  QWidget window;
  window.resize(482, 8 * 100);
  TListAfficheAngle panels;
  std::vector<std::vector<Clock::time_point>> ends(PanelCount);
  for (int i = 0; i < PanelCount; ++i) {
    TAfficheAngleCapteur *panel = panels.AddPanel(&window, sensors[i].get());
    panel->setGeometry(0, 100 * i, 482, 100);
    QObject::connect(panel, &TAfficheAngleCapteur::Lu,
                     [&ends, i] { ends[i].push_back(Clock::now()); });
  }
  window.show();

  // The event loop's pulse: a tick due every 5 ms that comes late shows a
  // stretch in which the interface processed no event.
  std::vector<double> stalls;
  const Clock::time_point begin = Clock::now();
  Clock::time_point lastTick = begin;
  double longestAt = 0;
  QTimer pulse;
  pulse.setTimerType(Qt::PreciseTimer);
  pulse.setInterval(StallTimerMs);
  QObject::connect(&pulse, &QTimer::timeout, [&] {
    const auto now = Clock::now();
    stalls.push_back(Ms(now - lastTick) - StallTimerMs);
    if (stalls.back() >= *std::max_element(stalls.begin(), stalls.end()))
      longestAt = Ms(now - begin);
    lastTick = now;
  });
  pulse.start();
  QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
  app.exec();
  pulse.stop();
  panels.RemoveAll();
  Com72500_ClosePort();

  std::printf("%d panels, %d s, one RS485 bus, family A sensors (2 ms turnaround)\n", PanelCount,
              seconds);
  std::printf("panel  readings  failures  reading median/max ms  period median/p99/max ms\n");
  double sumReadingMedians = 0, worstPeriod = 0, worstReading = 0;
  for (int i = 0; i < PanelCount; ++i) {
    std::vector<double> periods;
    for (size_t k = 1; k < ends[i].size(); ++k) periods.push_back(Ms(ends[i][k] - ends[i][k - 1]));
    const Spread p = Of(periods);
    const Spread r = Of(sensors[i]->readings);
    sumReadingMedians += r.median;
    worstPeriod = std::max(worstPeriod, p.max);
    worstReading = std::max(worstReading, r.max);
    std::printf("%5d  %8zu  %8d  %9.1f / %5.1f       %6.1f / %6.1f / %6.1f\n", i + 1,
                sensors[i]->readings.size(), sensors[i]->failures, r.median, r.max, p.median, p.p99,
                p.max);
  }
  const Spread s = Of(stalls);
  std::printf(
      "goal for a period: 300 + %d readings = %.1f ms (median readings); worst period %.1f ms\n",
      PanelCount, 300.0 + sumReadingMedians, worstPeriod);
  const double oneReading = sumReadingMedians / PanelCount;
  const auto longer =
      std::count_if(stalls.begin(), stalls.end(), [&](double v) { return v > worstReading + 5.0; });
  std::printf(
      "interface without events: median %.1f ms, p99 %.1f ms, longest %.1f ms at %.1f s;"
      " longest reading %.1f ms (median %.1f); stretches longer than the longest reading: %ld\n",
      s.median, s.p99, s.max, longestAt / 1000.0, worstReading, oneReading,
      static_cast<long>(longer));
  return 0;
}
