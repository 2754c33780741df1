#include "engine/resample.h"

#include <algorithm>

#include "engine/pixel_buffer.h"
#include "engine/region_copy.h"
#include "engine/runtime.h"
#include "engine/sample_map.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// The four bytes of a pixel as four 16-bit lanes of one word: a byte times a
// weight of at most 256 stays below 65,536, so weighted sums never carry
// into the next lane.
static inline uint64_t Spread(uint32_t p) {
  uint64_t v = p;
  v = (v | (v << 16)) & 0x0000FFFF0000FFFFull;
  return (v | (v << 8)) & 0x00FF00FF00FF00FFull;
}

static inline uint32_t Gather(uint64_t v) {
  v &= 0x00FF00FF00FF00FFull;
  v = (v | (v >> 8)) & 0x0000FFFF0000FFFFull;
  return static_cast<uint32_t>(v | (v >> 16));
}

uint32_t BlendBilinear(uint32_t p00, uint32_t p01, uint32_t p10, uint32_t p11, uint32_t fx, uint32_t fy) {
  uint32_t w11 = (fx * fy) >> 8, w01 = fx - w11, w10 = fy - w11, w00 = 256 - w01 - w10 - w11;
  uint64_t sum = Spread(p00) * w00 + Spread(p01) * w01 + Spread(p10) * w10 + Spread(p11) * w11;
  return Gather(sum >> 8);
}

uint32_t AverageFour(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
  // Each byte v = 4h + l: the average is the sum of the h parts plus a
  // quarter of the sum of the l parts, and neither sum leaves its byte.
  constexpr uint32_t kHigh = 0x3F3F3F3F, kLow = 0x03030303;
  uint32_t high = ((a >> 2) & kHigh) + ((b >> 2) & kHigh) + ((c >> 2) & kHigh) + ((d >> 2) & kHigh);
  uint32_t low = (a & kLow) + (b & kLow) + (c & kLow) + (d & kLow);
  return high + ((low >> 2) & kLow);
}

#if defined(__SSE2__)
// Two neighbouring pixels as eight 16-bit lanes; on the last column both are
// the same pixel.
static inline __m128i PixelPair(const uint32_t* row, int32_t c0, bool hasRight) {
  __m128i pair = hasRight ? _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + c0))
                          : _mm_shuffle_epi32(_mm_cvtsi32_si128(static_cast<int>(row[c0])), 0);
  return _mm_unpacklo_epi8(pair, _mm_setzero_si128());
}

static inline uint32_t BlendBilinearSse(const uint32_t* row0, const uint32_t* row1, int32_t c0, bool hasRight,
                                        uint32_t fx, uint32_t fy) {
  uint32_t w11 = (fx * fy) >> 8, w01 = fx - w11, w10 = fy - w11, w00 = 256 - w01 - w10 - w11;
  // The four weights in one word, spread to four lanes each: (w00, w01) for
  // the top pair and (w10, w11) for the bottom pair.
  uint64_t packed = w00 | (uint64_t{w01} << 16) | (uint64_t{w10} << 32) | (uint64_t{w11} << 48);
  __m128i weights = _mm_unpacklo_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(&packed)),
                                       _mm_loadl_epi64(reinterpret_cast<const __m128i*>(&packed)));
  __m128i topWeights = _mm_unpacklo_epi32(weights, weights);
  __m128i bottomWeights = _mm_unpackhi_epi32(weights, weights);
  __m128i sum = _mm_add_epi16(_mm_mullo_epi16(PixelPair(row0, c0, hasRight), topWeights),
                              _mm_mullo_epi16(PixelPair(row1, c0, hasRight), bottomWeights));
  sum = _mm_srli_epi16(_mm_add_epi16(sum, _mm_srli_si128(sum, 8)), 8);
  return static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(sum, sum)));
}

// Destination pixels k = 0, 1 are the truncated averages of source columns
// 2k and 2k + 1 in rows a and b.
static inline void StoreTwoAverages(const uint32_t* a, const uint32_t* b, uint32_t* out) {
  const __m128i zero = _mm_setzero_si128();
  __m128i rowA = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a));
  __m128i rowB = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b));
  __m128i left = _mm_add_epi16(_mm_unpacklo_epi8(rowA, zero), _mm_unpacklo_epi8(rowB, zero));
  __m128i right = _mm_add_epi16(_mm_unpackhi_epi8(rowA, zero), _mm_unpackhi_epi8(rowB, zero));
  __m128i sum = _mm_add_epi16(_mm_unpacklo_epi64(left, right), _mm_unpackhi_epi64(left, right));
  sum = _mm_srli_epi16(sum, 2);
  _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(sum, sum));
}
#endif

struct ResampleJob {
  PixelBuffer* destination;
  PixelBuffer* source;
  const EngineThreadState* state;
  BufferView dst;
  BufferView src;
  int64_t x0, x1, lastRow;
};

static int BilinearRows(const ResampleJob& job) {
  const int32_t* columns = job.state->columnIndex;
  const uint8_t* columnFractions = job.state->columnFraction;
  const int32_t lastSourceColumn = static_cast<int32_t>(job.src.width) - 1;
  const int32_t lastSourceRow = static_cast<int32_t>(job.src.height) - 1;
  for (int64_t y = 0; y <= job.lastRow; ++y) {
    if (RegionWorkInterrupted(job.destination, job.source)) return 0;
    int32_t sy = job.state->rowIndex[y];
    if (sy < 0 || sy > lastSourceRow || y >= job.dst.height) continue;
    uint32_t fy = job.state->rowFraction[y];
    const uint32_t* row0 = ViewRow(job.src, static_cast<uint32_t>(sy));
    const uint32_t* row1 = sy < lastSourceRow ? ViewRow(job.src, static_cast<uint32_t>(sy + 1)) : row0;
    uint32_t* out = ViewRow(job.dst, static_cast<uint32_t>(y));
    for (int64_t x = job.x0; x <= job.x1; ++x) {
      int32_t c0 = columns[x];
      uint32_t fx = columnFractions[x];
      if ((fx | fy) == 0) {
        out[x] = row0[c0];
        continue;
      }
#if defined(__SSE2__)
      out[x] = BlendBilinearSse(row0, row1, c0, c0 < lastSourceColumn, fx, fy);
#else
      int32_t c1 = c0 < lastSourceColumn ? c0 + 1 : c0;
      out[x] = BlendBilinear(row0[c0], row0[c1], row1[c0], row1[c1], fx, fy);
#endif
    }
  }
  return 1;
}

static int BoxRows(const ResampleJob& job) {
  const int32_t* columns = job.state->columnIndex;
  const int32_t* rows = job.state->rowIndex;
  const int64_t sourceHeight = job.src.height;
  // Rows start the way columns do: the span before the first one ends just
  // before the first mapped row, so a source that starts below row 0 halves
  // its own first two rows.
  int64_t previousRow = std::max<int64_t>(static_cast<int64_t>(rows[0]) - 1, -1);
  for (int64_t y = 0; y <= job.lastRow; ++y) {
    if (RegionWorkInterrupted(job.destination, job.source)) return 0;
    int32_t next = rows[y + 1];
    int64_t rowA = static_cast<int64_t>(next) - 1;
    int64_t rowB = (static_cast<int64_t>(next) + previousRow) >> 1;
    if (rowA > previousRow) previousRow = rowA;
    if (rowA < 0 || rowA >= sourceHeight || y >= job.dst.height) continue;
    rowB = std::clamp<int64_t>(rowB, 0, sourceHeight - 1);
    const uint32_t* lineA = ViewRow(job.src, static_cast<uint32_t>(rowA));
    const uint32_t* lineB = ViewRow(job.src, static_cast<uint32_t>(rowB));
    uint32_t* out = ViewRow(job.dst, static_cast<uint32_t>(y));
    int32_t previousColumn = std::max(columns[job.x0] - 1, -1);
    for (int64_t x = job.x0; x <= job.x1; ++x) {
      int32_t c1 = std::max(columns[x + 1] - 1, 0);
      int32_t cm = static_cast<int32_t>((int64_t{c1} + previousColumn + 1) >> 1);
      previousColumn = c1;
#if defined(__SSE2__)
      // Halving: this span and the next are two adjacent columns each, so
      // four source pixels per row give two destination pixels.
      if (x < job.x1 && cm + 1 == c1) {
        int32_t nextC1 = std::max(columns[x + 2] - 1, 0);
        if (int64_t{nextC1} == int64_t{c1} + 2 && ((int64_t{nextC1} + c1 + 1) >> 1) == int64_t{c1} + 1) {
          StoreTwoAverages(lineA + cm, lineB + cm, out + x);
          previousColumn = nextC1;
          ++x;
          continue;
        }
      }
#endif
      uint32_t a = lineA[c1], b = lineA[cm], c = lineB[c1], d = lineB[cm];
      out[x] = (a == b && a == c && a == d) ? a : AverageFour(a, b, c, d);
    }
  }
  return 1;
}

int ResampleRegion(PixelBuffer* destination, int32_t ignoredX, int32_t ignoredY, int32_t maxX, int32_t maxY,
                   PixelBuffer* source, int32_t left, int32_t top, int32_t right, int32_t bottom, int32_t flags) {
  if (GetEngineThreadState() == nullptr) return 0;
  if (ProbeMemory(destination, sizeof(PixelBuffer), true) != 0 || ProbeMemory(source, sizeof(PixelBuffer), true) != 0)
    return EngineFail(ENG_BAD_BUFFER);
  if (right < left || bottom < top || maxX < 0 || maxY < 0) return EngineFail(ENG_BAD_ARGUMENT);
  int64_t spanX = static_cast<int64_t>(right) - left, spanY = static_cast<int64_t>(bottom) - top;
  if (spanX == maxX && spanY == maxY)
    return CopyRegion(destination, ignoredX, ignoredY, maxX, maxY, source, left, top, right, bottom, flags);
  bool box = spanX >= maxX && spanY >= maxY;

  ResampleJob job;
  RegionWork work;
  int prepared = PrepareRegionWork(destination, maxX, maxY, source, left, top, right, bottom, true, false, &work);
  if (prepared != 1) return prepared == 2 ? 1 : 0;
  EngineThreadState* state = work.state;
  uint32_t mapSourceWidth = source->width;
  if (box) {
    // The box reads "next index minus one" as the end of each span, so its
    // column map may name one column past the last: limited to the last
    // column, the final span would end one column short.
    FillSampleMap(left, right, maxX, true, state->columnIndex, state->columnFraction, work.columnEntries);
    LimitSampleIndices(state->columnIndex, work.columnEntries,
                       static_cast<int32_t>(std::min<uint64_t>(mapSourceWidth, INT32_MAX)));
  }
  if (!OpenRegionSections(destination, source, &job.dst, &job.src)) return 0;
  if (!RegionFitsViews(job.dst, job.src, mapSourceWidth, work.last)) {
    CloseRegionSections(destination, source);
    return EngineFail(RegionWorkInterrupted(destination, source) ? ENG_BUFFER_RELEASED : ENG_BAD_BUFFER);
  }
  job.destination = destination;
  job.source = source;
  job.state = state;
  job.x0 = work.first;
  job.x1 = work.last;
  job.lastRow = work.lastRow;
  int done = box ? BoxRows(job) : BilinearRows(job);
  CloseRegionSections(destination, source);
  return done ? 1 : EngineFail(ENG_BUFFER_RELEASED);
}
