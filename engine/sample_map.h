// Sample-map arithmetic: which source column (or row) each destination column
// (or row) samples, with the fraction beyond it in 1/256. Free of system calls
// so that it can be tested and fuzzed directly.
#pragma once
#include <cstdint>

// The per-thread block that holds the four maps is at least this large, so
// that ordinary copies keep reusing one block; wider destinations get a
// larger one.
constexpr uint64_t SAMPLE_MAP_BLOCK_BYTES = 659456;

// Entries a map needs for a destination extent `max` (>= 0) into a buffer
// whose side is `destinationSide`: one per index the copy can produce,
// 0 .. min(max, side - 1), and four beyond so that filters may look ahead.
// Counted in 64 bits: extents and sides reach 2^31 - 1.
int64_t SampleMapCount(int32_t max, uint32_t destinationSide);

// Where the four maps live in the thread's block.
struct SampleMapLayout {
  uint64_t columnIndex, columnFraction, rowIndex, rowFraction;
  uint64_t bytes;  // the block's size
};
SampleMapLayout PlanSampleMaps(int64_t columns, int64_t rows);

// Fills `count` entries of a map for the inclusive source span low..high
// (high >= low) scaled to destination indices 0..max (max >= 0). With
// centring, pixel centres line up when the destination is not smaller than
// the source. Indices are not limited to the source (see LimitSampleIndices):
// rows before or after it are skipped by the copies.
void FillSampleMap(int32_t low, int32_t high, int32_t max, bool centring, int32_t* index, uint8_t* fraction,
                   int64_t count);

// Limits the first `count` indices to 0..highest.
void LimitSampleIndices(int32_t* index, int64_t count, int32_t highest);

// The destination columns a copy produces, [*first, *last]; empty when
// *last < *first. Source and destination widths are the buffers' widths.
void SampleColumnRange(int32_t left, int32_t right, int32_t maxX, uint32_t destinationWidth, uint32_t sourceWidth,
                       int32_t* first, int32_t* last);
