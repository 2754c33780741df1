// Copies between pixel buffers: a source rectangle (inclusive) into the
// top-left destination extent 0..maxX, 0..maxY, scaled by nearest-neighbour
// sampling; whole rows are moved at once when no horizontal scaling is
// needed. Rows and columns outside the source are left as they are. Sides
// reach 2^31 - 1. The two destination-origin arguments are accepted and
// ignored.
#pragma once
#include <cstdint>

struct PixelBuffer;
struct EngineThreadState;

int CopyRegion(PixelBuffer* destination, int32_t ignoredX, int32_t ignoredY, int32_t maxX, int32_t maxY,
               PixelBuffer* source, int32_t left, int32_t top, int32_t right, int32_t bottom, int32_t flags);

// Fills the calling thread's sample maps for the columns and rows the copy
// can produce and answers the destination column range [*first, *last]; 0
// (OutOfMemory) when the map block cannot be made.
int BuildSampleMaps(EngineThreadState* state, const PixelBuffer* destination, int32_t maxX, int32_t maxY,
                    const PixelBuffer* source, int32_t left, int32_t top, int32_t right, int32_t bottom, int32_t* first,
                    int32_t* last, bool centring);

// Zeroes columns 0..maxX and rows 0..maxY (within the buffer). Works on the
// cached fields: the caller holds an access section.
int ClearRegion(PixelBuffer* buffer, int32_t ignoredX, int32_t ignoredY, int32_t maxX, int32_t maxY);

// Shared with the resampler.
struct BufferView {
  uint32_t* pixels;
  uint32_t width;
  uint32_t height;
  uint32_t pitch;
};

inline uint32_t* ViewRow(const BufferView& view, uint32_t y) {
  return view.pixels + static_cast<uintptr_t>(static_cast<uint64_t>(view.pitch) * y);
}

// What a copy or resample works through: the destination columns
// [first, last] and rows 0..lastRow. A direct copy (same size both ways)
// reads source row top + y and column left + x with no maps; every other
// copy reads the thread's sample maps.
struct RegionWork {
  EngineThreadState* state;
  int32_t first, last;
  int64_t lastRow;
  int64_t columnEntries, rowEntries;  // of the maps, when there are maps
  bool direct;
};

// Checks the arguments, refreshes the source, builds the maps (unless the
// copy can be direct and `allowDirect` is set) and reports the column range.
// Answers 1 to go on, 2 when there is nothing to do, 0 on failure (lastError
// set).
int PrepareRegionWork(PixelBuffer* destination, int32_t maxX, int32_t maxY, PixelBuffer* source, int32_t left,
                      int32_t top, int32_t right, int32_t bottom, bool centring, bool allowDirect, RegionWork* work);
// Opens shared sections on the destination, then the source, and snapshots
// both; on failure closes what was opened (BadBuffer).
int OpenRegionSections(PixelBuffer* destination, PixelBuffer* source, BufferView* destinationView,
                       BufferView* sourceView);
void CloseRegionSections(PixelBuffer* destination, PixelBuffer* source);
// False when the snapshot no longer covers the columns the maps were built
// for (mapSourceWidth: the source width the maps used).
bool RegionFitsViews(const BufferView& destination, const BufferView& source, uint32_t mapSourceWidth,
                     int32_t lastColumn);
// True when a release has begun on a buffer that the work must stop for.
bool RegionWorkInterrupted(const PixelBuffer* destination, const PixelBuffer* source);
