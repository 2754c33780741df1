// Sample-map arithmetic: which source column (or row) each destination column
// (or row) samples, with the fraction beyond it in 1/256. Free of system calls
// so that it can be tested and fuzzed directly.
#pragma once
#include <cstdint>

// The per-thread block that holds the four maps, and where each one starts.
constexpr uint32_t SAMPLE_MAP_BLOCK_BYTES = 659456;
constexpr int32_t SAMPLE_MAP_ENTRIES = 65552;  // entries of an index map
constexpr uint32_t COLUMN_INDEX_OFFSET = 0;
constexpr uint32_t COLUMN_FRACTION_OFFSET = COLUMN_INDEX_OFFSET + SAMPLE_MAP_ENTRIES * 4;
constexpr uint32_t ROW_INDEX_OFFSET = COLUMN_FRACTION_OFFSET + 65600;
constexpr uint32_t ROW_FRACTION_OFFSET = ROW_INDEX_OFFSET + SAMPLE_MAP_ENTRIES * 4;
static_assert(ROW_FRACTION_OFFSET + SAMPLE_MAP_ENTRIES <= SAMPLE_MAP_BLOCK_BYTES);

// Destinations are bounded to this many columns and rows.
constexpr int32_t SAMPLE_MAX_EXTENT = 65535;

// Entries a map for a destination extent `max` (>= 0) holds: four beyond the
// extent so that filters may look ahead, bounded by the arrays.
int32_t SampleMapCount(int32_t max);

// Fills a map for the inclusive source span low..high (high >= low) scaled to
// destination indices 0..max (max >= 0). With centring, pixel centres line up
// when the destination is not smaller than the source. Indices are not
// limited to the source; see LimitSampleIndices.
void FillSampleMap(int32_t low, int32_t high, int32_t max, bool centring, int32_t* index, uint8_t* fraction);

// Limits the first `count` indices to 0..highest.
void LimitSampleIndices(int32_t* index, int32_t count, int32_t highest);

// The destination columns a copy produces, [*first, *last]; empty when
// *last < *first. Source and destination widths are the buffers' widths.
void SampleColumnRange(int32_t left, int32_t right, int32_t maxX, uint32_t destinationWidth, uint32_t sourceWidth,
                       int32_t* first, int32_t* last);
