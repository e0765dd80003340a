#include "SerieAcquisition.h"

#include <limits>
#include <map>

namespace {

constexpr float NaN = std::numeric_limits<float>::quiet_NaN();

TSerieAcquisition::Span Merge(TSerieAcquisition::Span a, TSerieAcquisition::Span b) {
  // fmin and fmax skip a NaN, so a block is a gap only when all of it is.
  return {std::fmin(a.low, b.low), std::fmax(a.high, b.high)};
}

// Grows v by an eighth when full, so that a level never holds much more
// than it needs (doubling would cost up to twice the summary).
template <class T>
void GrowGently(std::vector<T> &v) {
  if (v.size() == v.capacity()) v.reserve(std::max<std::size_t>(16, v.capacity() + v.capacity() / 8));
}

}  // namespace

TSerieAcquisition::TSerieAcquisition() : m_levels(LastLevel - FirstLevel + 1) {}
TSerieAcquisition::~TSerieAcquisition() = default;
TSerieAcquisition::TSerieAcquisition(TSerieAcquisition &&) noexcept = default;
TSerieAcquisition &TSerieAcquisition::operator=(TSerieAcquisition &&) noexcept = default;

void TSerieAcquisition::NewChunk() {
  if (m_chunks.size() == m_chunks.capacity()) GrowGently(m_chunks);
  m_chunks.push_back(std::unique_ptr<float[]>(new float[ChunkSize]));
}

void TSerieAcquisition::Append(const float *values, int64_t count) { Append(values, count, 1); }

void TSerieAcquisition::Append(const float *values, int64_t count, std::ptrdiff_t stride) {
  // Up to the end of the current smallest block at a time, straight into
  // the chunk (a block of 2^FirstLevel never straddles two chunks).
  const int64_t block = int64_t(1) << FirstLevel;
  while (count > 0) {
    if ((m_count & (ChunkSize - 1)) == 0) NewChunk();
    const int64_t n = std::min(count, block - (m_count & (block - 1)));
    float *to = m_chunks.back().get() + (m_count & (ChunkSize - 1));
    for (int64_t i = 0; i < n; ++i, values += stride) to[i] = *values;
    m_count += n;
    count -= n;
    if ((m_count & (block - 1)) == 0) BlockCompleted();
  }
}

void TSerieAcquisition::Reserve(int64_t samples) {
  if (samples <= m_reserved) return;
  m_reserved = samples;
  m_chunks.reserve(static_cast<std::size_t>((samples + ChunkSize - 1) >> ChunkBits));
  for (std::size_t j = 0; j < m_levels.size(); ++j)
    m_levels[j].reserve(static_cast<std::size_t>(samples >> (FirstLevel + static_cast<int>(j))));
  m_sums.reserve(static_cast<std::size_t>(samples >> SumBits));
}

void TSerieAcquisition::Clear() {
  m_chunks = decltype(m_chunks)();
  m_levels = std::vector<std::vector<Span>>(LastLevel - FirstLevel + 1);
  m_sums = decltype(m_sums)();
  m_count = 0;
  m_reserved = 0;
}

float TSerieAcquisition::Value(int64_t index) const {
  if (index < 0 || index >= m_count) return NaN;
  return m_chunks[static_cast<std::size_t>(index >> ChunkBits)][index & (ChunkSize - 1)];
}

TSerieAcquisition::Span TSerieAcquisition::Scan(int64_t first, int64_t last) const {
  // As fmin and fmax, inline: a NaN is skipped, NaN only when all are.
  Span s{NaN, NaN};
  for (int64_t i = first; i <= last;) {
    const float *chunk = m_chunks[static_cast<std::size_t>(i >> ChunkBits)].get();
    const int64_t stop = std::min(last, (i | (ChunkSize - 1)));
    for (; i <= stop; ++i) {
      const float v = chunk[i & (ChunkSize - 1)];
      if (v < s.low || s.low != s.low) s.low = v;
      if (v > s.high || s.high != s.high) s.high = v;
    }
  }
  return s;
}

void TSerieAcquisition::BlockCompleted() {
  // Level FirstLevel from the values, each larger level from its two halves
  // for as long as this sample completes a block of it.
  const int64_t end = m_count;
  const int64_t first = end - (int64_t(1) << FirstLevel);
  {
    auto &level = m_levels[0];
    GrowGently(level);
    level.push_back(Scan(first, end - 1));
  }
  for (std::size_t j = 1; j < m_levels.size(); ++j) {
    if ((end & ((int64_t(1) << (FirstLevel + static_cast<int>(j))) - 1)) != 0) break;
    const auto &below = m_levels[j - 1];
    auto &level = m_levels[j];
    GrowGently(level);
    level.push_back(Merge(below[below.size() - 2], below.back()));
  }
  if ((end & ((int64_t(1) << SumBits) - 1)) == 0) {
    Sum s{0.0, 0};
    // A sum block lies within one chunk.
    const float *chunk = m_chunks[static_cast<std::size_t>((end - 1) >> ChunkBits)].get();
    for (int64_t i = end - (int64_t(1) << SumBits); i < end; ++i) {
      const float v = chunk[i & (ChunkSize - 1)];
      if (std::isnan(v))
        ++s.failed;
      else
        s.sum += v;
    }
    GrowGently(m_sums);
    m_sums.push_back(s);
  }
}

TSerieAcquisition::Span TSerieAcquisition::Block(int level, int64_t block) const {
  if (level < FirstLevel || level > LastLevel || block < 0) return {NaN, NaN};
  const auto &spans = m_levels[static_cast<std::size_t>(level - FirstLevel)];
  if (block < static_cast<int64_t>(spans.size())) return spans[static_cast<std::size_t>(block)];
  const int64_t start = block << level;
  if (start >= m_count) return {NaN, NaN};
  // The block being filled: its complete halves, quarters... then the values
  // after the last complete smallest block.
  if (level == FirstLevel) return Scan(start, m_count - 1);
  const int64_t half = int64_t(1) << (level - 1);
  Span s = Block(level - 1, 2 * block);
  if (start + half < m_count) s = Merge(s, Block(level - 1, 2 * block + 1));
  return s;
}

int64_t TSerieAcquisition::Failed() const {
  int64_t failed = 0;
  for (const Sum &s : m_sums) failed += s.failed;
  for (int64_t i = static_cast<int64_t>(m_sums.size()) << SumBits; i < m_count; ++i)
    if (std::isnan(Value(i))) ++failed;
  return failed;
}

TSerieAcquisition::Summary TSerieAcquisition::Summarise(int64_t first, int64_t last) const {
  Summary r;
  first = std::max<int64_t>(first, 0);
  last = std::min<int64_t>(last, m_count - 1);
  if (first > last) {
    r.min = r.max = r.mean = std::numeric_limits<double>::quiet_NaN();
    return r;
  }
  r.samples = last - first + 1;
  double sum = 0.0;
  Span span{NaN, NaN};
  const int64_t sumBlock = int64_t(1) << SumBits;
  int64_t i = first;
  auto single = [&](int64_t k) {
    const float v = Value(k);
    if (std::isnan(v)) {
      ++r.failed;
    } else {
      sum += v;
      span.low = std::fmin(span.low, v);
      span.high = std::fmax(span.high, v);
    }
  };
  // Single values up to the first whole sum block, the sum blocks (with the
  // extremes of their summary blocks), then single values again.
  const auto sums = static_cast<int64_t>(m_sums.size());
  while (i <= last) {
    if ((i & (sumBlock - 1)) == 0 && i + sumBlock - 1 <= last && (i >> SumBits) < sums) {
      const Sum &s = m_sums[static_cast<std::size_t>(i >> SumBits)];
      sum += s.sum;
      r.failed += s.failed;
      span = Merge(span, Block(SumBits, i >> SumBits));
      i += sumBlock;
    } else {
      single(i++);
    }
  }
  const int64_t valid = r.samples - r.failed;
  if (valid == 0) {
    r.min = r.max = r.mean = std::numeric_limits<double>::quiet_NaN();
  } else {
    r.min = span.low;
    r.max = span.high;
    r.mean = sum / static_cast<double>(valid);
  }
  return r;
}

int TSerieAcquisition::LevelFor(double perPixel) {
  if (!(perPixel >= double(int64_t(1) << FirstLevel))) return 0;
  int level = FirstLevel;
  while (level < LastLevel && double(int64_t(1) << (level + 1)) <= perPixel) ++level;
  return level;
}

std::size_t TSerieAcquisition::MemoryBytes() const {
  std::size_t bytes = m_chunks.capacity() * sizeof(m_chunks[0]) +
                      m_chunks.size() * static_cast<std::size_t>(ChunkSize) * sizeof(float);
  for (const auto &level : m_levels) bytes += level.capacity() * sizeof(Span);
  bytes += m_sums.capacity() * sizeof(Sum);
  return bytes;
}

// ---------------------------------------------------------------------------

void TLigneTemps::Append(int64_t seconds) {
  if (!m_runs.empty()) {
    Run &run = m_runs.back();
    const int64_t n = m_count - run.firstIndex;  // samples in the run so far
    if (run.step < 0) {
      if (seconds >= run.firstTime) {
        run.step = seconds - run.firstTime;
        ++m_count;
        return;
      }
    } else if (seconds == run.firstTime + run.step * n) {
      ++m_count;
      return;
    }
  }
  GrowGently(m_runs);
  m_runs.push_back({m_count, seconds, -1});
  ++m_count;
}

void TLigneTemps::Clear() {
  m_runs = decltype(m_runs)();
  m_count = 0;
}

int64_t TLigneTemps::At(int64_t index) const {
  if (m_count == 0) return 0;
  index = std::clamp<int64_t>(index, 0, m_count - 1);
  auto it = std::upper_bound(m_runs.begin(), m_runs.end(), index,
                             [](int64_t i, const Run &r) { return i < r.firstIndex; });
  const Run &run = *(it - 1);
  return run.firstTime + (run.step < 0 ? 0 : run.step) * (index - run.firstIndex);
}

TLigneTemps::Span TLigneTemps::RunOf(int64_t index) const {
  if (m_count == 0) return {0, 0, 0, 0};
  index = std::clamp<int64_t>(index, 0, m_count - 1);
  auto it = std::upper_bound(m_runs.begin(), m_runs.end(), index,
                             [](int64_t i, const Run &r) { return i < r.firstIndex; });
  const Run &r = *(it - 1);
  const int64_t end = it == m_runs.end() ? m_count : it->firstIndex;
  return {r.firstIndex, end, r.firstTime, r.step < 0 ? 0 : r.step};
}

int64_t TLigneTemps::FirstAtOrAfter(int64_t seconds) const {
  if (m_count == 0) return 0;
  // The last run that starts at or before seconds, then within it.
  auto it = std::upper_bound(m_runs.begin(), m_runs.end(), seconds,
                             [](int64_t t, const Run &r) { return t < r.firstTime; });
  if (it == m_runs.begin()) return 0;
  auto run = it - 1;
  // A run may begin with the time the one before ended with (a second
  // shared): the first of them is in that earlier run.
  while (run != m_runs.begin() && At(run->firstIndex - 1) >= seconds) --run;
  const int64_t end = (run + 1 == m_runs.end()) ? m_count : (run + 1)->firstIndex;
  if (run->step <= 0) return seconds <= run->firstTime ? run->firstIndex : end;
  const int64_t k = (seconds - run->firstTime + run->step - 1) / run->step;
  return std::min(run->firstIndex + std::max<int64_t>(k, 0), end);
}

int64_t TLigneTemps::Period() const {
  // The step that covers the most samples.
  std::map<int64_t, int64_t> samplesByStep;
  for (std::size_t r = 0; r < m_runs.size(); ++r) {
    const int64_t end = r + 1 < m_runs.size() ? m_runs[r + 1].firstIndex : m_count;
    if (m_runs[r].step >= 0) samplesByStep[m_runs[r].step] += end - m_runs[r].firstIndex;
    if (r + 1 < m_runs.size()) {
      // The spacing between two runs counts for one sample.
      const int64_t gap = m_runs[r + 1].firstTime - At(end - 1);
      if (gap >= 0) samplesByStep[gap] += 1;
    }
  }
  int64_t best = 0, most = 0;
  for (const auto &[step, n] : samplesByStep)
    if (n > most) {
      most = n;
      best = step;
    }
  return best;
}

std::size_t TLigneTemps::MemoryBytes() const { return m_runs.capacity() * sizeof(Run); }
