#include "GraphAcquisition.h"

#include <algorithm>
#include <cmath>
#include <limits>

TGraphAcquisition::TGraphAcquisition(QCPAxis *keyAxis, QCPAxis *valueAxis)
    : QCPGraph(keyAxis, valueAxis), m_levels(LastLevel - FirstLevel + 1) {}

TGraphAcquisition::~TGraphAcquisition() = default;

void TGraphAcquisition::AddSample(double value) {
  const int64_t index = m_count;
  if ((index >> ChunkBits) == static_cast<int64_t>(m_chunks.size()))
    m_chunks.push_back(std::make_unique<float[]>(ChunkSize));
  const float v = static_cast<float>(value);
  m_chunks[static_cast<std::size_t>(index >> ChunkBits)][index & (ChunkSize - 1)] = v;
  for (std::size_t j = 0; j < m_levels.size(); ++j) {
    auto &level = m_levels[j];
    const auto block = static_cast<std::size_t>(index >> (FirstLevel + static_cast<int>(j)));
    if (block == level.size()) {
      level.push_back({v, v});
    } else {
      // fmin and fmax skip a NaN, so a block is a gap only when all of it is.
      level[block].low = std::fmin(level[block].low, v);
      level[block].high = std::fmax(level[block].high, v);
    }
  }
  ++m_count;

  // QCPGraph draws only while its own container holds points around the
  // visible keys; it holds the first and the last key, and the line itself
  // comes from getOptimizedLineData.
  if (mDataContainer->size() < 2) {
    mDataContainer->add(QCPGraphData(static_cast<double>(index), 0.0));
  } else {
    (mDataContainer->end() - 1)->key = static_cast<double>(index);
  }
}

double TGraphAcquisition::Value(int64_t index) const {
  if (index < 0 || index >= m_count) return std::numeric_limits<double>::quiet_NaN();
  return m_chunks[static_cast<std::size_t>(index >> ChunkBits)][index & (ChunkSize - 1)];
}

std::size_t TGraphAcquisition::MemoryBytes() const {
  std::size_t bytes = m_chunks.capacity() * sizeof(m_chunks[0]) +
                      m_chunks.size() * static_cast<std::size_t>(ChunkSize) * sizeof(float);
  for (const auto &level : m_levels) bytes += level.capacity() * sizeof(Span);
  return bytes;
}

QVector<QCPGraphData> TGraphAcquisition::LinePoints(double lower, double upper, int pixels) const {
  QVector<QCPGraphData> points;
  if (m_count == 0 || !(upper >= lower)) return points;
  // One sample beyond each end, so that the line runs to the plot's edges.
  const double first = std::max(0.0, std::floor(lower) - 1.0);
  const double last = std::min(static_cast<double>(m_count - 1), std::ceil(upper) + 1.0);
  if (first > last) return points;
  const auto lo = static_cast<int64_t>(first);
  const auto hi = static_cast<int64_t>(last);
  const double perPixel = static_cast<double>(hi - lo + 1) / std::max(1, pixels);

  if (perPixel < double(int64_t(1) << FirstLevel)) {
    points.reserve(static_cast<int>(hi - lo + 1));
    for (int64_t i = lo; i <= hi; ++i) points.append(QCPGraphData(static_cast<double>(i), Value(i)));
    return points;
  }

  int level = FirstLevel;
  while (level < LastLevel && double(int64_t(1) << (level + 1)) <= perPixel) ++level;
  const auto &spans = m_levels[static_cast<std::size_t>(level - FirstLevel)];
  const int64_t block = int64_t(1) << level;
  const int64_t firstBlock = lo >> level;
  const int64_t lastBlock = hi >> level;
  points.reserve(static_cast<int>(2 * (lastBlock - firstBlock + 1)));
  for (int64_t b = firstBlock; b <= lastBlock; ++b) {
    const Span &s = spans[static_cast<std::size_t>(b)];
    // The block's vertical extent at the middle of its keys (the last block
    // may be short).
    const int64_t start = b * block;
    const int64_t end = std::min(start + block, m_count) - 1;
    const double key = 0.5 * static_cast<double>(start + end);
    if (std::isnan(s.low)) {
      points.append(QCPGraphData(key, std::numeric_limits<double>::quiet_NaN()));
    } else {
      points.append(QCPGraphData(key, s.low));
      points.append(QCPGraphData(key, s.high));
    }
  }
  return points;
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
