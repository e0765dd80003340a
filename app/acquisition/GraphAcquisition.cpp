#include "GraphAcquisition.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

TGraphAcquisition::TGraphAcquisition(QCPAxis *keyAxis, QCPAxis *valueAxis)
    : QCPGraph(keyAxis, valueAxis), m_own(std::make_unique<TSerieAcquisition>()), m_series(m_own.get()) {}

TGraphAcquisition::TGraphAcquisition(QCPAxis *keyAxis, QCPAxis *valueAxis,
                                     const TSerieAcquisition *series, const TLigneTemps *times)
    : QCPGraph(keyAxis, valueAxis), m_series(series), m_times(times) {
  DataAppended();
}

TGraphAcquisition::~TGraphAcquisition() = default;

void TGraphAcquisition::AddSample(double value) {
  if (!m_own) return;
  m_own->Append(static_cast<float>(value));
  const double key = static_cast<double>(m_own->Samples() - 1);
  // QCPGraph draws only while its own container holds points around the
  // visible keys; it holds the first and the last key, and the line itself
  // comes from getOptimizedLineData.
  if (mDataContainer->size() < 2) {
    mDataContainer->add(QCPGraphData(key, 0.0));
  } else {
    (mDataContainer->end() - 1)->key = key;
  }
}

void TGraphAcquisition::SetKeyKind(KeyKind kind) {
  m_keyKind = (kind == KeyKind::Time && !m_times) ? KeyKind::SampleNumber : kind;
  DataAppended();
}

double TGraphAcquisition::KeyOf(int64_t index) const {
  if (m_keyKind == KeyKind::Time) return static_cast<double>(m_times->At(index));
  return static_cast<double>(index);
}

int64_t TGraphAcquisition::IndexAt(double key) const {
  const int64_t n = m_series->Samples();
  if (n == 0) return 0;
  if (m_keyKind == KeyKind::Time) {
    if (!(key >= static_cast<double>(m_times->At(0)))) return 0;
    // The last sample at or before key: one before the first after it.
    const int64_t after = m_times->FirstAtOrAfter(static_cast<int64_t>(std::floor(key)) + 1);
    return std::clamp<int64_t>(after - 1, 0, n - 1);
  }
  if (!(key >= 0)) return 0;
  return std::min<int64_t>(static_cast<int64_t>(std::floor(key)), n - 1);
}

void TGraphAcquisition::DataAppended() {
  const int64_t n = m_series->Samples();
  mDataContainer->clear();
  if (n == 0) return;
  mDataContainer->add(QCPGraphData(KeyOf(0), 0.0));
  if (n > 1) mDataContainer->add(QCPGraphData(KeyOf(n - 1), 0.0));
}

QVector<QCPGraphData> TGraphAcquisition::LinePoints(double lower, double upper, int pixels) const {
  QVector<QCPGraphData> points;
  if (m_keyKind == KeyKind::SampleNumber) {
    m_series->LinePoints(lower, upper, pixels,
                         [&](double key, double value) { points.append(QCPGraphData(key, value)); });
    return points;
  }
  // Time keys: the samples of the time range, drawn through the summary of
  // their sample numbers, each point at the time of its sample (the middle
  // of a block at the time of its middle sample).
  const int64_t n = m_series->Samples();
  if (n == 0 || !(upper >= lower)) return points;
  const double lo = static_cast<double>(IndexAt(lower));
  const double hi = static_cast<double>(std::min<int64_t>(IndexAt(upper) + 1, n - 1));
  m_series->LinePoints(lo, hi, pixels, [&](double key, double value) {
    const auto index = static_cast<int64_t>(key);
    const double fraction = key - static_cast<double>(index);
    double time = static_cast<double>(m_times->At(index));
    if (fraction > 0) time += fraction * static_cast<double>(m_times->At(index + 1) - m_times->At(index));
    points.append(QCPGraphData(time, value));
  });
  return points;
}

QCPRange TGraphAcquisition::getKeyRange(bool &foundRange, QCP::SignDomain inSignDomain) const {
  const int64_t n = m_series->Samples();
  foundRange = n > 0;
  if (!foundRange) return QCPRange();
  QCPRange range(KeyOf(0), KeyOf(n - 1));
  if (inSignDomain == QCP::sdPositive && range.lower <= 0) foundRange = range.upper > 0;
  if (inSignDomain == QCP::sdNegative && range.upper >= 0) foundRange = range.lower < 0;
  return range;
}

QCPRange TGraphAcquisition::getValueRange(bool &foundRange, QCP::SignDomain,
                                          const QCPRange &inKeyRange) const {
  const int64_t n = m_series->Samples();
  int64_t first = 0, last = n - 1;
  if (inKeyRange != QCPRange()) {
    first = IndexAt(inKeyRange.lower);
    last = IndexAt(inKeyRange.upper);
  }
  const TSerieAcquisition::Summary s = m_series->Summarise(first, last);
  foundRange = s.samples > s.failed;
  if (!foundRange) return QCPRange();
  return QCPRange(s.min, s.max);
}

void TGraphAcquisition::getOptimizedLineData(QVector<QCPGraphData> *lineData,
                                             const QCPGraphDataContainer::const_iterator &,
                                             const QCPGraphDataContainer::const_iterator &) const {
  if (!lineData) return;
  QCPAxis *keyAxis = mKeyAxis.data();
  if (!keyAxis) {
    lineData->clear();
    return;
  }
  const QCPRange range = keyAxis->range();
  const int pixels = static_cast<int>(std::abs(keyAxis->coordToPixel(range.upper) -
                                               keyAxis->coordToPixel(range.lower)));
  *lineData = LinePoints(range.lower, range.upper, pixels);
}

namespace {
// At least this many samples a pixel column before the view is drawn as
// columns: below it, the line's slopes between samples show.
constexpr double ColumnsFromPerPixel = 2.0;

}  // namespace

void TGraphAcquisition::draw(QCPPainter *painter) {
  // Print and PDF: a device pixel there is not a screen pixel.
  if (painter->modes().testFlag(QCPPainter::pmVectorized) || !Columns()) {
    QCPGraph::draw(painter);
    return;
  }
  std::vector<QLine> strokes = Uncovered();
  // A flat-capped line leaves out its end point: each stroke one pixel
  // longer covers its bottom pixel too.
  for (QLine &s : strokes) s.setP2(QPoint(s.x2(), s.y2() + 1));
  const int thickness = Thickness();
  painter->setAntialiasing(false);
  // As lines of a pen as wide as the series' own: the raster engine draws
  // a vertical line's pixels several times faster than those of a rectangle
  // one pixel wide (which it fills row by row), and a rectangle costs about
  // three lines however small, so merging strokes into rows does not pay.
  painter->setPen(QPen(mPen.color(), thickness == 1 ? 0 : thickness, Qt::SolidLine, Qt::FlatCap));
  painter->setBrush(Qt::NoBrush);
  painter->drawLines(strokes.data(), static_cast<int>(strokes.size()));
  if (!m_joins.empty()) {
    painter->setPen(mPen);
    painter->drawLines(m_joins.data(), static_cast<int>(m_joins.size()));
  }
}

int TGraphAcquisition::Thickness() const { return std::max(1, static_cast<int>(std::lround(mPen.widthF()))); }

std::vector<QLine> TGraphAcquisition::Uncovered() const {
  QCPLayer *own = layer();
  if (!own || Thickness() != 1 || m_strokes.empty()) return m_strokes;
  // The strokes of the graphs above, by column.
  const int first = m_strokes.front().x1(), columns = m_strokes.back().x1() - first + 1;
  std::vector<const std::vector<QLine> *> above;
  bool after = false;
  for (QCPLayerable *child : own->children()) {
    if (child == this) {
      after = true;
      continue;
    }
    auto *g = after ? qobject_cast<TGraphAcquisition *>(child) : nullptr;
    // Only an opaque pen hides what lies under it.
    if (g && g->realVisibility() && g->keyAxis() == keyAxis() && g->valueAxis() == valueAxis() &&
        g->pen().style() != Qt::NoPen && g->pen().color().alpha() == 255 && g->Thickness() == 1 &&
        g->Columns() && !g->m_strokes.empty())
      above.push_back(&g->m_strokes);
  }
  if (above.empty()) return m_strokes;
  std::vector<std::vector<int>> at(above.size(), std::vector<int>(static_cast<std::size_t>(columns), -1));
  for (std::size_t g = 0; g < above.size(); ++g)
    for (std::size_t k = 0; k < above[g]->size(); ++k) {
      const int c = (*above[g])[k].x1() - first;
      if (c >= 0 && c < columns) at[g][static_cast<std::size_t>(c)] = static_cast<int>(k);
    }
  std::vector<QLine> shown;
  shown.reserve(m_strokes.size());
  std::vector<std::pair<int, int>> covers;
  for (const QLine &s : m_strokes) {
    const auto c = static_cast<std::size_t>(s.x1() - first);
    covers.clear();
    for (std::size_t g = 0; g < above.size(); ++g)
      if (at[g][c] >= 0) {
        const QLine &o = (*above[g])[static_cast<std::size_t>(at[g][c])];
        covers.emplace_back(o.y1(), o.y2());
      }
    std::sort(covers.begin(), covers.end());
    int y = s.y1();
    for (const auto &[top, bottom] : covers) {
      if (y > s.y2()) break;
      if (bottom < y) continue;
      if (top > s.y2()) break;
      if (top > y) shown.emplace_back(s.x1(), y, s.x1(), top - 1);
      y = std::max(y, bottom + 1);
    }
    if (y <= s.y2()) shown.emplace_back(s.x1(), y, s.x1(), s.y2());
  }
  return shown;
}

bool TGraphAcquisition::Columns() const {
  QCPAxis *keyAxis = mKeyAxis.data();
  QCPAxis *valueAxis = mValueAxis.data();
  if (!keyAxis || !valueAxis) return false;
  if (keyAxis->orientation() != Qt::Horizontal || keyAxis->scaleType() != QCPAxis::stLinear ||
      valueAxis->scaleType() != QCPAxis::stLinear)
    return false;
  if (mLineStyle != lsLine || !mScatterStyle.isNone() || mBrush.style() != Qt::NoBrush) return false;
  const QCPRange range = keyAxis->range();
  const int64_t n = m_series->Samples();
  if (n == 0 || !(range.size() > 0)) return false;
  const QRect rect = keyAxis->axisRect()->rect();
  const int width = rect.width();
  if (width < 1) return false;
  const View view{range, valueAxis->range(), rect, n, m_keyKind, Thickness(),
                  keyAxis->rangeReversed() || valueAxis->rangeReversed()};
  if (view == m_view) return m_columns;
  m_view = view;
  m_columns = false;
  m_strokes.clear();
  m_joins.clear();

  // The samples of the view, one beyond each end.
  const int64_t lo = std::max<int64_t>(0, IndexAt(range.lower) - 1);
  const int64_t hi = std::min<int64_t>(n - 1, IndexAt(range.upper) + 1);
  const double perPixel = static_cast<double>(hi - lo + 1) / width;
  if (perPixel < ColumnsFromPerPixel) return false;
  const int level = TSerieAcquisition::LevelFor(perPixel);

  // Keys and values to pixels (both axes linear).
  const double x0 = keyAxis->coordToPixel(range.lower);
  const double xScale = (keyAxis->coordToPixel(range.upper) - x0) / range.size();
  const QCPRange values = valueAxis->range();
  const double y0 = valueAxis->coordToPixel(values.lower);
  const double yScale = values.size() > 0 ? (valueAxis->coordToPixel(values.upper) - y0) / values.size() : 0.0;
  // Far outside the rect a pixel is clipped anyway; this keeps it an int.
  const double yTop = rect.top() - 2.0, yBottom = rect.bottom() + 2.0;
  auto yPixel = [&](double v) {
    return static_cast<int>(std::floor(std::clamp(y0 + (v - values.lower) * yScale, yTop, yBottom)));
  };

  // Extremes per column (index 0 is the column left of the rect: the
  // sample before the view), then a break mark where a block of failed
  // readings fell.
  const int columns = width + 2;
  struct Column {
    float low, high;
    bool gapBefore;
  };
  constexpr float NaN = std::numeric_limits<float>::quiet_NaN();
  std::vector<Column> at(static_cast<std::size_t>(columns), Column{NaN, NaN, false});
  const double left = rect.left() - 1.0;
  const bool timeKeys = m_keyKind == KeyKind::Time;
  // The run of times the walk is in: within it a time is a multiply-add.
  TLigneTemps::Span times{0, 0, 0, 0};
  auto timeOf = [&](int64_t index) {
    if (index >= times.end || index < times.firstIndex) times = m_times->RunOf(index);
    return static_cast<double>(times.firstTime + times.step * (index - times.firstIndex));
  };
  bool gap = false;
  m_series->ForEachBlock(lo, hi, level, [&](int64_t first, int64_t last, TSerieAcquisition::Span s) {
    double key;
    if (timeKeys) {
      const double a = timeOf(first);
      key = first == last ? a : 0.5 * (a + timeOf(last));
    } else {
      key = 0.5 * static_cast<double>(first + last);
    }
    const double x = x0 + (key - range.lower) * xScale - left;
    const int c = static_cast<int>(std::clamp(std::floor(x), 0.0, static_cast<double>(columns - 1)));
    Column &col = at[static_cast<std::size_t>(c)];
    if (std::isnan(s.low)) {
      gap = true;
      return;
    }
    if (std::isnan(col.low)) {
      col = Column{s.low, s.high, gap};
    } else {
      col.low = std::min(col.low, s.low);
      col.high = std::max(col.high, s.high);
      col.gapBefore = col.gapBefore || gap;
    }
    gap = false;
  });

  // One stroke a column, reaching the stroke before it unless a gap lies
  // between; columns apart (no sample between: a pause in the recording)
  // are joined by a straight line, as the line would.
  const int thickness = Thickness();
  const int base = static_cast<int>(left);
  std::vector<QLine> &strokes = m_strokes;
  strokes.reserve(static_cast<std::size_t>(columns));
  std::vector<QLine> &joins = m_joins;
  for (int c = 0; c < columns; ++c) {
    const Column &col = at[static_cast<std::size_t>(c)];
    if (std::isnan(col.low)) continue;
    int top = std::min(yPixel(col.low), yPixel(col.high));
    int bottom = std::max(yPixel(col.low), yPixel(col.high));
    const QLine *previous = strokes.empty() ? nullptr : &strokes.back();
    const bool joined = previous && !col.gapBefore;
    if (joined && previous->x1() == base + c - 1) {
      top = std::min(top, previous->y2());
      bottom = std::max(bottom, previous->y1());
    } else if (joined) {
      joins.emplace_back(previous->x1(), (previous->y1() + previous->y2()) / 2, base + c, (top + bottom) / 2);
    }
    strokes.emplace_back(base + c, top - (thickness - 1) / 2, base + c, bottom + thickness / 2);
  }
  m_columns = true;
  return true;
}
