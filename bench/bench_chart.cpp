// bench_chart: what the acquisition chart costs for long runs. For series of
// 1 and 10 million samples it times a redraw of the chart (800 x 500,
// offscreen) when following the latest 101 samples and when showing the
// whole run, and measures the memory held per point, for the acquisition's
// own series (TGraphAcquisition) and for a stock QCPGraph of the same data in
// the same process.
//
// Usage: bench_chart [points ...]   (default 1000000 10000000)
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <QApplication>
#include <qcustomplot.h>

#include "GraphAcquisition.h"

namespace {

constexpr int Width = 800, Height = 500;
constexpr int Redraws = 15;

// A slow wave with noise and a failed reading now and then, like a sensor
// on a structure that moves with the day's temperature.
double Sample(int64_t i) {
  if (i % 9973 == 5000) return NAN;
  return 200.0 * std::sin(double(i) / 40000.0) + 3.0 * std::sin(double(i) * 0.37);
}

// Small blocks and the large ones the allocator maps on their own.
std::size_t HeapInUse() {
  const struct mallinfo2 m = mallinfo2();
  return m.uordblks + m.hblkhd;
}

struct Figures {
  double followMs, fullMs, bytesPerPoint;
};

// Median of Redraws immediate replots after one warm-up, each of a view of
// its own (moved by a millionth), so that nothing drawn for the one before
// is kept.
double RedrawMs(QCustomPlot &plot) {
  plot.replot(QCustomPlot::rpImmediateRefresh);
  const QCPRange view = plot.xAxis->range();
  std::vector<double> times;
  for (int i = 0; i < Redraws; ++i) {
    const double shift = (i % 2) * 1e-6 * view.size();
    plot.xAxis->setRange(view.lower + shift, view.upper + shift);
    const auto start = std::chrono::steady_clock::now();
    plot.replot(QCustomPlot::rpImmediateRefresh);
    times.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

Figures Measure(QCustomPlot &plot, int64_t n) {
  Figures f{};
  plot.yAxis->setRange(-250, 250);
  plot.xAxis->setRange(double(n - 1 - 100), double(n - 1));
  f.followMs = RedrawMs(plot);
  plot.xAxis->setRange(0, double(n - 1));
  f.fullMs = RedrawMs(plot);
  return f;
}

QCustomPlot *NewPlot() {
  auto *plot = new QCustomPlot;
  plot->resize(Width, Height);
  plot->show();
  return plot;
}

}  // namespace

int main(int argc, char **argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  std::vector<int64_t> sizes;
  for (int i = 1; i < argc; ++i) sizes.push_back(std::atoll(argv[i]));
  if (sizes.empty()) sizes = {1000000, 10000000};

  std::printf("%-10s %-18s %12s %12s %14s\n", "points", "series", "follow ms", "full ms",
              "bytes/point");
  for (const int64_t n : sizes) {
    {
      QCustomPlot *plot = NewPlot();
      const std::size_t before = HeapInUse();
      auto *series = new TGraphAcquisition(plot->xAxis, plot->yAxis);
      for (int64_t i = 0; i < n; ++i) series->AddSample(Sample(i));
      const double heap = double(HeapInUse() - before) / double(n);
      Figures f = Measure(*plot, n);
      f.bytesPerPoint = double(series->MemoryBytes()) / double(n);
      std::printf("%-10lld %-18s %12.3f %12.3f %7.2f (heap %.2f)\n", static_cast<long long>(n),
                  "TGraphAcquisition", f.followMs, f.fullMs, f.bytesPerPoint, heap);
      delete plot;
    }
    {
      QCustomPlot *plot = NewPlot();
      const std::size_t before = HeapInUse();
      QCPGraph *graph = plot->addGraph();
      {
        QVector<QCPGraphData> data(static_cast<int>(n));
        for (int64_t i = 0; i < n; ++i) data[static_cast<int>(i)] = QCPGraphData(double(i), Sample(i));
        graph->data()->set(data, true);
      }
      const double heap = double(HeapInUse() - before) / double(n);
      const Figures f = Measure(*plot, n);
      std::printf("%-10lld %-18s %12.3f %12.3f %7.2f (heap)\n", static_cast<long long>(n),
                  "stock QCPGraph", f.followMs, f.fullMs, heap);
      delete plot;
    }
    std::fflush(stdout);
  }
  return 0;
}
