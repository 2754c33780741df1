#include "engine/region_copy.h"

#include <algorithm>
#include <cstring>

#include "engine/pixel_buffer.h"
#include "engine/runtime.h"
#include "engine/sample_map.h"
#include "server/memory.h"

static bool EnsureSampleMaps(EngineThreadState* state) {
  if (state->scratchBlock == nullptr) {
    state->scratchBlock = AllocZeroed(SAMPLE_MAP_BLOCK_BYTES);
    if (state->scratchBlock == nullptr) return false;
  }
  uint8_t* block = static_cast<uint8_t*>(state->scratchBlock);
  state->columnIndex = reinterpret_cast<int32_t*>(block + COLUMN_INDEX_OFFSET);
  state->columnFraction = block + COLUMN_FRACTION_OFFSET;
  state->rowIndex = reinterpret_cast<int32_t*>(block + ROW_INDEX_OFFSET);
  state->rowFraction = block + ROW_FRACTION_OFFSET;
  return true;
}

int BuildSampleMaps(EngineThreadState* state, const PixelBuffer* destination, int32_t maxX, int32_t maxY,
                    const PixelBuffer* source, int32_t left, int32_t top, int32_t right, int32_t bottom, int32_t* first,
                    int32_t* last, bool centring) {
  if (!EnsureSampleMaps(state)) {
    state->lastError = ENG_OUT_OF_MEMORY;
    return 0;
  }
  FillSampleMap(left, right, maxX, centring, state->columnIndex, state->columnFraction);
  LimitSampleIndices(state->columnIndex, SampleMapCount(maxX), static_cast<int32_t>(source->width) - 1);
  FillSampleMap(top, bottom, maxY, centring, state->rowIndex, state->rowFraction);
  SampleColumnRange(left, right, maxX, destination->width, source->width, first, last);
  return 1;
}

static bool DescriptorAccessible(PixelBuffer* buffer) {
  return ProbeMemory(buffer, sizeof(*buffer), true) == 0;
}

int PrepareRegionWork(PixelBuffer* destination, int32_t maxX, int32_t maxY, PixelBuffer* source, int32_t left,
                      int32_t top, int32_t right, int32_t bottom, bool centring, EngineThreadState** stateOut,
                      int32_t* first, int32_t* last) {
  EngineThreadState* state = GetEngineThreadState();
  *stateOut = state;
  if (state == nullptr) return 0;
  if (!DescriptorAccessible(destination) || !DescriptorAccessible(source)) return EngineFail(ENG_BAD_BUFFER);
  if (right < left || bottom < top || maxX < 0 || maxY < 0) return EngineFail(ENG_BAD_ARGUMENT);
  if (!RefreshBufferSize(source)) return EngineFail(ENG_BAD_BUFFER);
  if (right < 0 || static_cast<int64_t>(left) >= static_cast<int64_t>(source->width)) return EngineFail(ENG_BAD_ARGUMENT);
  if (!BuildSampleMaps(state, destination, maxX, maxY, source, left, top, right, bottom, first, last, centring)) return 0;
  if (*first > *last) return 2;
  if (*first < 0) *first = 0;
  return 1;
}

static BufferView Snapshot(const PixelBuffer* buffer) {
  return BufferView{buffer->pixels, buffer->width, buffer->height, buffer->pitch};
}

int OpenRegionSections(PixelBuffer* destination, PixelBuffer* source, BufferView* destinationView,
                       BufferView* sourceView) {
  if (!BeginPixelAccess(destination, false)) return EngineFail(ENG_BAD_BUFFER);
  if (!BeginPixelAccess(source, false)) {
    EndPixelAccess(destination, false);
    return EngineFail(ENG_BAD_BUFFER);
  }
  *destinationView = Snapshot(destination);
  *sourceView = Snapshot(source);
  return 1;
}

void CloseRegionSections(PixelBuffer* destination, PixelBuffer* source) {
  EndPixelAccess(source, false);
  EndPixelAccess(destination, false);
}

bool RegionFitsViews(const BufferView& destination, const BufferView& source, uint32_t mapSourceWidth,
                     int32_t lastColumn) {
  // The maps were built from the cached sizes; the sections' snapshot must
  // still hold every column they name.
  return source.width >= mapSourceWidth && static_cast<int64_t>(lastColumn) < destination.width;
}

bool RegionWorkInterrupted(const PixelBuffer* destination, const PixelBuffer* source) {
  return ((BufferStateFlags(destination) | BufferStateFlags(source)) & PB_DRAINING) != 0 ||
         (BufferStateFlags(destination) & PB_CLOSING) != 0;
}

int CopyRegion(PixelBuffer* destination, int32_t, int32_t, int32_t maxX, int32_t maxY, PixelBuffer* source,
               int32_t left, int32_t top, int32_t right, int32_t bottom, int32_t) {
  EngineThreadState* state = nullptr;
  int32_t x0 = 0, x1 = -1;
  int prepared = PrepareRegionWork(destination, maxX, maxY, source, left, top, right, bottom, false, &state, &x0, &x1);
  if (prepared != 1) return prepared == 2 ? 1 : 0;
  uint32_t mapSourceWidth = source->width;
  BufferView dst, src;
  if (!OpenRegionSections(destination, source, &dst, &src)) return 0;
  if (!RegionFitsViews(dst, src, mapSourceWidth, x1)) {
    CloseRegionSections(destination, source);
    return EngineFail(RegionWorkInterrupted(destination, source) ? ENG_BUFFER_RELEASED : ENG_BAD_BUFFER);
  }

  const int32_t* rowMap = state->rowIndex;
  const int32_t* columnMap = state->columnIndex;
  bool wholeRows = static_cast<int64_t>(right) - left == maxX && x0 < x1;
  int32_t lastRow = std::min(maxY, SAMPLE_MAX_EXTENT);
  for (int32_t y = 0; y <= lastRow; ++y) {
    // Tested before the row is skipped or read: a release may already have
    // emptied the source's geometry.
    if (RegionWorkInterrupted(destination, source)) {
      CloseRegionSections(destination, source);
      return EngineFail(ENG_BUFFER_RELEASED);
    }
    int32_t sy = rowMap[y];
    if (sy < 0 || static_cast<uint32_t>(sy) >= src.height || static_cast<uint32_t>(y) >= dst.height) continue;
    const uint32_t* from = ViewRow(src, static_cast<uint32_t>(sy));
    uint32_t* to = ViewRow(dst, static_cast<uint32_t>(y));
    if (wholeRows) {
      memmove(to + x0, from + (static_cast<int64_t>(left) + x0), static_cast<size_t>(x1 - x0 + 1) * 4);
    } else {
      for (int32_t x = x0; x <= x1; ++x) to[x] = from[columnMap[x]];
    }
  }
  CloseRegionSections(destination, source);
  return 1;
}

int ClearRegion(PixelBuffer* buffer, int32_t, int32_t, int32_t maxX, int32_t maxY) {
  if (GetEngineThreadState() == nullptr) return 0;
  if (!DescriptorAccessible(buffer)) return EngineFail(ENG_BAD_BUFFER);
  if (buffer->width == 0 || buffer->height == 0 || buffer->pixels == nullptr) return EngineFail(ENG_BAD_ARGUMENT);
  BufferView view = Snapshot(buffer);
  uint32_t columns = static_cast<uint32_t>(std::min<int64_t>(std::max(maxX, 0), view.width - 1)) + 1;
  uint32_t rows = static_cast<uint32_t>(std::min<int64_t>(std::max(maxY, 0), view.height - 1)) + 1;
  for (uint32_t y = 0; y < rows; ++y) memset(ViewRow(view, y), 0, static_cast<size_t>(columns) * 4);
  return 1;
}
