// GraphAcquisition: the chart series of one sensor of an acquisition.
//
// A run keeps every sample on the chart (one sensor read every second for
// 255 days is 22 million points), so the series stores its values itself,
// as floats keyed by their sample index (4 bytes a point), instead of the
// 16-byte key/value pairs of a stock graph. Beside the values it keeps, for
// every power-of-two block of 8 samples and more, the smallest and largest
// value of the block (about 2 more bytes a point). When several samples fall
// on one pixel, the line is drawn through these block extremes instead of
// through every sample, so redrawing millions of points costs about as much
// as redrawing a few thousand.
//
// A failed reading is a NaN value: the line has a gap there.
#ifndef NIVELIX_GRAPHACQUISITION_H
#define NIVELIX_GRAPHACQUISITION_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include <qcustomplot.h>

class TGraphAcquisition : public QCPGraph {
  Q_OBJECT
 public:
  TGraphAcquisition(QCPAxis *keyAxis, QCPAxis *valueAxis);
  ~TGraphAcquisition() override;

  // Appends the value of the next sample (key = its index from 0); NaN for a
  // failed reading.
  void AddSample(double value);
  int64_t Samples() const { return m_count; }
  // The stored value of sample index (NaN for a gap).
  double Value(int64_t index) const;

  // Bytes held for the points (values and block summary).
  std::size_t MemoryBytes() const;

  // The points the line is drawn through for the keys lower..upper on
  // pixels pixels: every sample (and one beyond each end) when fewer than
  // 8 samples fall on a pixel, else the smallest and largest value of each
  // block of the largest power of two not above the samples per pixel.
  QVector<QCPGraphData> LinePoints(double lower, double upper, int pixels) const;

  // Smallest block of the summary: 2^FirstLevel samples.
  static constexpr int FirstLevel = 3;

 protected:
  void getOptimizedLineData(QVector<QCPGraphData> *lineData,
                            const QCPGraphDataContainer::const_iterator &begin,
                            const QCPGraphDataContainer::const_iterator &end) const override;

 private:
  struct Span {
    float low;
    float high;
  };
  static constexpr int ChunkBits = 16;
  static constexpr int64_t ChunkSize = int64_t(1) << ChunkBits;
  static constexpr int LastLevel = 40;

  // Values in chunks of fixed size, so that growing never copies them nor
  // holds twice their size.
  std::vector<std::unique_ptr<float[]>> m_chunks;
  int64_t m_count = 0;
  // m_levels[j]: the extremes of the blocks of 2^(FirstLevel + j) samples.
  std::vector<std::vector<Span>> m_levels;
};

#endif
