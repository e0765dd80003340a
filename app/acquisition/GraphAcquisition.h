// GraphAcquisition: the chart series of one sensor of an acquisition.
//
// A run keeps every sample on the chart (one sensor read every second for
// 255 days is 22 million points), so the series stores its values itself,
// as floats keyed by their sample index (4 bytes a point), instead of the
// 16-byte key/value pairs of a stock graph. Beside the values it keeps, for
// every power-of-two block of 16 samples and more, the smallest and largest
// value of the block (about 1 more byte a point). When several samples fall
// on one pixel, the line is drawn through these block extremes instead of
// through every sample, so redrawing millions of points costs about as much
// as redrawing a few thousand.
//
// A failed reading is a NaN value: the line has a gap there.
//
// The values and their summary live in a TSerieAcquisition, of the graph's
// own (the acquisition frame appends to it) or held by a viewer's data model
// that a file reader fills; the graph only draws it.
#ifndef NIVELIX_GRAPHACQUISITION_H
#define NIVELIX_GRAPHACQUISITION_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include <qcustomplot.h>

#include "SerieAcquisition.h"

class TGraphAcquisition : public QCPGraph {
  Q_OBJECT
 public:
  // A series of its own, filled with AddSample (the acquisition frame).
  TGraphAcquisition(QCPAxis *keyAxis, QCPAxis *valueAxis);
  // Draws series, held by someone else who fills it (a viewer's data
  // model); times, when given, are the times of its samples, for
  // KeyKind::Time. Both must outlive the graph. Call DataAppended after they
  // grew.
  TGraphAcquisition(QCPAxis *keyAxis, QCPAxis *valueAxis, const TSerieAcquisition *series,
                    const TLigneTemps *times = nullptr);
  ~TGraphAcquisition() override;

  // Appends the value of the next sample (key = its index from 0); NaN for a
  // failed reading. Only for a series of its own; ignored otherwise.
  void AddSample(double value);
  int64_t Samples() const { return m_series->Samples(); }
  // The stored value of sample index (NaN for a gap).
  double Value(int64_t index) const { return m_series->Value(index); }
  const TSerieAcquisition &Series() const { return *m_series; }

  // Bytes held for the points (values and block summary).
  std::size_t MemoryBytes() const { return m_series->MemoryBytes(); }

  // What the keys of the chart are: the sample number from 0 (the default),
  // or the sample's time in seconds as TLigneTemps counts them (for a
  // QCPAxisTickerDateTime with Qt::UTC). Time needs the times given to the
  // constructor; without them the keys stay sample numbers.
  enum class KeyKind { SampleNumber, Time };
  void SetKeyKind(KeyKind kind);
  KeyKind Keys() const { return m_keyKind; }
  // The key of sample index, and the sample at key: the last one whose key
  // is at or before key (0 before the first, Samples()-1 after the last).
  double KeyOf(int64_t index) const;
  int64_t IndexAt(double key) const;

  // A held series has grown (or was emptied): takes its new ends.
  void DataAppended();

  // The points the line is drawn through for the keys lower..upper on
  // pixels pixels: every sample (and one beyond each end) when fewer than
  // 8 samples fall on a pixel, else the smallest and largest value of each
  // block of the largest power of two not above the samples per pixel.
  // Keys are those of Keys().
  QVector<QCPGraphData> LinePoints(double lower, double upper, int pixels) const;

  // Smallest block of the summary: 2^FirstLevel samples.
  static constexpr int FirstLevel = TSerieAcquisition::FirstLevel;

  // From the summary, not the points: what rescaleAxes uses.
  QCPRange getKeyRange(bool &foundRange, QCP::SignDomain inSignDomain = QCP::sdBoth) const override;
  QCPRange getValueRange(bool &foundRange, QCP::SignDomain inSignDomain = QCP::sdBoth,
                         const QCPRange &inKeyRange = QCPRange()) const override;

 protected:
  // On screen and in pictures, a view of more samples than pixels is drawn
  // as one vertical stroke a pixel column, from the smallest to the largest
  // value of its samples (joined to the strokes beside it), without
  // antialiasing: the same band the line through the summary draws, at a
  // small part of the cost. Sparser views, and printing or PDF (where a
  // device pixel is not a screen pixel), draw the line as any graph does.
  void draw(QCPPainter *painter) override;
  void getOptimizedLineData(QVector<QCPGraphData> *lineData,
                            const QCPGraphDataContainer::const_iterator &begin,
                            const QCPGraphDataContainer::const_iterator &end) const override;

 private:
  // The strokes of the current view when it is drawn as pixel columns
  // (m_strokes, m_joins, kept until the view changes: a graph drawn below
  // asks for them too); false when it is not.
  bool Columns() const;
  // m_strokes less what the graphs drawn after this one on its layer will
  // paint over anyway (their own strokes): with 8 swinging series on a
  // year, most of each band is covered by the bands above it.
  std::vector<QLine> Uncovered() const;
  int Thickness() const;

  struct View {
    QCPRange keys, values;
    QRect rect;
    int64_t samples = -1;
    KeyKind keyKind = KeyKind::SampleNumber;
    int thickness = 0;
    bool reversed = false;  // either axis
    bool operator==(const View &o) const {
      return keys == o.keys && values == o.values && rect == o.rect && samples == o.samples &&
             keyKind == o.keyKind && thickness == o.thickness && reversed == o.reversed;
    }
  };
  mutable View m_view;
  mutable bool m_columns = false;
  mutable std::vector<QLine> m_strokes;  // vertical: x1 == x2, y1 top, y2 bottom
  mutable std::vector<QLine> m_joins;

  std::unique_ptr<TSerieAcquisition> m_own;
  const TSerieAcquisition *m_series;
  const TLigneTemps *m_times = nullptr;
  KeyKind m_keyKind = KeyKind::SampleNumber;
};

#endif
