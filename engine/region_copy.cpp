#include "engine/region_copy.h"

#include <algorithm>
#include <cstring>

#include "engine/pixel_buffer.h"
#include "engine/runtime.h"
#include "engine/sample_map.h"
#include "base/memory.h"

// The block grows to the largest maps the thread has needed and is kept
// for its later copies.
static bool EnsureSampleMaps(EngineThreadState* state, int64_t columns, int64_t rows) {
  const SampleMapLayout plan = PlanSampleMaps(columns, rows);
  if (state->scratchBlock == nullptr || state->scratchBytes < plan.bytes) {
    FreeBlock(state->scratchBlock);
    state->scratchBytes = 0;
    state->scratchBlock = AllocZeroed(plan.bytes);
    if (state->scratchBlock == nullptr) return false;
    state->scratchBytes = plan.bytes;
  }
  uint8_t* block = static_cast<uint8_t*>(state->scratchBlock);
  state->columnIndex = reinterpret_cast<int32_t*>(block + plan.columnIndex);
  state->columnFraction = block + plan.columnFraction;
  state->rowIndex = reinterpret_cast<int32_t*>(block + plan.rowIndex);
  state->rowFraction = block + plan.rowFraction;
  return true;
}

static int32_t LastIndex(uint32_t side) {
  return static_cast<int32_t>(std::min<int64_t>(int64_t{side} - 1, INT32_MAX));
}

int BuildSampleMaps(EngineThreadState* state, const PixelBuffer* destination, int32_t maxX, int32_t maxY,
                    const PixelBuffer* source, int32_t left, int32_t top, int32_t right, int32_t bottom, int32_t* first,
                    int32_t* last, bool centring) {
  const int64_t columns = SampleMapCount(maxX, destination->width);
  const int64_t rows = SampleMapCount(maxY, destination->height);
  if (!EnsureSampleMaps(state, columns, rows)) {
    state->lastError = ENG_OUT_OF_MEMORY;
    return 0;
  }
  FillSampleMap(left, right, maxX, centring, state->columnIndex, state->columnFraction, columns);
  LimitSampleIndices(state->columnIndex, columns, LastIndex(source->width));
  FillSampleMap(top, bottom, maxY, centring, state->rowIndex, state->rowFraction, rows);
  SampleColumnRange(left, right, maxX, destination->width, source->width, first, last);
  return 1;
}

static bool DescriptorAccessible(PixelBuffer* buffer) {
  return ProbeMemory(buffer, sizeof(*buffer), true) == 0;
}

int PrepareRegionWork(PixelBuffer* destination, int32_t maxX, int32_t maxY, PixelBuffer* source, int32_t left,
                      int32_t top, int32_t right, int32_t bottom, bool centring, bool allowDirect, RegionWork* work) {
  EngineThreadState* state = GetEngineThreadState();
  work->state = state;
  if (state == nullptr) return 0;
  if (!DescriptorAccessible(destination) || !DescriptorAccessible(source)) return EngineFail(ENG_BAD_BUFFER);
  if (right < left || bottom < top || maxX < 0 || maxY < 0) return EngineFail(ENG_BAD_ARGUMENT);
  if (!RefreshBufferSize(source)) return EngineFail(ENG_BAD_BUFFER);
  if (right < 0 || static_cast<int64_t>(left) >= static_cast<int64_t>(source->width)) return EngineFail(ENG_BAD_ARGUMENT);
  // Same size both ways needs no maps: nothing to allocate, so a restore
  // cannot fail for want of map memory.
  const int64_t spanX = static_cast<int64_t>(right) - left, spanY = static_cast<int64_t>(bottom) - top;
  work->direct = allowDirect && spanX == maxX && spanY == maxY;
  work->columnEntries = work->rowEntries = 0;
  if (work->direct) {
    SampleColumnRange(left, right, maxX, destination->width, source->width, &work->first, &work->last);
  } else {
    if (!BuildSampleMaps(state, destination, maxX, maxY, source, left, top, right, bottom, &work->first, &work->last,
                         centring))
      return 0;
    work->columnEntries = SampleMapCount(maxX, destination->width);
    work->rowEntries = SampleMapCount(maxY, destination->height);
  }
  work->lastRow = std::min<int64_t>(maxY, static_cast<int64_t>(destination->height) - 1);
  if (work->first > work->last) return 2;
  if (work->first < 0) work->first = 0;
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
  RegionWork work;
  int prepared = PrepareRegionWork(destination, maxX, maxY, source, left, top, right, bottom, false, true, &work);
  if (prepared != 1) return prepared == 2 ? 1 : 0;
  uint32_t mapSourceWidth = source->width;
  BufferView dst, src;
  if (!OpenRegionSections(destination, source, &dst, &src)) return 0;
  if (!RegionFitsViews(dst, src, mapSourceWidth, work.last)) {
    CloseRegionSections(destination, source);
    return EngineFail(RegionWorkInterrupted(destination, source) ? ENG_BUFFER_RELEASED : ENG_BAD_BUFFER);
  }

  const int32_t* rowMap = work.state->rowIndex;
  const int32_t* columnMap = work.state->columnIndex;
  const int64_t x0 = work.first, x1 = work.last;
  // The column range starts where the source does, so equal widths move
  // whole rows.
  const bool wholeRows = static_cast<int64_t>(right) - left == maxX;
  for (int64_t y = 0; y <= work.lastRow; ++y) {
    // Tested before the row is skipped or read: a release may already have
    // emptied the source's geometry.
    if (RegionWorkInterrupted(destination, source)) {
      CloseRegionSections(destination, source);
      return EngineFail(ENG_BUFFER_RELEASED);
    }
    const int64_t sy = work.direct ? top + y : rowMap[y];
    if (sy < 0 || sy >= src.height || y >= dst.height) continue;
    const uint32_t* from = ViewRow(src, static_cast<uint32_t>(sy));
    uint32_t* to = ViewRow(dst, static_cast<uint32_t>(y));
    if (wholeRows) {
      memmove(to + x0, from + (left + x0), static_cast<size_t>(x1 - x0 + 1) * 4);
    } else {
      for (int64_t x = x0; x <= x1; ++x) to[x] = from[columnMap[x]];
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
