#include "engine/sample_map.h"

#include <algorithm>

static int32_t ClampToInt32(int64_t v) {
  if (v < INT32_MIN) return INT32_MIN;
  if (v > INT32_MAX) return INT32_MAX;
  return static_cast<int32_t>(v);
}

int64_t SampleMapCount(int32_t max, uint32_t destinationSide) {
  return std::min<int64_t>(max, static_cast<int64_t>(destinationSide) - 1) + 5;
}

SampleMapLayout PlanSampleMaps(int64_t columns, int64_t rows) {
  auto aligned = [](uint64_t v) { return (v + 15) & ~uint64_t{15}; };
  const uint64_t c = static_cast<uint64_t>(std::max<int64_t>(columns, 0));
  const uint64_t r = static_cast<uint64_t>(std::max<int64_t>(rows, 0));
  SampleMapLayout layout;
  layout.columnIndex = 0;
  layout.columnFraction = aligned(c * 4);
  layout.rowIndex = aligned(layout.columnFraction + c);
  layout.rowFraction = layout.rowIndex + r * 4;
  layout.bytes = std::max(aligned(layout.rowFraction + r), SAMPLE_MAP_BLOCK_BYTES);
  return layout;
}

void FillSampleMap(int32_t low, int32_t high, int32_t max, bool centring, int32_t* index, uint8_t* fraction,
                   int64_t count) {
  int64_t sourceCount = static_cast<int64_t>(high) - low + 1;
  int64_t destinationCount = static_cast<int64_t>(max) + 1;
  if (sourceCount == destinationCount) {
    // Positions before the source stay there: a copy skips those rows, and
    // columns are limited afterwards.
    for (int64_t i = 0; i < count; ++i) {
      index[i] = ClampToInt32(static_cast<int64_t>(low) + i);
      fraction[i] = 0;
    }
    return;
  }
  double ns = static_cast<double>(sourceCount), nd = static_cast<double>(destinationCount);
  // Far enlargements and reductions sample the middle of each step.
  double bias = 2 * sourceCount < destinationCount ? 0.5 * ns / nd : 2 * destinationCount < sourceCount ? 0.5 : 0.0;
  double centre = centring && destinationCount >= sourceCount ? 0.5 : 0.0;
  double origin = static_cast<double>(low) * 256.0;
  for (int64_t i = 0; i < count; ++i) {
    double p = (static_cast<double>(i) + centre) * ns / nd + bias - centre;
    if (!(p > 0)) p = 0;
    // The 4096 offset keeps small negative origins on the positive side of
    // the shift.
    int64_t q = static_cast<int64_t>(p * 256.0 + 0.000001 + origin) + 4096;
    index[i] = ClampToInt32((q >> 8) - 16);
    fraction[i] = static_cast<uint8_t>(q & 255);
  }
}

void LimitSampleIndices(int32_t* index, int64_t count, int32_t highest) {
  for (int64_t i = 0; i < count; ++i) index[i] = std::clamp(index[i], 0, std::max(highest, 0));
}

void SampleColumnRange(int32_t left, int32_t right, int32_t maxX, uint32_t destinationWidth, uint32_t sourceWidth,
                       int32_t* first, int32_t* last) {
  int64_t ns = static_cast<int64_t>(right) - left + 1;
  int64_t nd = static_cast<int64_t>(maxX) + 1;
  int64_t destinationLast = std::min<int64_t>(maxX, static_cast<int64_t>(destinationWidth) - 1);
  int64_t sourceEnd = std::min<int64_t>(right, static_cast<int64_t>(sourceWidth) - 1);
  int64_t sourceBound =
      nd == ns ? sourceEnd - left
               : static_cast<int64_t>(static_cast<double>(sourceEnd - left + 1) * static_cast<double>(nd) / ns + 0.999999);
  int64_t hi = std::min({static_cast<int64_t>(maxX), static_cast<int64_t>(destinationWidth) - 1, sourceBound});
  int64_t lo = 0;
  if (left < 0) {
    // The first destination column whose sample lies at or right of source
    // column 0: ceil(-left * nd / ns).
    lo = nd == ns ? -static_cast<int64_t>(left)
                  : static_cast<int64_t>(-static_cast<double>(left) * static_cast<double>(nd) / ns + 0.999999);
  }
  if (destinationLast < 0) {
    lo = 0;
    hi = -1;
  } else if (hi < lo) {
    lo = std::min(lo, destinationLast);
    hi = lo - 1;
    if (lo < 0) {
      lo = 0;
      hi = -1;
    }
  } else {
    lo = std::clamp<int64_t>(lo, 0, destinationLast);
    hi = std::clamp<int64_t>(hi, 0, destinationLast);
  }
  *first = static_cast<int32_t>(lo);
  *last = static_cast<int32_t>(hi);
}
