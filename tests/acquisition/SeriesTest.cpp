// The chart series: what the line is drawn through when many samples fall
// on one pixel, and what it costs to keep them.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

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

// The summary of any range (count, failed, min, max, mean) from the sums and
// block extremes equals the one counted sample by sample.
TEST(AcquisitionSeries, SummaryOfAnyRangeMatchesTheSamples) {
  TSerieAcquisition series;
  const int n = 70000;  // more than one chunk, a block being filled at the end
  for (int i = 0; i < n; ++i)
    series.Append(i % 97 == 0 ? NAN : static_cast<float>(std::sin(i * 0.001) * 10 + (i == 33333 ? 50 : 0)));
  const struct { int64_t first, last; } rows[] = {
      {0, n - 1}, {0, 0}, {5, 17}, {1000, 1023}, {1023, 5000}, {33000, 34000}, {65530, 69999}, {-5, 3}, {69990, 80000}, {10, 5}};
  for (const auto &row : rows) {
    SCOPED_TRACE(std::to_string(row.first) + ".." + std::to_string(row.last));
    int64_t samples = 0, failed = 0;
    double lo = INFINITY, hi = -INFINITY, sum = 0;
    for (int64_t i = std::max<int64_t>(0, row.first); i <= std::min<int64_t>(n - 1, row.last); ++i) {
      ++samples;
      const float v = series.Value(i);
      if (std::isnan(v)) { ++failed; continue; }
      lo = std::min<double>(lo, v);
      hi = std::max<double>(hi, v);
      sum += v;
    }
    const TSerieAcquisition::Summary s = series.Summarise(row.first, row.last);
    EXPECT_EQ(s.samples, samples);
    EXPECT_EQ(s.failed, failed);
    if (samples > failed) {
      EXPECT_EQ(s.min, lo);
      EXPECT_EQ(s.max, hi);
      EXPECT_NEAR(s.mean, sum / double(samples - failed), 1e-9);
    }
  }
  EXPECT_EQ(series.Failed(), (n + 96) / 97);
  EXPECT_LE(series.MemoryBytes(), std::size_t(n) * 6 + 4 * TSerieAcquisition::ChunkSize)
      << "values and summary within 6 bytes a point, but for the last chunk";
}

// Times: one run for a steady period, a new run where it changes; searches
// by time find the first sample at or after it.
TEST(AcquisitionSeries, TimesInRunsOfOnePeriod) {
  TLigneTemps times;
  const int64_t t[] = {100, 101, 102, 103, 103, 104, 110, 120, 130};
  for (int64_t x : t) times.Append(x);
  EXPECT_EQ(times.Samples(), 9);
  EXPECT_EQ(times.Runs(), 3u);  // 100..103, 103..104, 110..130 by 10
  for (int i = 0; i < 9; ++i) EXPECT_EQ(times.At(i), t[i]) << i;
  const struct { int64_t seconds, index; } rows[] = {
      {0, 0}, {100, 0}, {102, 2}, {103, 3}, {104, 5}, {105, 6}, {111, 7}, {130, 8}, {131, 9}};
  for (const auto &row : rows) EXPECT_EQ(times.FirstAtOrAfter(row.seconds), row.index) << row.seconds;
  EXPECT_EQ(times.Period(), 1);
}

}  // namespace
