// The chart series: what the line is drawn through when many samples fall
// on one pixel, and what it costs to keep them.
#include <gtest/gtest.h>

#include <cmath>

#include <qcustomplot.h>

#include "GraphAcquisition.h"

namespace {

TEST(AcquisitionSeries, SummaryKeepsEveryExtremeAndGap) {
  QCustomPlot plot;
  auto *series = new TGraphAcquisition(plot.xAxis, plot.yAxis);
  const int n = 100000;
  for (int i = 0; i < n; ++i) {
    double v = std::sin(i / 500.0);
    if (i == 4321) v = 7.5;                   // one spike
    if (i >= 50000 && i < 52000) v = NAN;     // a long run of failed readings
    series->AddSample(v);
  }
  EXPECT_EQ(series->Samples(), n);
  EXPECT_LE(series->MemoryBytes(), std::size_t(n) * 12) << "at most 12 bytes a point";

  // Few samples per pixel: every one of them, one beyond each end.
  const QVector<QCPGraphData> raw = series->LinePoints(100, 200, 800);
  ASSERT_EQ(raw.size(), 103);
  EXPECT_EQ(raw.first().key, 99);
  EXPECT_FLOAT_EQ(raw[1].value, std::sin(100 / 500.0));

  // The whole run on 800 pixels: a few points a pixel, the spike kept, the
  // gap still a gap.
  const QVector<QCPGraphData> all = series->LinePoints(0, n - 1, 800);
  EXPECT_LE(all.size(), 4 * 800);
  double highest = -1e9;
  int gaps = 0;
  for (const auto &p : all) {
    if (std::isnan(p.value)) {
      ++gaps;
      EXPECT_GE(p.key, 50000);
      EXPECT_LT(p.key, 52000);
    } else {
      highest = std::max(highest, p.value);
    }
  }
  EXPECT_EQ(highest, 7.5);
  EXPECT_GT(gaps, 0);
  // The block being filled counts too.
  series->AddSample(-9.0);
  const QVector<QCPGraphData> tail = series->LinePoints(0, n, 800);
  double lowest = 1e9;
  for (const auto &p : tail)
    if (!std::isnan(p.value)) lowest = std::min(lowest, p.value);
  EXPECT_EQ(lowest, -9.0);
}

}  // namespace
