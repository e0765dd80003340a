#include "GraphAcquisition.h"

#include <algorithm>
#include <cmath>
#include <limits>

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
