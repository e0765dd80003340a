// The chart series: what the line is drawn through when many samples fall
// on one pixel, and what it costs to keep them.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include <QImage>
#include <QPixmap>

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
  // Each sample's run gives its time.
  for (int i = 0; i < 9; ++i) {
    const TLigneTemps::Span run = times.RunOf(i);
    EXPECT_TRUE(run.firstIndex <= i && i < run.end) << i;
    EXPECT_EQ(run.firstTime + run.step * (i - run.firstIndex), t[i]) << i;
  }
}

// Where the series' colour lies in each pixel column of image: the highest
// and lowest row (-1 where there is none). Antialiased pixels count from
// about half their colour.
struct Extent {
  int top = -1, bottom = -1;
};
std::vector<Extent> BlueExtents(const QImage &image, const QRect &area) {
  std::vector<Extent> columns(static_cast<std::size_t>(area.width()));
  for (int x = 0; x < area.width(); ++x)
    for (int y = area.top(); y <= area.bottom(); ++y) {
      const QRgb c = image.pixel(area.left() + x, y);
      if (qBlue(c) < 200 || qRed(c) > 150 || qGreen(c) > 150) continue;
      Extent &e = columns[static_cast<std::size_t>(x)];
      if (e.top < 0) e.top = y;
      e.bottom = y;
    }
  return columns;
}

// A dense view is drawn as pixel columns on screen and in pictures, as a
// line through the summary when printed: both show the same band, the spike
// and the gap.
TEST(AcquisitionSeries, ColumnsShowWhatTheLineShows) {
  QCustomPlot plot;
  plot.resize(700, 400);
  auto *series = new TGraphAcquisition(plot.xAxis, plot.yAxis);
  series->setPen(QPen(Qt::blue, 1));
  plot.xAxis->grid()->setVisible(false);
  plot.yAxis->grid()->setVisible(false);
  std::mt19937 random(7);
  std::uniform_real_distribution<double> noise(-1.0, 1.0);
  const int n = 300000, spike = 123457;
  for (int i = 0; i < n; ++i) {
    double v = i * 2e-5 + noise(random);
    if (i == spike) v = 14;
    if (i >= 200000 && i < 215000) v = NAN;
    series->AddSample(v);
  }
  plot.yAxis->setRange(-3, 16);
  // Views at summary levels and of single samples; the pen of a series
  // drawn as chosen in the list is twice as wide.
  const struct { double lower, upper; int pen; } views[] = {
      {0, n - 1, 1}, {100000, 230000, 1}, {123000, 124800, 1}, {0, n - 1, 2}, {123000, 124800, 2}};
  for (const auto &view : views) {
    SCOPED_TRACE(std::to_string(view.lower) + ".." + std::to_string(view.upper) + " pen " + std::to_string(view.pen));
    series->setPen(QPen(Qt::blue, view.pen));
    plot.xAxis->setRange(view.lower, view.upper);
    const QImage columns = plot.toPixmap(plot.width(), plot.height()).toImage();
    QImage line(plot.size(), QImage::Format_ARGB32);
    line.fill(Qt::white);
    {
      QCPPainter painter(&line);
      painter.setMode(QCPPainter::pmVectorized);
      plot.toPainter(&painter, plot.width(), plot.height());
    }
    const QRect area = plot.axisRect()->rect().adjusted(2, 1, -2, -1);
    const std::vector<Extent> a = BlueExtents(columns, area), b = BlueExtents(line, area);
    // Each column's colour lies within that of the other drawing's column
    // and its neighbours (a line's slope crosses into the next column).
    const auto within = [](const std::vector<Extent> &e, const std::vector<Extent> &other, std::size_t x) {
      if (e[x].top < 0) return true;
      int top = 1 << 30, bottom = -1;
      for (std::size_t k = x > 0 ? x - 1 : 0; k <= std::min(x + 1, other.size() - 1); ++k)
        if (other[k].top >= 0) top = std::min(top, other[k].top), bottom = std::max(bottom, other[k].bottom);
      return e[x].top >= top - 2 && e[x].bottom <= bottom + 2;
    };
    int differ = 0, blank = 0;
    for (std::size_t x = 0; x < a.size(); ++x) {
      if (!within(a, b, x) || !within(b, a, x)) ++differ;
      if (a[x].top < 0) ++blank;
    }
    EXPECT_LE(differ, static_cast<int>(a.size()) / 50) << "columns unlike the line";
    // The spike reaches the top of its column; the gap is blank.
    const auto spikeX = static_cast<std::size_t>(plot.xAxis->coordToPixel(spike) - area.left());
    const int highest = std::min({a[spikeX - 1].top, a[spikeX].top, a[spikeX + 1].top});
    EXPECT_LE(std::abs(highest - static_cast<int>(plot.yAxis->coordToPixel(14))), 2);
    EXPECT_TRUE(view.upper < 215000 || blank > 10) << "the failed readings leave a gap";
  }
}

// Graphs on one layer leave out of their strokes what the graphs above
// them paint over: the picture is the one each graph drawn whole on a layer
// of its own gives, pixel for pixel; a hidden graph covers nothing.
TEST(AcquisitionSeries, SeriesAboveHideOnlyWhatTheyCover) {
  QCustomPlot plot;
  plot.resize(600, 360);
  // The last is see-through: it hides nothing.
  const QColor colours[] = {Qt::blue, Qt::red, Qt::darkGreen, QColor(0, 0, 0, 128)};
  std::vector<TGraphAcquisition *> graphs;
  for (int g = 0; g < 4; ++g) {
    auto *series = new TGraphAcquisition(plot.xAxis, plot.yAxis);
    series->setPen(QPen(colours[g], 1));
    for (int i = 0; i < 200000; ++i)
      series->AddSample(i == 77777 + g ? NAN : std::sin(i * (1e-3 + g * 1e-4)) * (3 - g) + g * 0.5);
    graphs.push_back(series);
  }
  graphs[2]->setVisible(false);
  plot.xAxis->setRange(0, 199999);
  plot.yAxis->setRange(-4, 4);
  const QImage together = plot.toPixmap(plot.width(), plot.height()).toImage();
  for (int g = 1; g < 4; ++g) {
    // Each just above the one before, all below the axes.
    const QString name = QString("layer%1").arg(g);
    plot.addLayer(name, plot.layer(g == 1 ? QString("main") : QString("layer%1").arg(g - 1)), QCustomPlot::limAbove);
    graphs[static_cast<std::size_t>(g)]->setLayer(name);
  }
  EXPECT_TRUE(plot.toPixmap(plot.width(), plot.height()).toImage() == together);
}

}  // namespace
