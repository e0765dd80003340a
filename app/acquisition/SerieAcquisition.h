// SerieAcquisition: the samples of one sensor of an acquisition, and when
// they were taken, kept compactly enough for a year of samples.
//
// TSerieAcquisition holds the values as floats (4 bytes a point) in chunks
// of fixed size, so that growing never copies them nor holds twice their
// size, and beside them the min/max summary the chart draws through: for
// every power-of-two block of 16 samples and more, the smallest and largest
// value of the block (about 1 more byte a point). Blocks are summarised
// when they are complete; the block being filled is composed from the
// complete smaller blocks and the last few values when it is asked for, so
// that appending a sample costs a couple of operations, not one per level.
// A coarse sum and failed count per block of 1024 samples gives the mean
// and the failed readings of any range without visiting every sample.
//
// A failed reading is a NaN value: the line has a gap there.
//
// TLigneTemps holds the time of every sample of a file (shared by all its
// sensors) as runs of samples one period apart: a run costs 24 bytes
// however long it is, so a recording at a steady period costs nothing a
// sample. Samples may share a second or skip one; each is kept, in file
// order.
//
// Neither class uses Qt: a program without windows keeps its data in them.
#ifndef NIVELIX_SERIEACQUISITION_H
#define NIVELIX_SERIEACQUISITION_H

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class TSerieAcquisition {
 public:
  TSerieAcquisition();
  ~TSerieAcquisition();
  TSerieAcquisition(TSerieAcquisition &&) noexcept;
  TSerieAcquisition &operator=(TSerieAcquisition &&) noexcept;
  TSerieAcquisition(const TSerieAcquisition &) = delete;
  TSerieAcquisition &operator=(const TSerieAcquisition &) = delete;

  // Appends the value of the next sample (index Samples()); NaN for a
  // failed reading.
  void Append(float value) {
    if ((m_count & (ChunkSize - 1)) == 0) NewChunk();
    m_chunks.back()[m_count & (ChunkSize - 1)] = value;
    ++m_count;
    if ((m_count & ((int64_t(1) << FirstLevel) - 1)) == 0) BlockCompleted();
  }
  // Appends count values at once; the strided form takes every stride-th
  // float from values (one column of rows of several sensors).
  void Append(const float *values, int64_t count);
  void Append(const float *values, int64_t count, std::ptrdiff_t stride);
  // Makes room for samples in all (values and summary), so that a reader
  // that knows the size of its file grows nothing by doubling. Optional.
  void Reserve(int64_t samples);
  // Forgets every sample and frees their memory.
  void Clear();

  int64_t Samples() const { return m_count; }
  // Failed readings (NaN values) among them.
  int64_t Failed() const;
  // The stored value of sample index; NaN for a gap or an index outside
  // 0..Samples()-1.
  float Value(int64_t index) const;

  // Bytes held for the points (values, summary and sums).
  std::size_t MemoryBytes() const;

  struct Span {
    float low;
    float high;
  };
  // Smallest block of the summary: 2^FirstLevel samples; largest 2^LastLevel.
  static constexpr int FirstLevel = 4;
  static constexpr int LastLevel = 40;
  // The extremes of block number block of 2^level samples (FirstLevel <=
  // level <= LastLevel), the block being filled included; both NaN when the
  // block is only failed readings or lies beyond the samples.
  Span Block(int level, int64_t block) const;

  // What a range of samples holds: samples, failed readings among them, and
  // the smallest, largest and mean of the others (NaN when there is none).
  struct Summary {
    int64_t samples = 0;
    int64_t failed = 0;
    double min = 0, max = 0, mean = 0;
  };
  // The summary of samples first..last (inclusive, clipped to the samples);
  // costs one step per 1024 samples of the range plus a few thousand.
  Summary Summarise(int64_t first, int64_t last) const;
  Summary SummariseAll() const { return Summarise(0, m_count - 1); }

  // The points a line is drawn through for the samples lower..upper (sample
  // numbers, one beyond each end included) on pixels pixels: every sample
  // when fewer than 2^FirstLevel fall on a pixel, else the smallest and
  // largest value of each block of the largest power of two not above the
  // samples per pixel, placed at the middle of the block (one NaN point for
  // a block of failed readings). out(double sampleNumber, double value) is
  // called for each point in order.
  template <class Emit>
  void LinePoints(double lower, double upper, int pixels, Emit out) const;

  // The block size (as a level) a drawing of perPixel samples per pixel goes
  // through: 0 (single samples) below 2^FirstLevel, else the largest level
  // whose blocks are not longer than perPixel.
  static int LevelFor(double perPixel);
  // Calls out(first, last, span) in order for each block of 2^level samples
  // (level 0: each sample; else FirstLevel..LastLevel) holding one of the
  // samples lo..hi (clipped to the samples): its first and last sample and
  // its extremes (both NaN for a block of failed readings).
  template <class Emit>
  void ForEachBlock(int64_t lo, int64_t hi, int level, Emit out) const;

  static constexpr int ChunkBits = 16;
  static constexpr int64_t ChunkSize = int64_t(1) << ChunkBits;
  static constexpr int SumBits = 10;

 private:
  void NewChunk();
  // The block of 2^FirstLevel ending at m_count is complete: summarise it and
  // every larger block it completes.
  void BlockCompleted();
  // Span of the values first..last (raw scan).
  Span Scan(int64_t first, int64_t last) const;

  std::vector<std::unique_ptr<float[]>> m_chunks;
  int64_t m_count = 0;
  // m_levels[j]: the extremes of the complete blocks of 2^(FirstLevel + j).
  std::vector<std::vector<Span>> m_levels;
  // Per complete block of 2^SumBits samples: sum of its valid values and
  // its failed readings.
  struct Sum {
    double sum;
    int64_t failed;
  };
  std::vector<Sum> m_sums;
  int64_t m_reserved = 0;
};

class TLigneTemps {
 public:
  // Appends the time of the next sample, in seconds since 1970-01-01 0:00:00
  // of the file's own clock (the wall-clock time written in the file, taken
  // as if it were UTC: no time zone, no daylight saving shift).
  void Append(int64_t seconds);
  void Clear();
  int64_t Samples() const { return m_count; }
  // Time of sample index (clipped to 0..Samples()-1); 0 when empty.
  int64_t At(int64_t index) const;
  // The run of samples one period apart that holds index (clipped): its
  // samples firstIndex..end-1 are at firstTime + step * (i - firstIndex), so
  // that a walk through the samples finds their times without a search each.
  struct Span {
    int64_t firstIndex, end, firstTime, step;
  };
  Span RunOf(int64_t index) const;
  // The first sample whose time is at or after seconds (Samples() when none).
  // Times that go back (the clock set back) are kept in file order; the
  // search then finds one of the samples of that time.
  int64_t FirstAtOrAfter(int64_t seconds) const;
  // The most frequent spacing of the samples in seconds (the recording's
  // period), 0 with fewer than two samples.
  int64_t Period() const;
  // Runs of samples one period apart held so far.
  std::size_t Runs() const { return m_runs.size(); }
  std::size_t MemoryBytes() const;

 private:
  struct Run {
    int64_t firstIndex;
    int64_t firstTime;
    int64_t step;  // seconds between two samples of the run; -1 until known
  };
  std::vector<Run> m_runs;
  int64_t m_count = 0;
};

// ---------------------------------------------------------------------------

template <class Emit>
void TSerieAcquisition::ForEachBlock(int64_t lo, int64_t hi, int level, Emit out) const {
  lo = std::max<int64_t>(lo, 0);
  hi = std::min<int64_t>(hi, m_count - 1);
  if (lo > hi) return;
  if (level < FirstLevel) {
    for (int64_t i = lo; i <= hi;) {
      const float *chunk = m_chunks[static_cast<std::size_t>(i >> ChunkBits)].get();
      const int64_t stop = std::min(hi, (i | (ChunkSize - 1)));
      for (; i <= stop; ++i) {
        const float v = chunk[i & (ChunkSize - 1)];
        out(i, i, Span{v, v});
      }
    }
    return;
  }
  const int64_t block = int64_t(1) << level;
  for (int64_t b = lo >> level; b <= (hi >> level); ++b) {
    const int64_t start = b * block;
    out(start, std::min(start + block, m_count) - 1, Block(level, b));
  }
}

template <class Emit>
void TSerieAcquisition::LinePoints(double lower, double upper, int pixels, Emit out) const {
  if (m_count == 0 || !(upper >= lower)) return;
  // One sample beyond each end, so that the line runs to the plot's edges.
  const double first = std::max(0.0, std::floor(lower) - 1.0);
  const double last = std::min(static_cast<double>(m_count - 1), std::ceil(upper) + 1.0);
  if (first > last) return;
  const auto lo = static_cast<int64_t>(first);
  const auto hi = static_cast<int64_t>(last);
  const int level = LevelFor(static_cast<double>(hi - lo + 1) / (pixels < 1 ? 1 : pixels));
  ForEachBlock(lo, hi, level, [&](int64_t start, int64_t end, Span s) {
    if (level < FirstLevel) {
      out(static_cast<double>(start), static_cast<double>(s.low));
      return;
    }
    const double key = 0.5 * static_cast<double>(start + end);
    out(key, static_cast<double>(s.low));
    if (!std::isnan(s.low)) out(key, static_cast<double>(s.high));
  });
}

#endif
